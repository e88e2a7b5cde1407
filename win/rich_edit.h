// A thin wrapper over a rich edit 2.0 control (window class "RICHEDIT20W").
#pragma once

#include <windows.h>
#include <richedit.h>

#include <string>

namespace win {

// Holds the control's HWND; every call is one message. Safe to call from
// another thread (SendMessage runs on the control's thread).
// "RICHED20.dll" must be loaded before a template with the control is created.
class RichEdit {
public:
    void Attach(HWND hwnd) noexcept { m_hwnd = hwnd; }
    HWND Hwnd() const noexcept { return m_hwnd; }

    // EM_EXSETSEL: character positions; (0, -1) selects all, (-1, -1) puts
    // the caret at the end with no selection.
    void SetSel(LONG start, LONG end) const noexcept;
    // EM_EXGETSEL.
    void GetSel(LONG& start, LONG& end) const noexcept;

    // EM_SETCHARFORMAT. The narrow record (CHARFORMATA, cbSize 60) carries its
    // face name in the ANSI code page; the wide one (CHARFORMATW, cbSize 92)
    // in UTF-16. The control tells them apart by cbSize, which the caller sets.
    // `scope` is SCF_DEFAULT, SCF_SELECTION or SCF_ALL. Returns nonzero on success.
    BOOL SetCharFormat(CHARFORMATA& format, WPARAM scope) const noexcept;
    BOOL SetCharFormat(CHARFORMATW& format, WPARAM scope) const noexcept;
    BOOL SetDefaultCharFormat(CHARFORMATA& format) const noexcept {
        return SetCharFormat(format, SCF_DEFAULT);
    }
    BOOL SetDefaultCharFormat(CHARFORMATW& format) const noexcept {
        return SetCharFormat(format, SCF_DEFAULT);
    }
    BOOL SetSelectionCharFormat(CHARFORMATW& format) const noexcept {
        return SetCharFormat(format, SCF_SELECTION);
    }
    // EM_GETCHARFORMAT (SCF_SELECTION or SCF_DEFAULT); cbSize is set here.
    // Returns the mask of the attributes that are the same over the range.
    DWORD GetCharFormat(CHARFORMATW& format, WPARAM scope) const noexcept;
    DWORD GetSelectionCharFormat(CHARFORMATW& format) const noexcept {
        return GetCharFormat(format, SCF_SELECTION);
    }

    // EM_SETPARAFORMAT on the paragraphs of the selection; cbSize is set by the caller.
    BOOL SetParaFormat(PARAFORMAT& format) const noexcept;

    // EM_SETOPTIONS: `operation` ECOOP_SET / ECOOP_OR / ECOOP_AND / ECOOP_XOR
    // with ECO_* flags. Returns the options now in effect.
    UINT SetOptions(WORD operation, DWORD options) const noexcept;
    // EM_SETEVENTMASK (ENM_*). Returns the previous mask.
    DWORD SetEventMask(DWORD mask) const noexcept;

    // EM_GETFIRSTVISIBLELINE: the zero-based index of the top visible line.
    int GetFirstVisibleLine() const noexcept;
    // EM_LINEINDEX: the character position where `line` starts (-1 = the
    // caret's line); -1 if there is no such line.
    int LineIndex(int line = -1) const noexcept;

    void SetText(const std::wstring& text) const noexcept { ::SetWindowTextW(m_hwnd, text.c_str()); }
    void SetText(const wchar_t* text) const noexcept { ::SetWindowTextW(m_hwnd, text); }
    // WM_GETTEXT; note that it gives "\r\n" for each paragraph mark.
    std::wstring GetText() const;
    void SetFocus() const noexcept { ::SetFocus(m_hwnd); }

private:
    HWND m_hwnd = nullptr;
};

}  // namespace win
