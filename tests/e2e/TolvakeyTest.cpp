// Tolvakey.exe itself, with a stand-in Tolvanex.exe, observed from outside.
#include "WinKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace tolvanex::e2e {
namespace {

const std::wstring Prefix = L"/\u00E0 ";

// A folder holding Tolvakey.exe and, unless a case says otherwise, a stand-in Tolvanex.exe that
// keeps running once started, as the application would.
class TolvakeyRun : public ::testing::Test {
  protected:
    TempDir dir{L"Tolvanex"};
    std::wstring launcher = dir.Make(L"Tolvakey.exe");
    std::wstring application = dir.Make(L"Tolvanex.exe");

    void SetUp() override {
        EndLeftovers();
        CopyProgram(L"Tolvakey.exe", launcher);
        ASSERT_TRUE(SetClipboard(L"earlier content"));
    }
    void InstallApplication() {
        CopyProgram(L"StandIn.exe", application);
        WriteText(application + L".ms", "60000");
    }
    // Runs a copy of the stand-in under another name, from another folder.
    HANDLE RunLookAlike(const std::wstring& name) {
        const std::wstring path = dir.Make(L"elsewhere\\" + name);
        CopyProgram(L"StandIn.exe", path);
        WriteText(path + L".ms", "60000");
        const HANDLE process = StartProgram(path);
        AwaitRecord(path);
        return process;
    }
};

struct HandOffRow {
    const char* name;
    std::wstring arguments;
    std::wstring command; // what follows the prefix
};

class TolvakeyHandOff : public TolvakeyRun, public ::testing::WithParamInterface<HandOffRow> {};

TEST_P(TolvakeyHandOff, StartsTolvanexAndSetsTheClipboard) {
    InstallApplication();
    const RunResult run = RunProgram(launcher, GetParam().arguments, dir.Path());

    EXPECT_EQ(run.exitCode, 0u) << WhyNoRecord(application);
    EXPECT_TRUE(run.boxes.empty());
    const std::wstring expected = Prefix + GetParam().command;
    EXPECT_EQ(ClipboardUnicode(), expected);
    EXPECT_EQ(ClipboardAnsi(), Encode(expected, CP_ACP));
    // The 8-bit text was put there, not made up by Windows from the Unicode text with the code
    // page of whatever input language is active.
    const std::vector<UINT> formats = ClipboardFormats();
    ASSERT_GE(formats.size(), 2u);
    EXPECT_EQ(formats[0], static_cast<UINT>(CF_UNICODETEXT));
    EXPECT_EQ(formats[1], static_cast<UINT>(CF_TEXT));
    EXPECT_FALSE(ClipboardHasTestFormat()) << "what was on the clipboard before stays beside it";
    // Kept out of Windows' clipboard history and cloud clipboard: a DWORD 0 in each format.
    for (const wchar_t* format : {L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
        EXPECT_EQ(ClipboardDword(format), DWORD{0}) << Utf8(format);
    }

    EXPECT_EQ(ProcessesOf(application), 1);
    const StandInRecord started = AwaitRecord(application);
    EXPECT_EQ(started.starts, 1) << WhyNoRecord(application);
    EXPECT_EQ(started.commandLine, L"Tolvanex.exe /h");
    EXPECT_EQ(started.show, SW_SHOWNORMAL);
    // Not waited for: the application is still coming up (it runs a minute) when Tolvakey ends.
    EXPECT_FALSE(started.endMs);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TolvakeyHandOff,
    ::testing::Values(HandOffRow{"OneArgument", L"3", L"3 0"},
                      HandOffRow{"TwoArguments", L"3 1", L"3 1"},
                      HandOffRow{"ThreeArgumentsAndRunsOfBlanks", L"\t 7  \t8 9 ", L"7 8"},
                      HandOffRow{"LettersOutsideAscii", L"\u00E9t\u00E9 \u65E5\u672C",
                                 L"\u00E9t\u00E9 \u65E5\u672C"}),
    [](const auto& row) { return std::string(row.param.name); });

// What 8-bit readers get in each ANSI code page the tests run under (the hand-off tests run a
// second time under code page 1251): code pages without "\u00E0" give the nearest letter.
struct CodePageRow {
    UINT codePage;
    std::string ansi;
};
const CodePageRow CodePages[] = {{1252, "/\xE0 3 1"}, {1251, "/a 3 1"}};

TEST_F(TolvakeyRun, AnsiTextHoldsTheCodePagesBytes) {
    // The run under another code page says which it wants, lest it pass under the usual one.
    if (const char* wanted = std::getenv("TOLVANEX_EXPECTED_ACP")) {
        ASSERT_EQ(std::to_string(::GetACP()), wanted);
    }
    const CodePageRow* row = nullptr;
    for (const CodePageRow& candidate : CodePages) {
        row = candidate.codePage == ::GetACP() ? &candidate : row;
    }
    ASSERT_NE(row, nullptr) << "no bytes known for code page " << ::GetACP();
    InstallApplication();
    ASSERT_EQ(RunProgram(launcher, L"3 1", dir.Path()).exitCode, 0u);
    EXPECT_EQ(ClipboardAnsi(), row->ansi);
    EXPECT_EQ(ClipboardUnicode(), Prefix + L"3 1");
}

TEST_F(TolvakeyRun, NoArgumentsWarnsAndChangesNothing) {
    InstallApplication();
    for (const std::wstring arguments : {L"", L" \t "}) {
        const RunResult run = RunProgram(launcher, arguments, dir.Path());
        EXPECT_EQ(run.exitCode, 1u);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].title, L"Hotkey Zipstart");
        EXPECT_EQ(run.boxes[0].text, L"Invalid command line arguments for Hotkey Zipstarter");
        EXPECT_TRUE(run.boxes[0].hasIcon);
        EXPECT_EQ(run.boxes[0].buttons, std::vector<std::wstring>{L"OK"});
    }
    EXPECT_EQ(ClipboardUnicode(), L"earlier content");
    EXPECT_TRUE(ClipboardHasTestFormat());
    EXPECT_EQ(ProcessesOf(application), 0);
}

