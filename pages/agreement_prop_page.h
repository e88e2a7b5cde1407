// CAgreementPropPage: what the licence agreement page and the copyright notice page share. Each
// shows a text in a read-only rich edit control (1023) whose default character format protects
// every character; the caret follows what the user reads; Next ("はい(&Y)") agrees, Cancel
// ("いいえ(&N)") leads to the cancel confirmation. A page supplies its text in InitText.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <string>

#include "pages/setup_prop_page.h"
#include "win/rich_edit.h"

// The text control behaviour of the two pages.
namespace agreement_text {

// ECO_WANTRETURN | ECO_READONLY | ECO_AUTOWORDSELECTION, while the control is not focused.
inline constexpr DWORD kReadingOptions = 0x1801;
// The same with ECO_AUTOVSCROLL, while the control has the focus.
inline constexpr DWORD kFocusOptions = 0x1841;

// The default character format: the narrow record (60 bytes), size, face and protection in the
// mask, all text protected, 10 points, FF_MODERN | VARIABLE_PITCH, face "ＭＳ Ｐゴシック" as its
// code page 932 bytes (independent of the ANSI code page of the program).
CHARFORMATA TextFormat() noexcept;

// EM_SETOPTIONS with ECOOP_SET (the set replaces every option).
void SetOptions(const win::RichEdit& control, DWORD options) noexcept;

// EN_SETFOCUS: counts the focus; the first focus since the page became active (count 0) puts
// the caret at 0, a later one at the start of the top visible line (the view stays). The
// selection is empty either way; the focus options are set.
void OnSetFocus(const win::RichEdit& control, int& focusCount) noexcept;

}  // namespace agreement_text

class CAgreementPropPage : public CSetupPropPage {
public:
    explicit CAgreementPropPage(UINT templateId);

protected:
    void DoDataExchange(win::DataExchange& dx) override;
    // Default character format (while the control is empty), InitText, FormatText, reading
    // options, then the event mask ENM_PROTECTED once the text and its formats are in place; TRUE.
    BOOL OnInitDialog() override;
    // Shows Back "<戻る(&B)", captions Next "はい(&Y)" and Cancel "いいえ(&N)", resets the focus
    // counter to -1; TRUE.
    BOOL OnSetActive() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnNotify(const NMHDR& header, LRESULT& result) override;

    // Sets m_strText and puts it into the control.
    virtual void InitText() = 0;
    // Paragraph formats applied after the text; none by default.
    virtual void FormatText() {}

    win::RichEdit m_richEdit;
    std::wstring m_strText;
    int m_nFocusCount = -1;

private:
    void OnSetFocusText();
    void OnKillFocusText();
    // EN_PROTECTED: *result = 1, the control refuses the change to the protected text.
    void OnProtectedText(const NMHDR* header, LRESULT* result);
};
