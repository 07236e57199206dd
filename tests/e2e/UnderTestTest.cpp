// Which programs the end-to-end tests run: they prove something of the product only when these
// are the shipped 32-bit files, whichever build the driver itself comes from.
#include "WinKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tolvanex::e2e {
namespace {

TEST(ProgramsUnderTest, AreTheThirtyTwoBitBuild) {
    // wine-run says how this machine runs 32-bit programs ("native", "emulated", or empty where
    // it runs none); Wine hands its environment on to the programs.
    const char* mode = std::getenv("WINE32_MODE");
    if (mode == nullptr || *mode == '\0') {
        GTEST_SKIP() << "this machine runs no 32-bit programs: the twin's own programs run";
    }
    for (const wchar_t* program : {L"Setup.exe", L"Tolvakey.exe"}) {
        EXPECT_EQ(ProgramMachine(UnderTestDir() + L"\\" + program), IMAGE_FILE_MACHINE_I386)
            << Utf8(UnderTestDir() + L"\\" + program) << ": 32-bit programs run here (" << mode
            << "), so the shipped ones must be tested (TOLVANEX_UNDER_TEST)";
    }
}

// Always fails: scripts/test runs it on its own, with TOLVANEX_UNDER_TEST as the end-to-end
// tests get it, and expects CTest to report it failed.
TEST(EndToEndCanary, FailsInTheEndToEndDriver) {
    FAIL() << "the canary fails on purpose (programs under test: " << Utf8(UnderTestDir()) << ")";
}

} // namespace
} // namespace tolvanex::e2e
