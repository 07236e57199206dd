// The least a key press has to cost: a GUI program that looks through the process list once and
// puts the command on the clipboard, as Unicode and as ANSI-code-page text, with nothing else
// around it. Tolvakey's time is read against this one's, run beside it on the same machine.
#include "UniqueHandle.h"

#include <cstring>
#include <cwchar>
#include <iterator>

namespace {

constexpr wchar_t Command[] = L"/\u00E0 3 1";
constexpr wchar_t ApplicationExe[] = L"Tolvanex.exe";
constexpr wchar_t NoWalk[] = L"--no-walk";

template <typename Char> tolvanex::UniqueGlobal GlobalCopy(const Char* text, std::size_t count) {
    tolvanex::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, (count + 1) * sizeof(Char)));
    if (!block) {
        return block;
    }
    auto* target = static_cast<Char*>(::GlobalLock(block.get()));
    if (target == nullptr) {
        return tolvanex::UniqueGlobal();
    }
    std::memcpy(target, text, count * sizeof(Char));
    target[count] = Char{0};
    ::GlobalUnlock(block.get());
    return block;
}

bool HandOver(UINT format, tolvanex::UniqueGlobal block) {
    if (!block || ::SetClipboardData(format, block.get()) == nullptr) {
        return false;
    }
    block.release();
    return true;
}

bool ApplicationRuns() {
    const tolvanex::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, ApplicationExe, -1, TRUE) == CSTR_EQUAL) {
            found = true;
        }
    }
    return found;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    // The answer matters to Tolvakey, not here: only the walk's cost is wanted.
    if (std::wcscmp(arguments, NoWalk) != 0) {
        static_cast<void>(ApplicationRuns());
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TolvanexFloorClipboardOwner";
    ::RegisterClassW(&windowClass);
    const tolvanex::UniqueWindow owner(::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0,
                                                         0, 0, HWND_MESSAGE, nullptr, instance,
                                                         nullptr));
    if (!::OpenClipboard(owner.get())) {
        return 2;
    }
    ::EmptyClipboard();
    const std::size_t length = std::size(Command) - 1;
    bool written = HandOver(CF_UNICODETEXT, GlobalCopy(Command, length));
    char ansi[16] = {};
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, Command, static_cast<int>(length), ansi,
                                            static_cast<int>(sizeof ansi - 1), nullptr, nullptr);
    written = written && HandOver(CF_TEXT, GlobalCopy(ansi, static_cast<std::size_t>(bytes)));
    ::CloseClipboard();
    return written ? 0 : 2;
}
