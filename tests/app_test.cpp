/*
 * app_test.cpp -- the module ASCII on the real panel (offscreen) against
 * real TCP peers on loopback: start-up, the LED and `connected` after each
 * caller, the history lists, sending by hand and cyclically, the receive
 * path with its options, and the text popup; under Xvfb (app_x11_test),
 * cyclic sending while the window is off the screen, against 127.0.53.1.
 *
 * Each test case uses its own address 127.0.0.30, .31, ... port 1080.
 * What must happen is waited for with generous bounds (kWaitMs), so that a
 * loaded machine passes; what must not happen gets kQuietMs to show.
 */
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

#include <poll.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"
#include "platform_qt.h"
#include "loopback_peer.h"

namespace {

const int kWaitMs = 10000;
const int kQuietMs = 300;
const int kReadWaitMs = 200;   /* a read with nothing waiting: it must wait, and times out */

char programName[] = "app_test";
char *programArgv[] = {programName, nullptr};

int Led()
{
    int value = -1;
    GetCtrlVal(mainPanel, LED, &value);
    return value;
}

int IntVal(int control)
{
    int value = -1;
    GetCtrlVal(mainPanel, control, &value);
    return value;
}

std::string StringVal(int panel, int control)
{
    char text[PLATFORM_LABEL_SIZE] = "";
    GetCtrlVal(panel, control, text);
    return text;
}

std::string Title()
{
    char title[PLATFORM_TITLE_SIZE] = "";
    GetPanelAttribute(mainPanel, ATTR_TITLE, title);
    return title;
}

std::vector<std::string> Lines(int list)
{
    std::vector<std::string> lines;
    int count = 0;
    GetNumListItems(mainPanel, list, &count);
    for (int i = 0; i < count; i++) {
        char label[PLATFORM_LABEL_SIZE] = "";
        GetLabelFromIndex(mainPanel, list, i, label);
        lines.push_back(label);
    }
    return lines;
}

int CurrentIndex(int list)
{
    int index = -2;
    GetCtrlIndex(mainPanel, list, &index);
    return index;
}

void PressEnter(int control)
{
    QTest::keyClick(GetCtrlWidget(mainPanel, control), Qt::Key_Return);
}

void Tick()
{
    TIMER(mainPanel, SCANNER, EVENT_TIMER_TICK, nullptr, 0, 0);
}

void Commit(int control, int (*callback)(int, int, int, void *, int, int))
{
    callback(mainPanel, control, EVENT_COMMIT, nullptr, 0, 0);
}

class Engine : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(InitRuntimeEngine(nullptr, programArgv, 0), 1); }
};
const ::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new Engine);

/* Start-up with the panel as loaded, against 127.0.0.1 (the panel's default). */
TEST(Startup, WithNoChamberTheLedIsOffAndTheProgramRuns)
{
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(AsciiStartup(), 0);
    EXPECT_LT(clock.elapsed(), 3000 + 2000);
    EXPECT_EQ(Led(), 0);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(StringVal(mainPanel, SEND_STRING), "A0");
    double interval = 0, scanning = 0;
    GetCtrlAttribute(mainPanel, SCANNER, ATTR_INTERVAL, &interval);
    GetCtrlVal(mainPanel, SCANNING, &scanning);
    EXPECT_EQ(scanning, 5.0);
    EXPECT_EQ(interval, 5.0) << "the timer takes SCANNING, not its stored interval";
    EXPECT_EQ(cycleSeconds, 5.0);
    EXPECT_EQ(IntVal(TOGGLEBUTTON), 1);
    EXPECT_EQ(GetActiveCtrl(mainPanel), SEND_STRING) << "the operator can type a command at once";
    DiscardPanel(mainPanel);
}

