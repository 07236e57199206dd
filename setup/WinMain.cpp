#include "Setup.h"
#include "Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Setup is run from download folders, often elevated: DLLs come from System32 only, never
    // from the folder it lies in.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    tolvanex::Win32Platform platform;
    return tolvanex::setup::Main(platform);
}
