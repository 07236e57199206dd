#include "Launcher.h"
#include "Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tolvanex::RestrictDllSearchToSystem32();
    tolvanex::Win32Platform platform;
    return tolvanex::launcher::Main(platform);
}
