// CWelPropPage: the welcome page (template 107).
#pragma once

#include "app/win/property_sheet.h"

class CWelPropPage : public win::PropertyPage {
public:
    CWelPropPage();
};
