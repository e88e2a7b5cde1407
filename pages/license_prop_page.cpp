#include "pages/license_prop_page.h"

#include <cstring>

#include "core/texts.h"
#include "res/resource.h"

namespace agreement_text {

CHARFORMATA TextFormat() noexcept {
    static_assert(sizeof(CHARFORMATA) == 60, "the narrow character format record is 60 bytes");
    // "ＭＳ Ｐゴシック" in code page 932 (Shift_JIS), with its terminating zero.
    static const unsigned char kFace[] = {0x82, 0x6C, 0x82, 0x72, 0x20, 0x82, 0x6F, 0x83,
                                          0x53, 0x83, 0x56, 0x83, 0x62, 0x83, 0x4E, 0x00};
    static_assert(sizeof(kFace) <= sizeof(CHARFORMATA::szFaceName), "the face fits");
    CHARFORMATA format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_SIZE | CFM_FACE | CFM_PROTECTED;  // 0xA0000010
    format.dwEffects = CFE_PROTECTED;
    format.yHeight = 200;                                 // twips: 10 points
    format.bPitchAndFamily = FF_MODERN | VARIABLE_PITCH;  // 0x32
    std::memcpy(format.szFaceName, kFace, sizeof(kFace));
    return format;
}

void SetOptions(const win::RichEdit& control, DWORD options) noexcept {
    control.SetOptions(ECOOP_SET, options);
}

void OnSetFocus(const win::RichEdit& control, int& focusCount) noexcept {
    ++focusCount;
    if (focusCount == 0) {
        SetOptions(control, kFocusOptions);
        control.SetSel(0, 0);
        return;
    }
    const int start = control.LineIndex(control.GetFirstVisibleLine());
    control.SetSel(start, start);
    SetOptions(control, kFocusOptions);
}

}  // namespace agreement_text

CLicensePropPage::CLicensePropPage()
    : win::PropertyPage(IDD_LICENSE),
      m_look(150, 100, {IDC_SUBTITLE}, page_look::PageLook::Others::kTemplateFont) {}

void CLicensePropPage::DoDataExchange(win::DataExchange& dx) {
    dx.Bind(IDC_RICHEDIT, m_richEdit);
}

BOOL CLicensePropPage::OnInitDialog() {
    win::PropertyPage::OnInitDialog();
    m_look.AttachTexts(Hwnd());
    // Before any text is in the control, so that every character takes it.
    CHARFORMATA format = agreement_text::TextFormat();
    m_richEdit.SetDefaultCharFormat(format);
    InitText();
    IndentParagraphs();
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
    // Only now that the text and its formats are in place.
    m_richEdit.SetEventMask(ENM_PROTECTED);
    return TRUE;
}

void CLicensePropPage::InitText() {
    const std::u16string text = quentaro::LicenceText();
    m_strText.assign(text.begin(), text.end());
    m_astrText.push_back(m_strText);
    m_richEdit.SetText(m_strText);
}

void CLicensePropPage::IndentParagraphs() {
    PARAFORMAT format{};
    format.cbSize = sizeof(format);
    format.dwMask = PFM_OFFSET;
    format.dxOffset = 200;  // twips: continuation lines start this far right of the first line
    LONG base = 0;
    int count = 0;  // carriage returns so far, over all entries
    for (const std::wstring& entry : m_astrText) {
        for (size_t p = entry.find(L'\r'); p != std::wstring::npos; p = entry.find(L'\r', p + 1)) {
            ++count;
            if (count == 3 || count == 12) continue;
            const LONG at = base + static_cast<LONG>(p);
            m_richEdit.SetSel(at, at);
            m_richEdit.SetParaFormat(format);
        }
        base += static_cast<LONG>(entry.size());
    }
}

BOOL CLicensePropPage::OnSetActive() {
    page_look::ShowButton(*this, ID_WIZBACK, SW_SHOW);
    page_look::SetButtonCaption(*this, ID_WIZBACK, page_look::kBack);
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kYes);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kNo);
    m_nFocusCount = -1;
    return win::PropertyPage::OnSetActive();
}

BOOL CLicensePropPage::OnQueryCancel() {
    return page_look::ConfirmCancel(*this);
}

bool CLicensePropPage::OnCommand(WORD id, WORD code, HWND) {
    if (id != IDC_RICHEDIT) return false;
    switch (code) {
    case EN_SETFOCUS:
        OnSetFocusText();
        return true;
    case EN_KILLFOCUS:
        OnKillFocusText();
        return true;
    default:
        return false;
    }
}

bool CLicensePropPage::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom != IDC_RICHEDIT || header.code != EN_PROTECTED) return false;
    OnProtectedText(&header, &result);
    return true;
}

void CLicensePropPage::OnSetFocusText() {
    agreement_text::OnSetFocus(m_richEdit, m_nFocusCount);
}

void CLicensePropPage::OnKillFocusText() {
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
}

void CLicensePropPage::OnProtectedText(const NMHDR*, LRESULT* result) {
    *result = 1;
}

HBRUSH CLicensePropPage::OnCtlColor(HDC dc, HWND control, UINT type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    m_look.SelectFont(dc, control);
    return brush;
}
