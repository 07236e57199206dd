#include "Win32Platform.h"

#include "CommandLine.h"
#include "TimeOfDay.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstring>
#include <utility>

namespace tolvanex {

static_assert(MbOk == MB_OK);
static_assert(MbIconExclamation == (MB_OK | MB_ICONEXCLAMATION));

namespace {

constexpr wchar_t OwnerWindowClass[] = L"TolvanexClipboardOwner";

std::wstring NulTerminated(std::wstring_view text) {
    return std::wstring(text);
}

// Copies bytes into a movable global block of at least that size, as SetClipboardData wants
// it; the rest of the block is zero.
UniqueGlobal GlobalCopy(const void* data, std::size_t bytes, std::size_t blockBytes) {
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, blockBytes));
    void* target = block ? ::GlobalLock(block.get()) : nullptr;
    if (target == nullptr) {
        return UniqueGlobal();
    }
    std::memcpy(target, data, bytes);
    ::GlobalUnlock(block.get());
    return block;
}

// Text with its terminating zero.
template <typename Char> UniqueGlobal GlobalText(const Char* text, std::size_t count) {
    return GlobalCopy(text, count * sizeof(Char), (count + 1) * sizeof(Char));
}

// A function of a DLL looked up by name; null when the DLL lacks it.
template <typename Function> Function Lookup(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// A DLL of System32, by its full path. LOAD_LIBRARY_SEARCH_SYSTEM32 would say the same, but
// Windows 7 without its loader update rejects that flag as invalid.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    const UINT length = ::GetSystemDirectoryW(path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    path.resize(length);
    path += L'\\';
    path += name;
    return ::LoadLibraryExW(path.c_str(), nullptr, 0);
}

// What starting through the shell needs. Shell32 and ole32 are loaded for this alone: most runs
// never need them, and every DLL loaded at start is time on each key press and one more DLL to
// plant. Once loaded they stay until the program ends: the shell may leave threads of its own
// running in them after ShellExecuteExW has returned.
struct ShellFunctions {
    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW*) = nullptr;
    HRESULT(WINAPI* coInitializeEx)(void*, DWORD) = nullptr;
    void(WINAPI* coUninitialize)() = nullptr;
};

const ShellFunctions& Shell() {
    static const ShellFunctions functions = [] {
        const HMODULE shell = LoadSystemLibrary(L"shell32.dll");
        const HMODULE com = LoadSystemLibrary(L"ole32.dll");
        ShellFunctions found;
        found.shellExecuteEx = Lookup<BOOL(WINAPI*)(SHELLEXECUTEINFOW*)>(shell, "ShellExecuteExW");
        found.coInitializeEx = Lookup<HRESULT(WINAPI*)(void*, DWORD)>(com, "CoInitializeEx");
        found.coUninitialize = Lookup<void(WINAPI*)()>(com, "CoUninitialize");
        return found;
    }();
    return functions;
}

// Starts a program through the shell, which asks for consent when the program wants elevation.
// The process handle, or null when it could not be started.
HANDLE StartThroughShell(const std::wstring& file, const std::wstring& parameters) {
    const ShellFunctions& shell = Shell();
    if (shell.shellExecuteEx == nullptr) {
        return nullptr;
    }
    // Shell extensions that may take part want COM in a single-threaded apartment.
    const bool comReady =
        shell.coInitializeEx != nullptr && shell.coUninitialize != nullptr &&
        SUCCEEDED(shell.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.lpFile = file.c_str();
    execute.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    execute.nShow = SW_SHOWNORMAL;
    const BOOL launched = shell.shellExecuteEx(&execute);
    if (comReady) {
        shell.coUninitialize();
    }
    return launched ? execute.hProcess : nullptr;
}

// Where Windows' search finds a bare program name: beside this program first, then in the
// current and system folders and along the PATH, where CreateProcessW found it too. The shell
// would not look beside this program, so it is given the path found, or the bare name when
// none is.
std::wstring FoundProgram(const std::wstring& name) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length =
            ::SearchPathW(nullptr, name.c_str(), nullptr, size, path.data(), nullptr);
        if (length == 0) {
            return name;
        }
        if (length < size) {
            path.resize(length);
            return path;
        }
        path.resize(length); // too small: length is the size needed, terminator included
    }
}

