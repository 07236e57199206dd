// The operating-system services Setup and Tolvakey use. The program logic sees only this
// interface; Win32Platform realises it on Windows and the unit tests pass a fake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvanex {

// Message box flags with Windows' values (MB_OK, MB_ICONEXCLAMATION): this header stays free of
// <windows.h> so that the logic builds and is tested on any host.
constexpr unsigned MbOk = 0x00000000u;
constexpr unsigned MbIconExclamation = 0x00000030u;

using ProcessId = std::uint32_t;
// A logon session: each has its own clipboard.
using SessionId = std::uint32_t;

struct ProcessEntry {
    std::wstring exeName;
    ProcessId id = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // --- program and command line ---

    // The directory of the running program's file: no trailing backslash except at a root
    // ("C:\"). Empty optional when it cannot be found.
    virtual std::optional<std::wstring> ProgramDirectory() = 0;
    // The command line after the program's own name.
    virtual std::wstring CommandLineTail() = 0;
    // Ends the program at once.
    virtual void Terminate(unsigned exitCode) = 0;

    // --- user interface ---

    // Modal; returns when dismissed.
    virtual void ShowMessage(std::wstring_view text, std::wstring_view title, unsigned flags) = 0;
    // Handles the program's pending window messages once.
    virtual void DispatchEvents() = 0;
    // Sleeps until a message arrives for the program or the time is up, whichever comes first.
    virtual void WaitForEvents(std::uint32_t milliseconds) = 0;

    // --- programs and processes ---

    // Starts a program by its bare file name, found by the usual program search, with the
    // arguments; shown normally, in the current directory, not waited for. A program that asks
    // for elevation is started through the shell, which asks the user's consent.
    virtual std::optional<ProcessId> StartProgram(std::wstring_view name,
                                                  std::wstring_view arguments) = 0;
    // Starts the program file at a full path, with no arguments; shown normally, in the current
    // directory, not waited for; through the shell when it asks for elevation.
    virtual std::optional<ProcessId> StartProgramFile(std::wstring_view path) = 0;
    // Waits at most the given time for a process this program started to end; returns at once
    // for any other. Whether it ended or the time ran out is not told: callers go on alike.
    virtual void WaitForProcess(ProcessId id, std::uint32_t milliseconds) = 0;
    // All running processes of the machine, every session's; empty optional when the process
    // list cannot be taken.
    virtual std::optional<std::vector<ProcessEntry>> Processes() = 0;
    // The logon session a process runs in; empty optional when it cannot be told (another
    // user's process may not be looked at).
    virtual std::optional<SessionId> SessionOf(ProcessId id) = 0;
    // The logon session of this program.
    virtual std::optional<SessionId> OwnSession() = 0;

    // --- files and directories ---

    // True for an existing file that is not hidden, not a system file and not a directory;
    // empty optional when the test itself fails (drive not ready, bad name).
    virtual std::optional<bool> FileExists(std::wstring_view path) = 0;
    virtual bool ChangeDrive(wchar_t driveLetter) = 0;
    virtual bool ChangeDirectory(std::wstring_view path) = 0;

    // --- clipboard ---

    // Opening fails while another program holds the clipboard.
    virtual bool OpenClipboard() = 0;
    virtual bool EmptyClipboard() = 0;
    // Puts the text on the open clipboard as Unicode and as ANSI-code-page text, marked to stay
    // out of the clipboard history and the cloud clipboard. True once the Unicode text is there:
    // the rest is worth having but, should it fail, Windows makes the 8-bit text up from the
    // Unicode text for whoever asks.
    virtual bool SetClipboardText(std::wstring_view text) = 0;
    virtual void CloseClipboard() = 0;

    // --- clocks ---

    // Seconds since local midnight, with fractions.
    virtual double SecondsSinceMidnight() = 0;
    // A millisecond counter for measuring short intervals.
    virtual std::uint64_t TickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

} // namespace tolvanex
