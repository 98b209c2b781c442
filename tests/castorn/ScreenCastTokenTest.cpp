// Where the desktop's restore token for the screen cast is kept, and how it is replaced.
#include "castorn/ScreenCastToken.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace castorn;
using test_support::TempDir;

namespace {

// Sets an environment variable for a test's span (nullopt: unset) and puts it back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* before = std::getenv(name)) m_before = before;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_before ? setenv(m_name, m_before->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_before;
};

}  // namespace

TEST(ScreenCastToken, IsKeptInTheUsersStateFolderForTheUserAloneAndReplacedWhole)
{
    const TempDir state;
    const ScopedEnv stateHome("XDG_STATE_HOME", state.Path());
    EXPECT_EQ(LoadScreenCastToken(), "") << "none kept yet";
    ASSERT_TRUE(SaveScreenCastToken("first-token"));
    EXPECT_EQ(ScreenCastTokenPath(), state / "publish_tavisk/screencast-token");
    EXPECT_EQ(LoadScreenCastToken(), "first-token");
    struct stat file {};
    ASSERT_EQ(stat(ScreenCastTokenPath().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    ASSERT_TRUE(SaveScreenCastToken("second"));
    EXPECT_EQ(LoadScreenCastToken(), "second") << "a shorter token leaves nothing of the longer one";
}

TEST(ScreenCastToken, WithoutAStateFolderSetItIsUnderHomesLocalState)
{
    const TempDir home;
    const ScopedEnv homeVariable("HOME", home.Path());
    const ScopedEnv unset("XDG_STATE_HOME", std::nullopt);
    EXPECT_EQ(ScreenCastTokenPath(), home / ".local/state/publish_tavisk/screencast-token");
    const ScopedEnv relative("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(ScreenCastTokenPath(), home / ".local/state/publish_tavisk/screencast-token")
        << "a relative state folder is ignored, as the base directory rules say";
    ASSERT_TRUE(SaveScreenCastToken("t"));
    EXPECT_EQ(test_support::ReadFile(home / ".local/state/publish_tavisk/screencast-token"), "t\n");
}

TEST(ScreenCastToken, AFolderThatCannotBeMadeIsAFailureNotACrash)
{
    const TempDir state;
    ASSERT_TRUE(test_support::WriteFile(state / "publish_tavisk", "a file where the folder would be"));
    const ScopedEnv stateHome("XDG_STATE_HOME", state.Path());
    EXPECT_FALSE(SaveScreenCastToken("t"));
    EXPECT_EQ(LoadScreenCastToken(), "");
}