bool HandOver(UINT format, UniqueGlobal block) {
    if (!block || ::SetClipboardData(format, block.get()) == nullptr) {
        return false;
    }
    block.release(); // the clipboard owns it now
    return true;
}

} // namespace

void RestrictDllSearchToSystem32() {
    // Looked up rather than imported: Windows 7 has it only with an update, and a program that
    // imports a missing function does not start at all.
    const auto setDefault = Lookup<BOOL(WINAPI*)(DWORD)>(::GetModuleHandleW(L"kernel32.dll"),
                                                         "SetDefaultDllDirectories");
    if (setDefault != nullptr) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else {
        ::SetDllDirectoryW(L""); // at least not the current folder
    }
}

Win32Platform::Win32Platform() = default;
Win32Platform::~Win32Platform() = default;

std::optional<std::wstring> Win32Platform::ProgramDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) {
            return std::nullopt;
        }
        // A full buffer means the path was cut: grow and ask again (long paths exceed MAX_PATH).
        if (length < size) {
            path.resize(length);
            return DirectoryOf(path);
        }
        if (size >= 32768 * 2) {
            return std::nullopt;
        }
        path.resize(static_cast<std::size_t>(size) * 2);
    }
}

std::wstring Win32Platform::CommandLineTail() {
    return CommandLineTailOf(::GetCommandLineW());
}

void Win32Platform::Terminate(unsigned exitCode) {
    ::ExitProcess(exitCode);
}

void Win32Platform::ShowMessage(std::wstring_view text, std::wstring_view title, unsigned flags) {
    ::MessageBoxW(nullptr, NulTerminated(text).c_str(), NulTerminated(title).c_str(), flags);
}

void Win32Platform::DispatchEvents() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void Win32Platform::WaitForEvents(std::uint32_t milliseconds) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

DWORD Win32Platform::LaunchProcess(const wchar_t* application, std::wstring& commandLine,
                                   PROCESS_INFORMATION& info) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!::CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        return ::GetLastError();
    }
    return 0;
}

std::optional<ProcessId> Win32Platform::Start(const wchar_t* application, std::wstring commandLine,
                                              const std::wstring& shellFile,
                                              const std::wstring& parameters) {
    PROCESS_INFORMATION info{};
    const DWORD error = LaunchProcess(application, commandLine, info);
    if (error == 0) {
        const UniqueKernelObject thread(info.hThread);
        lastStarted_.reset(info.hProcess);
        return info.dwProcessId;
    }
    if (error != ErrorElevationRequired) {
        return std::nullopt;
    }
    // Set to run as administrator, or its manifest asks for it: the shell shows the consent
    // prompt. It does not look beside this program for a bare name, as CreateProcessW did, so
    // it is given the path found.
    const std::wstring file = application != nullptr ? shellFile : FoundProgram(shellFile);
    UniqueProcess process(StartThroughShell(file, parameters));
    const DWORD id = process ? ::GetProcessId(process.get()) : 0;
    if (id == 0) {
        return std::nullopt;
    }
    lastStarted_ = std::move(process);
    return id;
}

std::optional<ProcessId> Win32Platform::StartProgram(std::wstring_view name,
                                                     std::wstring_view arguments) {
    const std::wstring program(name);
    const std::wstring parameters(arguments);
    return Start(nullptr, program + L" " + parameters, program, parameters);
}

std::optional<ProcessId> Win32Platform::StartProgramFile(std::wstring_view path) {
    // The full path goes as the application name, and quoted in the command line: an unquoted
    // path with blanks would let Windows try "C:\Some.exe" for "C:\Some dir\Install.exe". The
    // application name is in the long form past MAX_PATH, where the plain one cannot name the
    // file at all; the command line, which the program only reads, keeps the path as it is.
    const std::wstring plain(path);
    const std::wstring application = ExtendedLengthPath(path);
    return Start(application.c_str(), L"\"" + plain + L"\"", plain, std::wstring());
}

