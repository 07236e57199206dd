// Starts a program once it is told to, and says how the start went: the other half of the test
// that makes Wine lose a start on purpose. Usage: LoseAStart READY GO PROGRAM. It writes the
// file READY once it runs, so that the test can lower the limits of its process, then waits for
// the file GO and starts PROGRAM. It prints "started" or "error N", and ends with status 0 when
// the start failed with ERROR_INTERNAL_ERROR, the answer of a start Wine lost, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: LoseAStart READY GO PROGRAM\n");
        return 2;
    }
    // One start beforehand, so that what Wine allocates in this process for a start is there
    // before the limit: then the limit stops the new process, not this one.
    {
        std::wstring line = L"\"" + std::wstring(argv[3]) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(argv[3], line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info)) {
            std::fprintf(stderr, "cannot start %ls beforehand: error %lu\n", argv[3],
                         ::GetLastError());
            return 2;
        }
        ::WaitForSingleObject(info.hProcess, 30000);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    FILE* ready = ::_wfopen(argv[1], L"w");
    if (ready == nullptr) {
        return 2;
    }
    std::fprintf(ready, "ready\n");
    std::fclose(ready);
    for (int waited = 0; ::GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; waited += 10) {
        if (waited > 60000) {
            std::fprintf(stderr, "never told to go\n");
            return 2;
        }
        ::Sleep(10);
    }
    std::wstring line = L"\"" + std::wstring(argv[3]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(argv[3], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info)) {
        std::printf("started\n");
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return 1;
    }
    const DWORD error = ::GetLastError();
    std::printf("error %lu\n", error);
    return error == ERROR_INTERNAL_ERROR ? 0 : 1;
}
