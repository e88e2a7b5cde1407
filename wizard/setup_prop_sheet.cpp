#include "wizard/setup_prop_sheet.h"

#include "res/resource.h"
#include "win/system.h"

CSetupPropSheet::CSetupPropSheet(const wchar_t* caption, HWND parent, UINT startPage,
                                 LPTHREAD_START_ROUTINE installThread)
    // The destination page is constructed after the install page; the install page only keeps
    // the reference until its dialog is initialised.
    : win::PropertySheet(caption, parent, startPage), m_copyFilePage(m_destPage, installThread) {
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

UINT CloseStateQuery() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"QUENTARO.CloseMenuState");
    return message;
}

bool CSetupPropSheet::OnSheetMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg != 0 && msg == CloseStateQuery()) {
        // UINT state, or (UINT)-1 for "no such item": as a signed result -1 stays -1.
        result = static_cast<int>(::GetMenuState(::GetSystemMenu(Hwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND));
        return true;
    }
    return win::PropertySheet::OnSheetMessage(msg, wp, lp, result);
}
