/*
 * operator_screen_test.cpp -- the real executable on an X11 screen of its
 * own (scripts/with-xvfb.sh sets DISPLAY) against a chamber on
 * 127.0.0.1:1080 whose connects hang: start-up shows the panel and then waits up to 3 s for the first
 * connect. A picture of the screen taken 1 s into that wait must show the
 * painted panel, not a black rectangle.
 */
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <string>

#include "fault_peer.h"

namespace {

const char kChamber[] = "127.0.0.1";
const int kStartMs = 15000;
const int kIntoTheWaitMs = 1000;
const int kFewestColours = 16;   /* a painted panel has far more; a blank one has 1 */

class Screen : public ::testing::Test {
protected:
    QProcess program;

    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    /* Runs tool on this test's display; returns its standard output. */
    static QByteArray Run(const QString &tool, const QStringList &arguments)
    {
        QProcess p;
        p.start(tool, arguments);
        p.waitForFinished(kStartMs);
        return p.readAllStandardOutput();
    }
};

/* Number of different colours in image, counted up to limit. */
int Colours(const QImage &image, int limit)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height() && seen.size() < limit; y++)
        for (int x = 0; x < image.width() && seen.size() < limit; x++)
            seen.insert(image.pixel(x, y));
    return static_cast<int>(seen.size());
}

TEST_F(Screen, PanelIsPaintedWhileTheFirstConnectWaits)
{
    FaultPeer chamber(kChamber, PeerScript(Misbehaviour::NeverAccept));
    ASSERT_TRUE(chamber.ready()) << "no listener with a full backlog on " << kChamber;
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "no X server: run under scripts/with-xvfb.sh";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QUENTA_APP_PATH, {});
    ASSERT_TRUE(program.waitForStarted(kStartMs));

    const QByteArray window =
        Run("xdotool", {"search", "--sync", "--onlyvisible", "--class", "quenta-ascii"}).trimmed();
    ASSERT_FALSE(window.isEmpty()) << "the window never showed";
    QThread::msleep(kIntoTheWaitMs);
    const QImage shot = QImage::fromData(Run("import", {"-window", "root", "png:-"}), "PNG");
    ASSERT_FALSE(shot.isNull()) << "no picture of the screen";
    EXPECT_GE(Colours(shot, kFewestColours), kFewestColours)
        << "1 s into the first connect the screen is blank: the panel was shown but not painted";
    EXPECT_EQ(QProcess::Running, program.state()) << "the program ended during the first connect";
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
