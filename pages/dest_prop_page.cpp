#include "pages/dest_prop_page.h"

#include <shlobj.h>

#include <limits>

#include "win/file.h"
#include "core/folders.h"
#include "core/text.h"
#include "engine/setup_common.h"
#include "engine/win/win_ports.h"
#include "res/resource.h"

namespace {

constexpr wchar_t kDefaultFolderUnderRoot[] = L"Program Files\\QUENTARO\\lw-r7100_lw-r710r";
constexpr wchar_t kBrowseTitle[] = L"ﾌｫﾙﾀﾞを選択してください。";
constexpr wchar_t kInvalidPath[] = L"このパスは無効です。";

}  // namespace

CDestPropPage::CDestPropPage()
    : CSetupPropPage(IDD_DESTINATION, 150, 100,
                     {IDC_SUBTITLE, IDC_INSTRUCTIONS, IDC_FREE_SPACE, IDC_NEED_SPACE},
                     page_look::PageLook::Others::kTemplateFont) {
    m_platformKind = quentaro::QueryPlatformKind();
    SetDefaultFolders();
}

std::wstring CDestPropPage::DestinationFolder() const {
    // The page's data exchange may have read the edit box again after Next accepted the
    // trimmed folder; what was accepted is the text without its leading white space.
    const std::u16string folder = quentaro::ToU16(m_destinationFolder);
    return quentaro::ToWide(quentaro::TrimmedLeadingWhiteSpace(folder));
}

void CDestPropPage::SetDefaultFolders() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) system[0] = L'\0';  // failed, or did not fit
    m_systemFolder = system;
    // The drive letter, the colon and the backslash; "Program Files" is literal, also on 64-bit
    // Windows.
    m_destinationFolder = m_systemFolder.substr(0, 3) + kDefaultFolderUnderRoot;
}

void CDestPropPage::DoDataExchange(win::DataExchange& dx) {
    dx.Text(IDC_FOLDER, m_destinationFolder);
}

BOOL CDestPropPage::OnInitDialog() {
    CSetupPropPage::OnInitDialog();
    SelectFolderText();
    return TRUE;
}

void CDestPropPage::SelectFolderText() {
    HWND edit = Item(IDC_FOLDER);
    ::SetFocus(edit);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

BOOL CDestPropPage::OnSetActive() {
    page_look::SetButtonCaption(*this, ID_WIZNEXT, page_look::kNextArrowBefore);
    page_look::SetButtonCaption(*this, IDCANCEL, page_look::kCancel);
    ShowNeededSpace();
    ShowFreeSpace();
    return win::PropertyPage::OnSetActive();
}

void CDestPropPage::ShowNeededSpace() {
    win::File package;
    if (!package.Open(setup::kDataFileName, win::File::Mode::kRead)) return;
    std::uint64_t length = 0;
    if (!package.GetLength(length)) return;
    // The package's length is a 32-bit count for any package that the install page accepts;
    // a larger file still shows its real size rather than the size modulo 4 GiB.
    const std::u16string text = length <= std::numeric_limits<std::uint32_t>::max()
                                    ? quentaro::FormatNeededSpace(static_cast<std::uint32_t>(length))
                                    : u"必要容量: " + quentaro::FormatMegabytes(length) + u" MB";
    SetItemText(IDC_NEED_SPACE, quentaro::ToWide(text).c_str());
}

void CDestPropPage::ShowFreeSpace() {
    const std::u16string typed = quentaro::ToU16(m_destinationFolder);
    const std::u16string_view folder = quentaro::TrimmedLeadingWhiteSpace(typed);
    const std::u16string text = quentaro::FreeSpaceText(folder, quentaro::QueryTotalFreeBytes);
    m_destinationFolder = quentaro::ToWide(folder);  // without its leading white space
    SetItemText(IDC_FREE_SPACE, quentaro::ToWide(text).c_str());
}

bool CDestPropPage::OnCommand(WORD id, WORD code, HWND) {
    if (id == IDC_BROWSE && code == BN_CLICKED) {
        OnBrowse();
        return true;
    }
    if (id == IDC_FOLDER && code == EN_CHANGE) {
        OnChangeFolder();
        return true;
    }
    return false;
}

void CDestPropPage::OnChangeFolder() {
    UpdateData(true);
    ShowFreeSpace();
}

std::wstring CDestPropPage::BrowseFolder() {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = SheetHwnd();
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = nullptr;  // no callback: nothing is preselected
    LPITEMIDLIST chosen = ::SHBrowseForFolderW(&info);
    if (!chosen) return std::wstring();  // cancelled
    wchar_t path[MAX_PATH] = {};
    const BOOL gotPath = ::SHGetPathFromIDListW(chosen, path);
    ::CoTaskMemFree(chosen);
    return gotPath ? std::wstring(path) : std::wstring();
}

void CDestPropPage::OnBrowse() {
    const std::wstring folder = BrowseFolder();
    if (!folder.empty()) {
        m_destinationFolder = folder;  // exactly as chosen: nothing is appended
        UpdateData(false);
    }
    SelectFolderText();
    ShowFreeSpace();
}

LRESULT CDestPropPage::OnWizardNext() {
    UpdateData(true);
    const std::u16string typed = quentaro::ToU16(m_destinationFolder);
    const std::u16string_view folder = quentaro::TrimmedLeadingWhiteSpace(typed);
    quentaro::WinFolderPort port;
    const bool accepted = quentaro::AcceptDestinationFolder(folder, port);
    m_destinationFolder = quentaro::ToWide(folder);  // without its leading white space
    if (!accepted) {
        setup::ShowErrorBox(Hwnd(), kInvalidPath);
        SelectFolderText();
        return -1;
    }
    // From now on the wizard cannot be closed from its title bar or its system menu.
    ::EnableMenuItem(::GetSystemMenu(SheetHwnd(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_DISABLED);
    return 0;
}
