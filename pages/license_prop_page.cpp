#include "pages/license_prop_page.h"

#include "res/resource.h"

CLicensePropPage::CLicensePropPage() : win::PropertyPage(IDD_LICENSE) {}
