// Stands in for a program the system starts (Tolvanex, the installers) in end-to-end tests and
// the demonstration. Copied under the real program's name, it appends to "<own name>.log" beside
// itself a line when it starts (time, current folder, how it was asked to show its window, its
// command line) and another when it ends. It runs for the milliseconds written in
// "<own name>.ms" beside it, 0 when there is none. With "<own name>.startup-ms" beside it, it is
// a program slow to come up: its message queue exists from the start, but it handles messages
// (and so counts as ready for input) only after those milliseconds, and writes a line then.
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

// The number in a file beside the program; 0 when there is none.
unsigned long ReadNumber(const std::wstring& path) {
    unsigned long number = 0;
    FILE* file = ::_wfopen(path.c_str(), L"r");
    if (file != nullptr) {
        if (std::fscanf(file, "%lu", &number) != 1) {
            number = 0;
        }
        std::fclose(file);
    }
    return number;
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

    const unsigned long runMs = ReadNumber(self + L".ms");
    const ULONGLONG end = ::GetTickCount64() + runMs;
    if (const unsigned long startupMs = ReadNumber(self + L".startup-ms")) {
        MSG message;
        // A message queue from the start: a program waiting for this one to be ready for input
        // waits until the queue is first read.
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
        ::Sleep(static_cast<DWORD>(startupMs));
        Append(log, "ready\t" + std::to_string(EpochMs()) + "\n");
        for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now),
                                        QS_ALLINPUT);
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::DispatchMessageW(&message);
            }
        }
    } else {
        ::Sleep(static_cast<DWORD>(runMs));
    }
    Append(log, "end\t" + std::to_string(EpochMs()) + "\n");
    return 0;
}
