// CSetupPropSheet: the setup wizard, a property sheet that owns the five pages.
#pragma once

#include <windows.h>

#include "pages/copy_file_prop_page.h"
#include "pages/cprt_prop_page.h"
#include "pages/dest_prop_page.h"
#include "pages/license_prop_page.h"
#include "pages/wel_prop_page.h"
#include "win/property_sheet.h"

class CSetupPropSheet : public win::PropertySheet {
public:
    // Constructs the pages and adds them in the wizard's order: welcome,
    // licence, copyright, destination, install. The install page is given the
    // destination page, whose values it copies, and `installThread`, the
    // install job's thread procedure that it starts.
    CSetupPropSheet(const wchar_t* caption, HWND parent, UINT startPage,
                    LPTHREAD_START_ROUTINE installThread);

    // Sets the sheet's icon (icon 129, PSH_USEHICON) and runs the sheet.
    // 12325 (ID_WIZFINISH) = finished; anything else = not finished.
    INT_PTR DoModal() override;

    // The pages, in their order of construction (not the wizard's order).
    // Public: the install job's thread reaches the install page through the sheet.
    CWelPropPage m_welPage;
    CLicensePropPage m_licensePage;
    CCprtPropPage m_cprtPage;
    CCopyFilePropPage m_copyFilePage;
    CDestPropPage m_destPage;

protected:
    // A minimise box and a taskbar button of its own (its owner, the main
    // window, stays hidden).
    void OnInitialized() override;
    // Also answers the diagnostic query of the Close item's state (see CloseStateQuery).
    bool OnSheetMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

// A diagnostic query that the sheet window answers: the registered message
// "QUENTARO.CloseMenuState" (wParam, lParam 0) returns GetMenuState of SC_CLOSE in the sheet's
// system menu (MF_BYCOMMAND; -1 when there is no Close item). The system menu is a handle of
// the sheet's own process, which another process (a test, an accessibility tool) cannot read.
UINT CloseStateQuery() noexcept;
