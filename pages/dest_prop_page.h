// CDestPropPage: the destination page (template 109). Proposes the destination folder, lets the
// user type or browse for another, shows the free space of its drive and the space the data
// package needs, and on Next checks the folder and creates it with all its missing parents.
// The page object also holds what the installation needs to know about this computer, computed
// once when the sheet constructs it: the PlatformKind and the system folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "pages/setup_prop_page.h"

class CDestPropPage : public CSetupPropPage {
public:
    // Creates the fonts, classifies the running Windows and sets the default folders.
    CDestPropPage();

    // What the install page copies (through the sheet) when its window is initialised.
    std::int32_t PlatformKind() const noexcept { return m_platformKind; }
    // The destination folder without leading white space: once Next has accepted it, the
    // folder that was accepted and created.
    std::wstring DestinationFolder() const;
    // GetSystemDirectoryW, as it was at construction.
    const std::wstring& SystemFolder() const noexcept { return m_systemFolder; }

protected:
    void DoDataExchange(win::DataExchange& dx) override;
    // The folder into the edit box, focused, all selected, caret scrolled into view; TRUE.
    BOOL OnInitDialog() override;
    // Captions Next "次へ>(&N)" and Cancel "キャンセル", then the space texts; TRUE.
    BOOL OnSetActive() override;
    // 0 = the folder is accepted and exists: go on (Close of the sheet's system menu is then
    // disabled); -1 = rejected ("このパスは無効です。"), stay with the text selected.
    LRESULT OnWizardNext() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;

private:
    void OnBrowse();
    void OnChangeFolder();
    // The system folder and the default destination "<drive of the system folder>Program
    // Files\QUENTARO\lw-r7100_lw-r710r".
    void SetDefaultFolders();
    // "空き容量: %0.1f MB" of the destination's drive (the volume's total free bytes) into 1026,
    // or "空き容量:" when nothing can be told. Removes leading white space from the member.
    void ShowFreeSpace();
    // "必要容量: %0.1f MB" of the data package's length into 1027; unchanged when the package
    // cannot be opened.
    void ShowNeededSpace();
    // The shell's folder browser; the chosen folder's path, or empty when cancelled.
    std::wstring BrowseFolder();
    // Focus to the edit box, its whole text selected, the caret scrolled into view.
    void SelectFolderText();

    std::wstring m_systemFolder;
    std::int32_t m_platformKind = 0;
    std::wstring m_destinationFolder;
};
