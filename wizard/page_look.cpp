#include "wizard/page_look.h"

#include <algorithm>

#include "win/font.h"

namespace page_look {

namespace {

// Static controls that draw text (and so take a font).
bool IsStaticText(HWND control) {
    wchar_t className[16] = {};
    if (::GetClassNameW(control, className, 16) == 0 || ::lstrcmpiW(className, L"Static") != 0) return false;
    switch (::GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        return true;
    default:
        return false;
    }
}

}  // namespace

// ---- CtlColorFontText ------------------------------------------------------

bool CtlColorFontText::Attach(HWND control) noexcept {
    if (!Install(control)) return false;
    m_font = reinterpret_cast<HFONT>(CallOriginal(WM_GETFONT, 0, 0));
    CallOriginal(WM_SETFONT, 0, FALSE);  // no font of its own; no redraw
    return true;
}

bool CtlColorFontText::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_GETFONT:
        result = reinterpret_cast<LRESULT>(m_font);
        return true;
    case WM_SETFONT:  // remembered, not used for drawing; LOWORD(lp) asks for a redraw
        m_font = reinterpret_cast<HFONT>(wp);
        if (LOWORD(lp)) ::InvalidateRect(Hwnd(), nullptr, TRUE);
        result = 0;
        return true;
    default:
        return false;
    }
}

// ---- PageLook --------------------------------------------------------------

PageLook::PageLook(int titleSize, int bodySize, std::initializer_list<int> bodyIds, Others others)
    : m_titleFont(win::CreateBoldPointFont(titleSize, kFaceName)),
      m_bodyFont(win::CreatePointFont(bodySize, kFaceName)),
      m_bodyIds(bodyIds),
      m_others(others) {}

HFONT PageLook::FontFor(int id) const noexcept {
    if (id == kHeadingId) return TitleFont();
    if (m_others == Others::kBodyFont) return BodyFont();
    if (std::find(m_bodyIds.begin(), m_bodyIds.end(), id) != m_bodyIds.end()) return BodyFont();
    return nullptr;
}

void PageLook::SelectFont(HDC dc, HWND control) const noexcept {
    if (HFONT font = FontFor(::GetDlgCtrlID(control))) ::SelectObject(dc, font);
}

void PageLook::AttachTexts(HWND page) {
    for (HWND child = ::GetWindow(page, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!FontFor(::GetDlgCtrlID(child)) || !IsStaticText(child)) continue;
        auto text = std::make_unique<CtlColorFontText>();
        if (text->Attach(child)) m_texts.push_back(std::move(text));
    }
}

// ---- Buttons and the cancel confirmation -----------------------------------

void SetButtonCaption(const win::PropertyPage& page, int buttonId, const wchar_t* caption) noexcept {
    ::SetWindowTextW(page.SheetItem(buttonId), caption);
}

void ShowButton(const win::PropertyPage& page, int buttonId, int show) noexcept {
    ::ShowWindow(page.SheetItem(buttonId), show);
}

BOOL ConfirmCancel(const win::PropertyPage& page) noexcept {
    // 0x34; IDNO (7) keeps the wizard on the page.
    const int answer = ::MessageBoxW(page.Hwnd(), kCancelText, kCancelCaption, MB_YESNO | MB_ICONEXCLAMATION);
    return answer == IDNO ? FALSE : TRUE;
}

}  // namespace page_look
