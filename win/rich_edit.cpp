#include "win/rich_edit.h"

namespace win {

void RichEdit::SetSel(LONG start, LONG end) const noexcept {
    CHARRANGE range{start, end};
    ::SendMessageW(m_hwnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void RichEdit::GetSel(LONG& start, LONG& end) const noexcept {
    CHARRANGE range{0, 0};
    ::SendMessageW(m_hwnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    start = range.cpMin;
    end = range.cpMax;
}

BOOL RichEdit::SetCharFormat(CHARFORMATA& format, WPARAM scope) const noexcept {
    return static_cast<BOOL>(
        ::SendMessageW(m_hwnd, EM_SETCHARFORMAT, scope, reinterpret_cast<LPARAM>(&format)));
}

BOOL RichEdit::SetCharFormat(CHARFORMATW& format, WPARAM scope) const noexcept {
    return static_cast<BOOL>(
        ::SendMessageW(m_hwnd, EM_SETCHARFORMAT, scope, reinterpret_cast<LPARAM>(&format)));
}

DWORD RichEdit::GetCharFormat(CHARFORMATW& format, WPARAM scope) const noexcept {
    format.cbSize = sizeof(format);
    return static_cast<DWORD>(
        ::SendMessageW(m_hwnd, EM_GETCHARFORMAT, scope, reinterpret_cast<LPARAM>(&format)));
}

BOOL RichEdit::SetParaFormat(PARAFORMAT& format) const noexcept {
    return static_cast<BOOL>(::SendMessageW(m_hwnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format)));
}

UINT RichEdit::SetOptions(WORD operation, DWORD options) const noexcept {
    return static_cast<UINT>(::SendMessageW(m_hwnd, EM_SETOPTIONS, operation, static_cast<LPARAM>(options)));
}

DWORD RichEdit::SetEventMask(DWORD mask) const noexcept {
    return static_cast<DWORD>(::SendMessageW(m_hwnd, EM_SETEVENTMASK, 0, static_cast<LPARAM>(mask)));
}

int RichEdit::GetFirstVisibleLine() const noexcept {
    return static_cast<int>(::SendMessageW(m_hwnd, EM_GETFIRSTVISIBLELINE, 0, 0));
}

int RichEdit::LineIndex(int line) const noexcept {
    return static_cast<int>(::SendMessageW(m_hwnd, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
}

std::wstring RichEdit::GetText() const {
    int length = ::GetWindowTextLengthW(m_hwnd);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = ::GetWindowTextW(m_hwnd, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

}  // namespace win
