#include "support/text.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using tLines = std::vector<std::string>;

TEST(FormatString, FormatsStringsAndNumbers) {
    EXPECT_EQ(FormatString("%s(%d)", "TCP", 80), "TCP(80)");
    EXPECT_EQ(FormatString("%s Version %s(%s)", "Wendrel", "1.07", "1.7.0.20"),
              "Wendrel Version 1.07(1.7.0.20)");
    EXPECT_EQ(FormatString("[%s]", ""), "[]");
}

TEST(FormatString, KeepsATrailingLineFeed) {
    EXPECT_EQ(FormatString("HOST: %s:%d\r\n", "192.0.2.1", 80), "HOST: 192.0.2.1:80\r\n");
}

TEST(FormatString, HasNoLengthLimit) {
    const std::string long_text(100000, 'x');
    EXPECT_EQ(FormatString("<%s>", long_text.c_str()), "<" + long_text + ">");
}

TEST(FormatString, StopsAtAFormattedNulByte) {
    EXPECT_EQ(FormatString("ab%cde", 0), "ab");
}

TEST(Trim, RemovesTheSixWhiteSpaceBytesAtBothEndsOnly) {
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim(" \t\n\v\f\r"), "");
    EXPECT_EQ(Trim(" word "), "word");
    EXPECT_EQ(Trim("\r\n  two words\t"), "two words");
}

TEST(Trim, LeavesAFullWidthSpaceInPlace) {
    EXPECT_EQ(Trim("\x81\x40word\x81\x40"), "\x81\x40word\x81\x40");
}

TEST(Split, YieldsTheNonEmptyRunsBetweenDelimiters) {
    EXPECT_EQ(Split("HTTP/1.1 200 OK", " \t"), (tLines{"HTTP/1.1", "200", "OK"}));
    EXPECT_EQ(Split("  HTTP/1.1 \t 404\tNot  Found  ", " \t"),
              (tLines{"HTTP/1.1", "404", "Not", "Found"}));
    EXPECT_EQ(Split("", " \t"), tLines{});
    EXPECT_EQ(Split(" \t \t", " \t"), tLines{});
    EXPECT_EQ(Split("a::b", ":"), (tLines{"a", "b"}));
}

TEST(SplitLines, CutsAtLineFeedsAndDropsOneCarriageReturn) {
    EXPECT_EQ(SplitLines("a\r\nb\r\n"), (tLines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\nb"), (tLines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\n\nb\n"), (tLines{"a", "", "b"}));
    EXPECT_EQ(SplitLines(""), tLines{});
    EXPECT_EQ(SplitLines("\r\n"), tLines{""});
    EXPECT_EQ(SplitLines("a\r\r\n"), tLines{"a\r"});
}

TEST(SplitLines, KeepsATrailingNulByteAsALineOfItsOwn) {
    EXPECT_EQ(SplitLines(std::string("a\r\n\0", 4)), (tLines{"a", std::string(1, '\0')}));
}

TEST(SplitPair, CutsAtTheFirstColonAndTrimsBothSides) {
    std::string line = "LOCATION:  http://192.0.2.1:5000/rootDesc.xml ";
    EXPECT_EQ(SplitPair(line, ":"), "LOCATION");
    EXPECT_EQ(line, "http://192.0.2.1:5000/rootDesc.xml");
}

TEST(SplitPair, EdgeCases) {
    std::string startsWithColon = ":value";
    EXPECT_EQ(SplitPair(startsWithColon, ":"), "");
    EXPECT_EQ(startsWithColon, "value");

    std::string noColon = "no colon here  ";
    EXPECT_EQ(SplitPair(noColon, ":"), "no colon here  ");
    EXPECT_EQ(noColon, "");

    std::string endsWithColon = "EXT:";
    EXPECT_EQ(SplitPair(endsWithColon, ":"), "EXT");
    EXPECT_EQ(endsWithColon, "");
}

TEST(CompareNoCase, IgnoresAsciiCaseOnly) {
    EXPECT_EQ(CompareNoCase("Location", "LOCATION"), 0);
    EXPECT_EQ(CompareNoCase("Location", "location"), 0);
    EXPECT_NE(CompareNoCase("ST", "STX"), 0);
    EXPECT_NE(CompareNoCase("STX", "ST"), 0);
    EXPECT_LT(CompareNoCase("a", "b"), 0);
    EXPECT_GT(CompareNoCase("\xE0", "a"), 0); // bytes compare unsigned
}

TEST(ReadInt, ReadsLikeAtoi) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"8080", 8080}, {"  8080", 8080}, {"\t\n8080", 8080}, {"+12", 12},
        {"-12", -12},   {"12abc", 12},    {"abc", 0},         {"", 0},
        {"-", 0},       {"0x10", 0},      {" 1 2", 1},        {"0001", 1},
        {"- 1", 0},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ReadInt(text), value) << '"' << text << '"';
}

TEST(ReadInt, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(ReadInt("2147483647"), INT_MAX);
    EXPECT_EQ(ReadInt("2147483648"), INT_MAX);
    EXPECT_EQ(ReadInt("4294967376"), INT_MAX); // would wrap to 80
    EXPECT_EQ(ReadInt("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ReadInt("-2147483648"), INT_MIN);
    EXPECT_EQ(ReadInt("-99999999999999999999"), INT_MIN);
}

TEST(DecimalText, WritesLikeAStream) {
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(65535), "65535");
    EXPECT_EQ(DecimalText(-1), "-1");
    EXPECT_EQ(DecimalText(1234567), "1234567");
    EXPECT_EQ(DecimalText(INT_MIN), "-2147483648");
}

TEST(MakeValidUtf8, KeepsValidTextAndReplacesEachBadByte) {
    EXPECT_EQ(MakeValidUtf8("ポート abc"), "ポート abc");
    EXPECT_EQ(MakeValidUtf8("a\xFF"
                            "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(MakeValidUtf8("\x83\x7C\x81\x5B"), // Shift-JIS "ポー"
              "\xEF\xBF\xBD|\xEF\xBF\xBD[");
    EXPECT_EQ(MakeValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong "/"
    EXPECT_EQ(MakeValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
    EXPECT_EQ(MakeValidUtf8("\xE3\x83"), "\xEF\xBF\xBD\xEF\xBF\xBD");                 // cut short
}
