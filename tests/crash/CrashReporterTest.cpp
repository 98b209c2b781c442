// The reporter's command line, where the dump goes when it cannot go beside the program,
// and the installer's refusals, each on a real crash of the helper program.
#include "CrashTestSupport.h"
#include "MinidumpReader.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace crash_test;

namespace {

// A reporter that records its arguments, NUL-separated, to $REPORTER_OUT.
void WriteReporter(const std::string& path)
{
    WriteFile(path,
              "#!/bin/sh\n"
              "printf '%s\\0' \"$@\" > \"$REPORTER_OUT.tmp\" && mv \"$REPORTER_OUT.tmp\" \"$REPORTER_OUT\"\n",
              0755);
}

std::vector<std::string> ReadArguments(const std::string& path)
{
    std::vector<std::string> args;
    const std::string text = ReadFile(path);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0') {
            args.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return args;
}

std::string PathOfLength(const std::string& base, size_t length, const std::string& fileName)
{
    // base/ddd.../fileName with a folder name chosen so that the whole has the given length.
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

TEST(CrashReporter, ExactArgumentsAsSeparateValues)
{
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    WriteReporter(dir / "reporter");
    RunResult run = RunProgram({program, "main-null", "--reporter", dir / "reporter"},
                               {"REPORTER_OUT=" + (dir / "args"), "XDG_STATE_HOME=" + (dir / "state")});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    ASSERT_TRUE(WaitForFile(dir / "args", 20));
    const std::vector<std::string> expected = {
        "-f", dir / "crash_helper.dmp", "-t", program, "-v", "1.0.0.2", "-a", "", "-pid", std::to_string(run.pid)};
    EXPECT_EQ(ReadArguments(dir / "args"), expected);
    EXPECT_TRUE(MinidumpReader(dir / "crash_helper.dmp").valid());
}

TEST(CrashReporter, ReporterPathCutAt259AndAppArgumentAt1023)
{
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    const std::string reporter = PathOfLength(dir.Path(), 259, "reporter");
    MakeDirs(reporter.substr(0, reporter.rfind('/')));
    WriteReporter(reporter);
    const std::string appArgument = std::string(1000, 'a') + std::string(500, 'b');
    RunResult run = RunProgram({program, "main-null", "--reporter", reporter + "-cut-off", "--app", appArgument},
                               {"REPORTER_OUT=" + (dir / "args"), "XDG_STATE_HOME=" + (dir / "state")});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    ASSERT_TRUE(WaitForFile(dir / "args", 20)) << "the reporter cut at 259 characters did not start";
    const auto args = ReadArguments(dir / "args");
    ASSERT_EQ(args.size(), 10u);
    EXPECT_EQ(args[7], appArgument.substr(0, 1023));
}

TEST(CrashReporter, QuotesInValuesCannotBreakTheCommandLine)
{
    TempDir dir;
    const std::string program = dir / "say \"hi\" -pid 1/crash_helper";
    CopyHelper(program);
    WriteReporter(dir / "reporter");
    const std::string appArgument = "x\" -pid \"1 ; rm -rf /";
    RunResult run = RunProgram({program, "main-null", "--reporter", dir / "reporter", "--app", appArgument},
                               {"REPORTER_OUT=" + (dir / "args"), "XDG_STATE_HOME=" + (dir / "state")});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    ASSERT_TRUE(WaitForFile(dir / "args", 20));
    const std::vector<std::string> expected = {"-f",   dir / "say \"hi\" -pid 1/crash_helper.dmp",
                                               "-t",   program,
                                               "-v",   "1.0.0.2",
                                               "-a",   appArgument,
                                               "-pid", std::to_string(run.pid)};
    EXPECT_EQ(ReadArguments(dir / "args"), expected);
}

TEST(CrashReporter, MissingReporterStillLeavesTheDump)
{
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    RunResult run = RunProgram({program, "main-null", "--reporter", dir / "no-such-reporter"},
                               {"XDG_STATE_HOME=" + (dir / "state")});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    MinidumpReader dump(dir / "crash_helper.dmp");
    ASSERT_TRUE(dump.valid()) << dump.error();
    EXPECT_EQ(dump.threads().size(), 4u);
}

TEST(CrashFallback, DumpGoesToXdgStateHomeWhenItCannotBeCreatedBesideTheProgram)
{
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    MakeDirs(dir / "crash_helper.dmp");  // a folder where the dump would go: it cannot be created there
    WriteReporter(dir / "reporter");
    RunResult run = RunProgram({program, "main-null", "--reporter", dir / "reporter"},
                               {"REPORTER_OUT=" + (dir / "args"), "XDG_STATE_HOME=" + (dir / "state")});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    const std::string fallback = dir / "state/crash_helper/crash_helper.dmp";
    EXPECT_TRUE(MinidumpReader(fallback).valid());
    ASSERT_TRUE(WaitForFile(dir / "args", 20));
    const auto args = ReadArguments(dir / "args");
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[1], fallback);  // the reporter is told where it really is
    struct stat st {};
    ASSERT_EQ(stat((dir / "state/crash_helper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(CrashFallback, DumpGoesToHomeLocalStateWithoutXdgStateHome)
{
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    MakeDirs(dir / "crash_helper.dmp");
    RunResult run = RunProgram({program, "main-null"}, {"HOME=" + (dir / "home")}, {"XDG_STATE_HOME"});
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    EXPECT_TRUE(MinidumpReader(dir / "home/.local/state/crash_helper/crash_helper.dmp").valid());
}

TEST(CrashFallback, UnwritableProgramFolder)
{
    TempDir dir;
    chmod(dir.Path().c_str(), 0755);
    const std::string program = dir / "bin/crash_helper";
    CopyHelper(program);
    MakeDirs(dir / "state");
    chmod((dir / "state").c_str(), 0777);
    RunResult run;
    if (geteuid() == 0) {
        // As root every folder is writable: run the program as nobody, as a user would.
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is needed to drop root";
        run = RunProgram(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", program, "main-null"},
            {"XDG_STATE_HOME=" + (dir / "state")});
    } else {
        chmod((dir / "bin").c_str(), 0555);
        run = RunProgram({program, "main-null"}, {"XDG_STATE_HOME=" + (dir / "state")});
        chmod((dir / "bin").c_str(), 0755);
    }
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    EXPECT_FALSE(Exists(dir / "bin/crash_helper.dmp"));
    EXPECT_TRUE(MinidumpReader(dir / "state/crash_helper/crash_helper.dmp").valid());
}

TEST(CrashInstall, ProgramPathOf260CharactersInstallsNothing)
{
    TempDir dir;
    const std::string program = PathOfLength(dir.Path(), 260, "crash_helper");
    CopyHelper(program);
    RunResult run = RunProgram({program, "main-null"}, {"XDG_STATE_HOME=" + (dir / "state")});
    EXPECT_EQ(run.out, "CrashHandler.cpp(593): file(" + program + ") too large\n");
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);  // the default action
    EXPECT_FALSE(Exists(program.substr(0, program.size() - 12) + "crash_helper.dmp"));
    EXPECT_FALSE(Exists(dir / "state"));
}

TEST(CrashInstall, ProgramPathOf259CharactersWithExtensionDumpsBesideIt)
{
    TempDir dir;
    const std::string program = PathOfLength(dir.Path(), 259, "crash.bin");
    CopyHelper(program);
    RunResult run = RunProgram({program, "main-null"}, {"XDG_STATE_HOME=" + (dir / "state")});
    EXPECT_EQ(run.out, "");
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    EXPECT_TRUE(MinidumpReader(program.substr(0, program.size() - 4) + ".dmp").valid());
}

TEST(CrashInstall, ProgramPathOf259CharactersWithoutExtensionDumpsToTheStateFolder)
{
    // With ".dmp" appended the name would pass 259 characters.
    TempDir dir;
    const std::string program = PathOfLength(dir.Path(), 259, "crash_helper");
    CopyHelper(program);
    RunResult run = RunProgram({program, "main-null"}, {"XDG_STATE_HOME=" + (dir / "state")});
    EXPECT_EQ(run.out, "");
    ASSERT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    EXPECT_TRUE(MinidumpReader(dir / "state/crash_helper/crash_helper.dmp").valid());
}

TEST(CrashInstall, UnreadableProgramPathPrints590)
{
    // Without /proc the program's path cannot be read: a private mount namespace hides it.
    if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "no unshare";
    TempDir dir;
    const std::string program = dir / "crash_helper";
    CopyHelper(program);
    const std::vector<std::string> unshare =
        geteuid() == 0 ? std::vector<std::string>{"/usr/bin/unshare", "--mount"}
                       : std::vector<std::string>{"/usr/bin/unshare", "--user", "--map-root-user", "--mount"};
    std::vector<std::string> argv = unshare;
    argv.insert(argv.end(), {"/bin/sh", "-c", "mount -t tmpfs none /proc || exit 90; exec \"$0\" main-null", program});
    RunResult run = RunProgram(argv, {"XDG_STATE_HOME=" + (dir / "state")});
    if (WIFEXITED(run.status) && WEXITSTATUS(run.status) != 0)
        GTEST_SKIP() << "no private mount namespace here: " << Describe(run);
    EXPECT_EQ(run.out, "(590): can't get filename\n");
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV)) << Describe(run);
    EXPECT_FALSE(Exists(dir / "crash_helper.dmp"));
}