TEST(Startup, ConnectsToTheAddressInIpAndSetsTheLed)
{
    LoopbackPeer chamber("127.0.0.1");
    ASSERT_TRUE(chamber.listening());
    ASSERT_EQ(AsciiStartup(), 0);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(connected, 1);
    int fd = chamber.acceptOne(kWaitMs);
    EXPECT_GE(fd, 0);
    DisconnectFromTCPServer(connHandle);
    connected = 0;
    EXPECT_TRUE(chamber.closedByPeer(fd, kWaitMs)) << "the program closes its connection";
    chamber.closeConn(fd);
    DiscardPanel(mainPanel);
}

TEST(Startup, CommandFieldTakesTheCatalogueValueNotItsOwnDefault)
{
    char command[COMMAND_SIZE] = "";
    ASSERT_EQ(AsciiStartup(), 0);
    GetCtrlVal(mainPanel, AUSWAHL, command);
    EXPECT_STREQ(command, "A0");
    EXPECT_EQ(StringVal(mainPanel, SEND_STRING), command);
    DiscardPanel(mainPanel);
}

/*
 * Each test of the fixture gets a freshly started panel with cyclic sending
 * stopped, the history lists empty, and its own chamber address in IP.
 */
class Module : public ::testing::Test {
protected:
    std::string address;
    LoopbackPeer *chamber = nullptr;

    void SetUp() override
    {
        static int next = 30;
        address = "127.0.0.";
        address += std::to_string(next++);
        ASSERT_EQ(AsciiStartup(), 0);
        SetCtrlVal(mainPanel, TOGGLEBUTTON, 0);
        SuspendTimerCallbacks();
        SetCtrlVal(mainPanel, IP, address.c_str());
        chamber = new LoopbackPeer(address);
        ASSERT_TRUE(chamber->listening());
    }

    void TearDown() override
    {
        if (textPanel != -1)
            CloseText(textPanel, TEXTBOX, EVENT_COMMIT, nullptr, 0, 0);
        DisconnectFromTCPServer(connHandle);
        connected = 0;
        delete chamber;
        DiscardPanel(mainPanel);
        ResumeTimerCallbacks();
    }

    /* Commits IP, accepts the connection; returns the peer's fd. */
    int ConnectByAddress()
    {
        Commit(IP, IPinput);
        return chamber->acceptOne(kWaitMs);
    }
};

/* ---- The LED and `connected`, caller by caller. ---- */

TEST_F(Module, AddressCommitConnectsAndSetsTheLed)
{
    int fd = ConnectByAddress();
    EXPECT_GE(fd, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(Led(), 1);

    /* Every commit reconnects, even to the same address: the old one closes. */
    Commit(IP, IPinput);
    EXPECT_TRUE(chamber->closedByPeer(fd, kWaitMs));
    int second = chamber->acceptOne(kWaitMs);
    EXPECT_GE(second, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(Led(), 1);
    chamber->closeConn(fd);
    chamber->closeConn(second);
}

TEST_F(Module, AddressCommitThatFailsTurnsTheLedOff)
{
    int fd = ConnectByAddress();
    ASSERT_EQ(Led(), 1);
    chamber->stop();
    Commit(IP, IPinput);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(Led(), 0);
    chamber->closeConn(fd);
}

TEST_F(Module, AddressFieldEnterCommits)
{
    PressEnter(IP);
    int fd = chamber->acceptOne(kWaitMs);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(connected, 1);
    chamber->closeConn(fd);
}

TEST_F(Module, SendThatCannotConnectListsNothingAndLeavesTheLed)
{
    chamber->stop();
    for (int led : {0, 1}) {
        SetCtrlVal(mainPanel, LED, led);
        PressEnter(SEND_STRING);
        EXPECT_EQ(Led(), led);
        EXPECT_EQ(connected, 0);
        EXPECT_TRUE(Lines(ZEICHEN_GESENDET).empty());
    }
}

TEST_F(Module, SendConnectsWritesExactlyTheCommandAndListsIt)
{
    PressEnter(SEND_STRING);
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(chamber->readSome(fd, kWaitMs), "A0");
    EXPECT_EQ(chamber->readSome(fd, kQuietMs), "") << "nothing is appended";
    EXPECT_EQ(Lines(ZEICHEN_GESENDET), std::vector<std::string>{"A0"});
    chamber->closeConn(fd);
}

TEST_F(Module, EmptyCommandDoesNothing)
{
    SetCtrlVal(mainPanel, SEND_STRING, "");
    PressEnter(SEND_STRING);
    EXPECT_EQ(chamber->acceptOne(kQuietMs), -1) << "no connect for an empty field";
    EXPECT_TRUE(Lines(ZEICHEN_GESENDET).empty());
}

TEST_F(Module, LongestCommandIsWrittenWhole)
{
    std::string command(COMMAND_SIZE - 1, 'x');
    command[0] = 'M';
    SetCtrlVal(mainPanel, SEND_STRING, command.c_str());
    PressEnter(SEND_STRING);
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(chamber->readExactly(fd, command.size() + 1, kQuietMs), command);
    ASSERT_EQ(Lines(ZEICHEN_GESENDET).size(), 1u);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET)[0], command);
    chamber->closeConn(fd);
}

