/*
 * ui_nodisplay_test.cpp -- InitRuntimeEngine where no display can be
 * opened: it must answer 0 and leave the process alive (Qt itself would
 * abort it). Each case runs in a child process, since a successful start
 * cannot be undone.
 */
#include "platform.h"
#include "ui_test_panel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

struct StartCase {
    const char *name;
    const char *platform;   /* QT_QPA_PLATFORM, NULL: unset */
    const char *display;    /* DISPLAY, NULL: unset */
    const char *argument;   /* "-platform" argument, NULL: none */
    int expected;
};

/* A display number no X server listens on here. */
std::string FreeDisplay()
{
    for (int n = 87; n < 200; n++) {
        struct stat st;
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        if (stat(socket.c_str(), &st) != 0 && stat(lock.c_str(), &st) != 0)
            return ":" + std::to_string(n);
    }
    return ":199";
}

/* Runs InitRuntimeEngine in a child set up as c says; returns the child's
 * exit code, or -1000 - signal when it died of a signal. */
int StartInChild(const StartCase &c, const std::string &freeDisplay)
{
    const pid_t pid = fork();
    if (pid == 0) {
        c.platform ? setenv("QT_QPA_PLATFORM", c.platform, 1) : unsetenv("QT_QPA_PLATFORM");
        const std::string display = c.display && std::string(c.display) == "free" ? freeDisplay
                                                                                  : (c.display ? c.display : "");
        c.display ? setenv("DISPLAY", display.c_str(), 1) : unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("XDG_SESSION_TYPE");
        char name[] = "ui_nodisplay_test", option[] = "-platform";
        char value[64];
        snprintf(value, sizeof value, "%s", c.argument ? c.argument : "");
        char *withArg[] = {name, option, value, nullptr};
        char *plain[] = {name, nullptr};
        _exit(InitRuntimeEngine(nullptr, c.argument ? withArg : plain, 0));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -2000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
}

TEST(EngineStart, AnswersZeroWithoutADisplayAndNeverAborts)
{
    const StartCase cases[] = {
        {"xcb, DISPLAY unset", "xcb", nullptr, nullptr, 0},
        {"xcb, DISPLAY empty", "xcb", "", nullptr, 0},
        {"xcb, no server at DISPLAY", "xcb", "free", nullptr, 0},
        {"default platform, DISPLAY unset", nullptr, nullptr, nullptr, 0},
        {"no such platform plugin", "nosuchplatform", nullptr, nullptr, 0},
        {"offscreen", "offscreen", nullptr, nullptr, 1},
        {"xcb failing, offscreen next in the list", "xcb;offscreen", nullptr, nullptr, 1},
        {"-platform argument wins over the environment", "xcb", nullptr, "offscreen", 1},
        {"-platform argument naming xcb without display", "offscreen", nullptr, "xcb", 0},
    };
    const std::string freeDisplay = FreeDisplay();
    for (const StartCase &c : cases)
        EXPECT_EQ(c.expected, StartInChild(c, freeDisplay)) << c.name;
}

TEST(EngineStart, LibraryCallsBeforeTheEngineSayNotInitialised)
{
    int value = 0;
    EXPECT_EQ(UIE_NOT_INITIALIZED, LoadPanel(0, UI_TEST_PANEL_FILE, PANEL));
    EXPECT_EQ(UIE_NOT_INITIALIZED, RunUserInterface());
    EXPECT_EQ(UIE_NOT_INITIALIZED, QuitUserInterface(0));
    EXPECT_EQ(UIE_NOT_INITIALIZED, GetCtrlVal(1, 2, &value));
    EXPECT_EQ(UIE_NOT_INITIALIZED, SetWaitCursor(1));
    EXPECT_EQ(UIE_NOT_INITIALIZED, SuspendTimerCallbacks());
}

}  // namespace
