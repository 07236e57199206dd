// Tolvakey, the hotkey launcher: hands a one-line command to Tolvanex on the clipboard and starts
// Tolvanex first when it is not running.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvanex::launcher {

// The arguments of the last SplitCommandLine call: entry 0 stays empty, the arguments stand at
// 1..ArgCount.
extern std::vector<std::wstring> ArgList;
extern std::int16_t ArgCount;

constexpr int DefaultMaxArgs = 10;

// Cuts the command-line tail into arguments separated by blanks and tabs, at most maxArgs of
// them, into ArgList and ArgCount, and returns a copy of ArgList. No quoting: every character
// but blank and tab belongs to an argument. Throws std::invalid_argument for a negative maximum
// and std::overflow_error past 32767 arguments.
std::vector<std::wstring> SplitCommandLine(Platform& platform, int maxArgs = DefaultMaxArgs);

// True when a running process of this program's own logon session has exactly this executable
// name, ASCII letter case ignored. A process list that cannot be taken counts as no such
// process; a process whose session cannot be told counts as another session's.
bool IsProcessRunning(Platform& platform, std::wstring_view exeName);

// Put before the command on the clipboard: the sign to Tolvanex that a command follows.
constexpr std::wstring_view HandoffPrefix = L"/\u00E0 ";

// The command for the arguments in ArgList: the first, a blank, then the second or "0".
std::wstring ComposeCommandText();

// Replaces the clipboard's content with the text, trying to open the clipboard for about a
// second while another program holds it. False when the text could not be put there.
bool PutOnClipboard(Platform& platform, std::wstring_view text);

// Exit statuses of Tolvakey. The clipboard decides first: a command that is not on it is lost
// whether Tolvanex runs or not.
enum ExitStatus : int {
    HandedOver = 0,            // on the clipboard, Tolvanex running or started
    InvalidArguments = 1,      // the warning was shown
    ClipboardUnavailable = 2,  // the command could not be put on the clipboard
    ApplicationNotStarted = 3, // on the clipboard, but Tolvanex was not running and would not start
};

// The whole run of Tolvakey; returns its exit status.
int Main(Platform& platform);

} // namespace tolvanex::launcher
