// CCopyFilePropPage: the install page (template 111).
#pragma once

#include "app/win/property_sheet.h"

class CCopyFilePropPage : public win::PropertyPage {
public:
    CCopyFilePropPage();
};
