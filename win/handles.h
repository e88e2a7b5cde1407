// Move-only owners of Win32 handles, and small scope guards for GDI.
#pragma once

#include <windows.h>

#include <utility>

namespace win {

// Owns one handle. Traits gives the handle type, the value that means "no
// handle" (Invalid()) and how to close one (Close()). Move-only: a handle is
// closed exactly once.
template <class Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() noexcept = default;
    explicit Unique(Handle h) noexcept : m_handle(h) {}
    ~Unique() { Reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : m_handle(other.Release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Handle Get() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return m_handle != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives the handle up without closing it.
    Handle Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }
    // Closes the owned handle (if any) and takes `h`.
    void Reset(Handle h = Traits::Invalid()) noexcept {
        Handle old = std::exchange(m_handle, h);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Handle m_handle = Traits::Invalid();
};

// Traits of a handle type whose "none" is NULL (NullTraits) or INVALID_HANDLE_VALUE
// (InvalidValueTraits) and that `close` releases; the close function's result is not looked at.
template <class H, auto close>
struct NullTraits {
    using Handle = H;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { close(h); }
};
template <auto close>
struct InvalidValueTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { close(h); }
};

// Kernel objects that use NULL for "none": threads, events, mutexes, processes.
using KernelTraits = NullTraits<HANDLE, &::CloseHandle>;
// CreateFileW and FindFirstFileW results use INVALID_HANDLE_VALUE for "none".
using FileTraits = InvalidValueTraits<&::CloseHandle>;
using FindTraits = InvalidValueTraits<&::FindClose>;
// GDI objects (fonts, brushes, bitmaps, regions, pens): NULL is "none".
template <class T>
using GdiTraits = NullTraits<T, &::DeleteObject>;
// Memory device contexts from CreateCompatibleDC.
using MemoryDcTraits = NullTraits<HDC, &::DeleteDC>;

using UniqueHandle = Unique<KernelTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueFont = Unique<GdiTraits<HFONT>>;
using UniqueBrush = Unique<GdiTraits<HBRUSH>>;
using UniqueBitmap = Unique<GdiTraits<HBITMAP>>;
using UniqueRegion = Unique<GdiTraits<HRGN>>;
using UniquePen = Unique<GdiTraits<HPEN>>;
using UniqueMemoryDc = Unique<MemoryDcTraits>;

// Selects a GDI object into a DC and selects the previous one back at scope end.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_old(::SelectObject(dc, object)) {}
    ~ScopedSelect() {
        if (m_old) ::SelectObject(m_dc, m_old);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// BeginPaint / EndPaint for one WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) noexcept : m_hwnd(hwnd) { m_dc = ::BeginPaint(hwnd, &m_ps); }
    ~PaintScope() { ::EndPaint(m_hwnd, &m_ps); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC Dc() const noexcept { return m_dc; }
    const PAINTSTRUCT& Info() const noexcept { return m_ps; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_dc = nullptr;
};

// A critical section, and the lock that holds one for a scope (Windows 2000 has no slim locks).
class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&m_section); }
    ~CriticalSection() { ::DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept { ::EnterCriticalSection(&m_section); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section{};
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) noexcept : m_section(section) { m_section.Enter(); }
    ~ScopedLock() { m_section.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& m_section;
};

// GetDC / ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : m_hwnd(hwnd), m_dc(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (m_dc) ::ReleaseDC(m_hwnd, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC Get() const noexcept { return m_dc; }

private:
    HWND m_hwnd;
    HDC m_dc;
};

}  // namespace win
