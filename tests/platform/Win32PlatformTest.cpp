// The Windows layer itself, driven directly under Wine, where the programs' own runs cannot reach
// a path: a seam stands in for what Wine never does.
#include "Win32Platform.h"
#include "WinKit.h"

#include <gtest/gtest.h>

namespace tolvanex {
namespace {

using e2e::CopyProgram;
using e2e::ReadRecord;
using e2e::StandInRecord;
using e2e::TempDir;
using e2e::WriteText;

// Windows answers a start of a program that asks for administrator rights with this error; Wine
// never does. Not in every SDK's headers.
constexpr DWORD ErrorElevationRequired = 740;

class ElevationRequired : public Win32Platform {
  public:
    int launches = 0;

  protected:
    DWORD LaunchProcess(const wchar_t*, std::wstring&, PROCESS_INFORMATION&) override {
        ++launches;
        return ErrorElevationRequired;
    }
};

TEST(StartThroughShell, StartsByFullPathWithBlanksAndTheProcessCanBeWaitedFor) {
    TempDir dir(L"Kit with blanks");
    const std::wstring installer = dir.Make(L"Install.exe");
    CopyProgram(L"StandIn.exe", installer);
    WriteText(installer + L".ms", "700");
    // A program named like the folder's first word, which an unquoted start would run instead.
    const std::wstring decoy = dir.Path().substr(0, dir.Path().rfind(L'\\')) + L"\\Kit.exe";
    CopyProgram(L"StandIn.exe", decoy);

    ElevationRequired platform;
    const auto id = platform.StartProgramFile(installer);
    ASSERT_TRUE(id);
    EXPECT_EQ(platform.launches, 1);
    platform.WaitForProcess(*id, 20000);

    const StandInRecord record = ReadRecord(installer);
    EXPECT_EQ(record.starts, 1);
    EXPECT_TRUE(record.endMs) << "the wait ended before the program did";
    EXPECT_FALSE(e2e::IsRunning(*id));
    EXPECT_EQ(ReadRecord(decoy).starts, 0);
}

TEST(StartThroughShell, AProgramThatIsNotThereIsNotStarted) {
    TempDir dir(L"Kit with blanks");
    ElevationRequired platform;
    EXPECT_FALSE(platform.StartProgramFile(dir.Path() + L"\\Install.exe"));
}

} // namespace
} // namespace tolvanex
