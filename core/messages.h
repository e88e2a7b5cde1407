// The installation engine's message texts, shown in the standard error box.
#ifndef QUENTARO_CORE_MESSAGES_H
#define QUENTARO_CORE_MESSAGES_H

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

}  // namespace quentaro

#endif  // QUENTARO_CORE_MESSAGES_H
