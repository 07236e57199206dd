// A platform that serves canned data and records every effect, for testing the program logic.
#pragma once

#include "Platform.h"
#include "TimeOfDay.h"

#include <climits>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvanex::testing {

// A running process as the fake lists it: its session, or none when it cannot be told.
struct FakeProcess {
    FakeProcess(const wchar_t* name, std::optional<SessionId> sessionId = 1)
        : exeName(name), session(sessionId) {}
    std::wstring exeName;
    std::optional<SessionId> session;
};

class FakePlatform : public Platform {
  public:
    // --- canned data ---
    std::optional<std::wstring> programDirectory = std::wstring(L"C:\\Tolvanex");
    std::wstring commandLineTail;
    // Empty optional: the process list cannot be taken.
    std::optional<std::vector<FakeProcess>> processes = std::vector<FakeProcess>{};
    bool processListThrows = false;
    // The program's own session (empty optional: it cannot be told).
    std::optional<SessionId> ownSession = 1;
    // Paths that exist as files; a path mapped to an empty optional makes the test fail.
    std::map<std::wstring, std::optional<bool>> files;
    bool driveChangeFails = false;
    bool directoryChangeFails = false;
    // Command lines or paths whose start fails.
    std::set<std::wstring> unstartable;
    // How long a started process runs before it ends by itself.
    std::uint64_t processRunMs = 500;
    // How many OpenClipboard calls fail before one succeeds (INT_MAX: held for good).
    int clipboardBusyOpens = 0;
    bool clipboardEmptyFails = false;
    bool clipboardSetFails = false;
    // A message arrives for the program this often (0: never).
    std::uint64_t messageEveryMs = 0;

    // --- clock: a monotonic count of milliseconds and the time of day it began at ---
    std::uint64_t nowMs = 0;
    double dayStartSeconds = 10 * 3600.0;

    // --- recorded effects ---
    // Everything that touches the world outside, in order.
    std::vector<std::wstring> effects;
    struct Box {
        std::wstring text, title;
        unsigned flags;
    };
    std::vector<Box> boxes;
    std::optional<std::wstring> clipboard;
    int dispatches = 0;
    std::uint64_t idleMs = 0; // time spent in WaitForEvents
    std::optional<unsigned> terminatedWith;

    std::optional<std::wstring> ProgramDirectory() override { return programDirectory; }
    std::wstring CommandLineTail() override { return commandLineTail; }
    void Terminate(unsigned exitCode) override {
        terminatedWith = exitCode;
        effects.push_back(L"terminate");
    }

    void ShowMessage(std::wstring_view text, std::wstring_view title, unsigned flags) override {
        boxes.push_back({std::wstring(text), std::wstring(title), flags});
        effects.push_back(L"box " + std::wstring(title));
    }
    void DispatchEvents() override { ++dispatches; }
    void WaitForEvents(std::uint32_t milliseconds) override {
        std::uint64_t step = milliseconds;
        if (messageEveryMs != 0) {
            step = std::min<std::uint64_t>(step, messageEveryMs - nowMs % messageEveryMs);
        }
        Advance(step);
        idleMs += step;
    }

    std::optional<ProcessId> StartProgram(std::wstring_view name,
                                          std::wstring_view arguments) override {
        return Start(L"start ", std::wstring(name) + L" " + std::wstring(arguments));
    }
    std::optional<ProcessId> StartProgramFile(std::wstring_view path) override {
        return Start(L"start file ", path);
    }
    void WaitForProcess(ProcessId id, std::uint32_t milliseconds) override {
        effects.push_back(L"wait " + std::to_wstring(id) + L" " + std::to_wstring(milliseconds));
        Advance(std::min<std::uint64_t>(milliseconds, processRunMs));
    }
    // The process identifiers are the list's indexes plus FirstListedId.
    static constexpr ProcessId FirstListedId = 4;
    std::optional<std::vector<ProcessEntry>> Processes() override {
        effects.push_back(L"list processes");
        if (processListThrows) {
            throw std::runtime_error("process list");
        }
        if (!processes) {
            return std::nullopt;
        }
        std::vector<ProcessEntry> entries;
        for (const auto& process : *processes) {
            entries.push_back({process.exeName, FirstListedId + ProcessId(entries.size())});
        }
        return entries;
    }
    std::optional<SessionId> SessionOf(ProcessId id) override {
        const std::size_t index = id - FirstListedId;
        if (id < FirstListedId || !processes || index >= processes->size()) {
            return std::nullopt;
        }
        return (*processes)[index].session;
    }
    std::optional<SessionId> OwnSession() override { return ownSession; }

