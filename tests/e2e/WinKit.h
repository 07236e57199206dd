// What the end-to-end tests and the demonstration use to drive the real programs and observe
// them from outside: folders, program runs with their message boxes, the clipboard, the process
// list and the stand-ins' records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvanex::e2e {

// The folder of the running program, where the build puts every program next to it.
std::wstring BinDir();

// The folder whose Setup.exe and Tolvakey.exe the tests run: the one TOLVANEX_UNDER_TEST names,
// where a driver of another build runs the shipped programs, or else BinDir().
std::wstring UnderTestDir();

// The machine a Windows program file is built for (IMAGE_FILE_MACHINE_I386, _AMD64), 0 when it
// cannot be read.
WORD ProgramMachine(const std::wstring& path);

// A fresh folder under the temporary folder, removed with everything in it, and every program
// still running from it ended, when it goes. The first one a program makes waits until no other
// test program runs in this Wine prefix, and holds the prefix until the program ends.
class TempDir {
  public:
    explicit TempDir(const std::wstring& leaf = L"");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    // path + "\" + relative, with the folders on the way made.
    std::wstring Make(const std::wstring& relative) const;

  private:
    std::wstring path_;
};

// The folder all TempDirs lie in.
std::wstring TempRoot();

// Copies a program of the build (by file name) to a full path, folders made on the way; Setup.exe
// and Tolvakey.exe come from UnderTestDir().
void CopyProgram(const std::wstring& program, const std::wstring& to);
void WriteText(const std::wstring& path, const std::string& text);

struct Box {
    std::wstring title;
    std::wstring text;
    bool hasIcon = false;
    std::vector<std::wstring> buttons;
    std::uint64_t shownMs = 0; // when it was found, on the EpochMs clock
};

struct RunResult {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<Box> boxes;
    std::uint64_t startMs = 0, endMs = 0;
    DWORD processId = 0;
};

// Waits until no other test program runs in this Wine prefix, and holds the prefix until this
// program ends; the first TempDir takes this turn too.
void TakeTurnInPrefix();

// A start the kit could not make: the error of its last try, and how many tries it made (a start
// Wine lost while it started is tried again, twice at most, and said on the standard error).
class StartFailure : public std::runtime_error {
  public:
    StartFailure(const std::string& report, DWORD error, int tries)
        : std::runtime_error(report), error_(error), tries_(tries) {}
    DWORD Error() const { return error_; }
    int Tries() const { return tries_; }

  private:
    DWORD error_;
    int tries_;
};

// Runs a program by its full path with the arguments, in the folder given (or the current one),
// waits for it to end, reading and dismissing with OK every message box it shows. A start the kit
// cannot make throws StartFailure, saying the error, the command line and what else ran then.
RunResult RunProgram(const std::wstring& exe, const std::wstring& arguments,
                     const std::wstring& folder = L"", DWORD timeoutMs = 60000);

// For a test whose stand-in left no record: whether a process of it runs (a start that stalled)
// and how to see what came of the program under test's call.
std::string WhyNoRecord(const std::wstring& program);

// Waits for a process to end while handling this program's messages: a program under test that
// empties the clipboard sends its previous owner, this program, a message and waits for the
// answer. False when the time ran out.
bool WaitForExit(HANDLE process, DWORD timeoutMs);

// Starts a program and leaves it running; the handle is the caller's.
HANDLE StartProgram(const std::wstring& exe, const std::wstring& arguments = L"");

std::uint64_t EpochMs();

// The clipboard, as Unicode text and as 8-bit text; empty when it holds no such format.
std::optional<std::wstring> ClipboardUnicode();
std::optional<std::string> ClipboardAnsi();
// Replaces the clipboard's content with Unicode text and a private format of the tests', as
// other programs leave formats beside their text.
bool SetClipboard(const std::wstring& text);
// The clipboard's formats in the order they are enumerated: those a program put there, in its
// order, then those Windows makes up from them.
std::vector<UINT> ClipboardFormats();
// The 32-bit value a registered clipboard format holds; empty when the clipboard has no such
// format or too few bytes in it.
std::optional<DWORD> ClipboardDword(const wchar_t* formatName);
// Whether the clipboard still holds that private format.
bool ClipboardHasTestFormat();

// Holds the clipboard open, as another program may, for as long as it lives.
class ClipboardHold {
  public:
    ClipboardHold();
    ~ClipboardHold();
    ClipboardHold(const ClipboardHold&) = delete;
    ClipboardHold& operator=(const ClipboardHold&) = delete;
    bool Held() const { return held_; }
    void Release();

  private:
    bool held_ = false;
};

// The executable names of the running processes.
std::vector<std::wstring> ProcessNames();
bool IsRunning(DWORD processId);
// Ends every process whose program file lies under the folder; says which (id and program file).
std::vector<std::wstring> EndProgramsUnder(const std::wstring& folder);
// Before a test: ends what earlier tests left running under the temporary folder, and says on
// the standard error what it ended and what they left behind (lines beginning "kit: ").
void EndLeftovers();
// How many running processes were started from exactly this program file.
int ProcessesOf(const std::wstring& programPath);

// A stand-in's record: one line at its start and one at its end (and one when it is ready, for a
// stand-in slow to come up).
struct StandInRecord {
    std::optional<std::uint64_t> startMs, endMs;
    // When a stand-in slow to come up began handling messages.
    std::optional<std::uint64_t> readyMs;
    std::wstring folder;
    int show = -1;
    std::wstring commandLine;
    int starts = 0;
};
// What the stand-in at this path wrote; starts is 0 when it never ran.
StandInRecord ReadRecord(const std::wstring& standInPath);
// A started stand-in writes its record a moment later: waits for its first line.
StandInRecord AwaitRecord(const std::wstring& standInPath, DWORD timeoutMs = 10000);

// The text in a code page's bytes: CP_UTF8, CP_ACP.
std::string Encode(const std::wstring& text, UINT codePage);
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace tolvanex::e2e
