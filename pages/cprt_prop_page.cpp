#include "pages/cprt_prop_page.h"

#include "res/resource.h"

CCprtPropPage::CCprtPropPage() : win::PropertyPage(IDD_COPYRIGHT) {}
