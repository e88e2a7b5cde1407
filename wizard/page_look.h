// The look that the wizard pages share: the title and body fonts, applied by control id while a
// control is drawn (WM_CTLCOLOR*), the captions of the sheet's buttons, and the cancel
// confirmation of the first four pages.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <vector>

#include "win/handles.h"
#include "win/property_sheet.h"
#include "win/subclass.h"

namespace page_look {

// The face of both page fonts.
inline constexpr wchar_t kFaceName[] = L"ＭＳ Ｐゴシック";

// Captions of the sheet's buttons. The two "next" captions are different strings.
inline constexpr wchar_t kNextArrowAfter[] = L"次へ(&N)>";   // welcome page; the install page's Finish
inline constexpr wchar_t kNextArrowBefore[] = L"次へ>(&N)";  // destination page
inline constexpr wchar_t kBack[] = L"<戻る(&B)";
inline constexpr wchar_t kYes[] = L"はい(&Y)";
inline constexpr wchar_t kNo[] = L"いいえ(&N)";
inline constexpr wchar_t kCancel[] = L"キャンセル";

// The cancel confirmation.
inline constexpr wchar_t kCancelText[] =
    L"     ｾｯﾄｱｯﾌﾟは完了していません。\n\nインストールを中止してもよろしいですか?";
inline constexpr wchar_t kCancelCaption[] = L"ｾｯﾄｱｯﾌﾟの中止";

// The heading of every page: drawn with the title font.
inline constexpr int kHeadingId = 1018;

// A static text control that draws with the font its dialog selects into the device context in
// WM_CTLCOLORSTATIC. Windows' static control selects its own font (the dialog font, given by the
// dialog manager at creation) before it asks its parent for the colours, so the parent's font
// wins; Wine's selects it afterwards, so the dialog font would win there. The control is
// therefore left without a font of its own: it remembers the dialog font for WM_GETFONT (and
// for a later WM_SETFONT) but draws with whatever the page selected. Nothing is ever sent to the
// control: the subclass calls the original procedure directly, once.
class CtlColorFontText final : public win::Subclass {
public:
    bool Attach(HWND control) noexcept;

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    HFONT m_font = nullptr;
};

// The two fonts of one page and the rule that chooses between them by control id.
class PageLook {
public:
    // What the page draws the controls that are neither the heading nor listed with.
    enum class Others {
        kTemplateFont,  // nothing is selected: the control keeps the font of its template
        kBodyFont,      // the body font (the welcome page)
    };

    // Sizes in tenths of a point. Both fonts are "ＭＳ Ｐゴシック", created for the screen as a
    // point font (DEFAULT_CHARSET, every other LOGFONT field 0); the title font is the bold form
    // of its size: an intermediate point font, its LOGFONT with lfWeight 700, CreateFontIndirect,
    // and the intermediate font deleted. Both live as long as this object.
    PageLook(int titleSize, int bodySize, std::initializer_list<int> bodyIds, Others others);

    HFONT TitleFont() const noexcept { return m_titleFont.Get(); }
    HFONT BodyFont() const noexcept { return m_bodyFont.Get(); }

    // The font for control `id`: the title font for 1018, the body font for the listed ids (or
    // every other id with Others::kBodyFont); nullptr = nothing is selected.
    HFONT FontFor(int id) const noexcept;

    // OnCtlColor after the default colour handling: selects the font for the control's id
    // (GetDlgCtrlID) into `dc`; nothing for an id that takes no page font.
    void SelectFont(HDC dc, HWND control) const noexcept;

    // From the page's OnInitDialog: makes the page's static texts that take a page font draw
    // with it on every system (see CtlColorFontText).
    void AttachTexts(HWND page);

private:
    win::UniqueFont m_titleFont;
    win::UniqueFont m_bodyFont;
    std::vector<int> m_bodyIds;
    Others m_others;
    std::vector<std::unique_ptr<CtlColorFontText>> m_texts;
};

// Sets the caption of one of the sheet's buttons (12323 Back, 12324 Next, 12325 Finish, 2 Cancel).
void SetButtonCaption(const win::PropertyPage& page, int buttonId, const wchar_t* caption) noexcept;

// ShowWindow on one of the sheet's buttons: SW_SHOW or SW_HIDE.
void ShowButton(const win::PropertyPage& page, int buttonId, int show) noexcept;

// The cancel confirmation of the welcome, licence, copyright and destination pages: a message
// box owned by the page, MB_YESNO | MB_ICONEXCLAMATION. FALSE (stay) when the answer is No,
// otherwise TRUE (cancel).
BOOL ConfirmCancel(const win::PropertyPage& page) noexcept;

}  // namespace page_look
