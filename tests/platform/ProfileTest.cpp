#include "platform/Profile.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void Write(const std::string& text) { test_support::WriteFile(m_path, text); }
    std::string Read() const { return test_support::ReadFile(m_path); }
    std::string Get(const char* section, const char* key) const
    {
        return GetProfileString(section, key, "<default>", m_path);
    }

    test_support::TempDir m_dir;
    std::string m_path = m_dir / "set.ini";
};

TEST_F(ProfileTest, ReadsWithThePlatformRules)
{
    Write(
        "top=outside any section\r\n"
        "; Video=commented out\r\n"
        "[ Video ]\r\n"
        "  FPS  =  25  \r\n"
        "fps=30\r\n"
        "dq=\"  quoted  \"\r\n"
        "sq='x'\r\n"
        "mismatched=\"x'\r\n"
        "empty=\r\n"
        "[other]\r\n"
        "fps=99\r\n"
        "[video]\n"
        "late=second section of the same name\n");
    EXPECT_EQ(Get("VIDEO", "fps"), "25");  // case, blanks, CRLF, first duplicate
    EXPECT_EQ(Get("video", "dq"), "  quoted  ");
    EXPECT_EQ(Get("video", "sq"), "x");
    EXPECT_EQ(Get("video", "mismatched"), "\"x'");
    EXPECT_EQ(Get("video", "empty"), "");
    EXPECT_EQ(Get("video", "late"), "<default>");
    EXPECT_EQ(Get("video", "Video"), "<default>");
    EXPECT_EQ(Get("", "top"), "<default>");
    EXPECT_EQ(Get("other", "fps"), "99");
    EXPECT_EQ(Get("missing", "fps"), "<default>");
}

TEST_F(ProfileTest, ReadsIntegersAsTheyBegin)
{
    Write("[v]\nletters=abc\nmixed=25fps\nsigned= -5\nempty=\nhuge=99999999999\n");
    EXPECT_EQ(GetProfileInt("v", "letters", 10, m_path), 0);
    EXPECT_EQ(GetProfileInt("v", "mixed", 10, m_path), 25);
    EXPECT_EQ(GetProfileInt("v", "signed", 10, m_path), -5);
    EXPECT_EQ(GetProfileInt("v", "empty", 10, m_path), 0);
    EXPECT_EQ(GetProfileInt("v", "huge", 10, m_path), 2147483647);
    EXPECT_EQ(GetProfileInt("v", "absent", 10, m_path), 10);
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesTheDefault)
{
    EXPECT_EQ(Get("svr", "key"), "<default>");
    std::filesystem::create_directory(m_path);
    EXPECT_EQ(Get("svr", "key"), "<default>");
    EXPECT_EQ(GetProfileInt("svr", "key", 7, m_path), 7);
    EXPECT_FALSE(WriteProfileString("svr", "key", "v", m_path));
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
}

TEST_F(ProfileTest, WritesInPlaceAtSectionEndOrAsNewSection)
{
    const std::string head = "; hand-written\r\n[A]\r\nkeep = \"this\"\r\n";
    Write(head + "x=old ; not a comment\r\n\r\n[B]\r\nunknown=1\r\n[a]\r\nx=shadowed");
    ASSERT_TRUE(WriteProfileString("a", "X", "new", m_path));
    ASSERT_TRUE(WriteProfileString("b", "y", "2", m_path));
    ASSERT_TRUE(WriteProfileString("C", "z", "3", m_path));
    EXPECT_EQ(Read(), head + "X=new\r\n\r\n[B]\r\nunknown=1\r\ny=2\n[a]\r\nx=shadowed\n[C]\nz=3\n");
    EXPECT_EQ(Get("A", "x"), "new");
}

TEST_F(ProfileTest, ALoneCarriageReturnEndsALineForReadingAndWriting)
{
    // A value read with a CR in it could never be written back.
    Write("[svr]\rkey=qex\r[video]\rfps=25\r");
    EXPECT_EQ(Get("svr", "key"), "qex");
    EXPECT_EQ(Get("video", "fps"), "25");
    ASSERT_TRUE(WriteProfileString("svr", "key", Get("svr", "key"), m_path));
    EXPECT_EQ(Read(), "[svr]\rkey=qex\r[video]\rfps=25\r");
}

TEST_F(ProfileTest, ValuesReadBackAsWritten)
{
    for (const std::string value : {" lead", "trail\t", "\"quoted\"", "'", "a=b;c", "", "\"x'"}) {
        ASSERT_TRUE(WriteProfileString("s", "k", value, m_path)) << value;
        EXPECT_EQ(GetProfileString("s", "k", "<default>", m_path), value);
    }
}

TEST_F(ProfileTest, RefusesWhatWouldAddLines)
{
    Write("[s]\nk=v\n");
    EXPECT_FALSE(WriteProfileString("s", "k", "v\n[evil]\nk=x", m_path));
    EXPECT_FALSE(WriteProfileString("s", "k", "v\rw", m_path));
    EXPECT_FALSE(WriteProfileString("s", "k\nj", "v", m_path));
    EXPECT_FALSE(WriteProfileString("s]\n[t", "k", "v", m_path));
    EXPECT_FALSE(WriteProfileString("s", "k=j", "v", m_path));
    EXPECT_FALSE(WriteProfileString("s", ";k", "v", m_path));
    EXPECT_FALSE(WriteProfileString("s", "k", std::string("v\0w", 3), m_path));
    EXPECT_EQ(Read(), "[s]\nk=v\n");
}

TEST_F(ProfileTest, ANewFileIsItsOwnersAloneWhateverTheUmask)
{
    const mode_t umaskBefore = ::umask(022);
    ASSERT_TRUE(WriteProfileString("svr", "m_strKey", "secret", m_path));
    ::umask(umaskBefore);
    struct stat info {};
    ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ProfileTest, ReplacesTheFileWholeKeepingItsModeAndLinks)
{
    const std::string target = m_dir / "real.ini";
    std::ofstream(target) << "[s]\nk=v\n";
    ::chmod(target.c_str(), 0644);
    std::filesystem::create_symlink(target, m_path);
    ASSERT_TRUE(WriteProfileString("s", "k", "w", m_path));
    EXPECT_TRUE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(Read(), "[s]\nk=w\n");
    struct stat info {};
    ::stat(target.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << "an existing file keeps its mode, wider than a new one's too";
    // Nothing but the two files is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), 2);
}

}  // namespace
