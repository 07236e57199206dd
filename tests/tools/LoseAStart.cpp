// Starts a program once it is told to, and says how the start went: the other half of the test
// that makes Wine lose a start on purpose. Usage: LoseAStart READY GO PROGRAM. It writes the
// file READY once it runs, so that the test can lower the limits of its process, then waits for
// the file GO and starts PROGRAM. It prints "started" or "error N", and ends with status 0 when
// the start failed with ERROR_INTERNAL_ERROR, the answer of a start Wine lost, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Starts the program as a double click would: 0, or the error of a start that failed.
DWORD Start(const wchar_t* program, PROCESS_INFORMATION& info) {
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    info = {};
    return ::CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)
               ? 0
               : ::GetLastError();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: LoseAStart READY GO PROGRAM\n");
        return 2;
    }
    // One start beforehand, so that what Wine allocates in this process for a start is there
    // before the limit: then the limit stops the new process, not this one.
    PROCESS_INFORMATION info{};
    if (const DWORD error = Start(argv[3], info); error != 0) {
        std::fprintf(stderr, "cannot start %ls beforehand: error %lu\n", argv[3], error);
        return 2;
    }
    ::WaitForSingleObject(info.hProcess, 30000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
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
    const DWORD error = Start(argv[3], info);
    if (error == 0) {
        std::printf("started\n");
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return 1;
    }
    std::printf("error %lu\n", error);
    return error == ERROR_INTERNAL_ERROR ? 0 : 1;
}
