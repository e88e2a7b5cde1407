// Property sheet (run as a wizard) and property page, over PropertySheetW.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <atomic>
#include <string>
#include <vector>

#include "win/dialog.h"
#include "win/subclass.h"

namespace win {

class PropertySheet;

// One page: a dialog template of the program plus this object. The sheet
// creates the page's window the first time the page is shown; the object
// (normally a member of the sheet) outlives it.
//
// Sheet notifications (WM_NOTIFY from the sheet) become the virtuals below;
// the layer turns their return values into the DWLP_MSGRESULT values that
// comctl32 expects. Control notifications still go to OnNotify/OnCommand.
class PropertyPage : public DialogWindow {
public:
    explicit PropertyPage(UINT templateId) noexcept : m_templateId(templateId) {}

    UINT TemplateId() const noexcept { return m_templateId; }
    // The sheet that the page was added to (nullptr before AddPage).
    PropertySheet* Sheet() const noexcept { return m_sheet; }
    // The sheet window: the page window's parent.
    HWND SheetHwnd() const noexcept { return ::GetParent(Hwnd()); }
    // A child of the sheet window, such as a wizard button (12323 Back,
    // 12324 Next, 12325 Finish, 2 Cancel).
    HWND SheetItem(int id) const noexcept { return ::GetDlgItem(SheetHwnd(), id); }

    // The page's description for PropertySheetW: lParam = this.
    PROPSHEETPAGEW Describe() noexcept;

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

    // PSN_SETACTIVE, the page is about to be shown. TRUE = show it, FALSE =
    // refuse (result -1). Default: on every activation but the first,
    // UpdateData(false); TRUE.
    virtual BOOL OnSetActive();
    // PSN_KILLACTIVE, the page is about to be left (also after Next/Back).
    // TRUE = may leave, FALSE = stay. Default: UpdateData(true); TRUE.
    virtual BOOL OnKillActive();
    // PSN_WIZNEXT / PSN_WIZBACK. 0 = go to the next / previous page, -1 =
    // stay, or the template id of the page to go to. Default 0.
    virtual LRESULT OnWizardNext();
    virtual LRESULT OnWizardBack();
    // PSN_WIZFINISH. TRUE = the wizard may finish, FALSE = it stays open.
    // Default TRUE.
    virtual BOOL OnWizardFinish();
    // PSN_QUERYCANCEL, asked of the active page before the sheet is
    // cancelled (Cancel button, Escape, close). TRUE = cancel, FALSE = stay.
    // Default TRUE. Not asked when the sheet is ending itself (EndWizard).
    virtual BOOL OnQueryCancel();
    // PSN_RESET: the sheet is being cancelled; sent to every page that has a window.
    virtual void OnReset() {}

private:
    friend class PropertySheet;
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    bool OnSheetNotify(const NMHDR& header, LRESULT& result);

    UINT m_templateId;
    PropertySheet* m_sheet = nullptr;
    bool m_firstSetActive = true;
};

// A property sheet over PropertySheetW. Pages are added once; DoModal runs
// the sheet. In wizard mode set PSH_WIZARD in Header().dwFlags before
// DoModal (no PSH_WIZARD97: the look of comctl32 5).
//
// The sheet window is subclassed while it exists (OnSheetMessage), which
// gives the program the close handling that Windows and Wine disagree on:
// - WM_CLOSE: comctl32 asks PSN_QUERYCANCEL itself and then lets the dialog
//   manager post IDCANCEL, which asks again (Wine shows a confirmation twice
//   when the first answer is "stay"). OnClose() replaces that by one Cancel
//   press, or nothing while the Close item of the system menu is disabled.
// - WM_SYSCOMMAND SC_CLOSE (title bar, Alt+F4): Wine delivers it even while
//   the Close item is disabled; OnSysClose() swallows it then.
class PropertySheet {
public:
    // `parent` nullptr: the application's main window owns the sheet (and is
    // disabled while it runs). `startPage` is the index of the first page shown.
    PropertySheet(const wchar_t* caption, HWND parent, UINT startPage);
    virtual ~PropertySheet();
    PropertySheet(const PropertySheet&) = delete;
    PropertySheet& operator=(const PropertySheet&) = delete;

