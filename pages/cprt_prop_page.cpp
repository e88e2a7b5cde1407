#include "pages/cprt_prop_page.h"

#include "core/texts.h"
#include "res/resource.h"

CCprtPropPage::CCprtPropPage() : CAgreementPropPage(IDD_COPYRIGHT) {}

void CCprtPropPage::InitText() {
    m_strText.assign(quentaro::kCopyrightText.begin(), quentaro::kCopyrightText.end());
    m_richEdit.SetText(m_strText);
}
