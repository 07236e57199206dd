// Which programs the end-to-end tests run: they prove something of the product only when these
// are the shipped 32-bit files, whichever build the driver itself comes from.
#include "WinKit.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tolvanex::e2e {
namespace {

TEST(ProgramsUnderTest, AreTheThirtyTwoBitBuild) {
    if (sizeof(void*) == 8 && std::getenv("TOLVANEX_UNDER_TEST") == nullptr) {
        GTEST_SKIP() << "the 64-bit twin runs its own programs: not the shipped files";
    }
    for (const wchar_t* program : {L"Setup.exe", L"Tolvakey.exe"}) {
        EXPECT_EQ(ProgramMachine(UnderTestDir() + L"\\" + program), IMAGE_FILE_MACHINE_I386)
            << Utf8(UnderTestDir() + L"\\" + program);
    }
}

} // namespace
} // namespace tolvanex::e2e
