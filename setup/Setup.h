// Setup, the installation bootstrapper: runs the prerequisite installer from its own folder,
// waits for it a bounded time and a pause, then starts the main installer.
#pragma once

#include "Platform.h"

#include <string>

namespace tolvanex::setup {

// The folder of Setup's own file, with exactly one backslash at its end.
extern std::wstring InstallDir;

// Sets InstallDir from the program's directory; on failure shows the fatal message and returns
// false.
bool ResolveInstallDir(Platform& platform);

// Waits the given seconds while the program's messages keep being handled. Reads the clock of
// seconds since local midnight and allows for it passing midnight once.
void PauseSeconds(Platform& platform, double seconds);

// Exit statuses of Setup.
enum ExitStatus : int {
    MainInstallerStarted = 0,
    MainInstallerMissing = 1,
    InstallFailed = 2,
    InstallDirUnknown = 3,
};

// Runs both installers in order; returns Setup's exit status.
int RunSetup(Platform& platform);

// The whole run of Setup.
int Main(Platform& platform);

} // namespace tolvanex::setup