TEST_F(Module, HexModeListsTheLongestCommandWhole)
{
    std::string command(COMMAND_SIZE - 1, 0x7E);
    SetCtrlVal(mainPanel, SEND_STRING, command.c_str());
    SetCtrlVal(mainPanel, RINGSLIDE, DISPLAY_HEX);
    PressEnter(SEND_STRING);
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_EQ(Lines(ZEICHEN_GESENDET).size(), 1u);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET)[0].size(), 5u * command.size());
    chamber->closeConn(fd);
}

TEST_F(Module, AnswerIsListedAndTurnsTheLedOn)
{
    int fd = ConnectByAddress();
    SetCtrlVal(mainPanel, LED, 0);
    chamber->sendAll(fd, "A0 023.5 025.0");
    ASSERT_TRUE(QTest::qWaitFor([] { return !Lines(ZEICHEN_EMPFANGEN).empty(); }, kWaitMs));
    EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN)[0], "A0 023.5 025.0");
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(connected, 1);
    chamber->closeConn(fd);
}

TEST_F(Module, AnswerIsShownInTheChosenMode)
{
    struct {
        int mode;
        const char *answer;
        const char *line;
    } cases[] = {
        {DISPLAY_HEX, "AB", "0x41 0x42 "},
        {DISPLAY_RAW, "AB", "AB"},
        {DISPLAY_INTERPRETED, "A1 023.5 025.0", englishUI
             ? "Values of channel 1: Actvalue =  23.5, Setvalue =  25.0"
             : "Werte das Kanal 1: Istwert =  23.5, Sollwert =  25.0"},
        /* What mode 2 cannot interpret is listed as it stands. */
        {DISPLAY_INTERPRETED, "Bogus", "Bogus"},
        {DISPLAY_INTERPRETED, "\xE4x", "\xE4x"},
    };
    int fd = ConnectByAddress();
    size_t listed = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        SetCtrlVal(mainPanel, RINGSLIDE, c.mode);
        chamber->sendAll(fd, c.answer);
        listed++;
        ASSERT_TRUE(QTest::qWaitFor([&] { return Lines(ZEICHEN_EMPFANGEN).size() == listed; }, kWaitMs));
        EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN)[0], c.line);
    }
    chamber->closeConn(fd);
}

TEST_F(Module, AnswerWithAZeroByteReachesTheListUpToIt)
{
    int fd = ConnectByAddress();
    chamber->sendAll(fd, std::string("AB\0CD", 5));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Lines(ZEICHEN_EMPFANGEN).empty(); }, kWaitMs));
    EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN)[0], "AB");
    chamber->closeConn(fd);
}

