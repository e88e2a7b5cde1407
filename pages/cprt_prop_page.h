// CCprtPropPage: the copyright notice page (template 134).
#pragma once

#include "app/win/property_sheet.h"

class CCprtPropPage : public win::PropertyPage {
public:
    CCprtPropPage();
};
