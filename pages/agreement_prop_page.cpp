#include "pages/agreement_prop_page.h"

#include <cstring>

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

CAgreementPropPage::CAgreementPropPage(UINT templateId)
    : CSetupPropPage(templateId, 150, 100, {IDC_SUBTITLE}, page_look::PageLook::Others::kTemplateFont) {}

void CAgreementPropPage::DoDataExchange(win::DataExchange& dx) {
    dx.Bind(IDC_RICHEDIT, m_richEdit);
}

BOOL CAgreementPropPage::OnInitDialog() {
    CSetupPropPage::OnInitDialog();
    // Before any text is in the control, so that every character takes it.
    CHARFORMATA format = agreement_text::TextFormat();
    m_richEdit.SetDefaultCharFormat(format);
    InitText();
    FormatText();
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
    // Only now that the text and its formats are in place.
    m_richEdit.SetEventMask(ENM_PROTECTED);
    return TRUE;
}

BOOL CAgreementPropPage::OnSetActive() {
    page_look::ShowButton(*this, ID_WIZBACK, SW_SHOW);
    page_look::SetButtonCaption(*this, ID_WIZBACK, page_look::kBack);
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kYes);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kNo);
    m_nFocusCount = -1;
    return win::PropertyPage::OnSetActive();
}

bool CAgreementPropPage::OnCommand(WORD id, WORD code, HWND) {
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

bool CAgreementPropPage::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom != IDC_RICHEDIT || header.code != EN_PROTECTED) return false;
    OnProtectedText(&header, &result);
    return true;
}

void CAgreementPropPage::OnSetFocusText() {
    agreement_text::OnSetFocus(m_richEdit, m_nFocusCount);
}

void CAgreementPropPage::OnKillFocusText() {
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
}

void CAgreementPropPage::OnProtectedText(const NMHDR*, LRESULT* result) {
    *result = 1;
}