TEST_F(Module, PeerCloseTurnsLedOffAndNextSendReconnects)
{
    int fd = ConnectByAddress();
    ASSERT_EQ(Led(), 1);
    chamber->closeConn(fd);
    ASSERT_TRUE(QTest::qWaitFor([] { return connected == 0; }, kWaitMs));
    EXPECT_EQ(Led(), 0);
    PressEnter(SEND_STRING);
    int again = chamber->acceptOne(kWaitMs);
    EXPECT_GE(again, 0);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(chamber->readSome(again, kWaitMs), "A0");
    chamber->closeConn(again);
}

/* ---- The history lists. ---- */

TEST_F(Module, ThirteenthLineDropsTheOldest)
{
    int fd = ConnectByAddress();
    for (int i = 1; i <= HISTORY_MAX + 1; i++) {
        std::string command = "T" + std::to_string(i);
        SetCtrlVal(mainPanel, SEND_STRING, command.c_str());
        PressEnter(SEND_STRING);
        std::vector<std::string> lines = Lines(ZEICHEN_GESENDET);
        ASSERT_EQ(lines.size(), (size_t)std::min(i, HISTORY_MAX)) << "after send " << i;
        EXPECT_EQ(lines[0], command);
        EXPECT_EQ(CurrentIndex(ZEICHEN_GESENDET), 0);
    }
    std::vector<std::string> lines = Lines(ZEICHEN_GESENDET);
    EXPECT_EQ(lines.back(), "T2") << "the first send's line is gone";
    chamber->closeConn(fd);
}

TEST_F(Module, ReceivedListKeepsTwelveLines)
{
    int fd = ConnectByAddress();
    for (int i = 1; i <= HISTORY_MAX + 3; i++) {
        std::string answer = "P" + std::to_string(i);
        chamber->sendAll(fd, answer);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Lines(ZEICHEN_EMPFANGEN).empty() && Lines(ZEICHEN_EMPFANGEN)[0] == answer; }, kWaitMs));
    }
    EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN).size(), (size_t)HISTORY_MAX);
    EXPECT_EQ(CurrentIndex(ZEICHEN_EMPFANGEN), 0);
    chamber->closeConn(fd);
}

/* ---- Options: close after each command, reconnect on send error. ---- */

TEST_F(Module, CloseAfterCommandListsOnlyTheFirstPartOfAnAnswer)
{
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    PressEnter(SEND_STRING);
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_GE(fd, 0);
    chamber->sendAll(fd, "A0 023");
    ASSERT_TRUE(QTest::qWaitFor([] { return !Lines(ZEICHEN_EMPFANGEN).empty(); }, kWaitMs));
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(Led(), 1) << "the LED stays on while the connection is closed";
    EXPECT_TRUE(chamber->closedByPeer(fd, kWaitMs));
    chamber->sendAll(fd, ".5 025.0");
    QTest::qWait(kQuietMs);
    EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN), std::vector<std::string>{"A0 023"});

    /* The next send reconnects without the LED going off first. */
    PressEnter(SEND_STRING);
    int again = chamber->acceptOne(kWaitMs);
    EXPECT_GE(again, 0);
    EXPECT_EQ(Led(), 1);
    chamber->closeConn(fd);
    chamber->closeConn(again);
}

TEST_F(Module, TurningCloseAfterCommandOnClosesAtOnce)
{
    int fd = ConnectByAddress();
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    Commit(CLOSE_CONN, ChangeCloseConnection);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(Led(), 1);
    EXPECT_TRUE(chamber->closedByPeer(fd, kWaitMs));
    chamber->closeConn(fd);
}

