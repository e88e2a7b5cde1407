// Conversion of names between UTF-8, UTF-16 and the code pages a package can be built for (iconv).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quentaro::pack {

// The code pages a package can be built for.
bool IsSupportedCodePage(int codePage);

// Encodes a UTF-8 name into `codePage`; false (with `error` set) when it cannot be encoded.
bool EncodeName(const std::string& utf8, int codePage, std::vector<std::uint8_t>& bytes, std::string& error);
// Decodes bytes of `codePage` as the installing computer would; false when they are not valid there.
bool DecodeName(const std::uint8_t* bytes, std::size_t count, int codePage, std::u16string& name);

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace quentaro::pack
