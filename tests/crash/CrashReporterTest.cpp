// The reporter's command line, where the dump goes when it cannot go beside the program,
// and the installer's refusals, each on a real crash of the helper program.
#include "CrashTestSupport.h"
#include "MinidumpReader.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace crash_test;

namespace {

class CrashOfACopy : public testing::Test, protected HelperCopy {};
using CrashReporter = CrashOfACopy;
using CrashFallback = CrashOfACopy;
using CrashInstall = CrashOfACopy;

// base/ddd.../fileName with folder names chosen so that the whole has the given length.
std::string PathOfLength(const std::string& base, size_t length, const std::string& fileName)
{
    const size_t fixed = base.size() + 2 + fileName.size();
    EXPECT_GT(length, fixed + 1);
    std::string path = base + "/";
    size_t folder = length - fixed;
    while (folder > 200) {  // folder names stay under the file system's 255
        path += std::string(100, 'd') + "/";
        folder -= 101;
    }
    path += std::string(folder, 'e') + "/" + fileName;
    EXPECT_EQ(path.size(), length);
    return path;
}

}  // namespace

TEST_F(CrashReporter, ExactArgumentsAsSeparateValues)
{
    WriteReporter(dir / "reporter");
    ASSERT_TRUE(Crash({"main-null", "--reporter", dir / "reporter"}));
    const std::vector<std::string> expected = {"-f",      dump, "-t", program, "-v",
                                               "1.0.0.2", "-a", "",   "-pid",  std::to_string(run.pid)};
    EXPECT_EQ(ReporterArguments(), expected);
    EXPECT_TRUE(MinidumpReader(dump).valid());
}

TEST_F(CrashReporter, ReporterPathCutAt259AndAppArgumentAt1023)
{
    const std::string reporter = PathOfLength(dir.Path(), 259, "reporter");
    std::filesystem::create_directories(reporter.substr(0, reporter.rfind('/')));
    WriteReporter(reporter);
    const std::string appArgument = std::string(1000, 'a') + std::string(500, 'b');
    ASSERT_TRUE(Crash({"main-null", "--reporter", reporter + "-cut-off", "--app", appArgument}));
    const auto args = ReporterArguments();
    ASSERT_EQ(args.size(), 10u) << "the reporter cut at 259 characters did not start";
    EXPECT_EQ(args[7], appArgument.substr(0, 1023));
}

TEST_F(CrashReporter, QuotesInValuesCannotBreakTheCommandLine)
{
    CopyTo(dir / "say \"hi\" -pid 1/crash_helper");
    WriteReporter(dir / "reporter");
    const std::string appArgument = "x\" -pid \"1 ; rm -rf /";
    ASSERT_TRUE(Crash({"main-null", "--reporter", dir / "reporter", "--app", appArgument}));
    const std::vector<std::string> expected = {"-f",   dir / "say \"hi\" -pid 1/crash_helper.dmp",
                                               "-t",   program,
                                               "-v",   "1.0.0.2",
                                               "-a",   appArgument,
                                               "-pid", std::to_string(run.pid)};
    EXPECT_EQ(ReporterArguments(), expected);
}

TEST_F(CrashReporter, MissingReporterStillLeavesTheDump)
{
    ASSERT_TRUE(Crash({"main-null", "--reporter", dir / "no-such-reporter"}));
    MinidumpReader reader(dump);
    ASSERT_TRUE(reader.valid()) << reader.error();
    EXPECT_EQ(reader.threads().size(), 4u);
}

