#include "Launcher.h"
#include "FakePlatform.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

namespace tolvanex::launcher {
namespace {

using testing::FakePlatform;
using testing::FakeProcess;
using Words = std::vector<std::wstring>;
using Processes = std::vector<FakeProcess>;

// --- splitting the command line ---

struct SplitRow {
    const char* name;
    std::wstring line;
    int maxArgs;
    Words expected; // the arguments at 1..ArgCount
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitCommandLineTest, FillsArgListAndArgCount) {
    const SplitRow& row = GetParam();
    FakePlatform platform;
    platform.commandLineTail = row.line;
    const Words copy = SplitCommandLine(platform, row.maxArgs);

    Words expectedList{L""};
    expectedList.insert(expectedList.end(), row.expected.begin(), row.expected.end());
    EXPECT_EQ(ArgCount, static_cast<std::int16_t>(row.expected.size()));
    EXPECT_EQ(ArgList, expectedList);
    EXPECT_EQ(copy, expectedList);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    ::testing::Values(
        SplitRow{"Empty", L"", 2, {}}, SplitRow{"BlanksAndTabsOnly", L"  \t \t  ", 2, {}},
        SplitRow{"OneWord", L"3", 2, {L"3"}}, SplitRow{"TwoWords", L"3 1", 2, {L"3", L"1"}},
        SplitRow{"RunsOfSeparators", L" \t 3 \t\t  1\t ", 2, {L"3", L"1"}},
        SplitRow{"MoreWordsThanTheMaximum", L"a b c d", 2, {L"a", L"b"}},
        SplitRow{"MaximumZero", L"a b", 0, {}},
        SplitRow{"MaximumOneKeepsWholeFirstWord", L"abc def", 1, {L"abc"}},
        SplitRow{"DefaultMaximumIsTen",
                 L"1 2 3 4 5 6 7 8 9 10 11 12",
                 DefaultMaxArgs,
                 {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10"}},
        SplitRow{
            "QuotesAreOrdinaryCharacters", L"\"two words\" x", 10, {L"\"two", L"words\"", L"x"}},
        SplitRow{"LineBreaksBelongToArguments", L"a\r\nb c", 10, {L"a\r\nb", L"c"}},
        SplitRow{"LettersOutsideAscii",
                 L"\u00E9t\u00E9 \u65E5\u672C",
                 2,
                 {L"\u00E9t\u00E9", L"\u65E5\u672C"}}),
    testing::RowName());

TEST(SplitCommandLine, CallsDoNotCarryOverArguments) {
    FakePlatform platform;
    platform.commandLineTail = L"a b c";
    SplitCommandLine(platform, 10);
    platform.commandLineTail = L"z";
    SplitCommandLine(platform, 10);
    EXPECT_EQ(ArgCount, 1);
    EXPECT_EQ(ArgList, (Words{L"", L"z"}));
}

TEST(SplitCommandLine, RejectsNegativeMaximum) {
    FakePlatform platform;
    platform.commandLineTail = L"a";
    EXPECT_THROW(SplitCommandLine(platform, -1), std::invalid_argument);
}

TEST(SplitCommandLine, OverflowsPast32767Arguments) {
    FakePlatform platform;
    std::wstring line;
    for (int i = 0; i < 32768; ++i) {
        line += L"a ";
    }
    platform.commandLineTail = line;
    EXPECT_THROW(SplitCommandLine(platform, 40000), std::overflow_error);
    platform.commandLineTail = line.substr(2);
    SplitCommandLine(platform, 40000);
    EXPECT_EQ(ArgCount, 32767);
}

// --- the process search ---

struct MatchRow {
    const char* name;
    std::wstring running;
    bool matches;
};

class IsProcessRunningTest : public ::testing::TestWithParam<MatchRow> {};

TEST_P(IsProcessRunningTest, ComparesWholeNameIgnoringCase) {
    FakePlatform platform;
    platform.processes =
        Processes{L"System", L"explorer.exe", GetParam().running.c_str(), L"svchost.exe"};
    EXPECT_EQ(IsProcessRunning(platform, L"Tolvanex.exe"), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Names, IsProcessRunningTest,
                         ::testing::Values(MatchRow{"Exact", L"Tolvanex.exe", true},
                                           MatchRow{"Capitals", L"TOLVANEX.EXE", true},
                                           MatchRow{"LowerCase", L"tolvanex.exe", true},
                                           MatchRow{"MixedCase", L"tOLvAnEx.ExE", true},
                                           MatchRow{"LongerName", L"Tolvanex.exe.exe", false},
                                           MatchRow{"CharactersBefore", L"MyTolvanex.exe", false},
                                           MatchRow{"OtherExtension", L"Tolvanex.com", false},
                                           MatchRow{"WithoutExtension", L"Tolvanex", false},
                                           MatchRow{"Prefix", L"Tolvanex.ex", false},
                                           MatchRow{"EmptyName", L"", false}),
                         testing::RowName());

// Each logon session has its own clipboard: only a Tolvanex of Tolvakey's own session reads it.
struct SessionRow {
    const char* name;
    std::optional<SessionId> ownSession;
    Processes processes;
    bool running;
};

class IsProcessRunningSessions : public ::testing::TestWithParam<SessionRow> {};

TEST_P(IsProcessRunningSessions, CountsOnlyTheOwnSession) {
    FakePlatform platform;
    platform.ownSession = GetParam().ownSession;
    platform.processes = GetParam().processes;
    EXPECT_EQ(IsProcessRunning(platform, L"Tolvanex.exe"), GetParam().running);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, IsProcessRunningSessions,
    ::testing::Values(
        SessionRow{"OwnSession", 2, {{L"explorer.exe", 2}, {L"Tolvanex.exe", 2}}, true},
        SessionRow{
            "AnotherUsersSessionOnly", 2, {{L"Tolvanex.exe", 1}, {L"Tolvanex.exe", 3}}, false},
        SessionRow{"ServicesSession", 1, {{L"Tolvanex.exe", 0}}, false},
        SessionRow{
            "AnotherSessionListedFirst", 2, {{L"Tolvanex.exe", 1}, {L"TOLVANEX.EXE", 2}}, true},
        SessionRow{"SessionCannotBeTold", 2, {{L"Tolvanex.exe", std::nullopt}}, false},
        SessionRow{"OwnSessionUnknownAnyCounts", std::nullopt, {{L"Tolvanex.exe", 3}}, true},
        SessionRow{
            "OtherNameInOwnSession", 2, {{L"Tolvanex.exe", 1}, {L"Tolvanex.com", 2}}, false}),
    testing::RowName());

TEST(IsProcessRunning, FailedProcessListCountsAsNotRunning) {
    FakePlatform platform;
    platform.processes.reset();
    EXPECT_FALSE(IsProcessRunning(platform, L"Tolvanex.exe"));
}

// --- the whole run ---

struct RunRow {
    const char* name;
    std::wstring line;
    std::optional<Processes> processes; // empty: the process list cannot be taken
    bool startFails;
    int clipboardBusyOpens;
    // expected
    int status;
    Words effects;
};

const std::wstring Started = L"start Tolvanex.exe /h";
const std::wstring Listed = L"list processes";

class MainTest : public ::testing::TestWithParam<RunRow> {};

TEST_P(MainTest, HandsTheCommandOver) {
    const RunRow& row = GetParam();
    FakePlatform platform;
    platform.commandLineTail = row.line;
    platform.processes = row.processes;
    if (row.startFails) {
        platform.unstartable.insert(L"Tolvanex.exe /h");
    }
    platform.clipboardBusyOpens = row.clipboardBusyOpens;

    EXPECT_EQ(Main(platform), row.status);
    EXPECT_EQ(platform.effects, row.effects);
    // Emptied first, so that the command is all the clipboard holds and this program owns it.
    EXPECT_EQ(platform.clipboardEmpties, row.status == ClipboardUnavailable ? 0 : 1);
    EXPECT_FALSE(platform.clipboardOpen);
}

const Processes NotRunning{L"explorer.exe"};
const Processes Running{L"explorer.exe", L"TOLVANEX.EXE"};
const Processes RunningForAnotherUser{L"explorer.exe", {L"Tolvanex.exe", 7}};

INSTANTIATE_TEST_SUITE_P(Runs, MainTest,
                         ::testing::Values(RunRow{"OneArgumentNotRunning",
                                                  L"3",
                                                  NotRunning,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, Started, L"clipboard /\u00E0 3 0"}},
                                           RunRow{"TwoArgumentsRunning",
                                                  L"3 1",
                                                  Running,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, L"clipboard /\u00E0 3 1"}},
                                           RunRow{"SecondArgumentZero",
                                                  L"3 0",
                                                  Running,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, L"clipboard /\u00E0 3 0"}},
                                           RunRow{"ThirdArgumentIgnored",
                                                  L"\t a  b c ",
                                                  Running,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, L"clipboard /\u00E0 a b"}},
                                           RunRow{"ProcessListFails",
                                                  L"3 1",
                                                  std::nullopt,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, Started, L"clipboard /\u00E0 3 1"}},
                                           RunRow{"RunningOnlyInAnotherSession",
                                                  L"3 1",
                                                  RunningForAnotherUser,
                                                  false,
                                                  0,
                                                  HandedOver,
                                                  {Listed, Started, L"clipboard /\u00E0 3 1"}},
                                           RunRow{"StartFailsClipboardStillSet",
                                                  L"3 1",
                                                  NotRunning,
                                                  true,
                                                  0,
                                                  ApplicationNotStarted,
                                                  {Listed, Started, L"clipboard /\u00E0 3 1"}},
                                           RunRow{"StartAndClipboardFail",
                                                  L"3 1",
                                                  NotRunning,
                                                  true,
                                                  INT_MAX,
                                                  ClipboardUnavailable,
                                                  {Listed, Started}},
                                           RunRow{"ClipboardBusyForAMoment",
                                                  L"3 1",
                                                  Running,
                                                  false,
                                                  30,
                                                  HandedOver,
                                                  {Listed, L"clipboard /\u00E0 3 1"}},
                                           RunRow{"ClipboardHeldForGood",
                                                  L"3 1",
                                                  Running,
                                                  false,
                                                  INT_MAX,
                                                  ClipboardUnavailable,
                                                  {Listed}}),
                         testing::RowName());

