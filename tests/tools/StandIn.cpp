// Stands in for a program the system starts (Tolvanex, the installers) in end-to-end tests and
// the demonstration. Copied under the real program's name, it appends to "<own name>.log" beside
// itself a line when it starts (time, current folder, how it was asked to show its window, its
// command line) and another when it ends. It runs for the milliseconds written in
// "<own name>.ms" beside it, 0 when there is none.
#include "WinKit.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

using tolvanex::e2e::EpochMs;
using tolvanex::e2e::Utf8;

namespace {

void Append(const std::wstring& path, const std::string& line) {
    // Other stand-ins may write beside this one; append whole lines, retrying a locked file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            ::CloseHandle(file);
            return;
        }
        ::Sleep(5);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::uint64_t started = EpochMs();
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::wstring cwd(32768, L'\0');
    cwd.resize(::GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

    const std::wstring log = self + L".log";
    Append(log, "start\t" + std::to_string(started) + "\t" + Utf8(cwd) + "\t" +
                    std::to_string(show) + "\t" + Utf8(::GetCommandLineW()) + "\n");

    unsigned long runMs = 0;
    FILE* config = ::_wfopen((self + L".ms").c_str(), L"r");
    if (config != nullptr) {
        if (std::fscanf(config, "%lu", &runMs) != 1) {
            runMs = 0;
        }
        std::fclose(config);
    }
    ::Sleep(static_cast<DWORD>(runMs));
    Append(log, "end\t" + std::to_string(EpochMs()) + "\n");
    return 0;
}
