#include "Setup.h"
#include "BuildSettings.h"
#include "FakePlatform.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvanex::setup {
namespace {

using testing::FakePlatform;
using Words = std::vector<std::wstring>;

std::wstring Support(const wchar_t* lead) {
    return std::wstring(lead) + SupportEmail + L" for assistance.";
}

// --- the installation folder ---

struct ResolveRow {
    const char* name;
    std::optional<std::wstring> directory;
    bool resolved;
    std::wstring installDir;  // when resolved
    std::wstring fatalSuffix; // what the fatal message shows after the colon otherwise
};

class ResolveInstallDirTest : public ::testing::TestWithParam<ResolveRow> {};

TEST_P(ResolveInstallDirTest, AppendsOneBackslashOrReportsFatally) {
    const ResolveRow& row = GetParam();
    FakePlatform platform;
    platform.programDirectory = row.directory;
    InstallDir = L"unchanged";

    EXPECT_EQ(ResolveInstallDir(platform), row.resolved);
    if (row.resolved) {
        EXPECT_EQ(InstallDir, row.installDir);
        EXPECT_TRUE(platform.boxes.empty());
        return;
    }
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].title, L"Fatal Error");
    EXPECT_EQ(platform.boxes[0].text,
              L"FATAL ERROR assigning environment variable : " + row.fatalSuffix);
    EXPECT_EQ(platform.boxes[0].flags, MbOk);
}

INSTANTIATE_TEST_SUITE_P(
    Directories, ResolveInstallDirTest,
    ::testing::Values(
        ResolveRow{"Plain", L"C:\\Downloads\\Tolvanex", true, L"C:\\Downloads\\Tolvanex\\", L""},
        ResolveRow{"DriveRoot", L"D:\\", true, L"D:\\", L""},
        ResolveRow{"Share", L"\\\\server\\share\\kit", true, L"\\\\server\\share\\kit\\", L""},
        ResolveRow{"BlanksKept", L" C:\\My Kit ", true, L" C:\\My Kit \\", L""},
        ResolveRow{"Empty", L"", false, L"", L""},
        ResolveRow{"BlanksOnly", L"   ", false, L"", L"   "},
        ResolveRow{"Unavailable", std::nullopt, false, L"", L""}),
    testing::RowName());

// --- the run sequence ---

const std::wstring Dir = L"C:\\Kit Folder\\";
const std::wstring Prerequisite = Dir + L"msttss22L.exe";
const std::wstring MainInstaller = Dir + L"Install.exe";

struct RunRow {
    const char* name;
    std::map<std::wstring, std::optional<bool>> files;
    std::set<std::wstring> unstartable;
    bool changesFail;
    int status;
    Words effects;
    Words boxTexts;
};

const std::wstring EnterDir = L"directory " + Dir;
const std::wstring StartPrerequisite = L"start file " + Prerequisite;
const std::wstring StartMain = L"start file " + MainInstaller;
const std::wstring MissingPrerequisite = Support(L"Missing system file msttss22L.exe. Contact ");
const std::wstring MissingMain = Support(L"Missing system file Install.exe. Contact ");
const std::wstring InstallError = Support(L"Error installing Tolvanex with Hotkeys. Contact ");

class RunSetupTest : public ::testing::TestWithParam<RunRow> {};

TEST_P(RunSetupTest, RunsInstallersInOrder) {
    const RunRow& row = GetParam();
    FakePlatform platform;
    platform.programDirectory = L"C:\\Kit Folder";
    platform.files = row.files;
    platform.unstartable = row.unstartable;
    platform.driveChangeFails = row.changesFail;
    platform.directoryChangeFails = row.changesFail;

    EXPECT_EQ(RunSetup(platform), row.status);
    EXPECT_EQ(platform.effects, row.effects);
    Words texts;
    for (const auto& box : platform.boxes) {
        texts.push_back(box.text);
        EXPECT_EQ(box.flags, MbOk);
    }
    EXPECT_EQ(texts, row.boxTexts);
    EXPECT_FALSE(platform.terminatedWith);
}

const std::map<std::wstring, std::optional<bool>> Both{{Prerequisite, true}, {MainInstaller, true}};

INSTANTIATE_TEST_SUITE_P(
    Cases, RunSetupTest,
    ::testing::Values(
        RunRow{"BothPresent",
               Both,
               {},
               false,
               MainInstallerStarted,
               {L"drive C", EnterDir, StartPrerequisite, L"wait 100 10000", StartMain},
               {}},
        RunRow{"PrerequisiteMissing",
               {{MainInstaller, true}},
               {},
               false,
               MainInstallerStarted,
               {L"drive C", EnterDir, L"box Missing File", StartMain},
               {MissingPrerequisite}},
        RunRow{"PrerequisiteTestFails",
               {{Prerequisite, std::nullopt}, {MainInstaller, true}},
               {},
               false,
               MainInstallerStarted,
               {L"drive C", EnterDir, L"box Missing File", StartMain},
               {MissingPrerequisite}},
        RunRow{"BothMissing",
               {},
               {},
               false,
               MainInstallerMissing,
               {L"drive C", EnterDir, L"box Missing File", L"box Missing File"},
               {MissingPrerequisite, MissingMain}},
        RunRow{"MainInstallerMissing",
               {{Prerequisite, true}},
               {},
               false,
               MainInstallerMissing,
               {L"drive C", EnterDir, StartPrerequisite, L"wait 100 10000", L"box Missing File"},
               {MissingMain}},
        RunRow{"PrerequisiteDoesNotStart",
               Both,
               {Prerequisite},
               false,
               MainInstallerStarted,
               {L"drive C", EnterDir, StartPrerequisite, StartMain},
               {}},
        RunRow{
            "MainInstallerDoesNotStart",
            Both,
            {MainInstaller},
            false,
            InstallFailed,
            {L"drive C", EnterDir, StartPrerequisite, L"wait 100 10000", StartMain, L"box Error"},
            {InstallError}},
        RunRow{"MainInstallerTestFails",
               {{Prerequisite, true}, {MainInstaller, std::nullopt}},
               {},
               false,
               InstallFailed,
               {L"drive C", EnterDir, StartPrerequisite, L"wait 100 10000", L"box Error"},
               {InstallError}},
        RunRow{"DriveAndDirectoryChangesFail",
               Both,
               {},
               true,
               MainInstallerStarted,
               {L"drive C", EnterDir, StartPrerequisite, L"wait 100 10000", StartMain},
               {}}),
    testing::RowName());

