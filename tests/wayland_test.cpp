/*
 * wayland_test.cpp -- the real executable on a Wayland desktop: weston's
 * headless compositor (with the test seat of wayland_seat.so, since the
 * headless backend has no keyboard or pointer), the program on Qt's
 * Wayland plugin, and a loopback chamber on 127.0.0.1:1080 that first lets
 * every connect hang and later answers.
 *
 * What reached the compositor, and when, is read from weston's protocol
 * log: every request of the program with the millisecond the compositor
 * got it. Keys and pointer moves go through weston's own input path.
 */
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fault_peer.h"

namespace {

const char kChamber[] = "127.0.0.1";
const char kSocket[] = "quenta-test";
const int kKeyEsc = 1;        /* evdev key codes */
const int kKeyEnter = 28;
const int kStartMs = 15000;   /* for weston or the program to come up */
const int kConnectMs = 3000;  /* the program's connect timeout */
const int kTickWaitMs = 30000;
const int kQuitMs = 10000;
const int kPaintedWithinMs = 2000;
const char kMiddle[] = "move 512 320";   /* the middle of weston's output, where windows go */

#if QUENTA_ENGLISH_UI
const char kTitle[] = "Testprogramme for Quenta ASCII protocol Version 3.2";
#else
const char kTitle[] = "Testprogram f\xc3\xbcr Quenta ASCII protokoll  \xc3\xbc" "ber Ethernet Version 3.2";
#endif

/* One request of a client, as the protocol log shows it. */
struct Message {
    qint64 ms;            /* when the compositor got it */
    std::string client;   /* e.g. "0x55b56c6c1470" */
    std::string call;     /* e.g. "xdg_toplevel@14.set_title(\"Scanning\")" */
};

/* Index of the first request from position from whose call holds needle,
 * or -1. */
int FindRequest(const std::vector<Message> &log, const std::string &needle, int from = 0)
{
    for (size_t i = static_cast<size_t>(from); i < log.size(); i++)
        if (log[i].call.find(needle) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

class Wayland : public ::testing::Test {
protected:
    QTemporaryDir runtime;   /* XDG_RUNTIME_DIR: private, 0700 */
    QProcess weston;
    QProcess program;
    QFile log;               /* weston's, with the proto scope */
    QByteArray pending;      /* the log's last line, until it is whole */
    std::vector<Message> requests;  /* of every client, as the log has them */

    void TearDown() override
    {
        for (QProcess *p : {&program, &weston}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000))
                    p->kill();
                p->waitForFinished(2000);
            }
        }
    }

    /* Starts weston headless with the test seat; true once it takes orders. */
    bool StartWeston()
    {
        if (!runtime.isValid())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        weston.setProcessEnvironment(env);
        weston.start("weston", {"--backend=headless-backend.so", "--use-pixman", "--no-config",
                                "--idle-time=0", QString("--socket=%1").arg(kSocket),
                                QString("--modules=%1").arg(QUENTA_WAYLAND_SEAT), "--debug",
                                "--logger-scopes=log,proto", "--log=" + runtime.filePath("weston.log")});
        log.setFileName(runtime.filePath("weston.log"));
        return weston.waitForStarted(kStartMs) &&
               WaitFor([&] { return QFile::exists(runtime.filePath("seat-input")) && QFile::exists(runtime.filePath(kSocket)); },
                       kStartMs);
    }

    /* Gives the test seat one order ("key 28", "move 512 320"). */
    void Order(const std::string &order)
    {
        QFile fifo(runtime.filePath("seat-input"));
        ASSERT_TRUE(fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const std::string line = order + "\n";
        ASSERT_EQ(static_cast<qint64>(line.size()), fifo.write(line.data(), static_cast<qint64>(line.size())));
    }

    void StartProgram()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("WAYLAND_DISPLAY", kSocket);
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.remove("DISPLAY");
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QUENTA_APP_PATH, {});
        ASSERT_TRUE(program.waitForStarted(kStartMs));
    }

    /* Reads the requests the log got since the last call. */
    void ReadLog()
    {
        static const QRegularExpression line(
            R"(^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})\]\[proto\] client (\S+) rq (.*)$)");
        if (!log.isOpen() && !log.open(QIODevice::ReadOnly))
            return;
        pending += log.readAll();
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QRegularExpressionMatch m = line.match(QString::fromUtf8(pending.left(end)));
            const QDateTime at = QDateTime::fromString(m.captured(1), "yyyy-MM-dd hh:mm:ss.zzz");
            if (m.hasMatch())
                requests.push_back({at.toMSecsSinceEpoch(), m.captured(2).toStdString(), m.captured(3).toStdString()});
        }
    }

    /* The program's requests (its client names itself quenta-ascii). */
    std::vector<Message> Program() const
    {
        std::string client;
        for (const Message &m : requests)
            if (m.call.find(".set_app_id(\"quenta-ascii\")") != std::string::npos)
                client = m.client;
        std::vector<Message> mine;
        for (const Message &m : requests)
            if (!client.empty() && m.client == client)
                mine.push_back(m);
        return mine;
    }

    /* Waits until done() holds, reading the log meanwhile. */
    bool WaitFor(const std::function<bool()> &done, int timeoutMs)
    {
        return QTest::qWaitFor([&] {
            ReadLog();
            return done();
        }, timeoutMs);
    }

    /* Waits for the program's request holding needle after position from;
     * returns its index or -1. */
    int WaitForRequest(const std::string &needle, int from, int timeoutMs)
    {
        int found = -1;
        WaitFor([&] { return (found = FindRequest(Program(), needle, from)) >= 0; }, timeoutMs);
        return found;
    }

    /* When the compositor got the program's index-th request. */
    qint64 At(int index) const { return Program().at(static_cast<size_t>(index)).ms; }
};