void Win32Platform::WaitForProcess(ProcessId id, std::uint32_t milliseconds) {
    // Only a process this program started is waited for, through the handle its start gave:
    // opening it again by identifier may be refused, say across integrity levels, and an
    // identifier of a process that has ended may already name another one.
    if (lastStarted_ && ::GetProcessId(lastStarted_.get()) == id) {
        ::WaitForSingleObject(lastStarted_.get(), milliseconds);
    }
}

std::optional<std::vector<ProcessEntry>> Win32Platform::Processes() {
    const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return std::nullopt;
    }
    std::vector<ProcessEntry> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        // The name is NUL-terminated within its field; a missing terminator must not run on.
        const std::size_t length = ::wcsnlen(entry.szExeFile, MAX_PATH);
        processes.push_back({std::wstring(entry.szExeFile, length), entry.th32ProcessID});
    }
    return processes;
}

std::optional<SessionId> Win32Platform::SessionOf(ProcessId id) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(id, &session)) {
        return std::nullopt;
    }
    return session;
}

std::optional<SessionId> Win32Platform::OwnSession() {
    return SessionOf(::GetCurrentProcessId());
}

DWORD Win32Platform::QueryAttributes(const wchar_t* path, DWORD& error) {
    const DWORD attributes = ::GetFileAttributesW(path);
    error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
    return attributes;
}

std::optional<bool> Win32Platform::FileExists(std::wstring_view path) {
    // A kit unpacked a few folders deep has paths past MAX_PATH, which the plain form of the
    // path would make look missing.
    DWORD error = 0;
    const DWORD attributes = QueryAttributes(ExtendedLengthPath(path).c_str(), error);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return false;
        }
        return std::nullopt;
    }
    return (attributes &
            (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool Win32Platform::ChangeDrive(wchar_t driveLetter) {
    // "X:" names the current directory of drive X, so this makes X the current drive; anything
    // but a letter (the backslash of a network path) fails, as it should.
    const bool isLetter = (driveLetter >= L'A' && driveLetter <= L'Z') ||
                          (driveLetter >= L'a' && driveLetter <= L'z');
    const wchar_t drive[] = {driveLetter, L':', L'\0'};
    return isLetter && ::SetCurrentDirectoryW(drive) != FALSE;
}

bool Win32Platform::ChangeDirectory(std::wstring_view path) {
    return ::SetCurrentDirectoryW(NulTerminated(path).c_str()) != FALSE;
}

bool Win32Platform::OpenClipboard() {
    if (!clipboardOwner_) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = OwnerWindowClass;
        ::RegisterClassW(&windowClass);
        clipboardOwner_.reset(::CreateWindowExW(0, OwnerWindowClass, L"", 0, 0, 0, 0, 0,
                                                HWND_MESSAGE, nullptr, windowClass.hInstance,
                                                nullptr));
    }
    return ::OpenClipboard(clipboardOwner_.get()) != FALSE;
}

bool Win32Platform::EmptyClipboard() {
    return ::EmptyClipboard() != FALSE;
}

bool Win32Platform::SetClipboardText(std::wstring_view text) {
    if (!HandOver(CF_UNICODETEXT, GlobalText(text.data(), text.size()))) {
        return false;
    }
    SetAnsiText(text);
    // Each key press would otherwise land in the clipboard history (Win+V) and, with syncing
    // on, on the user's other devices, pushing out what the user really copied. A value of 0
    // in these formats keeps it out of both; the text itself is unchanged for Tolvanex.
    const DWORD no = 0;
    for (const wchar_t* name : {L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
        const UINT format = ::RegisterClipboardFormatW(name);
        if (format != 0) {
            HandOver(format, GlobalCopy(&no, sizeof no, sizeof no));
        }
    }
    return true;
}

void Win32Platform::SetAnsiText(std::wstring_view text) {
    // The 8-bit text comes from the ANSI code page, not from the keyboard's input language,
    // which is what Windows would use to make it up from the Unicode text.
    const int length = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(bytes), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), bytes, nullptr, nullptr);
    }
    HandOver(CF_TEXT, GlobalText(ansi.data(), ansi.size()));
}

void Win32Platform::CloseClipboard() {
    ::CloseClipboard();
}

double Win32Platform::SecondsSinceMidnight() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return SecondsOfDay(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

std::uint64_t Win32Platform::TickCount() {
    return ::GetTickCount64();
}

void Win32Platform::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace tolvanex
