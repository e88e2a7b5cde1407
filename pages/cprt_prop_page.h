// CCprtPropPage: the copyright notice page (template 134), the licence page's twin: the same
// read-only protected text control behaviour, its own notice, no hanging indents.
#pragma once

#include "pages/agreement_prop_page.h"

class CCprtPropPage : public CAgreementPropPage {
public:
    CCprtPropPage();

protected:
    void InitText() override;
};
