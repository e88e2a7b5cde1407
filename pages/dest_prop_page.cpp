#include "pages/dest_prop_page.h"

#include "res/resource.h"

CDestPropPage::CDestPropPage() : win::PropertyPage(IDD_DESTINATION) {}
