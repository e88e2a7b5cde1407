#include "core/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quentaro {
namespace {

std::vector<std::u16string> Paragraphs(std::u16string_view text) {
    std::vector<std::u16string> paragraphs(1);
    for (char16_t c : text) {
        if (c == u'\r') {
            paragraphs.emplace_back();
        } else {
            paragraphs.back() += c;
        }
    }
    return paragraphs;
}

bool EndsWith(const std::u16string& text, std::u16string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Only carriage returns as controls, and nothing outside the BMP, so lengths are characters.
void ExpectPlainText(std::u16string_view text) {
    for (char16_t c : text) {
        EXPECT_TRUE(c == u'\r' || c >= 0x20) << static_cast<int>(c);
        EXPECT_FALSE(c >= 0xD800 && c <= 0xDFFF) << static_cast<int>(c);
    }
}

// An article heading: 第, the number as an ASCII digit, 条, then the heading in （）.
void ExpectHeading(const std::u16string& paragraph, int article) {
    ASSERT_GE(paragraph.size(), 6u) << article;
    EXPECT_EQ(paragraph[0], u'第') << article;
    EXPECT_EQ(paragraph[1], static_cast<char16_t>(u'0' + article)) << article;
    EXPECT_EQ(paragraph.substr(2, 2), u"条（") << article;
    EXPECT_EQ(paragraph.back(), u'）') << article;
    EXPECT_EQ(paragraph.find(u'）'), paragraph.size() - 1) << article;
}

// A clause: a full-width digit, the full-width full stop, one ASCII blank (or none), a sentence.
void ExpectClause(const std::u16string& paragraph, int number, bool blank) {
    ASSERT_GE(paragraph.size(), 4u) << number;
    EXPECT_EQ(paragraph[0], static_cast<char16_t>(u'０' + number)) << number;
    EXPECT_EQ(paragraph[1], u'．') << number;
    EXPECT_EQ(paragraph[2] == u' ', blank) << number;
    EXPECT_NE(paragraph[3], u' ') << number;
    EXPECT_TRUE(EndsWith(paragraph, u"。")) << number;
}

void ExpectBody(const std::u16string& paragraph, size_t length) {
    EXPECT_EQ(paragraph.size(), length);
    ASSERT_FALSE(paragraph.empty());
    EXPECT_NE(paragraph[0], u'第');
    EXPECT_FALSE(paragraph[0] >= u'０' && paragraph[0] <= u'９');
    EXPECT_TRUE(EndsWith(paragraph, u"。"));
}

TEST(LicenceText, LengthsAndTheJoin) {
    EXPECT_EQ(kLicenceTextPart1.size(), 451u);
    EXPECT_EQ(kLicenceTextPart2.size(), 878u);
    const std::u16string text = LicenceText();
    EXPECT_EQ(text, std::u16string(kLicenceTextPart1) + std::u16string(kLicenceTextPart2));
    ASSERT_EQ(text.size(), 1329u);
    ExpectPlainText(text);
    EXPECT_EQ(text.find(u'\n'), std::u16string::npos);

    // The join lies inside a sentence of a clause of article 1 (paragraphs 6 to 9).
    for (char16_t c : {kLicenceTextPart1.back(), kLicenceTextPart2.front()}) {
        EXPECT_NE(c, u'\r');
        EXPECT_NE(c, u'。');
    }
    const std::u16string before(kLicenceTextPart1);
    const size_t paragraph = Paragraphs(before).size();
    EXPECT_GE(paragraph, 6u);
    EXPECT_LE(paragraph, 9u);
}

TEST(LicenceText, ParagraphStructure) {
    const std::vector<std::u16string> p = Paragraphs(LicenceText());
    ASSERT_EQ(p.size(), 29u);
    EXPECT_EQ(p[0], u"ソフトウェア使用許諾契約");
    for (size_t empty : {2, 4, 10, 13, 18, 21, 27}) EXPECT_TRUE(p[empty - 1].empty()) << empty;
    size_t emptyCount = 0;
    for (const std::u16string& paragraph : p) emptyCount += paragraph.empty() ? 1 : 0;
    EXPECT_EQ(emptyCount, 7u);

    ExpectBody(p[2], 213);  // preamble
    ExpectHeading(p[4], 1);
    for (int n = 1; n <= 4; ++n) ExpectClause(p[4 + n], n, true);
    ExpectHeading(p[10], 2);
    ExpectBody(p[11], 119);
    ExpectHeading(p[13], 3);
    for (int n = 1; n <= 3; ++n) ExpectClause(p[13 + n], n, true);
    ExpectHeading(p[18], 4);
    ExpectBody(p[19], 26);
    ExpectHeading(p[21], 5);
    for (int n = 1; n <= 4; ++n) ExpectClause(p[21 + n], n, n != 4);
    ExpectHeading(p[27], 6);
    ExpectBody(p[28], 38);
    EXPECT_NE(LicenceText().back(), u'\r');
}

// The licence page gives a hanging indent to each paragraph ended by a carriage return, counted
// over the whole text, except the 3rd and the 12th: they must be the two long unnumbered
// paragraphs, and every numbered clause must be indented.
TEST(LicenceText, SkippedCarriageReturnsEndThePreambleAndArticleTwo) {
    const std::u16string text = LicenceText();
    std::vector<std::u16string> skipped;
    std::vector<std::u16string> indented;
    size_t start = 0;
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r') continue;
        ++count;
        const std::u16string paragraph = text.substr(start, i - start);
        (count == 3 || count == 12 ? skipped : indented).push_back(paragraph);
        start = i + 1;
    }
    EXPECT_EQ(count, 28);
    const std::vector<std::u16string> p = Paragraphs(text);
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0], p[2]);
    EXPECT_EQ(skipped[0].size(), 213u);
    EXPECT_EQ(skipped[1], p[11]);
    EXPECT_EQ(skipped[1].size(), 119u);
    EXPECT_EQ(p[10].substr(0, 3), u"第2条");  // the heading right before it
    size_t clauses = 0;
    for (const std::u16string& paragraph : indented) {
        if (paragraph.size() > 1 && paragraph[1] == u'．') ++clauses;
    }
    EXPECT_EQ(clauses, 11u);
}

TEST(CopyrightText, Structure) {
    EXPECT_EQ(kCopyrightText.size(), 471u);
    ExpectPlainText(kCopyrightText);
    EXPECT_EQ(kCopyrightText.find(u'\n'), std::u16string_view::npos);
    const std::vector<std::u16string> p = Paragraphs(kCopyrightText);
    ASSERT_EQ(p.size(), 7u);
    EXPECT_EQ(p[0], u"著作権上の注意");
    EXPECT_TRUE(p[1].empty());
    const size_t lengths[] = {54, 79, 85, 54, 186};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(p[2 + i].size(), lengths[i]) << i + 3;
        EXPECT_TRUE(EndsWith(p[2 + i], u"。")) << i + 3;
    }
    EXPECT_EQ(p[5][0], u'※');
    EXPECT_NE(kCopyrightText.back(), u'\r');
}

}  // namespace
}  // namespace quentaro
