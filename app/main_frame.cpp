#include "app/main_frame.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "win/handles.h"
#include "win/system.h"
#include "res/resource.h"

namespace {

const wchar_t kFrameClass[] = L"QuentaroSetupFrame";
const wchar_t kViewClass[] = L"QuentaroSetupView";
const wchar_t kFrameTitle[] = L"QUENTARO ｾｯﾄｱｯﾌﾟ";

// The toolbar resource (type 241): WORD version (1), WORD button width,
// WORD button height, WORD count, then `count` command ids, 0 = separator.
constexpr WORD kToolbarResourceType = 241;

struct ToolbarResource {
    int width = 0;
    int height = 0;
    std::vector<WORD> commands;
};

bool LoadToolbarResource(UINT id, ToolbarResource& out) {
    HINSTANCE instance = win::ResourceInstance();
    HRSRC info = ::FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(kToolbarResourceType));
    if (!info) return false;
    HGLOBAL handle = ::LoadResource(instance, info);
    const void* data = handle ? ::LockResource(handle) : nullptr;
    DWORD size = ::SizeofResource(instance, info);
    if (!data || size < 8) return false;
    WORD header[4];
    std::memcpy(header, data, sizeof(header));
    if (header[0] != 1 || size < 8u + 2u * header[3]) return false;
    out.width = header[1];
    out.height = header[2];
    out.commands.resize(header[3]);
    std::memcpy(out.commands.data(), static_cast<const unsigned char*>(data) + 8, 2u * header[3]);
    return true;
}

int WindowHeight(HWND hwnd) {
    RECT rect;
    // The style bit, not IsWindowVisible: the frame itself is hidden.
    if (!hwnd || !(::GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) || !::GetWindowRect(hwnd, &rect)) return 0;
    return rect.bottom - rect.top;
}

}  // namespace

// ---- CBlankView ------------------------------------------------------------

bool CBlankView::PreCreateWindow(CREATESTRUCTW& cs) {
    if (!win::Window::PreCreateWindow(cs)) return false;
    WNDCLASSEXW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kViewClass;
    if (!RegisterClass(wc)) return false;
    cs.lpszClass = kViewClass;
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    cs.style &= ~static_cast<LONG>(WS_BORDER);
    return true;
}

bool CBlankView::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_PAINT) {
        win::PaintScope paint(Hwnd());
        result = 0;
        return true;
    }
    return win::Window::OnMessage(msg, wp, lp, result);
}

// ---- CMainFrame ------------------------------------------------------------

bool CMainFrame::PreCreateWindow(CREATESTRUCTW& cs) {
    if (!win::FrameWindow::PreCreateWindow(cs)) return false;
    cs.dwExStyle &= ~static_cast<DWORD>(WS_EX_CLIENTEDGE | WS_EX_ACCEPTFILES);
    cs.lpszName = kFrameTitle;
    // Class style 0, no cursor, no background brush, no icon: OnCreate puts
    // the icon on the class.
    WNDCLASSEXW wc{};
    wc.lpszClassName = kFrameClass;
    if (!RegisterClass(wc)) return false;
    cs.lpszClass = kFrameClass;
    return true;
}

int CMainFrame::OnCreate(CREATESTRUCTW& cs) {
    if (win::FrameWindow::OnCreate(cs) == -1) return -1;

    CREATESTRUCTW view{};
    view.style = WS_CHILD | WS_VISIBLE | WS_BORDER;
    view.hwndParent = Hwnd();
    view.hMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_PANE_FIRST));
    if (!m_view.Create(view)) return -1;

    if (!CreateToolBar()) return -1;
    if (!CreateStatusBar()) return -1;

    // The frame never docks or floats its toolbar: it is never shown.
    HICON icon = ::LoadIconW(win::ResourceInstance(), MAKEINTRESOURCEW(IDI_SETUP));
    ::SetClassLongPtrW(Hwnd(), GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
    return 0;
}

