#include "win/dialog.h"

#include "win/app.h"
#include "win/rich_edit.h"
#include "win/subclass.h"
#include "win/system.h"
#include "win/window.h"

namespace win {

namespace {

// WM_CTLCOLORMSGBOX .. WM_CTLCOLORSTATIC: the seven consecutive colour requests.
bool IsCtlColor(UINT msg) {
    return msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC;
}

// Messages whose result is the dialog procedure's return value itself.
bool ReturnsDirectly(UINT msg) {
    if (IsCtlColor(msg)) return true;
    switch (msg) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return true;
    default:
        return false;
    }
}

std::wstring WindowText(HWND hwnd) {
    int length = ::GetWindowTextLengthW(hwnd);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = ::GetWindowTextW(hwnd, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

}  // namespace

// ---- DataExchange ----------------------------------------------------------

HWND DataExchange::Control(int id) const noexcept {
    return m_dialog.Item(id);
}

void DataExchange::Text(int id, std::wstring& value) {
    HWND control = Control(id);
    if (!control) return;
    if (m_saving) {
        value = WindowText(control);
    } else {
        ::SetWindowTextW(control, value.c_str());
    }
}

void DataExchange::Bind(int id, RichEdit& control) noexcept {
    if (!control.Hwnd()) control.Attach(Control(id));
}

void DataExchange::Bind(int id, Subclass& control) noexcept {
    if (!control.Hwnd()) control.Install(Control(id));
}

// ---- DialogWindow ----------------------------------------------------------

DialogWindow::~DialogWindow() {
    if (m_hwnd && ::IsWindow(m_hwnd)) ::SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
}

std::wstring DialogWindow::ItemText(int id) const {
    return WindowText(Item(id));
}

bool DialogWindow::UpdateData(bool saveAndValidate) {
    bool wasExchanging = m_exchanging;
    m_exchanging = true;
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    m_exchanging = wasExchanging;
    return true;
}

bool DialogWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (IsCtlColor(msg)) {
        HBRUSH brush =
            OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), msg - WM_CTLCOLORMSGBOX);
        if (!brush) return false;
        result = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    switch (msg) {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return true;
    case WM_COMMAND:
        // A control's notification during a data exchange is the exchange's
        // own doing: swallow it.
        if (m_exchanging && lp != 0) return true;
        return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
    case WM_NOTIFY:
        if (m_exchanging) return true;
        return OnNotify(*reinterpret_cast<const NMHDR*>(lp), result);
    case WM_TIMER:
        return OnTimer(static_cast<UINT_PTR>(wp));
    default:
        return false;
    }
}

BOOL DialogWindow::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

bool DialogWindow::OnCommand(WORD, WORD, HWND) {
    return false;
}

bool DialogWindow::OnNotify(const NMHDR&, LRESULT&) {
    return false;
}

HBRUSH DialogWindow::OnCtlColor(HDC dc, HWND control, UINT type) {
    return DefaultCtlColor(dc, control, type);
}

bool DialogWindow::OnTimer(UINT_PTR) {
    return false;
}

void DialogWindow::DoDataExchange(DataExchange&) {}

HBRUSH DialogWindow::DefaultCtlColor(HDC dc, HWND control, UINT type) const noexcept {
    // DefWindowProc sets the text and background colours in the DC and
    // returns the system brush, exactly what the dialog manager would do.
    return reinterpret_cast<HBRUSH>(::DefWindowProcW(
        m_hwnd, WM_CTLCOLORMSGBOX + type, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
}

void DialogWindow::Attach(HWND hwnd) noexcept {
    m_hwnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
}

INT_PTR DialogWindow::Dispatch(UINT msg, WPARAM wp, LPARAM lp) noexcept {
    HWND hwnd = m_hwnd;
    LRESULT result = 0;
    bool handled = OnMessage(msg, wp, lp, result);
    if (msg == WM_NCDESTROY) {
        // The page or dialog object lives on; it only forgets its window.
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        m_hwnd = nullptr;
        return FALSE;
    }
    if (!handled) return FALSE;
    if (ReturnsDirectly(msg)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---- Dialog ----------------------------------------------------------------

INT_PTR Dialog::DoModal(HWND owner) {
    if (!owner) {
        App* app = App::Current();
        if (app && app->m_pMainWnd) owner = app->m_pMainWnd->Hwnd();
    }
    return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(m_templateId), owner, &Dialog::DialogProc,
                             reinterpret_cast<LPARAM>(static_cast<DialogWindow*>(this)));
}

bool Dialog::OnCommand(WORD id, WORD, HWND) {
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        OnCancel();
        return true;
    default:
        return false;
    }
}

void Dialog::OnOK() {
    UpdateData(true);
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    DialogWindow* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<DialogWindow*>(lp);
        static_cast<Dialog*>(self)->Attach(hwnd);
    } else {
        self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;  // WM_SETFONT and the like before WM_INITDIALOG
    return static_cast<Dialog*>(self)->Dispatch(msg, wp, lp);
}

}  // namespace win
