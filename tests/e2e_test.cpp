/*
 * e2e_test.cpp -- the real executable under Xvfb against the real simulator
 * on 127.0.0.1:1080 (the program's default address): the first cyclic "A0"
 * comes after the 5 s of the send cycle, the program reconnects after the
 * chamber closed the connection, Esc ends it with exit code 0 and a closed
 * connection, and a missing panel file or display ends it with 255 and no
 * connection attempt. Against a loopback chamber whose connects hang, the
 * panel shows painted while the first connect waits.
 *
 * The simulator runs with --verbose and logs one line per connect, command
 * and close; the test notes when each line arrives. The X server is the
 * one of scripts/with-xvfb.sh, which ctest runs the test under (DISPLAY).
 *
 * Every wait is for a condition, bounded generously: a loaded machine
 * starts the program slowly, which must not fail the test.
 */
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

#include "loopback_peer.h"

namespace {

const int kWindowTimeoutMs = 30000; /* the main window shows, xdotool ends */
const int kStartMs = 30000;         /* a process starts, the simulator listens */
const int kExitMs = 30000;          /* the program ends after Esc or a failed start-up */
const int kCycleMs = 5000;          /* the send cycle of the panel file */
const int kLateMs = 10000;          /* the most a loaded machine may add to it */
const int kIntoTheWaitMs = 1000;    /* when the screen is pictured during the first connect */
const int kFewestColours = 16;      /* a painted panel has far more; a blank one has 1 */

struct LogLine {
    qint64 atMs;     /* since the program was started */
    std::string text;
};

/* A child process whose standard output is collected line by line. */
class Child {
public:
    QProcess process;
    std::vector<LogLine> lines;
    QByteArray pending;

    /* Ends the process with SIGTERM, so that it closes what it holds. */
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(kExitMs))
                process.kill();
        }
    }

    void collect(const QElapsedTimer &clock)
    {
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            lines.push_back({clock.elapsed(), pending.left(end).toStdString()});
            pending.remove(0, end + 1);
        }
    }

    int count(const std::string &needle) const
    {
        int n = 0;
        for (const LogLine &l : lines)
            n += l.text.find(needle) != std::string::npos;
        return n;
    }

    /* Time of the n-th (from 1) line holding needle, or -1. */
    qint64 timeOf(const std::string &needle, int n = 1) const
    {
        for (const LogLine &l : lines)
            if (l.text.find(needle) != std::string::npos && --n == 0)
                return l.atMs;
        return -1;
    }
};

class EndToEnd : public ::testing::Test {
protected:
    QString display;
    Child sim;
    QElapsedTimer clock;

    void SetUp() override
    {
        display = qEnvironmentVariable("DISPLAY");
        ASSERT_FALSE(display.isEmpty()) << "no X server: run the test under scripts/with-xvfb.sh";
        clock.start();
    }

    void startSim(const QStringList &options)
    {
        sim.process.start(QUENTA_SIM_PATH, QStringList{"--listen", "127.0.0.1", "--verbose"} + options);
        ASSERT_TRUE(sim.process.waitForStarted(kStartMs));
        ASSERT_TRUE(pumpUntil([&] { return sim.count("listening") > 0; }, kStartMs))
            << "the simulator does not listen on 127.0.0.1:1080";
    }

    void startProgram(QProcess &program, const QString &path, const QString &platform = "xcb")
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", platform);
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        clock.restart();
        program.start(path, {});
        ASSERT_TRUE(program.waitForStarted(kStartMs));
    }

    /* Collects the simulator's log until done() holds or timeoutMs passes;
     * returns done(). */
    bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
    {
        return QTest::qWaitFor([&] {
            sim.collect(clock);
            return done();
        }, timeoutMs);
    }

    /* Collects the simulator's log for ms milliseconds. */
    void pumpFor(int ms)
    {
        QTest::qWait(ms);
        sim.collect(clock);
    }

    /* Runs tool (xdotool, import) with arguments on the display; returns
     * its standard output. */
    QByteArray run(const QString &tool, const QStringList &arguments)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
        p.start(tool, arguments);
        p.waitForFinished(kWindowTimeoutMs);
        return p.readAllStandardOutput();
    }

    std::string xdotool(const QStringList &arguments)
    {
        return run("xdotool", arguments).trimmed().toStdString();
    }

    /* Esc typed into the focused main window. The key goes through the
     * server as a real one would (no --window), so that its release is
     * delivered although the program ends on the press: a key left down
     * would repeat into the next program on the same display. */
    void pressEscape()
    {
        std::string window = xdotool({"search", "--sync", "--onlyvisible", "--class", "quenta-ascii"});
        ASSERT_FALSE(window.empty()) << "the main window never showed";
        window = window.substr(0, window.find('\n'));
        xdotool({"windowfocus", "--sync", QString::fromStdString(window)});
        xdotool({"key", "Escape"});
    }
};

