// What the Windows test programs (the UI driver, the engine probe) share: JSON strings of UTF-16
// text for the lines they answer the bench with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace test_support {

// A JSON string of UTF-16 text, in ASCII only: every unit from 0x7F up and every control character
// as \uXXXX. The bench reads the units back as they are, so a text that is not valid UTF-16 (an
// unpaired surrogate in a window text, for instance) still makes a valid line.
template <class Unit>
std::string JsonQuoted(std::basic_string_view<Unit> text) {
    static_assert(sizeof(Unit) == 2, "UTF-16 code units");
    std::string out = "\"";
    for (const Unit unit : text) {
        const auto u = static_cast<std::uint16_t>(unit);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(u));
            out += escape;
        }
    }
    return out + "\"";
}

}  // namespace test_support
