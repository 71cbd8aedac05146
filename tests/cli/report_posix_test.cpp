#include "cli/report.h"

#include <gtest/gtest.h>

// UTF-8 is the native encoding here, so the replacements are exact.
TEST(PrintableText, ReplacesInvalidUtf8AndEveryControlCharacterWithUFFFD) {
    struct {
        const char* in;
        const char* out;
    } const cases[] = {
        {"a\x1b[2Jb", "a\xEF\xBF\xBD[2Jb"},
        {"\r\n\t\x7f", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"x\xC2\x9By", "x\xEF\xBF\xBDy"}, // C1 CSI
        {"ab\xC3", "ab\xEF\xBF\xBD"},
        {"日本 é", "日本 é"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrintableText(c.in), c.out) << c.in;
}
