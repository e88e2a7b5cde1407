#include "win/property_sheet.h"

#include <cstring>

#include "win/app.h"
#include "win/system.h"
#include "win/window.h"

namespace win {

namespace {

constexpr INT_PTR kIdWizFinish = 12325;

// The sheet whose PropertySheetW call is running on the UI thread: the sheet
// callback has no context parameter. One modal sheet at a time.
PropertySheet* g_running = nullptr;

// The EndWizard request, posted to the sheet window.
UINT EndMessage() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"quentaro.win.EndWizard");
    return message;
}

}  // namespace

// ---- PropertyPage ----------------------------------------------------------

PROPSHEETPAGEW PropertyPage::Describe() noexcept {
    PROPSHEETPAGEW psp{};
    psp.dwSize = sizeof(psp);
    psp.dwFlags = PSP_DEFAULT;  // the caption comes from the template
    psp.hInstance = ResourceInstance();
    psp.pszTemplate = MAKEINTRESOURCEW(m_templateId);
    psp.pfnDlgProc = &PropertyPage::PageProc;
    psp.lParam = reinterpret_cast<LPARAM>(this);
    return psp;
}

bool PropertyPage::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_NOTIFY) {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lp);
        if (header.hwndFrom == SheetHwnd() && OnSheetNotify(header, result)) return true;
    }
    return DialogWindow::OnMessage(msg, wp, lp, result);
}

bool PropertyPage::OnSheetNotify(const NMHDR& header, LRESULT& result) {
    switch (header.code) {
    case PSN_SETACTIVE:  // 0 = accept the activation, -1 = refuse it
        result = OnSetActive() ? 0 : -1;
        return true;
    case PSN_KILLACTIVE:  // FALSE = may leave, TRUE = stay
        result = OnKillActive() ? FALSE : TRUE;
        return true;
    case PSN_WIZNEXT:  // 0 = next page, -1 = stay, else a template id
        result = OnWizardNext();
        return true;
    case PSN_WIZBACK:
        result = OnWizardBack();
        return true;
    case PSN_WIZFINISH:  // FALSE = finish, TRUE = keep the wizard open
        result = OnWizardFinish() ? FALSE : TRUE;
        return true;
    case PSN_QUERYCANCEL:  // FALSE = cancel, TRUE = refuse
        if (m_sheet && m_sheet->IsEnding()) {
            result = FALSE;
        } else {
            result = OnQueryCancel() ? FALSE : TRUE;
        }
        return true;
    case PSN_RESET:
        OnReset();
        result = 0;
        return true;
    default:
        return false;
    }
}

BOOL PropertyPage::OnSetActive() {
    if (m_firstSetActive) {
        m_firstSetActive = false;
    } else {
        UpdateData(false);
    }
    return TRUE;
}

BOOL PropertyPage::OnKillActive() {
    UpdateData(true);
    return TRUE;
}

LRESULT PropertyPage::OnWizardNext() {
    return 0;
}

LRESULT PropertyPage::OnWizardBack() {
    return 0;
}

BOOL PropertyPage::OnWizardFinish() {
    return TRUE;
}

BOOL PropertyPage::OnQueryCancel() {
    return TRUE;
}

INT_PTR CALLBACK PropertyPage::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    PropertyPage* self = nullptr;
    if (msg == WM_INITDIALOG) {
        // lp is comctl32's copy of our PROPSHEETPAGEW; its lParam is the page.
        self = reinterpret_cast<PropertyPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(lp)->lParam);
        self->Attach(hwnd);
        if (self->m_sheet) self->m_sheet->Attach(::GetParent(hwnd));
    } else {
        self =
            static_cast<PropertyPage*>(reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER)));
    }
    if (!self) return FALSE;
    return self->Dispatch(msg, wp, lp);
}

// ---- PropertySheet ---------------------------------------------------------

PropertySheet::PropertySheet(const wchar_t* caption, HWND parent, UINT startPage)
    : m_caption(caption ? caption : L""), m_parent(parent) {
    m_header.nStartPage = startPage;
}

PropertySheet::~PropertySheet() {
    m_hook.Remove();
}

void PropertySheet::AddPage(PropertyPage& page) {
    page.m_sheet = this;
    m_pages.push_back(&page);
}

