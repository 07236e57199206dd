// A DLL that tells where it was loaded from: the DLL-search test puts one copy in the system
// folder and one beside a program, and asks which one a load by bare name gets.
#include <windows.h>

namespace {
HMODULE g_self = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
    }
    return TRUE;
}

// The full path of this DLL's file, into the buffer; its length in characters. The C calling
// convention, so that the 32-bit build exports the plain name (a WINAPI function would be
// exported as "LoadedFrom@8" there and not be found).
extern "C" __declspec(dllexport) DWORD LoadedFrom(wchar_t* path, DWORD size) {
    return ::GetModuleFileNameW(g_self, path, size);
}
