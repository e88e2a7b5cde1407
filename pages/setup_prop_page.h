// CSetupPropPage: what every page of the setup wizard shares: its title and body fonts, drawn by
// control id while a control is drawn, the page's static texts attached to them, and the cancel
// confirmation. Each page keeps only what is its own.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "win/property_sheet.h"
#include "wizard/page_look.h"

class CSetupPropPage : public win::PropertyPage {
public:
    // The page's template and its look: title and body font sizes in tenths of a point, the
    // controls that take the body font, and what the others take (see page_look::PageLook).
    CSetupPropPage(UINT templateId, int titleSize, int bodySize, std::initializer_list<int> bodyIds,
                   page_look::PageLook::Others others);

protected:
    // The framework's initialisation, then the static texts that take a page font made to draw
    // with it; returns what the framework returned.
    BOOL OnInitDialog() override;
    // The cancel confirmation of the first four pages: TRUE = cancel, FALSE = stay.
    BOOL OnQueryCancel() override;
    // The default colours, then the page font for the control's id.
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;

private:
    page_look::PageLook m_look;
};
