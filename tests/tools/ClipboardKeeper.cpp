// Keeps Wine's window station, and with it the clipboard, alive between the short programs of a
// test run: under Wine's null display driver it is destroyed when the last program using it
// ends, where Windows keeps it for the logon session. It owns a message-only window, handles
// messages, and ends by itself after a few hours at the latest.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TolvanexClipboardKeeper";
    ::RegisterClassW(&windowClass);
    const HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    const ULONGLONG end = ::GetTickCount64() + 4ull * 3600 * 1000;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&message);
        }
    }
    return 0;
}
