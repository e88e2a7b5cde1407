// Shell links over COM: CoInitialize on the calling thread, one CLSID_ShellLink object, its
// IPersistFile on demand, the shell folders and the change notification.
#include "engine/win/win_ports.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "win/com_ptr.h"
#include "win/handles.h"

namespace quentaro {
namespace {

class WinShellLink : public ShellLink {
public:
    explicit WinShellLink(win::ComPtr<IShellLinkW> link) : m_link(std::move(link)) {}

    bool LoadTarget(std::u16string_view linkFile, std::u16string& target) override {
        target.clear();
        win::ComPtr<IPersistFile> file;
        if (FAILED(m_link.As(IID_IPersistFile, file))) return false;
        const std::wstring name = ToWide(linkFile);
        // Load fills the one link object with the file's contents; a file that is no link (or a
        // folder) fails.
        if (FAILED(file->Load(name.c_str(), STGM_READ))) return false;
        wchar_t path[MAX_PATH] = {};
        WIN32_FIND_DATAW findData{};
        // GetPath: S_FALSE and an empty path for a link without a file target; not examined.
        m_link->GetPath(path, MAX_PATH, &findData, SLGP_UNCPRIORITY);
        target = ToU16(path);
        return true;
    }

    bool Save(std::u16string_view linkFile, const LinkProperties& properties) override {
        const std::wstring targetPath = ToWide(properties.targetPath);
        const std::wstring workingDirectory = ToWide(properties.workingDirectory);
        const std::wstring description = ToWide(properties.description);
        // The results of the setters are not examined: a link that cannot take them fails to save.
        m_link->SetPath(targetPath.c_str());
        m_link->SetWorkingDirectory(workingDirectory.c_str());
        m_link->SetDescription(description.c_str());
        m_link->SetShowCmd(properties.showCommand);
        // A link loaded earlier into this object leaves nothing of its own in the one saved now.
        m_link->SetArguments(L"");
        m_link->SetIconLocation(L"", 0);
        m_link->SetHotkey(0);

        win::ComPtr<IPersistFile> file;
        if (FAILED(m_link.As(IID_IPersistFile, file))) return false;
        const std::wstring name = ToWide(linkFile);
        // Save with fRemember FALSE: the object does not take the file as its own.
        if (FAILED(file->Save(name.c_str(), FALSE))) return false;
        file->SaveCompleted(name.c_str());
        return true;
    }

private:
    win::ComPtr<IShellLinkW> m_link;
};

}  // namespace

ComScope WinShortcutPort::StartCom() {
    // CoInitialize: S_OK, S_FALSE when the thread already has COM, a negative HRESULT on failure.
    // Each success, S_FALSE too, is balanced by one CoUninitialize on this thread.
    return ComScope(static_cast<std::int32_t>(::CoInitialize(nullptr)), [] { ::CoUninitialize(); });
}

std::unique_ptr<ShellLink> WinShortcutPort::CreateShellLink() {
    win::ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid()))) {
        return nullptr;
    }
    return std::make_unique<WinShellLink>(std::move(link));
}

void WinShortcutPort::EnumerateEntries(std::u16string_view pattern, const EntryVisitor& visit) {
    const std::wstring widePattern = ToWide(pattern);
    WIN32_FIND_DATAW data{};
    // FindFirstFileW: INVALID_HANDLE_VALUE when nothing matches or the folder does not exist.
    win::UniqueFind find(::FindFirstFileW(widePattern.c_str(), &data));
    if (!find) return;
    do {
        if (!visit(ToU16(data.cFileName))) return;
    } while (::FindNextFileW(find.Get(), &data));
}

std::u16string WinShortcutPort::GetFullPath(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    // GetFullPathNameW: with a buffer too small, the size needed including the terminator; else
    // the length written without it; 0 on failure.
    DWORD needed = ::GetFullPathNameW(widePath.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::u16string(path);
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetFullPathNameW(widePath.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return std::u16string(path);
    return ToU16(std::wstring_view(buffer.data(), length));
}

bool WinShortcutPort::EntryExists(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    WIN32_FIND_DATAW data{};
    win::UniqueFind find(::FindFirstFileW(widePath.c_str(), &data));
    return static_cast<bool>(find);
}

std::u16string WinShortcutPort::GetShellFolderPath(std::int32_t csidl) {
    LPITEMIDLIST idList = nullptr;
    // SHGetSpecialFolderLocation: a negative HRESULT when the folder has no location here. A shell
    // folder that has been removed is made again (CSIDL_FLAG_CREATE), so that its link can be saved.
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl | CSIDL_FLAG_CREATE, &idList)) ||
        idList == nullptr)
        return {};
    wchar_t path[MAX_PATH] = {};
    // SHGetPathFromIDListW: FALSE for an item that is not a file-system folder.
    const BOOL resolved = ::SHGetPathFromIDListW(idList, path);
    ::CoTaskMemFree(idList);
    if (!resolved) return {};
    return ToU16(path);
}

void WinShortcutPort::NotifyShell(std::u16string_view path) {
    const std::wstring widePath = ToWide(path);
    ::SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_PATHW | SHCNF_FLUSH, widePath.c_str(), nullptr);
}

}  // namespace quentaro