TEST_F(Module, FailedWriteStillListsAndReconnectsOnlyWithResend)
{
    for (int resend : {1, 0}) {
        SCOPED_TRACE(resend ? "RESEND on" : "RESEND off");
        DeleteListItem(mainPanel, ZEICHEN_GESENDET, 0, -1);
        SetCtrlVal(mainPanel, RESEND, resend);
        int fd = ConnectByAddress();
        ASSERT_GE(fd, 0);
        /* The peer resets the connection; no event is processed before the
         * send, but the reset has reached the program's socket. */
        struct pollfd reset = {ProgramConnection(address), POLLIN, 0};
        ASSERT_GE(reset.fd, 0);
        chamber->resetConn(fd);
        ASSERT_EQ(poll(&reset, 1, kWaitMs), 1);
        SetCtrlVal(mainPanel, LED, 1);
        PressEnter(SEND_STRING);
        EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), 1u) << "a failed write is listed";
        EXPECT_EQ(Led(), 1) << "the LED is not touched";
        EXPECT_EQ(connected, resend ? 0 : 1);
        if (resend) {
            PressEnter(SEND_STRING);
            int again = chamber->acceptOne(kWaitMs);
            EXPECT_GE(again, 0) << "the next send connects again";
            EXPECT_EQ(chamber->readSome(again, kWaitMs), "A0");
            chamber->closeConn(again);
        }
        DisconnectFromTCPServer(connHandle);
        connected = 0;
    }
}

/* ---- The catalogue ring. ---- */

TEST_F(Module, PickingACatalogueEntryFillsTheFieldAndSendsNothing)
{
    QComboBox *ring = qobject_cast<QComboBox *>(GetCtrlWidget(mainPanel, AUSWAHL));
    ASSERT_NE(ring, nullptr);
    int count = 0;
    GetNumListItems(mainPanel, AUSWAHL, &count);
    int limits = -1;
    for (int i = 0; i < count; i++) {
        char value[PLATFORM_STRING_SIZE] = "";
        GetValueFromIndex(mainPanel, AUSWAHL, i, value);
        if (std::string(value) == "g0 -80.0 190.0")
            limits = i;
    }
    ASSERT_GE(limits, 0);
    SetCtrlIndex(mainPanel, AUSWAHL, limits);
    Commit(AUSWAHL, COMMAND);
    EXPECT_EQ(StringVal(mainPanel, SEND_STRING), "g0 -80.0 190.0");
    EXPECT_EQ(GetActiveCtrl(mainPanel), SEND_STRING);
    EXPECT_EQ(chamber->acceptOne(kQuietMs), -1) << "picking sends nothing";
    EXPECT_TRUE(Lines(ZEICHEN_GESENDET).empty());
}

/* ---- Cyclic sending. ---- */

TEST_F(Module, TickSendsTheFieldReadAnewEachTime)
{
    std::vector<std::string> titles;
    QObject::connect(GetPanelWidget(mainPanel), &QWidget::windowTitleChanged,
                     [&](const QString &title) { titles.push_back(title.toLatin1().toStdString()); });
    const std::string normal = Title();
    Tick();
    EXPECT_EQ(titles, std::vector<std::string>{"Scanning"}) << "shown while the tick waited to connect";
    EXPECT_TRUE(QTest::qWaitFor([&] { return titles.size() > 1; }, kWaitMs));
    EXPECT_EQ(titles, (std::vector<std::string>{"Scanning", normal})) << "put back from the event loop";
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(chamber->readSome(fd, kWaitMs), "A0");
    SetCtrlVal(mainPanel, SEND_STRING, "T");
    Tick();
    QCoreApplication::processEvents();
    EXPECT_EQ(titles.size(), 2u) << "a tick that never waits leaves the shown title alone";
    EXPECT_EQ(chamber->readSome(fd, kWaitMs), "T");
    EXPECT_EQ(Lines(ZEICHEN_GESENDET), (std::vector<std::string>{"T", "A0"}));
    EXPECT_EQ(Title(), englishUI ? "Testprogramme for Quenta ASCII protocol Version 3.2"
                                 : "Testprogram f\xFCr Quenta ASCII protokoll  \xFC" "ber Ethernet Version 3.2");
    chamber->closeConn(fd);
}

