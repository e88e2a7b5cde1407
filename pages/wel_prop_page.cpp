#include "pages/wel_prop_page.h"

#include "res/resource.h"

CWelPropPage::CWelPropPage()
    : win::PropertyPage(IDD_WELCOME), m_look(160, 120, {}, page_look::PageLook::Others::kBodyFont) {}

BOOL CWelPropPage::OnInitDialog() {
    BOOL result = win::PropertyPage::OnInitDialog();
    m_look.AttachTexts(Hwnd());
    return result;
}

BOOL CWelPropPage::OnSetActive() {
    page_look::ShowButton(*this, ID_WIZBACK, SW_HIDE);
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kNextArrowAfter);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kCancel);
    return win::PropertyPage::OnSetActive();
}

BOOL CWelPropPage::OnQueryCancel() {
    return page_look::ConfirmCancel(*this);
}

HBRUSH CWelPropPage::OnCtlColor(HDC dc, HWND control, UINT type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    m_look.SelectFont(dc, control);
    return brush;
}
