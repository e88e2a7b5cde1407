// Dialog base, data exchange, and the modal dialog.
#pragma once

#include <windows.h>

#include <string>

namespace win {

class DialogWindow;
class RichEdit;
class Subclass;

// One data exchange between a dialog's controls and its members, run by
// DialogWindow::UpdateData(). Saving() tells the direction: true = controls
// into members, false = members into controls.
class DataExchange {
public:
    DataExchange(DialogWindow& dialog, bool saving) noexcept : m_dialog(dialog), m_saving(saving) {}

    bool Saving() const noexcept { return m_saving; }
    HWND Control(int id) const noexcept;

    // The window text of control `id` <-> value (edit boxes, statics, rich edits).
    void Text(int id, std::wstring& value);
    // Attaches the wrapper to control `id` the first time (both directions).
    void Bind(int id, RichEdit& control) noexcept;
    // Installs the subclass on control `id` the first time (both directions).
    void Bind(int id, Subclass& control) noexcept;

private:
    DialogWindow& m_dialog;
    bool m_saving;
};

// What dialogs and property pages share: the HWND, a virtual dispatcher with
// the dialog-procedure return rules handled in one place, the common hooks,
// and data exchange.
//
// Return rules (done by the layer, not by handlers): a handled message sets
// its result with SetWindowLongPtr(DWLP_MSGRESULT) and the procedure returns
// TRUE; the few messages whose result is the procedure's return value
// (WM_CTLCOLOR*, WM_INITDIALOG, WM_QUERYDRAGICON, WM_COMPAREITEM,
// WM_VKEYTOITEM, WM_CHARTOITEM) return it directly. Unhandled = FALSE, and
// the dialog manager does the default.
class DialogWindow {
public:
    DialogWindow() noexcept = default;
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    HWND Hwnd() const noexcept { return m_hwnd; }
    HWND Item(int id) const noexcept { return ::GetDlgItem(m_hwnd, id); }
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const wchar_t* text) const noexcept { ::SetDlgItemTextW(m_hwnd, id, text); }

    // Runs DoDataExchange in the direction given (true = controls into
    // members). While it runs, notifications from controls (WM_COMMAND with a
    // control, WM_NOTIFY) are ignored, so that writing a control does not
    // reach the page's change handlers. Returns true (no validation fails).
    bool UpdateData(bool saveAndValidate = true);
    bool IsExchanging() const noexcept { return m_exchanging; }

protected:
    // The dispatcher; the default sends the common messages to the hooks
    // below. Override to handle others and call the base for the rest.
    // true = handled, with `result` as the message's result.
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    // WM_INITDIALOG. Default: UpdateData(false), TRUE. Return TRUE to let the
    // system focus the first tab stop, FALSE when the handler set the focus.
    virtual BOOL OnInitDialog();
    // WM_COMMAND (menu, accelerator or control notification): true = handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    // WM_NOTIFY from a control: true = handled, `result` is the notification's answer.
    virtual bool OnNotify(const NMHDR& header, LRESULT& result);
    // WM_CTLCOLOR*: the brush to paint the control's background; `type` is
    // CTLCOLOR_STATIC, CTLCOLOR_EDIT, ... Default: DefaultCtlColor().
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT type);
    // WM_TIMER: true = handled.
    virtual bool OnTimer(UINT_PTR id);
    // The bindings of controls to members; see DataExchange.
    virtual void DoDataExchange(DataExchange& dx);

    // The system's colours and brush for a control of `type` (what an
    // unhandled WM_CTLCOLOR* gives): for overrides that only change the font.
    HBRUSH DefaultCtlColor(HDC dc, HWND control, UINT type) const noexcept;

    // The dialog procedure body, shared by the thunks.
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp) noexcept;
    // Attaches the object to its window (called by the thunks at WM_INITDIALOG).
    void Attach(HWND hwnd) noexcept;

private:
    HWND m_hwnd = nullptr;
    bool m_exchanging = false;
};

// A modal dialog on a template of the program's resources.
class Dialog : public DialogWindow {
public:
    explicit Dialog(UINT templateId) noexcept : m_templateId(templateId) {}

    // DialogBoxParamW. The owner defaults to the application's main window.
    // Returns the EndDialog value, or -1 if the dialog could not be created.
    INT_PTR DoModal(HWND owner = nullptr);
    void EndDialog(INT_PTR result) const noexcept { ::EndDialog(Hwnd(), result); }

protected:
    // Default: IDOK -> OnOK(), IDCANCEL -> OnCancel().
    bool OnCommand(WORD id, WORD code, HWND control) override;
    // Default: UpdateData(true), then EndDialog(IDOK).
    virtual void OnOK();
    // Default: EndDialog(IDCANCEL).
    virtual void OnCancel();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    UINT m_templateId;
};

}  // namespace win