/*
 * Start-up against a chamber whose connects hang: the window is painted
 * before the first connect gives up. The first tick, 5 s later, hangs as
 * well: "Scanning" and the wait cursor reach the compositor during the
 * wait, the title and cursor come back after it. Then the chamber answers,
 * Enter sends the command field, and Esc ends the program with 0.
 */
TEST_F(Wayland, PaintedTitledAndWaitingOnTimeThenEnterSendsAndEscQuits)
{
    auto chamber = std::make_unique<FaultPeer>(kChamber, PeerScript(Misbehaviour::NeverAccept));
    ASSERT_TRUE(chamber->ready()) << "no listener with a full backlog on " << kChamber;
    ASSERT_TRUE(StartWeston()) << "weston with the test seat did not come up";
    Order(kMiddle);
    StartProgram();

    const std::string setTitle = std::string(".set_title(\"") + kTitle + "\")";
    const int titled = WaitForRequest(setTitle, 0, kStartMs);
    ASSERT_GE(titled, 0) << "the window never got its title";
    /* The first buffer of the program is its window's (a cursor follows
     * only once the pointer is inside). */
    const int painted = WaitForRequest(".attach(wl_buffer@", 0, kStartMs + kConnectMs);
    ASSERT_GE(painted, 0) << "the window never got a picture";
    EXPECT_LT(At(painted) - At(titled), kPaintedWithinMs) << "the first picture waited for the first connect";

    const int scanning = WaitForRequest(".set_title(\"Scanning\")", 0, kTickWaitMs);
    ASSERT_GE(scanning, 0) << "no tick came";
    const int restored = WaitForRequest(setTitle, scanning, kTickWaitMs);
    ASSERT_GE(restored, 0) << "the title was not put back";
    EXPECT_GE(At(restored) - At(scanning), kConnectMs - 500)
        << "\"Scanning\" reached the compositor only when the connect was over";
    /* The cursor and the title go out in one flush, in either order; the
     * cursor changed last at start-up, seconds before. */
    int tickStart = scanning;
    while (tickStart > 0 && At(scanning) - At(tickStart - 1) < kConnectMs / 2)
        tickStart--;
    const int waitCursor = FindRequest(Program(), ".set_cursor(", tickStart);
    ASSERT_GE(waitCursor, 0) << "the cursor never changed during the tick";
    EXPECT_LT(At(waitCursor), At(restored) - kConnectMs / 2)
        << "the wait cursor reached the compositor only when the connect was over";
    EXPECT_GE(FindRequest(Program(), ".set_cursor(", waitCursor + 1), 0) << "the cursor was not put back";

    chamber.reset();
    chamber = std::make_unique<FaultPeer>(kChamber, PeerScript(Misbehaviour::Answer, "A0 020.0 020.0"));
    ASSERT_TRUE(chamber->ready());
    Order("key " + std::to_string(kKeyEnter));
    EXPECT_TRUE(WaitFor([&] { return chamber->received().find("A0") != std::string::npos; }, kTickWaitMs))
        << "Enter sent nothing: \"" << chamber->received() << "\"";

    Order("key " + std::to_string(kKeyEsc));
    ASSERT_TRUE(program.waitForFinished(kQuitMs)) << "Esc did not end the program";
    EXPECT_EQ(QProcess::NormalExit, program.exitStatus());
    EXPECT_EQ(0, program.exitCode());
}

/* No compositor where the environment says one is, and no X display:
 * the program ends with -1 (255), never with Qt's abort. */
TEST_F(Wayland, NoCompositorEndsWith255WithoutCrashing)
{
    ASSERT_TRUE(runtime.isValid());
    struct Case {
        const char *what;
        std::vector<std::pair<const char *, const char *>> env;
    } cases[] = {
        {"wayland asked, none named", {{"QT_QPA_PLATFORM", "wayland"}}},
        {"wayland asked, a dead one named", {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "gone-0"}}},
        {"wayland or X asked, neither there", {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"WAYLAND_DISPLAY", "gone-0"}}},
        {"a Wayland session that has ended", {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "gone-0"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QProcess alone;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM",
                                 "XDG_SESSION_TYPE"})
            env.remove(name);
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        for (const auto &setting : c.env)
            env.insert(setting.first, setting.second);
        alone.setProcessEnvironment(env);
        alone.start(QUENTA_APP_PATH, {});
        ASSERT_TRUE(alone.waitForFinished(kQuitMs));
        EXPECT_EQ(QProcess::NormalExit, alone.exitStatus()) << "it crashed";
        EXPECT_EQ(255, alone.exitCode());
    }
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
