#include "pages/cprt_prop_page.h"

#include "core/texts.h"
#include "pages/license_prop_page.h"
#include "res/resource.h"

CCprtPropPage::CCprtPropPage()
    : win::PropertyPage(IDD_COPYRIGHT),
      m_look(150, 100, {IDC_SUBTITLE}, page_look::PageLook::Others::kTemplateFont) {}

void CCprtPropPage::DoDataExchange(win::DataExchange& dx) {
    dx.Bind(IDC_RICHEDIT, m_richEdit);
}

BOOL CCprtPropPage::OnInitDialog() {
    win::PropertyPage::OnInitDialog();
    m_look.AttachTexts(Hwnd());
    // While the control is still empty, so that every character takes it.
    CHARFORMATA format = agreement_text::TextFormat();
    m_richEdit.SetDefaultCharFormat(format);
    InitText();
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
    m_richEdit.SetEventMask(ENM_PROTECTED);
    return TRUE;
}

void CCprtPropPage::InitText() {
    m_strText.assign(quentaro::kCopyrightText.begin(), quentaro::kCopyrightText.end());
    m_richEdit.SetText(m_strText);
}

BOOL CCprtPropPage::OnSetActive() {
    page_look::ShowButton(*this, ID_WIZBACK, SW_SHOW);
    page_look::SetButtonCaption(*this, ID_WIZBACK, page_look::kBack);
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kYes);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kNo);
    m_nFocusCount = -1;
    return win::PropertyPage::OnSetActive();
}

BOOL CCprtPropPage::OnQueryCancel() {
    return page_look::ConfirmCancel(*this);
}

bool CCprtPropPage::OnCommand(WORD id, WORD code, HWND) {
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

bool CCprtPropPage::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom != IDC_RICHEDIT || header.code != EN_PROTECTED) return false;
    OnProtectedText(&header, &result);
    return true;
}

void CCprtPropPage::OnSetFocusText() {
    agreement_text::OnSetFocus(m_richEdit, m_nFocusCount);
}

void CCprtPropPage::OnKillFocusText() {
    agreement_text::SetOptions(m_richEdit, agreement_text::kReadingOptions);
}

void CCprtPropPage::OnProtectedText(const NMHDR*, LRESULT* result) {
    *result = 1;
}

HBRUSH CCprtPropPage::OnCtlColor(HDC dc, HWND control, UINT type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    m_look.SelectFont(dc, control);
    return brush;
}
