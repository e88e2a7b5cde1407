#include "pages/setup_prop_page.h"

CSetupPropPage::CSetupPropPage(UINT templateId, int titleSize, int bodySize,
                               std::initializer_list<int> bodyIds, page_look::PageLook::Others others)
    : win::PropertyPage(templateId), m_look(titleSize, bodySize, bodyIds, others) {}

BOOL CSetupPropPage::OnInitDialog() {
    const BOOL result = win::PropertyPage::OnInitDialog();
    m_look.AttachTexts(Hwnd());
    return result;
}

BOOL CSetupPropPage::OnQueryCancel() {
    return page_look::ConfirmCancel(*this);
}

HBRUSH CSetupPropPage::OnCtlColor(HDC dc, HWND control, UINT type) {
    HBRUSH brush = DefaultCtlColor(dc, control, type);
    m_look.SelectFont(dc, control);
    return brush;
}