TEST_F(EndToEnd, FirstCyclicSendAfterTheSendCycleThenEscEndsWithZero)
{
    startSim({});
    QProcess program;
    startProgram(program, QUENTA_APP_PATH);
    ASSERT_TRUE(pumpUntil([&] { return sim.count("connected") > 0; }, kStartMs))
        << "start-up connects to the address in IP";
    ASSERT_TRUE(pumpUntil([&] { return sim.count("<< A0") > 0; }, kCycleMs + kLateMs));
    qint64 first = sim.timeOf("<< A0");
    EXPECT_GE(first, kCycleMs - 200) << "the send cycle is SCANNING's 5 s, not the timer's stored 2 s";
    EXPECT_LE(first - sim.timeOf("connected"), kCycleMs + kLateMs);

    pressEscape();
    ASSERT_TRUE(program.waitForFinished(kExitMs));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(pumpUntil([&] { return sim.count("closed") > 0; }, kStartMs))
        << "the connection is closed on the way out";
}

TEST_F(EndToEnd, ReconnectsAfterTheChamberClosedTheConnection)
{
    startSim({"--close-after-answer"});
    QProcess program;
    startProgram(program, QUENTA_APP_PATH);
    ASSERT_TRUE(pumpUntil([&] { return sim.count("<< A0") >= 2; }, 2 * (kCycleMs + kLateMs)))
        << "a second cyclic send arrives";
    EXPECT_GE(sim.count("connected"), 2) << "on a new connection";
    EXPECT_GE(sim.count("closed"), 1);
    EXPECT_LT(sim.timeOf("closed"), sim.timeOf("<< A0", 2));
    pressEscape();
    ASSERT_TRUE(program.waitForFinished(kExitMs));
    EXPECT_EQ(program.exitCode(), 0);
}

/* Number of different colours in image, counted up to limit. */
int Colours(const QImage &image, int limit)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height() && seen.size() < limit; y++)
        for (int x = 0; x < image.width() && seen.size() < limit; x++)
            seen.insert(image.pixel(x, y));
    return static_cast<int>(seen.size());
}

/* Start-up shows the panel, then waits up to 3 s for a first connect that
 * hangs (the chamber's backlog is full): a picture of the screen 1 s into
 * that wait must show the painted panel, not a blank window. */
TEST_F(EndToEnd, PanelIsPaintedWhileTheFirstConnectWaits)
{
    PeerOptions hang;
    hang.fullBacklog = true;
    LoopbackPeer chamber("127.0.0.1", hang);
    ASSERT_TRUE(chamber.listening()) << "no listener with a full backlog on 127.0.0.1";
    QProcess program;
    startProgram(program, QUENTA_APP_PATH);
    ASSERT_FALSE(xdotool({"search", "--sync", "--onlyvisible", "--class", "quenta-ascii"}).empty())
        << "the window never showed";
    QThread::msleep(kIntoTheWaitMs);
    const QImage shot = QImage::fromData(run("import", {"-window", "root", "png:-"}), "PNG");
    ASSERT_FALSE(shot.isNull()) << "no picture of the screen";
    EXPECT_GE(Colours(shot, kFewestColours), kFewestColours)
        << "1 s into the first connect the screen is blank: the panel was shown but not painted";
    EXPECT_EQ(QProcess::Running, program.state()) << "the program ended during the first connect";
}

TEST_F(EndToEnd, MissingPanelFileEndsWith255BeforeAnyConnection)
{
    startSim({});
    QTemporaryDir alone;
    ASSERT_TRUE(alone.isValid());
    QString copy = alone.filePath("quenta-ascii");
    ASSERT_TRUE(QFile::copy(QUENTA_APP_PATH, copy));
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner);
    QProcess program;
    startProgram(program, copy);
    ASSERT_TRUE(program.waitForFinished(kExitMs));
    EXPECT_EQ(program.exitCode(), 255);
    pumpFor(500);
    EXPECT_EQ(sim.count("connected"), 0) << "no connection attempt";
}

TEST_F(EndToEnd, NoDisplayEndsWith255WithoutCrashing)
{
    startSim({});
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.start(QUENTA_APP_PATH, {});
    ASSERT_TRUE(program.waitForFinished(kExitMs));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 255);
    pumpFor(500);
    EXPECT_EQ(sim.count("connected"), 0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
