#include "platform/TextConversion.h"
#include "support/ScopedLocale.h"

#include <gtest/gtest.h>

using test_support::ScopedLocale;

TEST(TextConversion, RoundTripsInAUtf8Locale)
{
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Set());
    const std::u16string text = u"播放器 player 🎵";
    EXPECT_EQ(WideToAnsi(text), "播放器 player 🎵");
    EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
}

TEST(TextConversion, EmptyTextGivesEmptyText)
{
    EXPECT_EQ(AnsiToWide(""), u"");
    EXPECT_EQ(AnsiToWide(nullptr, 0), u"");
    EXPECT_EQ(WideToAnsi(u""), "");
    EXPECT_EQ(WideToAnsi(static_cast<const char16_t*>(nullptr)), "");
}

TEST(TextConversion, LeadingByteOrderMarkIsDropped)
{
    ScopedLocale locale("C.UTF-8");
    EXPECT_EQ(AnsiToWide("\xEF\xBB\xBF"
                         "abc"),
              u"abc");
    EXPECT_EQ(AnsiToWide("a\xEF\xBB\xBF"), u"a\uFEFF");
}

TEST(TextConversion, UnrepresentableCharactersBecomeQuestionMarks)
{
    {
        ScopedLocale locale("C");
        EXPECT_EQ(WideToAnsi(u"a播b"), "a?b");
        EXPECT_EQ(WideToAnsi(u"x🎵y"), "x?y");
    }
    ScopedLocale locale("C.UTF-8");
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(WideToAnsi(loneSurrogate), "a?b");
}

TEST(TextConversion, UndecodableBytesBecomeReplacementCharacters)
{
    ScopedLocale locale("C.UTF-8");
    EXPECT_EQ(AnsiToWide("a\xFF"
                         "b"),
              u"a\uFFFDb");
    EXPECT_EQ(AnsiToWide("ab\xE6"), u"ab\uFFFD");
}

TEST(TextConversion, TextEndsAtAnEmbeddedTerminator)
{
    EXPECT_EQ(AnsiToWide(std::string_view("ab\0cd", 5)), u"ab");
    EXPECT_EQ(WideToAnsi(std::u16string_view(u"ab\0cd", 5)), "ab");
}

TEST(TextConversion, LongTextConvertsWhole)
{
    ScopedLocale locale("C.UTF-8");
    const std::u16string text(5000, u'播');
    EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
}
