// Starts a program once it is told to, through the test kit, and says how the start went: the
// other half of the test that makes Wine lose a start on purpose. Usage: LoseAStart READY GO
// PROGRAM. It takes the prefix's turn like every test program, writes the file READY once it
// runs, so that the test can lower the limits of its process, then waits for the file GO and
// starts PROGRAM. It prints "started" or "error N, T tries", and ends with status 0 when the
// start failed with ERROR_INTERNAL_ERROR, the answer of a start Wine lost, 1 otherwise.
#include "WinKit.h"

#include <cstdio>

using tolvanex::e2e::StartFailure;
using tolvanex::e2e::StartProgram;

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: LoseAStart READY GO PROGRAM\n");
        return 2;
    }
    try {
        tolvanex::e2e::TakeTurnInPrefix();
        // One start beforehand, so that what Wine allocates in this process for a start is
        // there before the limit: then the limit stops the new process, not this one.
        const HANDLE before = StartProgram(argv[3]);
        ::WaitForSingleObject(before, 30000);
        ::CloseHandle(before);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "not ready: %s\n", error.what());
        return 2;
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
    try {
        ::CloseHandle(StartProgram(argv[3]));
        std::printf("started\n");
        return 1;
    } catch (const StartFailure& failure) {
        std::printf("error %lu, %d tries\n", failure.Error(), failure.Tries());
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", failure.what());
        return failure.Error() == ERROR_INTERNAL_ERROR ? 0 : 1;
    }
}
