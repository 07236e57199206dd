// Setup.exe itself, in folders of installation files with stand-in installers, observed from
// outside.
#include "BuildSettings.h"
#include "WinKit.h"

#include <gtest/gtest.h>

namespace tolvanex::e2e {
namespace {

// What a folder holds under an installer's name.
enum class Item { Missing, Program, Hidden, System, Folder, NotAProgram };

struct Message {
    std::wstring title, text;
};

const std::wstring Support = SupportEmail;
const Message MissingPrerequisite{L"Missing File", L"Missing system file msttss22L.exe. Contact " +
                                                       Support + L" for assistance."};
const Message MissingMain{L"Missing File", L"Missing system file Install.exe. Contact " + Support +
                                               L" for assistance."};
const Message InstallError{L"Error", L"Error installing Tolvanex with Hotkeys. Contact " + Support +
                                         L" for assistance."};

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    auto trimmed = [](std::wstring path) {
        while (!path.empty() && path.back() == L'\\') {
            path.pop_back();
        }
        return path;
    };
    const std::wstring x = trimmed(a), y = trimmed(b);
    return ::CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                  static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

class SetupRun : public ::testing::Test {
  protected:
    explicit SetupRun(const std::wstring& folder = L"Tolvanex Kit") : dir(folder) {}

    TempDir dir;
    TempDir elsewhere{L"current"};
    std::wstring setup = dir.Make(L"Setup.exe");
    std::wstring prerequisite = dir.Make(L"msttss22L.exe");
    std::wstring mainInstaller = dir.Make(L"Install.exe");

    void SetUp() override {
        EndLeftovers();
        CopyProgram(L"Setup.exe", setup);
    }

    static void Place(const std::wstring& path, Item item, unsigned runMs = 0) {
        switch (item) {
        case Item::Missing:
            return;
        case Item::Folder:
            ::CreateDirectoryW(path.c_str(), nullptr);
            return;
        case Item::NotAProgram:
            WriteText(path, "not a program\r\n");
            return;
        default:
            CopyProgram(L"StandIn.exe", path);
            WriteText(path + L".ms", std::to_string(runMs));
            if (item == Item::Hidden || item == Item::System) {
                ASSERT_TRUE(::SetFileAttributesW(path.c_str(), item == Item::Hidden
                                                                   ? FILE_ATTRIBUTE_HIDDEN
                                                                   : FILE_ATTRIBUTE_SYSTEM));
                ASSERT_NE(::GetFileAttributesW(path.c_str()) &
                              (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                          0u)
                    << "this file system keeps no such attribute";
            }
        }
    }

    // Runs Setup from another current folder, as a double click in Explorer would.
    RunResult RunSetup() { return RunProgram(setup, L"", elsewhere.Path()); }

    // Runs Setup beside both installers, the prerequisite running for the time given.
    RunResult RunWithBothInstallers(unsigned prerequisiteMs = 0) {
        Place(prerequisite, Item::Program, prerequisiteMs);
        Place(mainInstaller, Item::Program);
        return RunSetup();
    }

    // Checks that the stand-in ran once, in the installation folder, started by its quoted path.
    // One that never ran says what the kit can tell of its start.
    void ExpectStartedProperly(const std::wstring& path, const StandInRecord& record) {
        EXPECT_EQ(record.starts, 1)
            << Utf8(path) << (record.starts ? "" : "\n" + WhyNoRecord(path));
        EXPECT_TRUE(SameFolder(record.folder, dir.Path())) << Utf8(record.folder);
        EXPECT_EQ(record.commandLine, L"\"" + path + L"\"");
        EXPECT_EQ(record.show, SW_SHOWNORMAL);
    }
};

// --- what each folder content leads to ---

struct FolderRow {
    const char* name;
    Item prerequisite, main;
    unsigned exitCode;
    std::vector<Message> boxes;
};

class SetupFolder : public SetupRun, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(SetupFolder, ShowsTheMessagesOfItsCase) {
    const FolderRow& row = GetParam();
    Place(prerequisite, row.prerequisite);
    Place(mainInstaller, row.main);

    const RunResult run = RunSetup();

