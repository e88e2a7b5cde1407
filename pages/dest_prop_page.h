// CDestPropPage: the destination page (template 109).
#pragma once

#include "app/win/property_sheet.h"

class CDestPropPage : public win::PropertyPage {
public:
    CDestPropPage();
};
