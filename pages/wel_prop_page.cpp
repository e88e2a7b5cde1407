#include "pages/wel_prop_page.h"

#include "res/resource.h"

CWelPropPage::CWelPropPage() : win::PropertyPage(IDD_WELCOME) {}
