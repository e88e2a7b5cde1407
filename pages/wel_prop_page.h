// CWelPropPage: the welcome page (template 107), the first page of the wizard. It collects
// nothing; its heading is drawn in the bold 16-point title font and every other control in the
// 12-point body font.
#pragma once

#include <windows.h>

#include "win/property_sheet.h"
#include "wizard/page_look.h"

class CWelPropPage : public win::PropertyPage {
public:
    CWelPropPage();

protected:
    BOOL OnInitDialog() override;
    // Hides Back, captions Next "次へ(&N)>" and Cancel "キャンセル"; TRUE.
    BOOL OnSetActive() override;
    // The cancel confirmation: TRUE = cancel, FALSE = stay.
    BOOL OnQueryCancel() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;

private:
    page_look::PageLook m_look;
};