TEST_F(CrashFallback, DumpGoesToXdgStateHomeWhenItCannotBeCreatedBesideTheProgram)
{
    std::filesystem::create_directories(dump);  // a folder where the dump would go: it cannot be created there
    WriteReporter(dir / "reporter");
    ASSERT_TRUE(Crash({"main-null", "--reporter", dir / "reporter"}));
    const std::string fallback = dir / "state/crash_helper/crash_helper.dmp";
    EXPECT_TRUE(MinidumpReader(fallback).valid());
    const auto args = ReporterArguments();
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[1], fallback);  // the reporter is told where it really is
    struct stat st {};
    ASSERT_EQ(stat((dir / "state/crash_helper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(CrashFallback, DumpGoesToHomeLocalStateWithoutXdgStateHome)
{
    std::filesystem::create_directories(dump);
    run = RunCopy({"main-null"}, {"HOME=" + (dir / "home")}, {"XDG_STATE_HOME"});
    ASSERT_TRUE(EndedBy(run, SIGSEGV));
    EXPECT_TRUE(MinidumpReader(dir / "home/.local/state/crash_helper/crash_helper.dmp").valid());
}

TEST_F(CrashFallback, UnwritableProgramFolder)
{
    chmod(dir.Path().c_str(), 0755);
    CopyTo(dir / "bin/crash_helper");
    std::filesystem::create_directories(dir / "state");
    chmod((dir / "state").c_str(), 0777);
    if (geteuid() == 0) {
        // As root every folder is writable: run the program as nobody, as a user would.
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is needed to drop root";
        run = RunProgram(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", program, "main-null"},
            {"XDG_STATE_HOME=" + (dir / "state")});
    } else {
        chmod((dir / "bin").c_str(), 0555);
        run = RunCopy({"main-null"});
        chmod((dir / "bin").c_str(), 0755);
    }
    ASSERT_TRUE(EndedBy(run, SIGSEGV));
    EXPECT_FALSE(Exists(dir / "bin/crash_helper.dmp"));
    EXPECT_TRUE(MinidumpReader(dir / "state/crash_helper/crash_helper.dmp").valid());
}

TEST_F(CrashInstall, ProgramPathOf260CharactersInstallsNothing)
{
    CopyTo(PathOfLength(dir.Path(), 260, "crash_helper"));
    ASSERT_TRUE(Crash({"main-null"}));  // the default action
    EXPECT_EQ(run.out, "CrashHandler.cpp(593): file(" + program + ") too large\n");
    EXPECT_FALSE(Exists(program + ".dmp"));
    EXPECT_FALSE(Exists(dir / "state"));
}

TEST_F(CrashInstall, ProgramPathOf259CharactersWithExtensionDumpsBesideIt)
{
    CopyTo(PathOfLength(dir.Path(), 259, "crash.bin"));
    ASSERT_TRUE(Crash({"main-null"}));
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(MinidumpReader(program.substr(0, program.size() - 4) + ".dmp").valid());
}

TEST_F(CrashInstall, ProgramPathOf259CharactersWithoutExtensionDumpsToTheStateFolder)
{
    // With ".dmp" appended the name would pass 259 characters.
    CopyTo(PathOfLength(dir.Path(), 259, "crash_helper"));
    ASSERT_TRUE(Crash({"main-null"}));
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(MinidumpReader(dir / "state/crash_helper/crash_helper.dmp").valid());
}

TEST_F(CrashInstall, UnreadableProgramPathPrints590)
{
    // Without /proc the program's path cannot be read: a private mount namespace hides it.
    if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "no unshare";
    std::vector<std::string> argv = {"/usr/bin/unshare", "--mount"};
    if (geteuid() != 0) argv.insert(argv.begin() + 1, {"--user", "--map-root-user"});
    argv.insert(argv.end(), {"/bin/sh", "-c", "mount -t tmpfs none /proc || exit 90; exec \"$0\" main-null", program});
    run = RunProgram(argv, {"XDG_STATE_HOME=" + (dir / "state")});
    if (WIFEXITED(run.status) && WEXITSTATUS(run.status) != 0)
        GTEST_SKIP() << "no private mount namespace here: " << Describe(run);
    EXPECT_EQ(run.out, "(590): can't get filename\n");
    EXPECT_TRUE(EndedBy(run, SIGSEGV));
    EXPECT_FALSE(Exists(dump));
}
