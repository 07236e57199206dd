#include "WinKit.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tolvanex::e2e {

namespace {

std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

void MakeFolders(const std::wstring& folder) {
    for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1)) {
        ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

struct BoxSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ClassOf(window) == L"#32770" && ::IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

struct BoxContent {
    Box box;
    HWND ok = nullptr;
};

BOOL CALLBACK ReadControl(HWND control, LPARAM context) {
    auto* content = reinterpret_cast<BoxContent*>(context);
    if (!::IsWindowVisible(control)) {
        return TRUE;
    }
    const std::wstring kind = ClassOf(control);
    if (kind == L"Static") {
        DWORD_PTR icon = 0;
        ::SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
        if (icon != 0) {
            content->box.hasIcon = true;
        } else if (::GetWindowTextLengthW(control) > 0) {
            content->box.text = WindowText(control);
        }
    } else if (kind == L"Button") {
        content->box.buttons.push_back(WindowText(control));
        if (::GetDlgCtrlID(control) == IDOK || content->ok == nullptr) {
            content->ok = control;
        }
    }
    return TRUE;
}

std::uint64_t g_tempCounter = 0;

} // namespace

// The programs of a test share the prefix's clipboard, process list and temporary folder with
// every other program in it, and each test begins by ending what it finds running there: two
// test programs at once in one prefix (two CTest runs, a demonstration beside a run) end each
// other's programs mid-start. A mutex of the prefix's own, held from this program's first
// folder to its end, lets them take turns: a program gives it up by ending, which leaves it
// abandoned, and an abandoned mutex is taken like a free one.
void TakeTurnInPrefix() {
    static const bool taken = [] {
        const HANDLE turn = ::CreateMutexW(nullptr, FALSE, L"TolvanexEndToEndTurn");
        if (turn == nullptr) {
            throw std::runtime_error("cannot make the prefix's test mutex: error " +
                                     std::to_string(::GetLastError()));
        }
        const ULONGLONG asked = ::GetTickCount64();
        const DWORD waited = ::WaitForSingleObject(turn, 90000);
        if (waited == WAIT_TIMEOUT) {
            throw std::runtime_error("another test program has held this Wine prefix for 90 s");
        }
        if (waited == WAIT_FAILED) {
            throw std::runtime_error("cannot wait for the prefix's test mutex: error " +
                                     std::to_string(::GetLastError()));
        }
        const ULONGLONG ms = ::GetTickCount64() - asked;
        if (ms >= 100) {
            std::fprintf(stderr, "kit: waited %s ms for another test program in this Wine prefix\n",
                         std::to_string(ms).c_str());
        }
        return true; // held until this program ends
    }();
    (void)taken;
}

std::wstring BinDir() {
    const std::wstring path = ModulePath();
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring UnderTestDir() {
    wchar_t folder[MAX_PATH * 4] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"TOLVANEX_UNDER_TEST", folder, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(folder, length) : BinDir();
}

WORD ProgramMachine(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    IMAGE_DOS_HEADER dos{};
    IMAGE_FILE_HEADER file{};
    DWORD signature = 0;
    if (!in.read(reinterpret_cast<char*>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !in.seekg(dos.e_lfanew) ||
        !in.read(reinterpret_cast<char*>(&signature), sizeof signature) ||
        signature != IMAGE_NT_SIGNATURE || !in.read(reinterpret_cast<char*>(&file), sizeof file)) {
        return 0;
    }
    return file.Machine;
}

std::wstring TempRoot() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring root = temp;
    if (!root.empty() && root.back() == L'\\') {
        root.pop_back();
    }
    return root + L"\\tolvanex-e2e";
}

TempDir::TempDir(const std::wstring& leaf) {
    TakeTurnInPrefix();
    path_ = TempRoot() + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++g_tempCounter);
    if (!leaf.empty()) {
        path_ += L"\\" + leaf;
    }
    MakeFolders(path_);
}

TempDir::~TempDir() {
    EndProgramsUnder(path_);
    const std::wstring top = path_.substr(0, path_.find(L'\\', TempRoot().size() + 1));
    RemoveTree(top);
    if (::GetFileAttributesW(top.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "kit: could not remove %s\n", Utf8(top).c_str());
    }
}

