// The interfaces through which the installation engine reaches the operating system and the install
// page. The Windows side implements them over Win32; the native tests implement them as fakes.
// Every call is made on the install job's thread. None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/package.h"

namespace quentaro {

// Result of one read from the package.
struct ReadResult {
    std::size_t count = 0;  // bytes placed in the buffer; less than asked only at the end of the file
    bool ioError = false;   // the read failed (as opposed to reaching the end of the file)
};

// What tells one file from another on its volume, for as long as both are open.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The package, open for reading. Destroying the object closes the file.
class PackageFile {
public:
    virtual ~PackageFile() = default;
    // The volume and index of the open file (GetFileInformationByHandle); false when they cannot be
    // read.
    virtual bool GetIdentity(FileIdentity& identity) = 0;
    // Length of the file in bytes (GetFileSizeEx).
    virtual std::uint64_t Size() = 0;
    // Positions at `offset` bytes from the start of the file; false when that fails. Offsets beyond
    // the end are allowed, as with SetFilePointerEx: the next read then returns 0 bytes.
    virtual bool Seek(std::uint64_t offset) = 0;
    // Reads up to `count` bytes at the current position and moves past them. ReadFile: count is the
    // number of bytes read; ioError is set when ReadFile returns FALSE.
    virtual ReadResult Read(std::uint8_t* buffer, std::size_t count) = 0;
};

// Opens the package by its file name.
class PackageStore {
public:
    virtual ~PackageStore() = default;
    // Opens `name` (relative to the current directory) for reading, sharing it with readers only:
    // while the returned object lives, the file cannot be written, truncated, renamed or deleted, and
    // an open that does not share reading fails (CreateFileW with GENERIC_READ, FILE_SHARE_READ,
    // OPEN_EXISTING). Returns null when the file cannot be opened, for whatever reason.
    virtual std::unique_ptr<PackageFile> Open(const std::u16string& name) = 0;
};

// The install page as the engine sees it.
class InstallUi {
public:
    virtual ~InstallUi() = default;
    // Shows the standard error box (owned by the install page, caption "QUENTARO ｾｯﾄｱｯﾌﾟ",
    // MB_ICONEXCLAMATION, one OK button) with `text` and returns when the user has closed it.
    virtual void ShowError(const std::u16string& text) = 0;
    // The progress bar's SetPos, a percentage from 0 to 100. The CRC check calls this once for every
    // byte of the package, mostly with the value it gave before: an implementation should forward a
    // value to the control only when it differs from the last one forwarded.
    virtual void SetProgress(std::int32_t percent) = 0;
    // Appends `text` to the page's InstallLog; the log view follows it.
    virtual void AppendLog(const std::u16string& text) = 0;
};

// Outcome of a write to a target file.
enum class WriteStatus {
    kOk,
    kDiskFull,  // ERROR_DISK_FULL or ERROR_HANDLE_DISK_FULL
    kFailed,    // any other failure
};

// Creation and last-write time to give a file, in seconds since 1970-01-01 00:00:00 UTC.
struct FileTimes {
    std::int64_t creation = 0;
    std::int64_t lastWrite = 0;
};

// A file being written under a temporary name in the folder of the name it is to take. Only Commit
// gives it that name; destroying the object before a successful Commit closes the file if it is
// open and deletes it, so a failure leaves neither a partial file nor a temporary one, and any old
// file of that name as it was.
class TargetFile {
public:
    virtual ~TargetFile() = default;
    // Writes all `count` bytes (WriteFile, looping over partial writes). `count` may be 0.
    virtual WriteStatus Write(const std::uint8_t* data, std::size_t count) = 0;
    // Closes the file (CloseHandle); called once, and only SetTimes and Commit follow it.
    virtual WriteStatus Close() = 0;
    // Sets the creation and last-write time of the closed file; its last-access time keeps its value
    // (SetFileTime with a null last-access time). False when the times cannot be set.
    virtual bool SetTimes(const FileTimes& times) = 0;
    // Gives the closed file its name, in place of any file or link of that name: a link is replaced,
    // never written through (MoveFileExW with MOVEFILE_REPLACE_EXISTING). An old file that is
    // read-only or busy is not replaced (it is opened for writing without sharing, and left
    // unchanged, to find out). False when that fails; the old file then keeps its name and content.
    virtual bool Commit() = 0;
};

// The folders that the engine writes to.
class TargetFileSystem {
public:
    virtual ~TargetFileSystem() = default;
    // Starts a file that is to take the full path `path`: creates a new file under a temporary name
    // in the same folder, or in a staging folder inside it, for writing, without sharing (CreateFileW
    // with GENERIC_WRITE, share mode 0, CREATE_NEW). Returns null when it cannot be created (missing
    // folder, no right to write there). An old file of the name is looked at only by Commit.
    virtual std::unique_ptr<TargetFile> Create(const std::u16string& path) = 0;
};

// Converts package names to UTF-16.
class NameDecoder {
public:
    virtual ~NameDecoder() = default;
    // Decodes `count` (1 to 32) bytes in the ANSI code page of this computer (MultiByteToWideChar
    // with CP_ACP into a buffer of 32 characters). Returns the empty string when decoding fails.
    virtual std::u16string DecodeAnsi(const std::uint8_t* bytes, std::size_t count) = 0;
};

// The computer's time zone.
class LocalClock {
public:
    virtual ~LocalClock() = default;
    // Converts a calendar date and time of this computer's local time to seconds since
    // 1970-01-01 00:00:00 UTC, with daylight saving time decided by the system for that date (as
    // mktime does with tm_isdst = -1, which is what CTime(year, month, day, hour, minute, second, -1)
    // does). Returns false when the time cannot be converted.
    virtual bool LocalToUtc(const LocalTime& local, std::int64_t& utcSeconds) = 0;
};

// Starting other programs.
class Shell {
public:
    virtual ~Shell() = default;
    // Starts `program` through the shell (ShellExecuteExW: default verb, no owner window, parameters
    // `parameters`, working folder `folder`, SW_SHOW, SEE_MASK_NOCLOSEPROCESS, no error box of the
    // shell's own) and waits without a time limit for its process to end. Returns false at once
    // when the program cannot be started; true once it has ended (or when the shell handed the
    // file to a program that was already running, so that there is no process to wait for).
    virtual bool RunAndWait(const std::u16string& program, const std::u16string& parameters,
                            const std::u16string& folder) = 0;
};

}  // namespace quentaro
