// The destination folder rules: white space, the acceptance checks, the drive test and the
// creation of a folder with all its missing parents.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quentaro {

// White space as the destination page removes it from the front of a folder text: the blank and
// the control characters TAB, LF, VT, FF and CR. Other characters, the ideographic space U+3000
// among them, stay, so a folder typed after a full-width blank is rejected (no colon at index 1).
bool IsFolderWhiteSpace(char16_t c);

// The text without its leading white space: the rest of the same characters, nothing copied. The
// destination page takes a folder text through this once, where it reads it; the functions below
// that take a folder expect it trimmed.
std::u16string_view TrimmedLeadingWhiteSpace(std::u16string_view text);

// The checks of a folder text (already trimmed) before the folder is created: not empty, the
// first colon at index 1, the first backslash at index 2.
bool IsFolderTextValid(std::u16string_view folder);

// True when the path starts with a drive letter and a colon (the first colon at index 1) and that
// drive's bit is set in the mask of GetLogicalDrives (bit 0 is drive A).
bool IsDriveAvailable(std::u16string_view path, uint32_t logicalDriveMask);

// The folders that PrepareFolder creates for a path, in order: every folder from the first one
// under the root to the last one. Repeated backslashes count as one; a trailing backslash gives
// one more entry, the last folder with the backslash.
std::vector<std::u16string> SplitFolders(std::u16string_view path);

// What CreateDirectoryW did.
enum class CreateFolderResult {
    kCreated,
    kAlreadyExists,  // ERROR_ALREADY_EXISTS: something of that name is there
    kFailed,         // any other error
};

// The file-system calls of the folder creation.
class FolderPort {
public:
    virtual ~FolderPort() = default;
    // FindFirstFileW found an item of this name and it has FILE_ATTRIBUTE_DIRECTORY.
    virtual bool IsExistingFolder(std::u16string_view path) = 0;
    // GetLogicalDrives.
    virtual uint32_t GetLogicalDriveMask() = 0;
    // CreateDirectoryW without security attributes.
    virtual CreateFolderResult CreateFolder(std::u16string_view path) = 0;
    // SetFileAttributesW with FILE_ATTRIBUTE_NORMAL; the result is of no interest.
    virtual void SetNormalAttributes(std::u16string_view path) = 0;
};

// Makes sure that the folder exists: an existing folder is used unchanged; otherwise, on an
// existing drive, every folder on the way is created and given normal attributes. Leading white
// space of the path is left out. False when the drive does not exist or a folder cannot be created
// (the folders made before it stay).
bool PrepareFolder(std::u16string_view path, FolderPort& port);

// Next on the destination page: checks the folder text (already trimmed) and prepares the folder.
// True when the wizard may go on.
bool AcceptDestinationFolder(std::u16string_view folder, FolderPort& port);

}  // namespace quentaro
