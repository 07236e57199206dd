// The platform services on real Windows.
#pragma once

#include "Platform.h"
#include "UniqueHandle.h"

namespace tolvanex {

// Not in every SDK's headers: CreateProcessW's answer for a program that needs elevation.
constexpr DWORD ErrorElevationRequired = 740;

// Restricts the DLLs loaded from here on to System32, never the program's own folder (a Downloads
// folder, for Setup) or the current one. Called first thing by both programs.
void RestrictDllSearchToSystem32();

class Win32Platform : public Platform {
  public:
    Win32Platform();
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    std::optional<std::wstring> ProgramDirectory() override;
    std::wstring CommandLineTail() override;
    void Terminate(unsigned exitCode) override;

    void ShowMessage(std::wstring_view text, std::wstring_view title, unsigned flags) override;
    void DispatchEvents() override;
    void WaitForEvents(std::uint32_t milliseconds) override;

    std::optional<ProcessId> StartProgram(std::wstring_view name,
                                          std::wstring_view arguments) override;
    std::optional<ProcessId> StartProgramFile(std::wstring_view path) override;
    void WaitForProcess(ProcessId id, std::uint32_t milliseconds) override;
    std::optional<std::vector<ProcessEntry>> Processes() override;
    std::optional<SessionId> SessionOf(ProcessId id) override;
    std::optional<SessionId> OwnSession() override;

    std::optional<bool> FileExists(std::wstring_view path) override;
    bool ChangeDrive(wchar_t driveLetter) override;
    bool ChangeDirectory(std::wstring_view path) override;

    bool OpenClipboard() override;
    bool EmptyClipboard() override;
    bool SetClipboardText(std::wstring_view text) override;
    void CloseClipboard() override;

    double SecondsSinceMidnight() override;
    std::uint64_t TickCount() override;
    void Sleep(std::uint32_t milliseconds) override;

  protected:
    // Where every start creates its process: CreateProcessW with the window shown normally, in
    // the current folder. Returns 0 or the error CreateProcessW gave. Tests replace it to take
    // the paths Wine never takes (a program that needs elevation).
    virtual DWORD LaunchProcess(const wchar_t* application, std::wstring& commandLine,
                                PROCESS_INFORMATION& info);
    // Where the file test asks Windows: GetFileAttributesW, with the error it gave when it
    // answered INVALID_FILE_ATTRIBUTES. Tests replace it to see the form of the path asked for,
    // which Wine takes in any form.
    virtual DWORD QueryAttributes(const wchar_t* path, DWORD& error);

  private:
    // Starts by CreateProcessW (the command line is its own copy: CreateProcessW may write into
    // it), or, when the program asks for elevation, through the shell with the file (a full
    // path, or without an application the bare name) and the parameters.
    std::optional<ProcessId> Start(const wchar_t* application, std::wstring commandLine,
                                   const std::wstring& shellFile, const std::wstring& parameters);
    // The 8-bit text beside the Unicode text, in the ANSI code page; Windows makes it up from
    // the Unicode text should this fail.
    static void SetAnsiText(std::wstring_view text);

    // The clipboard wants an owner window; a message-only one is made on first use.
    UniqueWindow clipboardOwner_;
    // The last started process stays open, so that WaitForProcess can wait for it and its
    // identifier is not given to another process meanwhile.
    UniqueProcess lastStarted_;
};

} // namespace tolvanex
