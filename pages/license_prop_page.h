// CLicensePropPage: the licence agreement page (template 108).
#pragma once

#include "app/win/property_sheet.h"

class CLicensePropPage : public win::PropertyPage {
public:
    CLicensePropPage();
};
