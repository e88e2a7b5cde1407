// CCprtPropPage: the copyright notice page (template 134), the licence page's twin: the same
// read-only protected text control behaviour, its own notice, no hanging indents.
#pragma once

#include <windows.h>

#include <string>

#include "app/win/property_sheet.h"
#include "app/win/rich_edit.h"
#include "wizard/page_look.h"

class CCprtPropPage : public win::PropertyPage {
public:
    CCprtPropPage();

protected:
    void DoDataExchange(win::DataExchange& dx) override;
    // Default character format, text, reading options, event mask ENM_PROTECTED; TRUE.
    BOOL OnInitDialog() override;
    // Shows Back "<戻る(&B)", captions Next "はい(&Y)" and Cancel "いいえ(&N)", resets the focus
    // counter to -1; TRUE.
    BOOL OnSetActive() override;
    // The cancel confirmation: TRUE = cancel, FALSE = stay.
    BOOL OnQueryCancel() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnNotify(const NMHDR& header, LRESULT& result) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT type) override;

private:
    void InitText();
    void OnSetFocusText();
    void OnKillFocusText();
    // EN_PROTECTED: *result = 1, the control refuses the change to the protected text.
    void OnProtectedText(const NMHDR* header, LRESULT* result);

    win::RichEdit m_richEdit;
    std::wstring m_strText;
    int m_nFocusCount = -1;
    page_look::PageLook m_look;
};
