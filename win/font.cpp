#include "win/font.h"

#include <cstdlib>
#include <cwchar>

namespace win {

UniqueFont CreatePointFont(int tenthsOfPoint, const wchar_t* face) noexcept {
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);

    WindowDc screen(nullptr);
    // 720 tenths of a point make an inch.
    POINT size{0, ::GetDeviceCaps(screen.Get(), LOGPIXELSY) * tenthsOfPoint / 720};
    POINT origin{0, 0};
    ::DPtoLP(screen.Get(), &size, 1);
    ::DPtoLP(screen.Get(), &origin, 1);
    // Negative: a character height (without internal leading), not a cell height.
    lf.lfHeight = -std::abs(size.y - origin.y);
    return UniqueFont(::CreateFontIndirectW(&lf));
}

UniqueFont CreateBoldFont(HFONT font) noexcept {
    LOGFONTW lf{};
    if (!font || ::GetObjectW(font, sizeof(lf), &lf) == 0) return UniqueFont();
    lf.lfWeight = FW_BOLD;
    return UniqueFont(::CreateFontIndirectW(&lf));
}

UniqueFont CreateBoldPointFont(int tenthsOfPoint, const wchar_t* face) noexcept {
    UniqueFont intermediate = CreatePointFont(tenthsOfPoint, face);
    return CreateBoldFont(intermediate.Get());
}

}  // namespace win
