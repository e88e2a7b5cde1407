// Subclassing an existing window (a control, the property sheet).
#pragma once

#include <windows.h>

namespace win {

// Replaces a window's procedure with a thunk that calls the virtual
// OnMessage() and passes what it does not handle to the original procedure.
// Implemented with SetWindowLongPtrW(GWLP_WNDPROC) and a window property, so
// it works with every comctl32 version (no SetWindowSubclass). One Subclass
// object per window. The subclass removes itself at WM_NCDESTROY; the object
// must outlive the window or call Remove() first. The thunk is noexcept.
class Subclass {
public:
    Subclass() noexcept = default;
    virtual ~Subclass();
    Subclass(const Subclass&) = delete;
    Subclass& operator=(const Subclass&) = delete;

    // false if hwnd is null or already subclassed by another Subclass object.
    bool Install(HWND hwnd) noexcept;
    // Puts the original procedure back (if nobody subclassed the window after us).
    void Remove() noexcept;

    HWND Hwnd() const noexcept { return m_hwnd; }

protected:
    // true = handled, with `result` as the return value; false = the original
    // procedure gets the message.
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) = 0;

    // Passes a message to the original procedure.
    LRESULT CallOriginal(UINT msg, WPARAM wp, LPARAM lp) const noexcept;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    HWND m_hwnd = nullptr;
    WNDPROC m_original = nullptr;
};

}  // namespace win
