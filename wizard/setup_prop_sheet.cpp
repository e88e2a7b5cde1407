#include "wizard/setup_prop_sheet.h"

#include "app/win/system.h"
#include "res/resource.h"

CSetupPropSheet::CSetupPropSheet(const wchar_t* caption, HWND parent, UINT startPage)
    : win::PropertySheet(caption, parent, startPage) {
    AddPage(m_welPage);
    AddPage(m_licensePage);
    AddPage(m_cprtPage);
    AddPage(m_destPage);
    AddPage(m_copyFilePage);
}

INT_PTR CSetupPropSheet::DoModal() {
    PROPSHEETHEADERW& header = Header();
    header.dwFlags |= PSH_USEHICON;
    header.hIcon = ::LoadIconW(win::ResourceInstance(), MAKEINTRESOURCEW(IDI_SETUP));
    return win::PropertySheet::DoModal();
}

void CSetupPropSheet::OnInitialized() {
    HWND hwnd = Hwnd();
    LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, style | WS_MINIMIZEBOX);
    LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, exStyle | WS_EX_APPWINDOW);
}
