// Fonts given in points, converted for the screen.
#pragma once

#include <windows.h>

#include "win/handles.h"

namespace win {

// A font of `tenthsOfPoint` / 10 points and face `face` for the screen:
// lfHeight = -(LOGPIXELSY * tenthsOfPoint / 720) pixels of the screen DC
// (integer division), taken through DPtoLP with the origin subtracted;
// lfCharSet DEFAULT_CHARSET; every other LOGFONT field 0 (normal weight).
UniqueFont CreatePointFont(int tenthsOfPoint, const wchar_t* face) noexcept;

// The bold form of `font`: its LOGFONT (GetObject) with lfWeight FW_BOLD,
// through CreateFontIndirect.
UniqueFont CreateBoldFont(HFONT font) noexcept;

// CreatePointFont at the size, then CreateBoldFont from it; the intermediate
// font is deleted.
UniqueFont CreateBoldPointFont(int tenthsOfPoint, const wchar_t* face) noexcept;

}  // namespace win
