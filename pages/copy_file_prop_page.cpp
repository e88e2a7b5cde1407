#include "pages/copy_file_prop_page.h"

#include "res/resource.h"

CCopyFilePropPage::CCopyFilePropPage() : win::PropertyPage(IDD_COPYFILE) {}
