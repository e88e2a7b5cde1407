#include "pages/license_prop_page.h"

#include "core/texts.h"
#include "res/resource.h"

CLicensePropPage::CLicensePropPage() : CAgreementPropPage(IDD_LICENSE) {}

void CLicensePropPage::InitText() {
    const std::u16string text = quentaro::LicenceText();
    m_strText.assign(text.begin(), text.end());
    m_astrText.push_back(m_strText);
    m_richEdit.SetText(m_strText);
}

void CLicensePropPage::IndentParagraphs() {
    PARAFORMAT format{};
    format.cbSize = sizeof(format);
    format.dwMask = PFM_OFFSET;
    format.dxOffset = 200;  // twips: continuation lines start this far right of the first line
    LONG base = 0;
    int count = 0;  // carriage returns so far, over all entries
    for (const std::wstring& entry : m_astrText) {
        for (size_t p = entry.find(L'\r'); p != std::wstring::npos; p = entry.find(L'\r', p + 1)) {
            ++count;
            if (count == 3 || count == 12) continue;
            const LONG at = base + static_cast<LONG>(p);
            m_richEdit.SetSel(at, at);
            m_richEdit.SetParaFormat(format);
        }
        base += static_cast<LONG>(entry.size());
    }
}