TEST(RunSetup, UnknownFolderTerminatesBeforeAnythingElse) {
    FakePlatform platform;
    platform.programDirectory = L" ";
    platform.files = {{L" \\msttss22L.exe", true}, {L" \\Install.exe", true}};
    EXPECT_EQ(RunSetup(platform), InstallDirUnknown);
    EXPECT_EQ(platform.effects, (Words{L"box Fatal Error", L"terminate"}));
    EXPECT_EQ(platform.terminatedWith, InstallDirUnknown);
}

TEST(RunSetup, PausesOneSecondAfterThePrerequisiteEnds) {
    for (const std::uint64_t runMs : {300u, 25000u}) {
        FakePlatform platform;
        platform.programDirectory = L"C:\\Kit Folder";
        platform.files = Both;
        platform.processRunMs = runMs;
        ASSERT_EQ(RunSetup(platform), MainInstallerStarted);
        // The wait is cut at ten seconds; the pause adds one.
        const std::uint64_t waited = std::min<std::uint64_t>(runMs, 10000);
        EXPECT_GE(platform.nowMs, waited + 1000) << runMs;
        EXPECT_LE(platform.nowMs, waited + 1010) << runMs;
    }
}

// --- the pause ---

struct PauseRow {
    const char* name;
    double startOfDay;
    double seconds;
    std::uint64_t messageEveryMs;
    std::uint64_t minMs, maxMs; // how long the pause takes on the fake clock
    int minDispatches, maxDispatches;
};

class PauseSecondsTest : public ::testing::TestWithParam<PauseRow> {};

TEST_P(PauseSecondsTest, WaitsTheDurationWithoutSpinning) {
    const PauseRow& row = GetParam();
    FakePlatform platform;
    platform.dayStartSeconds = row.startOfDay;
    platform.messageEveryMs = row.messageEveryMs;

    PauseSeconds(platform, row.seconds);

    EXPECT_GE(platform.nowMs, row.minMs);
    EXPECT_LE(platform.nowMs, row.maxMs);
    EXPECT_GE(platform.dispatches, row.minDispatches);
    EXPECT_LE(platform.dispatches, row.maxDispatches);
    // All the time passes asleep, none in polling the clock.
    EXPECT_EQ(platform.idleMs, platform.nowMs);
}

constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Durations, PauseSecondsTest,
    ::testing::Values(PauseRow{"OneSecond", 36000.25, 1.0, 0, 1000, 1001, 1, 2},
                      PauseRow{"AcrossMidnight", 86399.5, 1.0, 0, 1000, 1001, 1, 3},
                      PauseRow{"JustBeforeMidnight", 86399.999, 1.0, 0, 1000, 1001, 1, 3},
                      PauseRow{"MessagesKeepBeingHandled", 36000.0, 1.0, 100, 1000, 1001, 10, 12},
                      PauseRow{"Zero", 36000.0, 0.0, 0, 0, 0, 0, 1},
                      PauseRow{"Negative", 36000.0, -5.0, 0, 0, 0, 0, 1},
                      PauseRow{"NotANumber", 36000.0, Nan, 0, 0, 0, 0, 0},
                      PauseRow{"Endless", 36000.0, Inf, 0, 0, 0, 0, 0},
                      PauseRow{"Fraction", 0.0, 0.0005, 0, 1, 1, 1, 2},
                      PauseRow{"LongWaitsInSteps", 3600.0, 7200.0, 0, 7200000, 7200001, 120, 122}),
    testing::RowName());

// Two readings of the clock in the same millisecond must compare equal: one that compared below
// the stored start would look like midnight passing, and the pause would end at once.
TEST(PauseSeconds, LastsItsDurationFromAnyMillisecond) {
    for (const double second : {36000.0, 86398.0}) {
        for (int ms = 0; ms < 1000; ++ms) {
            FakePlatform platform;
            platform.dayStartSeconds = second + ms / 1000.0;
            PauseSeconds(platform, 1.0);
            EXPECT_GE(platform.nowMs, 1000u) << "begun at " << second << " s + " << ms << " ms";
            EXPECT_LE(platform.nowMs, 1001u) << "begun at " << second << " s + " << ms << " ms";
        }
    }
}

} // namespace
} // namespace tolvanex::setup
