#include "engine/TextConversion.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

// Runs a test body in another locale and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : m_previous(std::setlocale(LC_ALL, nullptr))
    {
        m_ok = std::setlocale(LC_ALL, name);
    }
    ~LocaleScope() { std::setlocale(LC_ALL, m_previous.c_str()); }
    bool ok() const { return m_ok; }

private:
    std::string m_previous;
    bool m_ok;
};

}  // namespace

TEST(TextConversion, RoundTripsInAUtf8Locale)
{
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.ok());
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
    LocaleScope locale("C.UTF-8");
    EXPECT_EQ(AnsiToWide("\xEF\xBB\xBF"
                         "abc"),
              u"abc");
    EXPECT_EQ(AnsiToWide("a\xEF\xBB\xBF"), u"a\uFEFF");
}

TEST(TextConversion, UnrepresentableCharactersBecomeQuestionMarks)
{
    {
        LocaleScope locale("C");
        EXPECT_EQ(WideToAnsi(u"a播b"), "a?b");
        EXPECT_EQ(WideToAnsi(u"x🎵y"), "x?y");
    }
    LocaleScope locale("C.UTF-8");
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(WideToAnsi(loneSurrogate), "a?b");
}

TEST(TextConversion, UndecodableBytesBecomeReplacementCharacters)
{
    LocaleScope locale("C.UTF-8");
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
    LocaleScope locale("C.UTF-8");
    const std::u16string text(5000, u'播');
    EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
}
