// Restricts its DLL search as Setup and Tolvakey do (or not, given "unrestricted"), loads
// PlantProbe.dll by its bare name, and says by its exit status where that came from:
// 0 the system folder, 1 this program's own folder, 2 elsewhere, 3 not loaded at all.
#include "Win32Platform.h"

#include <cwchar>
#include <string>

namespace {

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    if (std::wcsstr(arguments, L"unrestricted") == nullptr) {
        tolvanex::RestrictDllSearchToSystem32();
    }
    // Left loaded: the program ends right after.
    const HMODULE plant = ::LoadLibraryW(L"PlantProbe.dll");
    using LoadedFrom = DWORD (*)(wchar_t*, DWORD);
    const auto loadedFrom = reinterpret_cast<LoadedFrom>(
        reinterpret_cast<void (*)()>(::GetProcAddress(plant, "LoadedFrom")));
    if (loadedFrom == nullptr) {
        return 3;
    }
    wchar_t dll[MAX_PATH * 4] = {}, self[MAX_PATH * 4] = {}, system[MAX_PATH] = {},
                           wow64[MAX_PATH] = {};
    loadedFrom(dll, MAX_PATH * 4);
    ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    ::GetSystemDirectoryW(system, MAX_PATH);
    // A 32-bit program on 64-bit Windows gets its system DLLs from SysWOW64 under that name.
    const bool onWow64 = ::GetSystemWow64DirectoryW(wow64, MAX_PATH) != 0;
    if (SameFolder(FolderOf(dll), system) || (onWow64 && SameFolder(FolderOf(dll), wow64))) {
        return 0;
    }
    return SameFolder(FolderOf(dll), FolderOf(self)) ? 1 : 2;
}