    EXPECT_EQ(run.exitCode, row.exitCode) << WhyNoRecord(mainInstaller);
    ASSERT_EQ(run.boxes.size(), row.boxes.size());
    for (std::size_t i = 0; i < run.boxes.size(); ++i) {
        EXPECT_EQ(run.boxes[i].title, row.boxes[i].title);
        EXPECT_EQ(run.boxes[i].text, row.boxes[i].text);
        EXPECT_FALSE(run.boxes[i].hasIcon);
        EXPECT_EQ(run.boxes[i].buttons, std::vector<std::wstring>{L"OK"});
    }
    // Only real, visible program files are started.
    const bool prerequisiteRuns = row.prerequisite == Item::Program;
    const bool mainRuns = row.main == Item::Program;
    if (prerequisiteRuns) {
        ExpectStartedProperly(prerequisite, ReadRecord(prerequisite));
    } else if (row.prerequisite == Item::Hidden || row.prerequisite == Item::System) {
        EXPECT_EQ(ReadRecord(prerequisite).starts, 0);
    }
    if (mainRuns) {
        ExpectStartedProperly(mainInstaller, AwaitRecord(mainInstaller));
    } else if (row.main == Item::Hidden || row.main == Item::System) {
        EXPECT_EQ(ProcessesOf(mainInstaller), 0);
        EXPECT_EQ(ReadRecord(mainInstaller).starts, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupFolder,
    ::testing::Values(
        FolderRow{"BothPresent", Item::Program, Item::Program, 0, {}},
        FolderRow{"PrerequisiteMissing", Item::Missing, Item::Program, 0, {MissingPrerequisite}},
        FolderRow{
            "BothMissing", Item::Missing, Item::Missing, 1, {MissingPrerequisite, MissingMain}},
        FolderRow{"MainInstallerMissing", Item::Program, Item::Missing, 1, {MissingMain}},
        FolderRow{"MainInstallerNotAProgram", Item::Program, Item::NotAProgram, 2, {InstallError}},
        FolderRow{"PrerequisiteHidden", Item::Hidden, Item::Program, 0, {MissingPrerequisite}},
        FolderRow{"PrerequisiteSystemFile", Item::System, Item::Program, 0, {MissingPrerequisite}},
        FolderRow{"PrerequisiteIsAFolder", Item::Folder, Item::Program, 0, {MissingPrerequisite}},
        FolderRow{"MainInstallerHidden", Item::Program, Item::Hidden, 1, {MissingMain}},
        FolderRow{"MainInstallerIsAFolder", Item::Program, Item::Folder, 1, {MissingMain}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- order and timing ---

struct PauseRow {
    const char* name;
    unsigned prerequisiteMs; // how long the prerequisite runs
};

class SetupPause : public SetupRun, public ::testing::WithParamInterface<PauseRow> {};

// A pause that is skipped in some runs only is a fault all the same: every run of a series must
// pause. With a fault that hits a third of the runs, fifteen runs all pausing by luck happen
// once in two hundred series.
constexpr int PauseRuns = 5;

TEST_P(SetupPause, StartsTheMainInstallerOneSecondAfterThePrerequisiteInEveryRun) {
    Place(prerequisite, Item::Program, GetParam().prerequisiteMs);
    Place(mainInstaller, Item::Program);
    for (int run = 1; run <= PauseRuns; ++run) {
        ::DeleteFileW((prerequisite + L".log").c_str());
        ::DeleteFileW((mainInstaller + L".log").c_str());
        const RunResult setupRun = RunSetup();
        ASSERT_EQ(setupRun.exitCode, 0u) << "run " << run << ": " << WhyNoRecord(mainInstaller);
        const StandInRecord first = ReadRecord(prerequisite);
        StandInRecord second = AwaitRecord(mainInstaller);
        ASSERT_TRUE(first.endMs) << "run " << run << ": " << WhyNoRecord(prerequisite);
        ASSERT_TRUE(second.startMs) << "run " << run << ": " << WhyNoRecord(mainInstaller);
        // The wait lasts until the prerequisite ends, then the pause of one second follows. The
        // upper bound only tells a pause from a hang.
        EXPECT_GE(*second.startMs, *first.endMs + 990) << "run " << run;
        EXPECT_LT(*second.startMs, *first.endMs + 5000) << "run " << run;
        // The main installer's last line must not land in the next run's record.
        for (int i = 0; i < 500 && !second.endMs; ++i) {
            ::Sleep(10);
            second = ReadRecord(mainInstaller);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PrerequisiteLifetimes, SetupPause,
                         ::testing::Values(PauseRow{"Quick", 30}, PauseRow{"Brief", 150},
                                           PauseRow{"Slower", 400}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SetupRun, GoesOnAfterTenSecondsWhileThePrerequisiteStillRuns) {
    const RunResult run = RunWithBothInstallers(14000);

    ASSERT_EQ(run.exitCode, 0u) << WhyNoRecord(mainInstaller);
    const StandInRecord second = AwaitRecord(mainInstaller);
    const StandInRecord first = ReadRecord(prerequisite);
    ASSERT_TRUE(first.startMs) << WhyNoRecord(prerequisite);
    ASSERT_TRUE(second.startMs) << WhyNoRecord(mainInstaller);
    // Measured between the stand-ins' own first lines, each written a few milliseconds after its
    // start: a tenth of a second spares the test their start-up times.
    EXPECT_GE(*second.startMs, *first.startMs + 10900);
    EXPECT_FALSE(first.endMs) << "the main installer started before the prerequisite ended";
    EXPECT_EQ(ProcessesOf(prerequisite), 1);
}

// --- where the installation files lie ---

class SetupInFolderWithBlanks : public SetupRun {
  protected:
    SetupInFolderWithBlanks() : SetupRun(L"Some dir") {}
};

TEST_F(SetupInFolderWithBlanks, NeverStartsAProgramNamedLikeTheFolder) {
    // An unquoted "...\Some dir\msttss22L.exe" would start "...\Some.exe" first.
    const std::wstring decoy = dir.Path().substr(0, dir.Path().rfind(L'\\')) + L"\\Some.exe";
    CopyProgram(L"StandIn.exe", decoy);
    const RunResult run = RunWithBothInstallers();

    EXPECT_EQ(run.exitCode, 0u) << WhyNoRecord(mainInstaller);
    EXPECT_TRUE(run.boxes.empty());
    ExpectStartedProperly(prerequisite, ReadRecord(prerequisite));
    ExpectStartedProperly(mainInstaller, AwaitRecord(mainInstaller));
    EXPECT_EQ(ReadRecord(decoy).starts, 0);
}

class SetupInFolderOutsideAscii : public SetupRun {
  protected:
    SetupInFolderOutsideAscii() : SetupRun(L"Instal\u00E1cia \u0423\u0441\u0442 \u65E5\u672C") {}
};

TEST_F(SetupInFolderOutsideAscii, RunsBothInstallers) {
    const RunResult run = RunWithBothInstallers();

    EXPECT_EQ(run.exitCode, 0u) << WhyNoRecord(mainInstaller);
    EXPECT_TRUE(run.boxes.empty());
    ExpectStartedProperly(prerequisite, ReadRecord(prerequisite));
    ExpectStartedProperly(mainInstaller, AwaitRecord(mainInstaller));
}

// A kit unpacked a few folders deep: Setup.exe's own path just fits MAX_PATH, the installers'
// paths beside it do not. Wine's file test copes with such paths in any form (Windows' needs the
// long form); starting a program from one fails here as on Windows without long paths.
TEST_F(SetupRun, InstallersPastMaxPathAreFoundButCannotStart) {
    const std::size_t folderLength = MAX_PATH - 1 - std::wstring(L"\\Setup.exe").size();
    std::wstring deep = dir.Path();
    while (folderLength - deep.size() > 51) {
        deep += L"\\" + std::wstring(50, L'k');
    }
    deep += L"\\" + std::wstring(folderLength - deep.size() - 1, L'k');
    setup = deep + L"\\Setup.exe";
    prerequisite = deep + L"\\msttss22L.exe";
    mainInstaller = deep + L"\\Install.exe";
    ASSERT_EQ(setup.size(), static_cast<std::size_t>(MAX_PATH - 1));
    ASSERT_GE(mainInstaller.size(), static_cast<std::size_t>(MAX_PATH));
    CopyProgram(L"Setup.exe", setup);

    const RunResult run = RunWithBothInstallers();

    // Both are there: no "Missing File", but the honest "Error" for the start that failed.
    EXPECT_EQ(run.exitCode, 2u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, InstallError.title);
    EXPECT_EQ(run.boxes[0].text, InstallError.text);
}

} // namespace
} // namespace tolvanex::e2e
