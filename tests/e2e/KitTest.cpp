// The kit's own start: a failed start says its error, and only a start Wine lost is tried again
// (that one is made on purpose by the platform_lost_start test).
#include "WinKit.h"

#include <gtest/gtest.h>

namespace tolvanex::e2e {
namespace {

TEST(KitStart, AProgramThatIsNotThereIsTriedOnceAndFailsWithItsError) {
    TempDir dir;
    try {
        ::CloseHandle(StartProgram(dir.Path() + L"\\Missing.exe"));
        FAIL() << "a program that is not there was started";
    } catch (const StartFailure& failure) {
        EXPECT_EQ(failure.Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << failure.what();
        EXPECT_EQ(failure.Tries(), 1) << failure.what();
    }
}

} // namespace
} // namespace tolvanex::e2e