    // Pages are shown in the order they are added.
    void AddPage(PropertyPage& page);

    // The header that DoModal passes on. The layer fills in dwSize, hwndParent,
    // hInstance, pszCaption, nPages, nStartPage, ppsp and pfnCallback, and adds
    // PSH_PROPSHEETPAGE | PSH_USECALLBACK; flags such as PSH_WIZARD and
    // PSH_USEHICON (with hIcon) are the caller's.
    PROPSHEETHEADERW& Header() noexcept { return m_header; }
    bool IsWizard() const noexcept { return (m_header.dwFlags & PSH_WIZARD) != 0; }

    // Runs the sheet modally. Returns, in wizard mode, 12325 (ID_WIZFINISH)
    // when it was finished, otherwise IDOK when changes were applied; IDCANCEL
    // when it was cancelled (also after EndWizard), -1 when it could not be
    // created.
    virtual INT_PTR DoModal();

    // The sheet window while the sheet runs, else nullptr.
    HWND Hwnd() const noexcept { return m_hwnd.load(); }
    HWND Item(int id) const noexcept { return ::GetDlgItem(Hwnd(), id); }

    // Any thread: asks the sheet to close as if cancelled, without asking the
    // pages (OnQueryCancel is skipped; PSN_RESET is sent). The request is
    // posted, so the sheet ends on its own thread; DoModal then returns
    // IDCANCEL and EndRequested() is true with EndCode() = `code`.
    // Returns false if no sheet window exists. After the call the caller must
    // not touch the sheet or its pages: they may be gone at any moment.
    bool EndWizard(int code) noexcept;
    bool EndRequested() const noexcept { return m_endRequested.load(); }
    int EndCode() const noexcept { return m_endCode.load(); }

    // Whether the Close item (SC_CLOSE) of the sheet's system menu is disabled or grayed.
    bool IsCloseDisabled() const noexcept;

protected:
    // PSCB_PRECREATE: the sheet's own dialog template is about to be used;
    // its styles may be changed here (plain or extended template alike).
    virtual void OnPreCreate(DWORD& style, DWORD& exStyle);
    // PSCB_INITIALIZED: the sheet window exists and is subclassed, not yet
    // shown. The place for what other windows do at WM_CREATE.
    virtual void OnInitialized() {}

    // Messages of the sheet window, before comctl32 sees them. true = handled
    // (comctl32 does not see it), `result` is the return value. The default
    // handles WM_CLOSE, WM_SYSCOMMAND SC_CLOSE and the EndWizard request.
    virtual bool OnSheetMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    // WM_CLOSE. Default: nothing while Close is disabled, else one press of
    // Cancel (which asks the active page once). true = WM_CLOSE handled.
    virtual bool OnClose();
    // WM_SYSCOMMAND SC_CLOSE. Default: swallowed (true) while Close is
    // disabled; otherwise false, and WM_CLOSE follows.
    virtual bool OnSysClose();

    // Passes a message to comctl32's own sheet procedure.
    LRESULT CallSheetProc(UINT msg, WPARAM wp, LPARAM lp) const noexcept {
        return m_hook.Original(msg, wp, lp);
    }

private:
    friend class PropertyPage;
    class Hook final : public Subclass {
    public:
        explicit Hook(PropertySheet& sheet) noexcept : m_sheet(sheet) {}
        LRESULT Original(UINT msg, WPARAM wp, LPARAM lp) const noexcept { return CallOriginal(msg, wp, lp); }

    protected:
        bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
            return m_sheet.OnSheetMessage(msg, wp, lp, result);
        }

    private:
        PropertySheet& m_sheet;
    };

    static int CALLBACK SheetCallback(HWND hwnd, UINT msg, LPARAM lp) noexcept;
    void Attach(HWND hwnd) noexcept;
    bool IsEnding() const noexcept { return m_ending; }

    std::wstring m_caption;
    HWND m_parent;
    PROPSHEETHEADERW m_header{};
    std::vector<PropertyPage*> m_pages;
    Hook m_hook{*this};
    std::atomic<HWND> m_hwnd{nullptr};
    std::atomic<bool> m_endRequested{false};
    std::atomic<int> m_endCode{0};
    bool m_ending = false;  // UI thread: the EndWizard request is being carried out
};

}  // namespace win