TEST(Main, NoArgumentsWarnsAndDoesNothingElse) {
    for (const std::wstring line : {L"", L"  \t  "}) {
        FakePlatform platform;
        platform.commandLineTail = line;
        platform.clipboard = L"earlier";
        EXPECT_EQ(Main(platform), InvalidArguments);
        ASSERT_EQ(platform.boxes.size(), 1u);
        EXPECT_EQ(platform.boxes[0].text, L"Invalid command line arguments for Hotkey Zipstarter");
        EXPECT_EQ(platform.boxes[0].title, L"Hotkey Zipstart");
        EXPECT_EQ(platform.boxes[0].flags, 0x30u);
        EXPECT_EQ(platform.effects, Words{L"box Hotkey Zipstart"});
        EXPECT_EQ(platform.clipboard, L"earlier");
        EXPECT_EQ(platform.clipboardOpens, 0);
    }
}

TEST(Main, FailingProcessSearchCountsAsNotRunning) {
    FakePlatform platform;
    platform.commandLineTail = L"7";
    platform.processListThrows = true;
    EXPECT_EQ(Main(platform), HandedOver);
    EXPECT_EQ(platform.effects, (Words{Listed, Started, L"clipboard /\u00E0 7 0"}));
}

// --- the clipboard ---

TEST(PutOnClipboard, EmptyFailingStillSetsTheText) {
    FakePlatform platform;
    platform.clipboard = L"old";
    platform.clipboardEmptyFails = true;
    EXPECT_TRUE(PutOnClipboard(platform, L"/\u00E0 1 2"));
    EXPECT_EQ(platform.clipboard, L"/\u00E0 1 2");
}

TEST(PutOnClipboard, SetFailingIsReported) {
    FakePlatform platform;
    platform.clipboardSetFails = true;
    EXPECT_FALSE(PutOnClipboard(platform, L"x"));
    EXPECT_FALSE(platform.clipboardOpen);
}

TEST(PutOnClipboard, WaitsAboutASecondForABusyClipboard) {
    FakePlatform held;
    held.clipboardBusyOpens = INT_MAX;
    EXPECT_FALSE(PutOnClipboard(held, L"x"));
    EXPECT_GE(held.nowMs, 1000u);
    EXPECT_LT(held.nowMs, 1100u);

    // Let go just before the second is up: the text still gets there.
    FakePlatform late;
    late.clipboardBusyOpens = 95;
    EXPECT_TRUE(PutOnClipboard(late, L"x"));
    EXPECT_EQ(late.clipboard, L"x");
}

} // namespace
} // namespace tolvanex::launcher
