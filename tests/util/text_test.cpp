#include "util/text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(WideToUtf8, EncodesEachUnitOnItsOwn) {
    char16_t path[32];
    ASSERT_EQ(formatWideLetter(path, 32, u"\\\\.\\%c:", 'E'), 6);
    EXPECT_EQ(wideToUtf8(path), "\\\\.\\E:");
    EXPECT_EQ(wideToUtf8(u"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(wideToUtf8(u"\u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(wideToUtf8(u"\u007f\u0080\u07ff\u0800\uffff"),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(wideToUtf8(WideString()), "");
}

TEST(WideToUtf8, SurrogatePairBecomesTwoThreeByteSequences) {
    const WideString pair = {char16_t(0xD83D), char16_t(0xDE00)};
    EXPECT_EQ(wideToUtf8(pair), "\xED\xA0\xBD\xED\xB8\x80");
}

TEST(BoundedFormat, WidePathFormsWithLetter) {
    char16_t buffer[32];
    EXPECT_EQ(formatWideLetter(buffer, 32, u"%c:\\boot\\bzImage", 'Z'), 15);
    EXPECT_EQ(WideString(buffer), u"Z:\\boot\\bzImage");
    EXPECT_EQ(formatWideLetter(buffer, 32, u"100%% %c", 'C'), 6);
    EXPECT_EQ(WideString(buffer), u"100% C");
}

TEST(BoundedFormat, TooLongTextIsCutAndTerminated) {
    char16_t buffer[4];
    EXPECT_EQ(formatWideLetter(buffer, 4, u"%c:\\boot", 'E'), -1);
    EXPECT_EQ(WideString(buffer), u"E:\\");
    char narrow[8];
    EXPECT_EQ(formatNarrow(narrow, sizeof narrow, "Drive%d", 12345), 10);
    EXPECT_STREQ(narrow, "Drive12");
}

}  // namespace
