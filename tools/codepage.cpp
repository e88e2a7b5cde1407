#include "tools/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>

namespace quentaro::pack {

namespace {

const char* IconvName(int codePage) {
    switch (codePage) {
    case 932:
        return "CP932";
    case 1252:
        return "CP1252";
    default:
        return nullptr;
    }
}

// Converts with iconv; false when the input holds a sequence that has no conversion.
bool Convert(const char* to, const char* from, const std::string& input, std::string& output) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    output.clear();
    std::string in = input;
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::array<char, 256> buffer{};
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    if (ok) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

bool IsSupportedCodePage(int codePage) {
    return IconvName(codePage) != nullptr;
}

bool EncodeName(const std::string& utf8, int codePage, std::vector<std::uint8_t>& bytes, std::string& error) {
    const char* charset = IconvName(codePage);
    std::string encoded;
    if (charset == nullptr || !Convert(charset, "UTF-8", utf8, encoded)) {
        error = "name \"" + utf8 + "\" cannot be encoded in code page " + std::to_string(codePage);
        return false;
    }
    bytes.assign(encoded.begin(), encoded.end());
    return true;
}

bool DecodeName(const std::uint8_t* bytes, std::size_t count, int codePage, std::u16string& name) {
    const char* charset = IconvName(codePage);
    std::string utf16;
    if (charset == nullptr ||
        !Convert("UTF-16LE", charset, std::string(reinterpret_cast<const char*>(bytes), count), utf16)) {
        return false;
    }
    name.clear();
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        name.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(utf16[i]) |
                                             static_cast<std::uint8_t>(utf16[i + 1]) << 8));
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::string utf16;
    if (!Convert("UTF-16LE", "UTF-8", text, utf16)) return std::u16string();
    std::u16string out;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(utf16[i]) |
                                            static_cast<std::uint8_t>(utf16[i + 1]) << 8));
    }
    return out;
}

}  // namespace quentaro::pack
