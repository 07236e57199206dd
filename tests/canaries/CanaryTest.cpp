// A test program whose one case always fails, registered the way the test programs are, on this
// machine and under Wine: scripts/test expects CTest to report it failed, and fails itself should
// it pass.
#include <gtest/gtest.h>

namespace {

TEST(Canary, FailsWhereTheTestProgramsRun) {
    FAIL() << "the canary fails on purpose";
}

} // namespace
