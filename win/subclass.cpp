#include "win/subclass.h"

namespace win {

namespace {
const wchar_t kProperty[] = L"quentaro.win.Subclass";
// The original procedure, kept on the window for a thunk left in a chain.
const wchar_t kOriginal[] = L"quentaro.win.Subclass.original";
}  // namespace

Subclass::~Subclass() {
    Remove();
}

bool Subclass::Install(HWND hwnd) noexcept {
    if (!hwnd || m_hwnd || ::GetPropW(hwnd, kProperty)) return false;
    if (!::SetPropW(hwnd, kProperty, this)) return false;
    m_hwnd = hwnd;
    m_original = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Subclass::SubclassProc)));
    ::SetPropW(hwnd, kOriginal, reinterpret_cast<HANDLE>(m_original));
    return true;
}

void Subclass::Remove() noexcept {
    if (!m_hwnd) return;
    if (::IsWindow(m_hwnd)) {
        // Only undo our own link: if someone subclassed after us, leaving our
        // thunk in place (now passing everything on) is the safe choice.
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hwnd, GWLP_WNDPROC)) == &Subclass::SubclassProc) {
            ::SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
            ::RemovePropW(m_hwnd, kProperty);
            ::RemovePropW(m_hwnd, kOriginal);
        } else {
            ::SetPropW(m_hwnd, kProperty, nullptr);
        }
    }
    m_hwnd = nullptr;
}

LRESULT Subclass::CallOriginal(UINT msg, WPARAM wp, LPARAM lp) const noexcept {
    return ::CallWindowProcW(m_original, m_hwnd, msg, wp, lp);
}

LRESULT CALLBACK Subclass::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = static_cast<Subclass*>(::GetPropW(hwnd, kProperty));
    if (!self) {
        // Left in a chain after Remove() (see there): only pass messages on.
        auto original = reinterpret_cast<WNDPROC>(::GetPropW(hwnd, kOriginal));
        if (msg == WM_NCDESTROY) {
            ::RemovePropW(hwnd, kProperty);
            ::RemovePropW(hwnd, kOriginal);
        }
        return original ? ::CallWindowProcW(original, hwnd, msg, wp, lp)
                        : ::DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        WNDPROC original = self->m_original;
        self->Remove();
        return ::CallWindowProcW(original, hwnd, msg, wp, lp);
    }
    LRESULT result = 0;
    if (self->OnMessage(msg, wp, lp, result)) return result;
    return self->CallOriginal(msg, wp, lp);
}

}  // namespace win
