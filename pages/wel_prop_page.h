// CWelPropPage: the welcome page (template 107), the first page of the wizard. It collects
// nothing; its heading is drawn in the bold 16-point title font and every other control in the
// 12-point body font.
#pragma once

#include <windows.h>

#include "pages/setup_prop_page.h"

class CWelPropPage : public CSetupPropPage {
public:
    CWelPropPage();

protected:
    // Hides Back, captions Next "次へ(&N)>" and Cancel "キャンセル"; TRUE.
    BOOL OnSetActive() override;
};