std::wstring TempDir::Make(const std::wstring& relative) const {
    const std::wstring path = path_ + L"\\" + relative;
    MakeFolders(path.substr(0, path.rfind(L'\\')));
    return path;
}

void CopyProgram(const std::wstring& program, const std::wstring& to) {
    MakeFolders(to.substr(0, to.rfind(L'\\')));
    const bool underTest = program == L"Setup.exe" || program == L"Tolvakey.exe";
    const std::wstring from = (underTest ? UnderTestDir() : BinDir()) + L"\\" + program;
    if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + Utf8(from) + " to " + Utf8(to));
    }
}

void WriteText(const std::wstring& path, const std::string& text) {
    MakeFolders(path.substr(0, path.rfind(L'\\')));
    std::ofstream(path.c_str(), std::ios::binary) << text;
}

std::uint64_t EpochMs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

namespace {

void HandleMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&message);
    }
}

// Waits up to the time for the process, handling messages meanwhile; true once it has ended.
bool WaitAwhile(HANDLE process, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD woke = ::MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        HandleMessages();
        if (woke != WAIT_OBJECT_0 + 1) {
            return false;
        }
    }
}

} // namespace

bool WaitForExit(HANDLE process, DWORD timeoutMs) {
    return WaitAwhile(process, timeoutMs);
}

namespace {

std::string DescribeRunningPrograms();

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"";
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    return "error " + std::to_string(error) + (message.empty() ? "" : " (" + Utf8(message) + ")");
}

// What a failed start leaves to go on: the error, what was asked for, and what else ran then.
[[noreturn]] void ThrowStartFailure(const std::wstring& exe, const std::wstring& line,
                                    const std::wstring& folder, DWORD error, int tries) {
    std::string report =
        "cannot start " + Utf8(exe) + ": " + ErrorText(error) +
        (tries == 1 ? std::string() : ", " + std::to_string(tries) + " tries") +
        "\n  command line: " + Utf8(line) +
        "\n  folder: " + (folder.empty() ? "(the kit's own)" : Utf8(folder)) +
        "\n  file attributes: " + std::to_string(::GetFileAttributesW(exe.c_str())) +
        "\n  running then:" + DescribeRunningPrograms();
    throw StartFailure(report, error, tries);
}

// Starts a program by its full path, quoted in the command line, with its window shown as a
// double click would; a failed start throws with everything the kit knows about it. The program
// is started as it is, not in a job nor suspended: watching its starts from inside made Wine
// fail or stall them far more often (docs/testing.md tells what was seen).
//
// Wine now and then loses a new process while it starts: the child ends before it has run any
// of its own code, and CreateProcessW answers ERROR_INTERNAL_ERROR (Wine's NtCreateUserProcess
// gives STATUS_INTERNAL_ERROR when the start was aborted with no status of its own). The program
// never ran, so only that answer is tried again, twice at most, and every try is said on the
// standard error for scripts/soak to count.
PROCESS_INFORMATION Launch(const std::wstring& exe, const std::wstring& arguments,
                           const std::wstring& folder) {
    const std::wstring asked = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    for (int attempt = 1;; ++attempt) {
        std::wstring line = asked;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
            ::CloseHandle(info.hThread);
            return info;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
            ThrowStartFailure(exe, asked, folder, error, attempt);
        }
        std::fprintf(stderr,
                     "kit: retried start of %s after %s: Wine lost the new process while it "
                     "started\n",
                     Utf8(exe).c_str(), ErrorText(error).c_str());
    }
}

} // namespace

HANDLE StartProgram(const std::wstring& exe, const std::wstring& arguments) {
    return Launch(exe, arguments, L"").hProcess;
}

RunResult RunProgram(const std::wstring& exe, const std::wstring& arguments,
                     const std::wstring& folder, DWORD timeoutMs) {
    RunResult run;
    run.startMs = EpochMs();
    const PROCESS_INFORMATION info = Launch(exe, arguments, folder);
    run.processId = info.dwProcessId;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!WaitAwhile(info.hProcess, 10)) {
        if (::GetTickCount64() > deadline) {
            ::TerminateProcess(info.hProcess, 999);
            ::WaitForSingleObject(info.hProcess, 5000);
            break;
        }
        BoxSearch search{info.dwProcessId, {}};
        ::EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
        for (const HWND window : search.found) {
            BoxContent content;
            content.box.title = WindowText(window);
            content.box.shownMs = EpochMs();
            ::EnumChildWindows(window, ReadControl, reinterpret_cast<LPARAM>(&content));
            run.boxes.push_back(content.box);
            if (content.ok != nullptr) {
                DWORD_PTR ignored = 0;
                ::SendMessageTimeoutW(content.ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
            }
            // Until the box is gone it must not be read twice.
            for (int i = 0; i < 200 && ::IsWindow(window) && ::IsWindowVisible(window); ++i) {
                ::Sleep(5);
            }
        }
    }
    run.endMs = EpochMs();
    ::GetExitCodeProcess(info.hProcess, &run.exitCode);
    ::CloseHandle(info.hProcess);
    return run;
}

