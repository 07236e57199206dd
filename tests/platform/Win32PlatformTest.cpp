// The Windows layer itself, driven directly under Wine, where the programs' own runs cannot reach
// a path: a seam stands in for what Wine never does.
#include "Win32Platform.h"
#include "Setup.h"
#include "WinKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace tolvanex {
namespace {

using e2e::CopyProgram;
using e2e::ReadRecord;
using e2e::StandInRecord;
using e2e::TempDir;
using e2e::WriteText;

// Windows answers a start of a program that asks for administrator rights with this error; Wine
// never does.
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

// --- the pause, with the real clock and message loop ---

constexpr UINT CountedMessage = WM_APP + 1;
constexpr int MessagesPosted = 5;

struct PauseRun {
    HANDLE ready = nullptr;
    HWND window = nullptr;
    int handled = 0;
    int handledWhenPauseEnded = -1;
    double processorMs = -1;
};

PauseRun* g_pauseRun = nullptr;

LRESULT CALLBACK CountMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CountedMessage) {
        ++g_pauseRun->handled;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

double ThreadProcessorMs() {
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& time) {
        return static_cast<double>((std::uint64_t{time.dwHighDateTime} << 32) |
                                   time.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// Owns a window, as Setup's thread owns its message queue, and pauses one second.
DWORD WINAPI PauseWithAWindow(void* context) {
    auto* run = static_cast<PauseRun*>(context);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CountMessages;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TolvanexPauseTest";
    ::RegisterClassW(&windowClass);
    const UniqueWindow window(::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                                HWND_MESSAGE, nullptr, windowClass.hInstance,
                                                nullptr));
    run->window = window.get();
    Win32Platform platform;
    const double before = ThreadProcessorMs();
    ::SetEvent(run->ready);
    setup::PauseSeconds(platform, 1.0);
    run->processorMs = ThreadProcessorMs() - before;
    run->handledWhenPauseEnded = run->handled;
    return 0;
}

TEST(PauseSeconds, HandlesMessagesPostedMeanwhileAndSleepsBetweenThem) {
    PauseRun run;
    g_pauseRun = &run;
    const UniqueKernelObject ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    run.ready = ready.get();
    const std::uint64_t began = e2e::EpochMs();
    const UniqueKernelObject thread(::CreateThread(nullptr, 0, PauseWithAWindow, &run, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(::WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);
    for (int i = 0; i < MessagesPosted; ++i) {
        ::Sleep(100);
        ::PostMessageW(run.window, CountedMessage, 0, 0);
    }
    if (::WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0) {
        // A message loop that never lets go of a message, say: the pause would never end.
        ::TerminateThread(thread.get(), 1);
        FAIL() << "the pause did not end within 10 s";
    }
    EXPECT_GE(e2e::EpochMs() - began, 990u);
    EXPECT_EQ(run.handledWhenPauseEnded, MessagesPosted);
    // A pause that spins takes a processor for the whole second; one that sleeps, next to none.
    EXPECT_GE(run.processorMs, 0.0);
    EXPECT_LT(run.processorMs, 300.0);
}

// --- the DLL search restriction, at run time ---

struct DllRow {
    const char* name;
    std::wstring arguments;
    DWORD loadedFrom; // DllProbe's exit status
};

class DllSearch : public ::testing::TestWithParam<DllRow> {};

TEST_P(DllSearch, ABareNameIsLoadedFromTheSystemFolderOnlyAfterTheRestriction) {
    // Setup's folder is typically Downloads, where anyone can leave a DLL.
    TempDir dir(L"Downloads");
    const std::wstring probe = dir.Make(L"DllProbe.exe");
    CopyProgram(L"DllProbe.exe", probe);
    CopyProgram(L"PlantProbe.dll", dir.Make(L"PlantProbe.dll"));
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring systemCopy = std::wstring(system) + L"\\PlantProbe.dll";
    CopyProgram(L"PlantProbe.dll", systemCopy);
    const auto run = e2e::RunProgram(probe, GetParam().arguments, dir.Path());
    ::DeleteFileW(systemCopy.c_str());
    EXPECT_EQ(run.exitCode, GetParam().loadedFrom)
        << "0: system folder, 1: beside the program, 2: elsewhere, 3: not loaded";
}

INSTANTIATE_TEST_SUITE_P(Loads, DllSearch,
                         ::testing::Values(DllRow{"Restricted", L"", 0},
                                           // Without the restriction the planted copy wins: the
                                           // case above means something.
                                           DllRow{"UnrestrictedTakesThePlant", L"unrestricted", 1}),
                         [](const auto& row) { return std::string(row.param.name); });

// --- what the clipboard holds, read back from its blocks ---

struct BlockRow {
    const char* name;
    std::wstring text;
};

class ClipboardBlocks : public ::testing::TestWithParam<BlockRow> {};

// The size of the block the clipboard gives for a format, and whether its characters are the
// text followed by a terminating zero, all within that size.
template <typename Char> void ExpectBlockHolds(UINT format, const std::basic_string<Char>& text) {
    const HANDLE block = ::GetClipboardData(format);
    ASSERT_NE(block, nullptr) << "format " << format;
    const SIZE_T size = ::GlobalSize(block);
    ASSERT_GE(size, (text.size() + 1) * sizeof(Char)) << "format " << format;
    const auto* chars = static_cast<const Char*>(::GlobalLock(block));
    ASSERT_NE(chars, nullptr) << "format " << format;
    EXPECT_EQ(std::memcmp(chars, text.data(), text.size() * sizeof(Char)), 0)
        << "format " << format;
    EXPECT_EQ(chars[text.size()], Char{0}) << "format " << format;
    ::GlobalUnlock(block);
}

TEST_P(ClipboardBlocks, EachFormatHoldsItsTextAndItsTerminatingZero) {
    const std::wstring& text = GetParam().text;
    Win32Platform platform;
    // Another test's program may hold the clipboard for a moment.
    bool opened = platform.OpenClipboard();
    for (int i = 0; i < 100 && !opened; ++i) {
        ::Sleep(10);
        opened = platform.OpenClipboard();
    }
    ASSERT_TRUE(opened);
    platform.EmptyClipboard();
    const bool set = platform.SetClipboardText(text);
    platform.CloseClipboard();
    ASSERT_TRUE(set);

    // Read in this process, where the clipboard hands back the very blocks it was given.
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ExpectBlockHolds(CF_UNICODETEXT, text);
    ExpectBlockHolds(CF_TEXT, e2e::Encode(text, CP_ACP));
    ::CloseClipboard();
}

INSTANTIATE_TEST_SUITE_P(Texts, ClipboardBlocks,
                         ::testing::Values(BlockRow{"Command", L"/\u00E0 3 1"},
                                           BlockRow{"Empty", L""},
                                           BlockRow{"Long", std::wstring(70000, L'x')}),
                         [](const auto& row) { return std::string(row.param.name); });

// --- the form of the path Windows is asked about ---

// Records what the file test and the start ask Windows, and answers as for a file that is not
// there: Wine takes any form of a path, so only what is passed shows the form.
class PathsAsked : public Win32Platform {
  public:
    std::vector<std::wstring> attributes, applications, commandLines;

  protected:
    DWORD QueryAttributes(const wchar_t* path, DWORD& error) override {
        attributes.emplace_back(path);
        error = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD LaunchProcess(const wchar_t* application, std::wstring& commandLine,
                        PROCESS_INFORMATION&) override {
        applications.emplace_back(application);
        commandLines.push_back(commandLine);
        return ERROR_FILE_NOT_FOUND;
    }
};

struct PathRow {
    const char* name;
    std::wstring path;
    std::wstring asked; // what Windows is to be given as the file's name
};

class PathForm : public ::testing::TestWithParam<PathRow> {};

TEST_P(PathForm, FileTestAndStartNameTheFileInAFormWindowsTakes) {
    PathsAsked platform;
    EXPECT_EQ(platform.FileExists(GetParam().path), false);
    EXPECT_FALSE(platform.StartProgramFile(GetParam().path));

    EXPECT_EQ(platform.attributes, std::vector<std::wstring>{GetParam().asked});
    EXPECT_EQ(platform.applications, std::vector<std::wstring>{GetParam().asked});
    // The program reads its own command line: the path there is as Setup built it.
    EXPECT_EQ(platform.commandLines, std::vector<std::wstring>{L"\"" + GetParam().path + L"\""});
}

const std::wstring DeepFolder = L"C:\\" + std::wstring(150, L'k') + L"\\" + std::wstring(150, L'k');

INSTANTIATE_TEST_SUITE_P(Paths, PathForm,
                         ::testing::Values(PathRow{"Short", L"C:\\Kit\\Install.exe",
                                                   L"C:\\Kit\\Install.exe"},
                                           PathRow{"PastMaxPath", DeepFolder + L"\\Install.exe",
                                                   L"\\\\?\\" + DeepFolder + L"\\Install.exe"}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tolvanex
