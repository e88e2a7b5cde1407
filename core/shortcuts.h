// Shortcuts to the installed application in the all-users desktop and Programs menu folders.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quentaro {

extern const std::u16string_view kApplicationFileName;  // "QUENTARO.exe"
extern const std::u16string_view kLinkDescription;      // "QUENTARO for LW-R7100/R710R"
constexpr int32_t kLinkShowCommand = 5;                 // SW_SHOW
constexpr int32_t kCsidlCommonDesktopDirectory = 25;
constexpr int32_t kCsidlCommonPrograms = 23;
// Candidates up to this number are examined; the next one is taken without a look.
constexpr int32_t kLastExaminedLinkNumber = 1000;

// What a saved link holds. Nothing else: a link loaded earlier into the same object leaves no
// arguments, icon or hot key behind in the link that is saved.
struct LinkProperties {
    std::u16string targetPath;
    std::u16string workingDirectory;
    std::u16string description;
    int32_t showCommand = 0;
};

// The one shell link object (IShellLinkW) of a CreateShortcuts call; destroying it releases it.
class ShellLink {
public:
    virtual ~ShellLink() = default;
    // Loads the link file through IPersistFile (STGM_READ) and reads its target with
    // GetPath(SLGP_UNCPRIORITY). False when the file interface cannot be obtained or Load fails;
    // a GetPath that fails leaves the target empty and still answers true.
    virtual bool LoadTarget(std::u16string_view linkFile, std::u16string& target) = 0;
    // Sets the properties, then saves through IPersistFile (not remembered) and calls
    // SaveCompleted. False when the file interface cannot be obtained or Save fails.
    virtual bool Save(std::u16string_view linkFile, const LinkProperties& properties) = 0;
};

// COM on the calling thread for as long as the object lives: started by ShortcutPort::StartCom,
// ended (CoUninitialize) when the object is destroyed, if it started. Move-only.
class ComScope {
public:
    // Not started: ends nothing.
    ComScope() = default;
    // The HRESULT of CoInitialize, and what ends COM; `end` runs once, on destruction, when `result`
    // is a success. S_FALSE (1, already initialised on this thread) is a success like S_OK and is
    // ended too.
    ComScope(int32_t result, std::function<void()> end);
    ~ComScope();
    ComScope(ComScope&& other) noexcept;
    ComScope& operator=(ComScope&& other) noexcept;
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool Started() const { return m_started; }

private:
    void End();

    bool m_started = false;
    std::function<void()> m_end;
};

// COM, the file system and the shell as the shortcut creation uses them.
class ShortcutPort {
public:
    virtual ~ShortcutPort() = default;
    // CoInitialize on the calling thread, ended by the returned scope.
    virtual ComScope StartCom() = 0;
    // CoCreateInstance of CLSID_ShellLink for IID_IShellLinkW, in process; null on failure.
    virtual std::unique_ptr<ShellLink> CreateShellLink() = 0;
    // Calls visit with the name (not the path) of each entry that matches the search pattern, in
    // the order in which the file system returns them, "." and ".." and folders included, until
    // visit returns false. Nothing when the search finds nothing.
    using EntryVisitor = std::function<bool(std::u16string_view name)>;
    virtual void EnumerateEntries(std::u16string_view pattern, const EntryVisitor& visit) = 0;
    // GetFullPathNameW; the path unchanged when that fails.
    virtual std::u16string GetFullPath(std::u16string_view path) = 0;
    // A search for exactly this name finds an entry (a file or a folder).
    virtual bool EntryExists(std::u16string_view path) = 0;
    // SHGetSpecialFolderLocation then SHGetPathFromIDListW; empty when the folder cannot be resolved.
    virtual std::u16string GetShellFolderPath(int32_t csidl) = 0;
    // SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_PATHW | SHCNF_FLUSH, path, null).
    virtual void NotifyShell(std::u16string_view path) = 0;
};

// Whole-string comparison that folds the ASCII letters only.
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

// The search pattern for the entries of a folder: "*.*" after a trailing backslash, else "\*.*".
std::u16string EntrySearchPattern(std::u16string_view folder);

// Link file candidate n (from 1) in a shell folder: "\NRQ QUENTARO.LNK", then "\NRQ QUENTARO(n).LNK".
std::u16string LinkFileCandidate(std::u16string_view shellFolder, int32_t number);

// Writes a link to the application into one shell folder (a path without a trailing backslash):
// under the first candidate that does not exist or that already links to the application, or
// under candidate 1001. 1 when a link file was saved, 0 otherwise: an existing candidate that is
// not a readable link ends the attempt, and so does an empty folder path (a shell folder that
// could not be resolved), rather than writing at the root of the current drive.
int32_t CreateLinkInFolder(std::u16string_view applicationPath, std::u16string_view shellFolder,
                           std::u16string_view workingDirectory, ShellLink& link, ShortcutPort& port);

// Finds "QUENTARO.exe" (any case) in the destination folder and links to it from the all-users
// desktop, then the all-users Programs menu. 1 when the application was found, whether or not
// the links were written; 0 when COM or the link object failed or the application is missing.
int32_t CreateShortcuts(std::u16string_view destinationFolder, ShortcutPort& port);

}  // namespace quentaro
