// The three package checks run before anything is installed: signature, format version and check
// value. Each opens the package by its name (see OpenPackage). The Verify functions return what
// failed, after closing the package; the Check functions, the install page's operations, return 1
// when the package passes and 0 when it fails, after showing the failure's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/engine.h"
#include "core/messages.h"

namespace quentaro {

// Opens the package for one reader: the checks, then the extraction. Every reader opens it by its
// name, so that a package that is gone or held by another program gives the same message at every
// step; but all of them read the one file that the first reader opened. That file stays open,
// denying writers and deletion, from the first check until ReleasePackage (the end of the
// extraction, or a failed step): the bytes that are installed are the bytes that were checked.
// When the name no longer leads to that file, the package has been replaced after a check.
// Returns null after releasing the package, with `error` set: the package cannot be opened
// (kDataFileNotFound) or has been replaced (kDataFileReplaced).
std::unique_ptr<PackageFile> OpenPackage(const InstallEngine& engine, InstallError& error);
// Closes the file that the readers share; the next reader opens the package anew.
void ReleasePackage(const InstallEngine& engine);

// Bytes 0..3 are "KJ47".
InstallError VerifySignature(const InstallEngine& engine);
// Bytes 16..19, as a text ending at the first zero byte, are "V1.0" or sort before it.
InstallError VerifyVersion(const InstallEngine& engine);
// The CRC register over the whole file ends at the residue; moves the progress bar from 0 to 50.
// The value after each byte is floor(50 * bytes checked / length); SetProgress is given it after
// the first byte and after every byte that changes it.
InstallError VerifyCrc(const InstallEngine& engine);

// The install page's operations over the three above.
int CheckSignature(const InstallEngine& engine);
int CheckVersion(const InstallEngine& engine);
int CheckCrc(const InstallEngine& engine);

// How an engine operation ends for the install page: 1 for kNone; otherwise 0, after showing the
// error's message when it has one.
int ReportResult(InstallUi& ui, InstallError error);

// The comparisons of the first two checks, on the four bytes read (bytes past the end of the file
// read as zero).
bool IsPackageSignature(const std::uint8_t* bytes);
bool IsAcceptedVersion(const std::uint8_t* bytes);

// Reads `count` bytes at `offset`; bytes past the end of the file are set to zero. False on an
// input/output error.
bool ReadZeroPadded(PackageFile& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t count);

// Reads until `count` bytes are in `buffer`, the end of the file is reached or a read fails.
ReadResult ReadFully(PackageFile& file, std::uint8_t* buffer, std::size_t count);

}  // namespace quentaro
