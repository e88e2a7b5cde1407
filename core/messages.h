// The installation engine's errors and their message texts, shown in the standard error box.
#pragma once

namespace quentaro {

inline constexpr char16_t kMsgDataFileNotFound[] = u"ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを終了します。";
inline constexpr char16_t kMsgDataFileDamaged[] = u"ﾃﾞｰﾀﾌｧｲﾙが壊れています。ｾｯﾄｱｯﾌﾟを終了します。";
// The package could not be read to its end (an input/output error, or it came up short).
inline constexpr char16_t kMsgDataFileReadFailed[] =
    u"ﾃﾞｰﾀﾌｧｲﾙの読み込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。";
// A file could not be written or closed, or its times could not be set.
inline constexpr char16_t kMsgFileWriteFailed[] = u"ﾌｧｲﾙの書き込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。";
// The drive of a target file is full.
inline constexpr char16_t kMsgDiskFull[] = u"ﾃﾞｨｽｸの空き容量が不足しています。ｾｯﾄｱｯﾌﾟを終了します。";
// The driver installer that the package delivered could not be started.
inline constexpr char16_t kMsgDriverInstallerFailed[] =
    u"ﾄﾞﾗｲﾊﾞｰのｲﾝｽﾄｰﾙﾌﾟﾛｸﾞﾗﾑを起動出来ません。ｾｯﾄｱｯﾌﾟを終了します。";

// Why a check, the install size or the extraction did not succeed.
enum class InstallError {
    kNone,
    kDataFileNotFound,  // the package cannot be opened
    kDataFileReplaced,  // the package's name no longer leads to the file that was checked
    kDataFileDamaged,   // signature, version, check value or the limits of the format
    kDataFileReadFailed,
    kFileNotCreated,   // a target file cannot be created, or cannot take the place of the old one
    kFileWriteFailed,  // a target file cannot be written or closed, or its times cannot be set
    kDiskFull,
    kDriverInstallerFailed,
    kNothingToInstall,  // no data for the destination folder: the setup ends without a message
};

// The text shown for an error; null for kNone and kNothingToInstall. A file that cannot be created
// gives the message of a package that cannot be found, and a replaced package that of a damaged
// one, as they always have.
constexpr const char16_t* MessageOf(InstallError error) {
    switch (error) {
    case InstallError::kNone:
    case InstallError::kNothingToInstall:
        return nullptr;
    case InstallError::kDataFileNotFound:
    case InstallError::kFileNotCreated:
        return kMsgDataFileNotFound;
    case InstallError::kDataFileReplaced:
    case InstallError::kDataFileDamaged:
        return kMsgDataFileDamaged;
    case InstallError::kDataFileReadFailed:
        return kMsgDataFileReadFailed;
    case InstallError::kFileWriteFailed:
        return kMsgFileWriteFailed;
    case InstallError::kDiskFull:
        return kMsgDiskFull;
    case InstallError::kDriverInstallerFailed:
        return kMsgDriverInstallerFailed;
    }
    return nullptr;
}

}  // namespace quentaro