/* A title set goes out before any wait for the chamber, here a read
 * with no answer waiting, without the event loop's help. */
TEST_F(Module, TitleIsShownBeforeTheProgramWaitsForTheChamber)
{
    int fd = ConnectByAddress();
    QWidget *window = GetPanelWidget(mainPanel);
    const QString normal = window->windowTitle();
    SetPanelAttribute(mainPanel, ATTR_TITLE, "Scanning");
    EXPECT_EQ(window->windowTitle(), normal) << "nothing waited yet";
    char byte = 0;
    EXPECT_EQ(ClientTCPRead(connHandle, &byte, 1, kReadWaitMs), TCPE_TIMEOUT);
    EXPECT_EQ(window->windowTitle(), QString("Scanning")) << "the read waited with the old title shown";
    SetPanelAttribute(mainPanel, ATTR_TITLE, normal.toLatin1().constData());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowTitle() == normal; }, kWaitMs))
        << "put back from the event loop";
    chamber->closeConn(fd);
}

TEST_F(Module, TickWithEmptyFieldSendsNothingButStillCloses)
{
    int fd = ConnectByAddress();
    SetCtrlVal(mainPanel, SEND_STRING, "");
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    Tick();
    EXPECT_EQ(connected, 0);
    EXPECT_TRUE(chamber->closedByPeer(fd, kWaitMs));
    EXPECT_EQ(chamber->acceptOne(kQuietMs), -1);
    EXPECT_TRUE(Lines(ZEICHEN_GESENDET).empty());
    chamber->closeConn(fd);
}

TEST_F(Module, TickWithCloseAfterCommandUsesAFreshConnection)
{
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    Tick();
    int first = chamber->acceptOne(kWaitMs);
    ASSERT_GE(first, 0);
    EXPECT_EQ(connected, 1) << "no answer yet: the connection stays open";
    Tick();
    EXPECT_TRUE(chamber->closedByPeer(first, kWaitMs)) << "the next tick closes it first";
    int second = chamber->acceptOne(kWaitMs);
    EXPECT_GE(second, 0);
    EXPECT_EQ(chamber->readSome(second, kWaitMs), "A0");
    chamber->closeConn(first);
    chamber->closeConn(second);
}

TEST_F(Module, TickThatCannotConnectFollowsUnconnectedSend)
{
    chamber->stop();
    int sendOn = IntVal(UNCONNECTED_SEND);
    EXPECT_EQ(sendOn, englishUI ? 0 : 1) << "the panel file's default";
    for (int option : {0, 1}) {
        SCOPED_TRACE(option ? "UNCONNECTED_SEND on" : "UNCONNECTED_SEND off");
        DeleteListItem(mainPanel, ZEICHEN_GESENDET, 0, -1);
        SetCtrlVal(mainPanel, UNCONNECTED_SEND, option);
        SetCtrlVal(mainPanel, TOGGLEBUTTON, 1);
        SetCtrlVal(mainPanel, LED, 1);
        std::string title = Title();
        Tick();
        EXPECT_EQ(Title(), title);
        if (option) {
            EXPECT_EQ(Led(), 0);
            EXPECT_EQ(IntVal(TOGGLEBUTTON), 1);
            EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), 1u) << "listed although not delivered";
        } else {
            EXPECT_EQ(Led(), 1) << "the LED is left as it was";
            EXPECT_EQ(IntVal(TOGGLEBUTTON), 0);
            EXPECT_TRUE(Lines(ZEICHEN_GESENDET).empty());
        }
    }
}