struct RunningRow {
    const char* name;
    std::wstring runningAs; // the name a stand-in already runs under
    bool counts;            // as Tolvanex running
};

class TolvakeyAlreadyRunning : public TolvakeyRun,
                               public ::testing::WithParamInterface<RunningRow> {};

TEST_P(TolvakeyAlreadyRunning, StartsTolvanexOnlyWhenNoProcessHasItsName) {
    InstallApplication();
    const HANDLE other = RunLookAlike(GetParam().runningAs);
    const auto names = ProcessNames();
    ASSERT_NE(std::find(names.begin(), names.end(), GetParam().runningAs), names.end());

    const RunResult run = RunProgram(launcher, L"5 2", dir.Path());

    EXPECT_EQ(run.exitCode, 0u) << WhyNoRecord(application);
    EXPECT_EQ(ClipboardUnicode(), Prefix + L"5 2");
    // A start would have happened before Tolvakey ended, and the stand-in runs on for a minute.
    EXPECT_EQ(ProcessesOf(application), GetParam().counts ? 0 : 1) << WhyNoRecord(application);
    ::TerminateProcess(other, 0);
    ::CloseHandle(other);
}

INSTANTIATE_TEST_SUITE_P(Names, TolvakeyAlreadyRunning,
                         ::testing::Values(RunningRow{"SameName", L"Tolvanex.exe", true},
                                           RunningRow{"Capitals", L"TOLVANEX.EXE", true},
                                           RunningRow{"MixedCase", L"tolvaNEX.Exe", true},
                                           RunningRow{"CharactersBefore", L"MyTolvanex.exe", false},
                                           RunningRow{"LongerName", L"Tolvanex.exe.exe", false},
                                           RunningRow{"OtherEnding", L"Tolvanexe.exe", false}),
                         [](const auto& row) { return std::string(row.param.name); });

// A key press must not wait for Tolvanex to come up, nor for it to end: the command waits on the
// clipboard until Tolvanex reads it.
TEST_F(TolvakeyRun, DoesNotWaitForATolvanexSlowToComeUp) {
    InstallApplication();
    WriteText(application + L".startup-ms", "4000");
    const RunResult run = RunProgram(launcher, L"8 2", dir.Path());

    EXPECT_EQ(run.exitCode, 0u) << WhyNoRecord(application);
    EXPECT_EQ(ClipboardUnicode(), Prefix + L"8 2");
    const StandInRecord started = AwaitRecord(application);
    ASSERT_EQ(started.starts, 1) << WhyNoRecord(application);
    EXPECT_FALSE(started.readyMs) << "Tolvakey ended only once Tolvanex was ready for input";
    EXPECT_EQ(ProcessesOf(application), 1);
}

TEST_F(TolvakeyRun, MissingApplicationStillGetsTheCommand) {
    const RunResult run = RunProgram(launcher, L"4 4", dir.Path());
    EXPECT_EQ(run.exitCode, 3u) << "the command is there, but Tolvanex could not be started";
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ClipboardUnicode(), Prefix + L"4 4");
}

TEST_F(TolvakeyRun, WaitsForAClipboardHeldForAMoment) {
    InstallApplication();
    ClipboardHold hold;
    ASSERT_TRUE(hold.Held());
    const HANDLE launched = StartProgram(launcher, L"6 1");
    // Tolvanex starting shows Tolvakey has come to the clipboard, or is about to.
    ASSERT_EQ(AwaitRecord(application).starts, 1);
    ::Sleep(300);
    hold.Release();
    ASSERT_TRUE(WaitForExit(launched, 10000));
    DWORD exitCode = 0;
    ::GetExitCodeProcess(launched, &exitCode);
    ::CloseHandle(launched);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ClipboardUnicode(), Prefix + L"6 1");
}

TEST_F(TolvakeyRun, GivesUpOnAClipboardHeldForGood) {
    InstallApplication();
    ClipboardHold hold;
    ASSERT_TRUE(hold.Held());
    const RunResult run = RunProgram(launcher, L"6 2", dir.Path());
    hold.Release();
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(ClipboardUnicode(), L"earlier content");
    EXPECT_TRUE(ClipboardHasTestFormat());
}

} // namespace
} // namespace tolvanex::e2e
