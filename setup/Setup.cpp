#include "Setup.h"

#include "BuildSettings.h"
#include "TimeOfDay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace tolvanex::setup {

std::wstring InstallDir;

namespace {

constexpr std::wstring_view PrerequisiteFile = L"msttss22L.exe";
constexpr std::wstring_view MainInstallerFile = L"Install.exe";
constexpr std::uint32_t PrerequisiteWaitMs = 10000;
constexpr double PauseAfterPrerequisite = 1.0;
// One wait between clock readings lasts at most this long, so any duration converts safely.
constexpr double MaxWaitMs = 60000.0;

std::wstring WithSupport(std::wstring_view lead) {
    return std::wstring(lead) + SupportEmail + L" for assistance.";
}

bool IsBlank(std::wstring_view text) {
    return text.find_first_not_of(L' ') == text.npos;
}

} // namespace

bool ResolveInstallDir(Platform& platform) {
    const auto dir = platform.ProgramDirectory();
    if (dir && !IsBlank(*dir)) {
        InstallDir = *dir;
        if (InstallDir.back() != L'\\') {
            InstallDir += L'\\';
        }
        return true;
    }
    // Shown even when the directory cannot be had at all: then with nothing after the colon.
    const std::wstring shown = platform.ProgramDirectory().value_or(std::wstring());
    platform.ShowMessage(L"FATAL ERROR assigning environment variable : " + shown, L"Fatal Error",
                         MbOk);
    return false;
}

void PauseSeconds(Platform& platform, double seconds) {
    const double start = platform.SecondsSinceMidnight();
    // A duration that makes no finite end is a failure, and a failed pause just ends.
    if (!std::isfinite(start + seconds)) {
        return;
    }
    double now = 0;
    while (start + seconds > now) {
        now = platform.SecondsSinceMidnight();
        if (now < start) {
            now += SecondsPerDay; // passed midnight since the pause began
        }
        platform.DispatchEvents();
        // Sleep until a message comes or the time is up, rather than spin: the prerequisite
        // installer may still be running and needs the processor more.
        const double remaining = start + seconds - now;
        if (remaining > 0) {
            const double ms = std::min(std::ceil(remaining * 1000.0), MaxWaitMs);
            platform.WaitForEvents(static_cast<std::uint32_t>(ms));
        }
    }
}

int RunSetup(Platform& platform) {
    if (!ResolveInstallDir(platform)) {
        platform.Terminate(InstallDirUnknown);
        return InstallDirUnknown;
    }

    // Stage 1: the prerequisite. A step that fails is passed over; the installers are started by
    // their full paths, so a drive or directory that cannot be made current does no harm.
    platform.ChangeDrive(InstallDir.front());
    platform.ChangeDirectory(InstallDir);
    const std::wstring prerequisite = InstallDir + std::wstring(PrerequisiteFile);
    if (!platform.FileExists(prerequisite).value_or(false)) {
        platform.ShowMessage(WithSupport(L"Missing system file msttss22L.exe. Contact "),
                             L"Missing File", MbOk);
    } else {
        if (const auto id = platform.StartProgramFile(prerequisite)) {
            platform.WaitForProcess(*id, PrerequisiteWaitMs);
        }
        PauseSeconds(platform, PauseAfterPrerequisite);
    }

    // Stage 2: the main installer; any failure here ends in the one error message.
    const std::wstring mainInstaller = InstallDir + std::wstring(MainInstallerFile);
    const auto present = platform.FileExists(mainInstaller);
    if (present && !*present) {
        platform.ShowMessage(WithSupport(L"Missing system file Install.exe. Contact "),
                             L"Missing File", MbOk);
        return MainInstallerMissing;
    }
    if (!present || !platform.StartProgramFile(mainInstaller)) {
        platform.ShowMessage(WithSupport(L"Error installing Tolvanex with Hotkeys. Contact "),
                             L"Error", MbOk);
        return InstallFailed;
    }
    return MainInstallerStarted;
}

int Main(Platform& platform) {
    return RunSetup(platform);
}

} // namespace tolvanex::setup
