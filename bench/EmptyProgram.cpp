// A GUI program that does nothing: what starting and ending a process costs by itself, the
// baseline for the processor time Setup uses.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
