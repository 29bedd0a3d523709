/*
 * mapwait_test.cpp -- mapwait on an X server of its own (ctest runs the
 * test under scripts/with-xvfb.sh, which sets DISPLAY): it reports the pid
 * and a plausible time for a window that maps, leaves that program
 * running, waits past windows that bypass the window manager, with
 * --painted waits on to the window's first drawing, and fails in bounded
 * time for a program that ends, cannot start, maps nothing or paints
 * nothing; bad usage exits 2.
 */
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

namespace {

/* A failure must come well before mapwait's default timeout of 20 s. */
const double kFailFastSeconds = 15;

std::string display;

/* The directory of this test program, where mapwait and minimal_window lie. */
std::string BinDir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    std::string s(path);
    return s.substr(0, s.rfind('/'));
}

/* Runs mapwait with arguments under the test's display. Returns its exit
 * code, sets *out to its standard output and *seconds to its run time. */
std::string lastErrors;  /* mapwait's standard error of the last run */

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    unlink(path.c_str());
    return text.str();
}

int RunMapwait(const std::string &arguments, std::string *out, double *seconds)
{
    const std::string outFile = "/tmp/mapwait_test." + std::to_string(getpid());
    const std::string command = "DISPLAY=" + display + " " + BinDir() + "/mapwait " + arguments + " >" +
                                outFile + " 2>" + outFile + ".err";
    auto start = std::chrono::steady_clock::now();
    int status = system(command.c_str());
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *out = ReadFile(outFile);
    lastErrors = ReadFile(outFile + ".err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Mapwait : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *name = getenv("DISPLAY");
        display = name != nullptr ? name : "";
        ASSERT_FALSE(display.empty()) << "no X server: run the test under scripts/with-xvfb.sh";
    }
};

TEST_F(Mapwait, ReportsTheMappedProgramAndLeavesItRunning)
{
    std::string out;
    double seconds;
    ASSERT_EQ(RunMapwait("-- " + BinDir() + "/minimal_window", &out, &seconds), 0) << lastErrors;
    int pid = 0;
    double ms = -1;
    ASSERT_EQ(sscanf(out.c_str(), "%d %lf", &pid, &ms), 2) << out;
    EXPECT_GT(ms, 0.0) << out;
    EXPECT_LE(ms, seconds * 1000.0) << "the time cannot exceed mapwait's own run: " << out;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0) << "the program must still run";
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    comm >> name;
    EXPECT_EQ(name, "minimal_window");
    kill(pid, SIGTERM);
}

/* Reads "<pid> <ms>" from out. Returns the milliseconds, or -1; ends the
 * program named there. */
double TakeReport(const std::string &out)
{
    int pid = 0;
    double ms = -1;
    if (sscanf(out.c_str(), "%d %lf", &pid, &ms) != 2)
        return -1;
    if (pid > 0)
        kill(pid, SIGTERM);
    return ms;
}

TEST_F(Mapwait, CountsOnlyTopLevelWindowsAndWithPaintedTheirFirstDrawing)
{
    struct Case {
        const char *helperArguments;
        const char *options;
        int exitCode;
        double minMs;
    } cases[] = {
        {"0", "--timeout-ms 30000", 0, 0},
        {"400", "--timeout-ms 30000", 0, 400},
        {"400 override", "--timeout-ms 30000", 0, 400},
        {"4000 override", "--timeout-ms 400", 1, -1},
        {"0 paint 400", "--timeout-ms 30000 --painted", 0, 400},
        {"200 override paint 400", "--timeout-ms 30000 --painted", 0, 600},
        {"0", "--timeout-ms 600 --painted", 1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "map_helper " << c.helperArguments << ", " << c.options);
        std::string out;
        double seconds;
        const std::string arguments = std::string(c.options) + " -- " + BinDir() + "/map_helper " +
                                      c.helperArguments;
        EXPECT_EQ(RunMapwait(arguments, &out, &seconds), c.exitCode) << lastErrors;
        const double ms = TakeReport(out);
        if (c.exitCode == 0)
            EXPECT_GE(ms, c.minMs) << out;
        else
            EXPECT_EQ(out, "");
    }
}

TEST_F(Mapwait, FailsInBoundedTimeWhenNothingMaps)
{
    struct Case {
        const char *arguments;
        int exitCode;
    } cases[] = {
        {"-- /bin/true", 1},
        {"-- /no/such/program", 1},
        {"--timeout-ms 300 -- /bin/sleep 30", 1},
        {"--timeout-ms 300 -- /bin/sh -c 'sleep 0.1; exit 3'", 1},
        {"/bin/true", 2},
        {"--", 2},
        {"--timeout-ms 0 -- /bin/true", 2},
        {"--timeout-ms -- /bin/true", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string out;
        double seconds;
        EXPECT_EQ(RunMapwait(c.arguments, &out, &seconds), c.exitCode);
        EXPECT_LT(seconds, kFailFastSeconds);
        EXPECT_EQ(out, "") << "nothing is reported on failure";
    }
}

TEST_F(Mapwait, GivesUpOnABrokenDisplay)
{
    display = ":" + std::to_string(60000 + getpid() % 1000);
    std::string out;
    double seconds;
    EXPECT_EQ(RunMapwait("-- /bin/true", &out, &seconds), 1);
}

}  // namespace