    std::optional<bool> FileExists(std::wstring_view path) override {
        const auto found = files.find(std::wstring(path));
        return found == files.end() ? std::optional<bool>(false) : found->second;
    }
    bool ChangeDrive(wchar_t driveLetter) override {
        effects.push_back(std::wstring(L"drive ") + driveLetter);
        return !driveChangeFails;
    }
    bool ChangeDirectory(std::wstring_view path) override {
        effects.push_back(L"directory " + std::wstring(path));
        return !directoryChangeFails;
    }

    bool OpenClipboard() override {
        ++clipboardOpens;
        if (clipboardBusyOpens > 0) {
            if (clipboardBusyOpens != INT_MAX) {
                --clipboardBusyOpens;
            }
            return false;
        }
        clipboardOpen = true;
        return true;
    }
    bool EmptyClipboard() override {
        Expect(clipboardOpen, "EmptyClipboard on a closed clipboard");
        ++clipboardEmpties;
        if (clipboardEmptyFails) {
            return false;
        }
        clipboard.reset();
        return true;
    }
    bool SetClipboardText(std::wstring_view text) override {
        Expect(clipboardOpen, "SetClipboardText on a closed clipboard");
        if (clipboardSetFails) {
            return false;
        }
        clipboard = std::wstring(text);
        effects.push_back(L"clipboard " + std::wstring(text));
        return true;
    }
    void CloseClipboard() override {
        Expect(clipboardOpen, "CloseClipboard on a closed clipboard");
        clipboardOpen = false;
    }

    // Read off the clock's fields, as Windows gives them, with the same arithmetic as on Windows.
    double SecondsSinceMidnight() override {
        ReadClock();
        const auto dayStartMs = static_cast<std::uint64_t>(std::llround(dayStartSeconds * 1000.0));
        const std::uint64_t ms = (dayStartMs + nowMs) % 86400000u;
        return SecondsOfDay(
            static_cast<unsigned>(ms / 3600000u), static_cast<unsigned>(ms / 60000u % 60u),
            static_cast<unsigned>(ms / 1000u % 60u), static_cast<unsigned>(ms % 1000u));
    }
    std::uint64_t TickCount() override {
        ReadClock();
        return nowMs;
    }
    void Sleep(std::uint32_t milliseconds) override { Advance(milliseconds); }

    int clipboardOpens = 0;
    int clipboardEmpties = 0;
    bool clipboardOpen = false;

    // The clock moves only when the code sleeps or waits, so a loop that stops doing either would
    // spin for ever, and one that never ends runs the clock on for good: both fail at once.
    static constexpr int MaxReadingsWithoutTimePassing = 1000;
    static constexpr std::uint64_t MaxRunMs = 2 * 86400000ull;

  private:
    void ReadClock() {
        if (++readingsWithoutTimePassing > MaxReadingsWithoutTimePassing) {
            throw std::logic_error("the clock was read over and over with no time passing: a "
                                   "loop that neither sleeps nor waits");
        }
    }
    void Advance(std::uint64_t milliseconds) {
        if (milliseconds == 0) {
            return;
        }
        nowMs += milliseconds;
        readingsWithoutTimePassing = 0;
        if (nowMs > MaxRunMs) {
            throw std::logic_error("the clock ran on past two days: a loop that never ends");
        }
    }

    int readingsWithoutTimePassing = 0;
    std::optional<ProcessId> Start(const wchar_t* what, std::wstring_view program) {
        effects.push_back(what + std::wstring(program));
        if (unstartable.count(std::wstring(program)) != 0) {
            return std::nullopt;
        }
        return nextId++;
    }
    static void Expect(bool condition, const char* message) {
        if (!condition) {
            throw std::logic_error(message);
        }
    }
    ProcessId nextId = 100;
};

} // namespace tolvanex::testing