TEST_F(Module, TimerTicksAtTheIntervalOfScanningAndStopsWhenUnreachable)
{
    const int cycleMs = 1000;
    const int lateMs = 2000; /* a loaded machine's tick may come late, never early */
    SetCtrlVal(mainPanel, SCANNING, cycleMs / 1000.0);
    Commit(SCANNING, ChangeScanning);
    double interval = 0;
    GetCtrlAttribute(mainPanel, SCANNER, ATTR_INTERVAL, &interval);
    EXPECT_EQ(interval, 1.0);
    EXPECT_EQ(cycleSeconds, 1.0);

    QElapsedTimer clock;
    clock.start();
    SetCtrlVal(mainPanel, TOGGLEBUTTON, 1);
    Commit(TOGGLEBUTTON, ON_OFF);
    int fd = chamber->acceptOne(kWaitMs);
    ASSERT_GE(fd, 0) << "the first tick connects";
    EXPECT_GE(clock.elapsed(), cycleMs - 100) << "the first tick comes after one interval";
    EXPECT_EQ(chamber->readSome(fd, kWaitMs), "A0");
    EXPECT_EQ(chamber->readSome(fd, kWaitMs), "A0") << "and the next one";
    EXPECT_GE(clock.elapsed(), 2 * cycleMs - 100);
    EXPECT_LT(clock.elapsed(), 2 * cycleMs + lateMs) << "the panel file's 5 s would come later";

    /* Unreachable with UNCONNECTED_SEND off: cyclic sending stops by itself. */
    SetCtrlVal(mainPanel, UNCONNECTED_SEND, 0);
    chamber->stop();
    chamber->closeConn(fd);
    ASSERT_TRUE(QTest::qWaitFor([] { return IntVal(TOGGLEBUTTON) == 0; }, kWaitMs));
    /* A tick that cannot connect lists nothing; a chamber listening again
     * shows whether the ticks still come. */
    LoopbackPeer again(address);
    ASSERT_TRUE(again.listening());
    EXPECT_EQ(again.acceptOne(3 * cycleMs), -1) << "no further ticks";
}

TEST_F(Module, ToggleOffStopsTicksAndClosesWithCloseAfterCommand)
{
    int fd = ConnectByAddress();
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    SetCtrlVal(mainPanel, TOGGLEBUTTON, 0);
    Commit(TOGGLEBUTTON, ON_OFF);
    EXPECT_EQ(connected, 0);
    EXPECT_TRUE(chamber->closedByPeer(fd, kWaitMs));
    chamber->closeConn(fd);
}

/* ---- The text popup. ---- */

TEST_F(Module, PopupShowsTheCommittedLineOfEitherList)
{
    std::string longLine(DISPLAY_LINE_SIZE - 1, 'L');
    InsertListItem(mainPanel, ZEICHEN_EMPFANGEN, 0, "first answer", 0);
    InsertListItem(mainPanel, ZEICHEN_EMPFANGEN, 0, "second answer", 0);
    SetCtrlIndex(mainPanel, ZEICHEN_EMPFANGEN, 1);
    InsertListItem(mainPanel, ZEICHEN_GESENDET, 0, longLine.c_str(), 0);
    SetCtrlIndex(mainPanel, ZEICHEN_GESENDET, 0);

    struct {
        int list;
        std::string text;
        Qt::Key closeKey;
    } cases[] = {{ZEICHEN_EMPFANGEN, "first answer", Qt::Key_Return},
                 {ZEICHEN_GESENDET, longLine, Qt::Key_Escape}};
    int lastPanel = -1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.list);
        Commit(c.list, FullText);
        ASSERT_NE(textPanel, -1);
        EXPECT_NE(textPanel, lastPanel) << "each opening loads the popup anew";
        lastPanel = textPanel;
        EXPECT_EQ(StringVal(textPanel, TEXTBOX), c.text);
        char title[PLATFORM_TITLE_SIZE] = "";
        GetPanelAttribute(textPanel, ATTR_TITLE, title);
        EXPECT_STREQ(title, "Text");
        EXPECT_EQ(QApplication::activeModalWidget(), GetPanelWidget(textPanel))
            << "the main panel takes no input meanwhile";
        QTest::keyClick(GetCtrlWidget(textPanel, TEXTBOX), c.closeKey);
        EXPECT_EQ(textPanel, -1) << (c.closeKey == Qt::Key_Escape ? "Esc" : "Enter") << " closes it";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(Module, PopupOfAListWithoutCurrentItemIsEmpty)
{
    Commit(ZEICHEN_GESENDET, FullText);
    ASSERT_NE(textPanel, -1);
    EXPECT_EQ(StringVal(textPanel, TEXTBOX), "");
}