namespace {

// The clipboard may be held by a program under test for a moment: try for a while.
bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (::OpenClipboard(owner)) {
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

HWND OwnerWindow() {
    static HWND window = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TolvanexTestClipboard";
        ::RegisterClassW(&windowClass);
        return ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, windowClass.hInstance, nullptr);
    }();
    return window;
}

UINT TestFormat() {
    static const UINT format = ::RegisterClipboardFormatW(L"TolvanexTestMarker");
    return format;
}

template <typename Text> std::optional<Text> ReadClipboard(UINT format) {
    if (!OpenClipboardPatiently(OwnerWindow())) {
        throw std::runtime_error("the clipboard stays held");
    }
    std::optional<Text> text;
    if (const HANDLE data = ::GetClipboardData(format)) {
        if (const auto* chars = static_cast<const typename Text::value_type*>(::GlobalLock(data))) {
            text = Text(chars);
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

} // namespace

std::vector<UINT> ClipboardFormats() {
    if (!OpenClipboardPatiently(OwnerWindow())) {
        throw std::runtime_error("the clipboard stays held");
    }
    std::vector<UINT> formats;
    for (UINT format = ::EnumClipboardFormats(0); format != 0;
         format = ::EnumClipboardFormats(format)) {
        formats.push_back(format);
    }
    ::CloseClipboard();
    return formats;
}

std::optional<DWORD> ClipboardDword(const wchar_t* formatName) {
    const UINT format = ::RegisterClipboardFormatW(formatName);
    if (!OpenClipboardPatiently(OwnerWindow())) {
        throw std::runtime_error("the clipboard stays held");
    }
    std::optional<DWORD> value;
    if (const HANDLE data = ::GetClipboardData(format);
        data && ::GlobalSize(data) >= sizeof(DWORD)) {
        if (const auto* stored = static_cast<const DWORD*>(::GlobalLock(data))) {
            value = *stored;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return value;
}

bool ClipboardHasTestFormat() {
    return ::IsClipboardFormatAvailable(TestFormat()) != FALSE;
}

std::optional<std::wstring> ClipboardUnicode() {
    return ReadClipboard<std::wstring>(CF_UNICODETEXT);
}

std::optional<std::string> ClipboardAnsi() {
    return ReadClipboard<std::string>(CF_TEXT);
}

bool SetClipboard(const std::wstring& text) {
    if (!OpenClipboardPatiently(OwnerWindow())) {
        return false;
    }
    ::EmptyClipboard();
    const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    bool set = false;
    if (block != nullptr) {
        std::memcpy(::GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        ::GlobalUnlock(block);
        set = ::SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        if (!set) {
            ::GlobalFree(block);
        }
    }
    if (const HGLOBAL marker = ::GlobalAlloc(GMEM_MOVEABLE, 1)) {
        if (::SetClipboardData(TestFormat(), marker) == nullptr) {
            ::GlobalFree(marker);
            set = false;
        }
    }
    ::CloseClipboard();
    return set;
}

ClipboardHold::ClipboardHold() {
    held_ = OpenClipboardPatiently(OwnerWindow());
}

ClipboardHold::~ClipboardHold() {
    Release();
}

void ClipboardHold::Release() {
    if (held_) {
        ::CloseClipboard();
        held_ = false;
    }
}

std::vector<std::wstring> ProcessNames() {
    std::vector<std::wstring> names;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return names;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        names.emplace_back(entry.szExeFile);
    }
    ::CloseHandle(snapshot);
    return names;
}

bool IsRunning(DWORD processId) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

namespace {

// Calls back with each process's handle and program file, as far as they can be had.
template <typename Visit> void ForEachProgram(Visit visit) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        const HANDLE process =
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                          FALSE, entry.th32ProcessID);
        if (process == nullptr) {
            continue;
        }
        wchar_t image[MAX_PATH * 4] = {};
        DWORD size = MAX_PATH * 4;
        if (::QueryFullProcessImageNameW(process, 0, image, &size) &&
            ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            visit(process, std::wstring(image, size));
        }
        ::CloseHandle(process);
    }
    ::CloseHandle(snapshot);
}

// One line a process: its id and program file.
std::string DescribeRunningPrograms() {
    std::string text;
    ForEachProgram([&](HANDLE process, const std::wstring& image) {
        text += "\n    " + std::to_string(::GetProcessId(process)) + " " + Utf8(image);
    });
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::vector<std::wstring> EndProgramsUnder(const std::wstring& folder) {
    const std::wstring prefix = folder + L"\\";
    std::vector<std::wstring> ended;
    ForEachProgram([&](HANDLE process, const std::wstring& image) {
        if (image.size() > prefix.size() && SameText(image.substr(0, prefix.size()), prefix)) {
            ::TerminateProcess(process, 1);
            ::WaitForSingleObject(process, 5000);
            ended.push_back(std::to_wstring(::GetProcessId(process)) + L" " + image);
        }
    });
    return ended;
}

void EndLeftovers() {
    for (const std::wstring& program : EndProgramsUnder(TempRoot())) {
        std::fprintf(stderr, "kit: ended a program an earlier test left running: %s\n",
                     Utf8(program).c_str());
    }
    // What an earlier test could not remove lies in the way of nothing, but is worth knowing;
    // this program's own folders are made before a test starts.
    const std::wstring own = std::to_wstring(::GetCurrentProcessId()) + L"-";
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((TempRoot() + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L".." && name.compare(0, own.size(), own) != 0) {
                std::fprintf(stderr, "kit: an earlier test left %s behind\n",
                             Utf8(TempRoot() + L"\\" + name).c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
}

int ProcessesOf(const std::wstring& programPath) {
    int count = 0;
    ForEachProgram(
        [&](HANDLE, const std::wstring& image) { count += SameText(image, programPath) ? 1 : 0; });
    return count;
}

std::string WhyNoRecord(const std::wstring& program) {
    const std::string name = Utf8(program.substr(program.rfind(L'\\') + 1));
    const int running = ProcessesOf(program);
    const std::string state = running > 0 ? "a process of " + name +
                                                " runs, but its first line never came: a start "
                                                "Wine stalled"
                                          : "no process of " + name + " runs";
    return name + " left no record; " + state +
           ". Whether the program under test called "
           "CreateProcessW for it, and what came of the call, shows in a run with "
           "TOLVANEX_WINEDEBUG=+process: a line \"CreateProcessInternalW app ...\" for the call, "
           "\"started process pid ...\" when Wine made the process";
}

StandInRecord AwaitRecord(const std::wstring& standInPath, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    StandInRecord record = ReadRecord(standInPath);
    while (record.starts == 0 && ::GetTickCount64() < deadline) {
        ::Sleep(10);
        record = ReadRecord(standInPath);
    }
    return record;
}

StandInRecord ReadRecord(const std::wstring& standInPath) {
    StandInRecord record;
    std::ifstream in((standInPath + L".log").c_str(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, ms;
        std::getline(fields, kind, '\t');
        std::getline(fields, ms, '\t');
        if (kind == "start") {
            ++record.starts;
            record.startMs = std::stoull(ms);
            std::string folder, show, commandLine;
            std::getline(fields, folder, '\t');
            std::getline(fields, show, '\t');
            std::getline(fields, commandLine);
            record.folder = FromUtf8(folder);
            record.show = std::stoi(show);
            record.commandLine = FromUtf8(commandLine);
        } else if (kind == "ready") {
            record.readyMs = std::stoull(ms);
        } else if (kind == "end") {
            record.endMs = std::stoull(ms);
        }
    }
    return record;
}

std::string Encode(const std::wstring& text, UINT codePage) {
    const int length = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(codePage, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, 0, text.c_str(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string Utf8(const std::wstring& text) {
    return Encode(text, CP_UTF8);
}

std::wstring FromUtf8(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), length, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), length, out.data(), chars);
    return out;
}

} // namespace tolvanex::e2e
