#include "core/shortcuts.h"

#include <optional>
#include <utility>

namespace quentaro {
namespace {

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string Decimal(int32_t value) {
    std::u16string digits;
    uint32_t rest = value < 0 ? 0u : static_cast<uint32_t>(value);
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + rest % 10));
        rest /= 10;
    } while (rest != 0);
    return digits;
}

// The full path of an entry found with the pattern, as the file finder forms it: the folder part
// of the pattern's absolute form, a backslash unless that part ends in one, and the name.
std::u16string EntryPath(ShortcutPort& port, std::u16string_view pattern, std::u16string_view name) {
    std::u16string folder = port.GetFullPath(pattern);
    const size_t slash = folder.find_last_of(u"\\/");
    if (slash != std::u16string::npos) folder.erase(slash);
    if (folder.empty() || (folder.back() != u'\\' && folder.back() != u'/')) folder += u'\\';
    folder += name;
    return folder;
}

}  // namespace

ComScope::ComScope(int32_t result, std::function<void()> end)
    : m_started(result >= 0), m_end(m_started ? std::move(end) : nullptr) {}

ComScope::~ComScope() {
    End();
}

ComScope::ComScope(ComScope&& other) noexcept : m_started(other.m_started), m_end(std::move(other.m_end)) {
    other.m_started = false;
    other.m_end = nullptr;
}

ComScope& ComScope::operator=(ComScope&& other) noexcept {
    if (this != &other) {
        End();
        m_started = other.m_started;
        m_end = std::move(other.m_end);
        other.m_started = false;
        other.m_end = nullptr;
    }
    return *this;
}

void ComScope::End() {
    if (m_started && m_end) m_end();
    m_started = false;
    m_end = nullptr;
}

const std::u16string_view kApplicationFileName = u"QUENTARO.exe";
const std::u16string_view kLinkDescription = u"QUENTARO for LW-R7100/R710R";

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::u16string EntrySearchPattern(std::u16string_view folder) {
    std::u16string pattern(folder);
    pattern += !folder.empty() && folder.back() == u'\\' ? u"*.*" : u"\\*.*";
    return pattern;
}

std::u16string LinkFileCandidate(std::u16string_view shellFolder, int32_t number) {
    std::u16string name(shellFolder);
    if (number == 1) {
        name += u"\\NRQ QUENTARO.LNK";
    } else {
        name += u"\\NRQ QUENTARO(";
        name += Decimal(number);
        name += u").LNK";
    }
    return name;
}

int32_t CreateLinkInFolder(std::u16string_view applicationPath, std::u16string_view shellFolder,
                           std::u16string_view workingDirectory, ShellLink& link, ShortcutPort& port) {
    if (shellFolder.empty()) return 0;
    std::u16string linkFile;
    for (int32_t number = 1;; ++number) {
        linkFile = LinkFileCandidate(shellFolder, number);
        if (number > kLastExaminedLinkNumber) break;
        if (!port.EntryExists(linkFile)) break;
        std::u16string target;
        if (!link.LoadTarget(linkFile, target)) return 0;
        if (EqualsIgnoreAsciiCase(target, applicationPath)) break;  // rewrite our own link
    }
    LinkProperties properties;
    properties.targetPath = std::u16string(applicationPath);
    properties.workingDirectory = std::u16string(workingDirectory);
    properties.description = std::u16string(kLinkDescription);
    properties.showCommand = kLinkShowCommand;
    if (!link.Save(linkFile, properties)) return 0;
    port.NotifyShell(linkFile);
    return 1;
}

int32_t CreateShortcuts(std::u16string_view destinationFolder, ShortcutPort& port) {
    // Declared first, destroyed last: the link object is released before COM ends.
    const ComScope com = port.StartCom();
    if (!com.Started()) return 0;
    const std::unique_ptr<ShellLink> link = port.CreateShellLink();
    if (!link) return 0;
    std::optional<std::u16string> applicationPath;
    if (!destinationFolder.empty()) {
        const std::u16string pattern = EntrySearchPattern(destinationFolder);
        port.EnumerateEntries(pattern, [&](std::u16string_view name) {
            if (!EqualsIgnoreAsciiCase(name, kApplicationFileName)) return true;
            applicationPath = EntryPath(port, pattern, name);
            return false;
        });
    }
    if (!applicationPath) return 0;
    for (const int32_t csidl : {kCsidlCommonDesktopDirectory, kCsidlCommonPrograms}) {
        const std::u16string shellFolder = port.GetShellFolderPath(csidl);
        CreateLinkInFolder(*applicationPath, shellFolder, destinationFolder, *link, port);
    }
    return 1;
}

}  // namespace quentaro