INT_PTR PropertySheet::DoModal() {
    std::vector<PROPSHEETPAGEW> pages;
    pages.reserve(m_pages.size());
    for (PropertyPage* page : m_pages) {
        page->m_firstSetActive = true;
        pages.push_back(page->Describe());
    }

    PROPSHEETHEADERW header = m_header;
    header.dwSize = sizeof(header);
    header.dwFlags |= PSH_PROPSHEETPAGE | PSH_USECALLBACK;
    header.hwndParent = m_parent;
    if (!header.hwndParent) {
        App* app = App::Current();
        if (app && app->m_pMainWnd) header.hwndParent = app->m_pMainWnd->Hwnd();
    }
    header.hInstance = ResourceInstance();
    header.pszCaption = m_caption.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.ppsp = pages.data();
    header.pfnCallback = &PropertySheet::SheetCallback;

    m_endRequested = false;
    m_ending = false;
    g_running = this;
    // Modal: >= 1 finished or applied, 0 cancelled, -1 failed.
    INT_PTR result = ::PropertySheetW(&header);
    g_running = nullptr;
    m_hook.Remove();
    m_hwnd = nullptr;

    if (result < 0) return -1;
    if (result == 0) return IDCANCEL;
    return IsWizard() ? kIdWizFinish : IDOK;
}

bool PropertySheet::EndWizard(int code) noexcept {
    HWND hwnd = Hwnd();
    if (!hwnd) return false;
    m_endCode = code;
    m_endRequested = true;
    return ::PostMessageW(hwnd, EndMessage(), 0, 0) != 0;
}

bool PropertySheet::IsCloseDisabled() const noexcept {
    HWND hwnd = Hwnd();
    if (!hwnd) return false;
    HMENU menu = ::GetSystemMenu(hwnd, FALSE);
    if (!menu) return false;
    UINT state = ::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1)) return false;  // no Close item
    return (state & (MF_DISABLED | MF_GRAYED)) != 0;
}

void PropertySheet::OnPreCreate(DWORD&, DWORD&) {}

bool PropertySheet::OnSheetMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
    if (msg == EndMessage()) {
        // The same path as Escape: comctl32 asks the active page (which
        // agrees at once while m_ending is set), resets the pages and ends
        // the modal loop.
        m_ending = true;
        CallSheetProc(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(Item(IDCANCEL)));
        result = 0;
        return true;
    }
    switch (msg) {
    case WM_CLOSE:
        if (!OnClose()) return false;
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) != SC_CLOSE || !OnSysClose()) return false;
        result = 0;
        return true;
    default:
        return false;
    }
}

bool PropertySheet::OnClose() {
    if (!IsCloseDisabled()) {
        ::PostMessageW(Hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(Item(IDCANCEL)));
    }
    return true;
}

bool PropertySheet::OnSysClose() {
    return IsCloseDisabled();
}

void PropertySheet::Attach(HWND hwnd) noexcept {
    if (!hwnd || m_hwnd.load() == hwnd) return;
    m_hwnd = hwnd;
    m_hook.Install(hwnd);
}

int CALLBACK PropertySheet::SheetCallback(HWND hwnd, UINT msg, LPARAM lp) noexcept {
    PropertySheet* self = g_running;
    if (!self) return 0;
    switch (msg) {
    case PSCB_PRECREATE: {
        // lp: the sheet's template, a DLGTEMPLATE or (signature 0xFFFF) a
        // DLGTEMPLATEEX: WORD dlgVer, WORD signature, DWORD helpID, DWORD
        // exStyle, DWORD style.
        auto* bytes = reinterpret_cast<unsigned char*>(lp);
        WORD signature;
        std::memcpy(&signature, bytes + 2, sizeof(signature));
        const bool extended = signature == 0xFFFF;
        const size_t styleAt = extended ? 12 : 0;
        const size_t exStyleAt = extended ? 8 : 4;
        DWORD style, exStyle;
        std::memcpy(&style, bytes + styleAt, sizeof(style));
        std::memcpy(&exStyle, bytes + exStyleAt, sizeof(exStyle));
        self->OnPreCreate(style, exStyle);
        std::memcpy(bytes + styleAt, &style, sizeof(style));
        std::memcpy(bytes + exStyleAt, &exStyle, sizeof(exStyle));
        break;
    }
    case PSCB_INITIALIZED:
        self->Attach(hwnd);
        self->OnInitialized();
        break;
    default:
        break;
    }
    return 0;
}

}  // namespace win