bool CMainFrame::CreateToolBar() {
    m_toolBar = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                  WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0,
                                  0, Hwnd(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_TOOLBAR)),
                                  win::ResourceInstance(), nullptr);
    if (!m_toolBar) return false;
    ToolbarResource layout;
    if (!LoadToolbarResource(IDR_MAINFRAME, layout)) return false;

    ::SendMessageW(m_toolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(m_toolBar, TB_SETBITMAPSIZE, 0, MAKELPARAM(layout.width, layout.height));
    std::vector<TBBUTTON> buttons;
    int images = 0;
    for (WORD command : layout.commands) {
        TBBUTTON button{};
        if (command == 0) {
            button.fsStyle = TBSTYLE_SEP;
        } else {
            button.iBitmap = images++;
            button.idCommand = command;
            button.fsState = TBSTATE_ENABLED;
            button.fsStyle = TBSTYLE_BUTTON;
        }
        buttons.push_back(button);
    }
    TBADDBITMAP bitmap{win::ResourceInstance(), IDR_MAINFRAME};
    if (::SendMessageW(m_toolBar, TB_ADDBITMAP, static_cast<WPARAM>(images),
                       reinterpret_cast<LPARAM>(&bitmap)) == -1) {
        return false;
    }
    return ::SendMessageW(m_toolBar, TB_ADDBUTTONSW, buttons.size(),
                          reinterpret_cast<LPARAM>(buttons.data())) != 0;
}

bool CMainFrame::CreateStatusBar() {
    m_statusBar = ::CreateWindowExW(
        0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, 0, 0, 0, 0, Hwnd(),
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_STATUS_BAR)), win::ResourceInstance(), nullptr);
    if (!m_statusBar) return false;

    // The message pane, then the indicators CAP, NUM and SCRL at the right,
    // each as wide as its text. An indicator shows its text while its key is on.
    const UINT indicators[] = {ID_INDICATOR_CAP, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
    const int keys[] = {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL};
    std::wstring texts[3];
    int widths[3] = {};
    {
        win::WindowDc dc(m_statusBar);
        HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_statusBar, WM_GETFONT, 0, 0));
        win::ScopedSelect select(dc.Get(),
                                 font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
        for (int i = 0; i < 3; ++i) {
            texts[i] = win::LoadResourceString(indicators[i]);
            SIZE extent{};
            ::GetTextExtentPoint32W(dc.Get(), texts[i].c_str(), static_cast<int>(texts[i].size()), &extent);
            widths[i] = extent.cx + 12;
        }
    }
    // SB_SETPARTS takes each pane's right edge; the last pane runs to the end.
    RECT client;
    ::GetClientRect(Hwnd(), &client);
    int parts[4];
    parts[3] = -1;
    parts[2] = client.right - widths[2];
    parts[1] = parts[2] - widths[1];
    parts[0] = parts[1] - widths[0];
    ::SendMessageW(m_statusBar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(parts));
    std::wstring idle = win::LoadResourceString(IDS_IDLE_MESSAGE);
    ::SendMessageW(m_statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(idle.c_str()));
    for (int i = 0; i < 3; ++i) {
        const wchar_t* text = (::GetKeyState(keys[i]) & 1) ? texts[i].c_str() : L"";
        ::SendMessageW(m_statusBar, SB_SETTEXTW, static_cast<WPARAM>(i + 1), reinterpret_cast<LPARAM>(text));
    }
    return true;
}

bool CMainFrame::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg == WM_SETFOCUS) {
        if (m_view.Hwnd()) ::SetFocus(m_view.Hwnd());
        result = 0;
        return true;
    }
    return win::FrameWindow::OnMessage(msg, wp, lp, result);
}

bool CMainFrame::OnCommand(WORD id, WORD code, HWND control) {
    if (m_view.Hwnd() && m_view.RouteCommand(id, code, control)) return true;
    return win::FrameWindow::OnCommand(id, code, control);
}

void CMainFrame::RecalcLayout() {
    if (m_toolBar) ::SendMessageW(m_toolBar, TB_AUTOSIZE, 0, 0);
    if (m_statusBar) ::SendMessageW(m_statusBar, WM_SIZE, 0, 0);
    if (!m_view.Hwnd()) return;
    RECT client;
    ::GetClientRect(Hwnd(), &client);
    int top = WindowHeight(m_toolBar);
    int bottom = client.bottom - WindowHeight(m_statusBar);
    ::MoveWindow(m_view.Hwnd(), 0, top, client.right, bottom > top ? bottom - top : 0, TRUE);
}
