#include "Launcher.h"
#include "Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Only System32 is searched for DLLs loaded from here on, never the current folder.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    tolvanex::Win32Platform platform;
    return tolvanex::launcher::Main(platform);
}
