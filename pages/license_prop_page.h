// CLicensePropPage: the licence agreement page (template 108). The agreement is shown in the
// shared read-only protected text control; the numbered clauses get a hanging indent.
#pragma once

#include <string>
#include <vector>

#include "pages/agreement_prop_page.h"

class CLicensePropPage : public CAgreementPropPage {
public:
    CLicensePropPage();

protected:
    // The two parts of the agreement joined; kept as the only entry of m_astrText.
    void InitText() override;
    void FormatText() override { IndentParagraphs(); }

private:
    // Gives every paragraph that a carriage return ends a hanging indent of 200 twips, except
    // those ended by the 3rd and the 12th carriage return (the preamble and the body of article 2).
    void IndentParagraphs();

    std::vector<std::wstring> m_astrText;
};