TEST_F(Module, DoubleClickOnAHistoryLineOpensThePopup)
{
    InsertListItem(mainPanel, ZEICHEN_EMPFANGEN, 0, "P001", 0);
    SetCtrlIndex(mainPanel, ZEICHEN_EMPFANGEN, 0);
    QListWidget *list = qobject_cast<QListWidget *>(GetCtrlWidget(mainPanel, ZEICHEN_EMPFANGEN));
    ASSERT_NE(list, nullptr);
    QRect item = list->visualItemRect(list->item(0));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    ASSERT_NE(textPanel, -1);
    EXPECT_EQ(StringVal(textPanel, TEXTBOX), "P001");
}

/* ---- Off the screen: X11 only, run by app_x11_test under Xvfb. ---- */

/* Cyclic sending every second with a connect, and so the wait cursor's
 * painting, on every tick (CLOSE_CONN) while the main window is minimised
 * or unmapped (xdotool plays the window manager) and after it is back:
 * the i-th command comes in the i-th cycle: none lost, none extra. */
TEST(OffTheScreen, CyclicSendingKeepsItsRhythm)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs X11: app_x11_test runs it under Xvfb";
    const qint64 cycleMs = 1000, lateMs = 750;
    LoopbackPeer chamber("127.0.53.1");
    AsciiRegisterCallbacks();
    ASSERT_GT(mainPanel = LoadPanel(0, AsciiPanelFile(), PANEL), 0);
    QWidget *window = GetPanelWidget(mainPanel);
    auto xdotool = [window](const char *command) {
        return QProcess::execute("xdotool", {command, "--sync", QString::number(window->winId())}) == 0;
    };
    DisplayPanel(mainPanel);
    SetCtrlVal(mainPanel, IP, "127.0.53.1");
    SetCtrlVal(mainPanel, SEND_STRING, "A0");
    SetCtrlVal(mainPanel, CLOSE_CONN, 1);
    SetCtrlAttribute(mainPanel, SCANNER, ATTR_INTERVAL, cycleMs / 1000.0);
    for (bool minimise : {true, false}) {
        SCOPED_TRACE(minimise ? "minimised" : "unmapped by the window manager");
        std::vector<qint64> late;   /* the i-th command's time less i cycles */
        QElapsedTimer clock;
        clock.start();
        ResumeTimerCallbacks();
        for (qint64 i = 0; i < 9; i++) {
            if (i == 2) {
                if (minimise)
                    window->showMinimized();
                ASSERT_TRUE(xdotool("windowunmap"));
                ASSERT_TRUE(QTest::qWaitFor([&] { return !window->testAttribute(Qt::WA_Mapped); }, kWaitMs));
            } else if (i == 6) {
                window->showNormal();
                ASSERT_TRUE(xdotool("windowmap"));
            }
            const int fd = chamber.acceptOne(kWaitMs);
            ASSERT_EQ(chamber.readSome(fd, kWaitMs), "A0") << "command " << i + 1;
            chamber.closeConn(fd);
            late.push_back(clock.elapsed() - i * cycleMs);
        }
        SuspendTimerCallbacks();
        const qint64 phase = *std::min_element(late.begin(), late.end());
        for (size_t i = 0; i < late.size(); i++)
            EXPECT_LT(late[i] - phase, lateMs) << "command " << i + 1 << " came " << late[i] - phase << " ms late";
    }
    DiscardPanel(mainPanel);
}

} // namespace
