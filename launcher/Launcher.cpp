#include "Launcher.h"

#include <stdexcept>

namespace tolvanex::launcher {

std::vector<std::wstring> ArgList;
std::int16_t ArgCount = 0;

namespace {

constexpr std::wstring_view ApplicationExe = L"Tolvanex.exe";
constexpr std::wstring_view ApplicationSwitch = L"/h";
constexpr std::wstring_view WarningText = L"Invalid command line arguments for Hotkey Zipstarter";
constexpr std::wstring_view WarningTitle = L"Hotkey Zipstart";

// Clipboard managers and Tolvanex itself hold the clipboard for moments at a time; a key press
// must outlast that. Common frameworks wait about a second too.
constexpr std::uint64_t ClipboardPatienceMs = 1000;
constexpr std::uint32_t ClipboardRetryMs = 10;

bool IsSeparator(wchar_t ch) {
    return ch == L' ' || ch == L'\t';
}

wchar_t AsciiLower(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

bool EqualIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::wstring> SplitCommandLine(Platform& platform, int maxArgs) {
    if (maxArgs < 0) {
        throw std::invalid_argument("negative maximum number of arguments");
    }
    ArgList.assign(1, std::wstring());
    ArgCount = 0;
    bool inArg = false;
    for (const wchar_t ch : platform.CommandLineTail()) {
        if (IsSeparator(ch)) {
            inArg = false;
            continue;
        }
        if (!inArg) {
            if (ArgCount == maxArgs) {
                break;
            }
            if (ArgCount == INT16_MAX) {
                throw std::overflow_error("more than 32767 arguments");
            }
            ++ArgCount;
            ArgList.emplace_back();
            inArg = true;
        }
        ArgList[static_cast<std::size_t>(ArgCount)] += ch;
    }
    return ArgList;
}

bool IsProcessRunning(Platform& platform, std::wstring_view exeName) {
    const auto processes = platform.Processes();
    if (!processes) {
        return false;
    }
    // Each logon session has its own clipboard: another user's Tolvanex, on a terminal server or
    // after fast user switching, never reads this one. Only when this program's own session
    // cannot be told does a process of any session count.
    const auto ownSession = platform.OwnSession();
    for (const auto& process : *processes) {
        if (!EqualIgnoringAsciiCase(process.exeName, exeName)) {
            continue;
        }
        // A process whose session cannot be told is one this user may not look at: another
        // user's. Better a second start than a command nobody picks up.
        if (!ownSession || platform.SessionOf(process.id) == ownSession) {
            return true;
        }
    }
    return false;
}

std::wstring ComposeCommandText() {
    std::wstring text = ArgList.at(1);
    text += L' ';
    text += ArgCount >= 2 ? ArgList.at(2) : std::wstring(L"0");
    return text;
}

bool PutOnClipboard(Platform& platform, std::wstring_view text) {
    const std::uint64_t began = platform.TickCount();
    while (!platform.OpenClipboard()) {
        if (platform.TickCount() - began >= ClipboardPatienceMs) {
            return false;
        }
        platform.Sleep(ClipboardRetryMs);
    }
    // Emptying makes this program the clipboard's owner and drops every other format, so the
    // text is the one item left; should it fail, setting the text is still worth trying.
    platform.EmptyClipboard();
    const bool written = platform.SetClipboardText(text);
    platform.CloseClipboard();
    return written;
}

int Main(Platform& platform) {
    SplitCommandLine(platform, 2);
    if (ArgCount > 2 || ArgCount < 1) {
        platform.ShowMessage(WarningText, WarningTitle, MbOk | MbIconExclamation);
        return InvalidArguments;
    }
    const std::wstring CommandText = ComposeCommandText();
    bool running = false;
    try {
        running = IsProcessRunning(platform, ApplicationExe);
    } catch (const std::exception&) {
        // Better a second start than a command nobody picks up.
    }
    bool started = true;
    if (!running) {
        // Not waited for: Tolvanex picks the command up from the clipboard once it is up.
        started = platform.StartProgram(ApplicationExe, ApplicationSwitch).has_value();
    }
    const std::wstring handoff = std::wstring(HandoffPrefix) + CommandText;
    if (!PutOnClipboard(platform, handoff)) {
        return ClipboardUnavailable;
    }
    return started ? HandedOver : ApplicationNotStarted;
}

} // namespace tolvanex::launcher
