#include "pages/wel_prop_page.h"

#include "res/resource.h"

CWelPropPage::CWelPropPage()
    : CSetupPropPage(IDD_WELCOME, 160, 120, {}, page_look::PageLook::Others::kBodyFont) {}

BOOL CWelPropPage::OnSetActive() {
    page_look::ShowButton(*this, ID_WIZBACK, SW_HIDE);
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kNextArrowAfter);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kCancel);
    return win::PropertyPage::OnSetActive();
}
