// One owner for each kind of Windows handle: the handle is released exactly once, by the scope
// that opened it, on every path.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <cstdint>
#include <utility>

namespace tolvanex {

template <typename T, auto Close, auto Invalid> class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != invalid(); }

    // Gives up ownership, for a handle another party now owns (clipboard data once set).
    T release() { return std::exchange(value_, invalid()); }
    void reset(T value = invalid()) {
        if (value_ != invalid()) {
            Close(value_);
        }
        value_ = value;
    }

  private:
    static T invalid() { return reinterpret_cast<T>(Invalid); }
    T value_ = invalid();
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) {
    ::CloseHandle(h);
}
inline void FreeGlobal(HGLOBAL h) {
    ::GlobalFree(h);
}
inline void DestroyOwnedWindow(HWND h) {
    ::DestroyWindow(h);
}
} // namespace detail

// A process handle: 0 when absent.
using UniqueProcess = UniqueHandle<HANDLE, detail::CloseKernelHandle, std::intptr_t{0}>;
// Any other kernel object closed with CloseHandle: a thread, an event.
using UniqueKernelObject = UniqueHandle<HANDLE, detail::CloseKernelHandle, std::intptr_t{0}>;
// A Toolhelp snapshot: INVALID_HANDLE_VALUE when absent.
using UniqueSnapshot = UniqueHandle<HANDLE, detail::CloseKernelHandle, std::intptr_t{-1}>;
// A global memory block, handed to the clipboard once SetClipboardData succeeds.
using UniqueGlobal = UniqueHandle<HGLOBAL, detail::FreeGlobal, std::intptr_t{0}>;
using UniqueWindow = UniqueHandle<HWND, detail::DestroyOwnedWindow, std::intptr_t{0}>;

} // namespace tolvanex
