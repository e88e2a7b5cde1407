#include "core/folders.h"

namespace quentaro {

bool IsFolderWhiteSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

std::u16string_view TrimmedLeadingWhiteSpace(std::u16string_view text) {
    size_t start = 0;
    while (start < text.size() && IsFolderWhiteSpace(text[start])) ++start;
    return text.substr(start);
}

bool IsFolderTextValid(std::u16string_view folder) {
    if (folder.empty()) return false;
    if (folder.find(u':') != 1) return false;
    return folder.find(u'\\') == 2;
}

bool IsDriveAvailable(std::u16string_view path, uint32_t logicalDriveMask) {
    if (path.find(u':') != 1) return false;
    const char16_t letter = path[0];
    uint32_t drive = 0;
    if (letter >= u'a' && letter <= u'z') {
        drive = static_cast<uint32_t>(letter - u'a');
    } else if (letter >= u'A' && letter <= u'Z') {
        drive = static_cast<uint32_t>(letter - u'A');
    } else {
        return false;
    }
    return (logicalDriveMask & (uint32_t{1} << drive)) != 0;
}

std::vector<std::u16string> SplitFolders(std::u16string_view path) {
    std::vector<std::u16string> folders;
    std::u16string prefix;
    size_t backslashes = 0;
    size_t backslashesInRow = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        const bool last = i + 1 == path.size();
        if (c != u'\\') {
            backslashesInRow = 0;
            prefix += c;
            if (last) folders.push_back(prefix);
            continue;
        }
        ++backslashesInRow;
        if (backslashesInRow >= 2) continue;  // a repeated backslash counts as one
        ++backslashes;
        if (backslashes == 1) {  // the backslash after the drive: the root is never created
            prefix += c;
            continue;
        }
        folders.push_back(prefix);
        prefix += c;
        if (last) folders.push_back(prefix);
    }
    return folders;
}

bool PrepareFolder(std::u16string_view path, FolderPort& port) {
    const std::u16string_view trimmed = TrimmedLeadingWhiteSpace(path);
    if (port.IsExistingFolder(trimmed)) return true;
    if (!IsDriveAvailable(trimmed, port.GetLogicalDriveMask())) return false;
    for (const std::u16string& folder : SplitFolders(trimmed)) {
        if (port.CreateFolder(folder) == CreateFolderResult::kFailed) return false;
        port.SetNormalAttributes(folder);
    }
    return true;
}

bool AcceptDestinationFolder(std::u16string_view folder, FolderPort& port) {
    if (!IsFolderTextValid(folder)) return false;
    return PrepareFolder(folder, port);
}

}  // namespace quentaro
