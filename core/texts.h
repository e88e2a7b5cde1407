// The texts of the licence agreement page and the copyright notice page.
#pragma once

#include <string>
#include <string_view>

namespace quentaro {

// The software licence agreement, 1,329 characters in 29 paragraphs separated by carriage returns
// (no line feed), in two pieces of 451 and 878 characters. The licence page gives a hanging indent
// to every paragraph that a carriage return ends except the 3rd (the preamble) and the 12th (the
// body of article 2), by counting carriage returns: keep that structure when editing the text.
extern const std::u16string_view kLicenceTextPart1;
extern const std::u16string_view kLicenceTextPart2;

// kLicenceTextPart1 followed by kLicenceTextPart2.
std::u16string LicenceText();

// The notice on the copyright of the dictionary data, 471 characters in 7 paragraphs separated by
// carriage returns.
extern const std::u16string_view kCopyrightText;

}  // namespace quentaro
