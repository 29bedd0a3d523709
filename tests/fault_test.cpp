/*
 * fault_test.cpp -- the module ASCII on the real panel (offscreen) against
 * chambers that misbehave: connects refused or never accepted, connections
 * closed or reset, answers in pieces, too long, endless or made of bytes no
 * chamber sends, and a chamber that stops reading. After each the program
 * must still run, keep each list within 12 lines that each fit a display
 * line, show on the LED and in `connected` what happened, and work again
 * on the next send or tick once a chamber behaves on the same address.
 *
 * Each case uses its own address from 127.0.0.80 on, port 1080. Waits are
 * for conditions, with bounds a loaded machine keeps; the chamber that
 * stops reading is bounded by the bytes its buffers and the program's hold.
 */
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QListWidget>
#include <QTest>

#include <sys/socket.h>

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "ascii.h"
#include "ascii_module.h"
#include "fault_peer.h"
#include "fault_support.h"
#include "platform.h"
#include "platform_qt.h"

namespace {

const ::testing::Environment *const engine =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

const int kFirstHost = 80;
const int kLastHost = 118;          /* 127.0.0.119 is the soak test's */
const char kCommand[] = "A0";
const char kGoodAnswer[] = "A0 020.0 020.0";
const char kPartedAnswer[] = "A0 023.5 025.0";
const int kAnswerWaitMs = 20000;    /* for what must come */
const int kSettleMs = 150;          /* for events that should not come */
const int kRefusedConnectMs = CONNECT_TIMEOUT_MS / 2; /* a refused connect does not wait it out */
const int kSlackMs = 2000;          /* a loaded machine wakes late; twice a timeout is a fault */
const int kFloodMs = 3000;
const int kFloodSendEveryMs = 250;
const int kFloodDrainMs = 60000;
const int kFloodSendBuffer = 16384; /* keeps what is left in transit when the flood stops small */
const int kResponsiveMs = 1500;     /* longest the event loop may be held during a flood: less than the flood */
const int kStallBuffer = 4096;      /* both ends' buffers when the chamber stops reading */

std::string NextAddress()
{
    static int host = kFirstHost;
    EXPECT_LE(host, kLastHost) << "the suite has run out of its addresses";
    return "127.0.0." + std::to_string(host++);
}

int Led()
{
    return IntVal(LED);
}

/* A history list as a test reads it: at most 12 lines, the newest at the
 * top and selected, each within a display line. */
void ExpectListSound(int list)
{
    QListWidget *widget = ListWidget(list);
    ASSERT_NE(widget, nullptr);
    EXPECT_LE(widget->count(), HISTORY_MAX) << "list " << list;
    if (widget->count() > 0) {
        EXPECT_EQ(widget->currentRow(), 0) << "list " << list << ": the newest line is selected";
    }
    for (int i = 0; i < widget->count(); i++)
        EXPECT_LE(widget->item(i)->text().size(), DISPLAY_LINE_SIZE - 1) << "list " << list << " line " << i;
}

/* What holds whatever a chamber did: the panel is there with its normal
 * title, the wait cursor is off, both lists are sound, the LED and
 * `connected` are 0 or 1. */
void ExpectSound(const std::string &title)
{
    ASSERT_NE(GetPanelWidget(mainPanel), nullptr) << "the main panel is gone";
    ExpectListSound(ZEICHEN_GESENDET);
    ExpectListSound(ZEICHEN_EMPFANGEN);
    EXPECT_EQ(Title(), title);
    EXPECT_EQ(GetWaitCursor(), 0);
    EXPECT_TRUE(Led() == 0 || Led() == 1) << Led();
    EXPECT_TRUE(connected == 0 || connected == 1) << connected;
}

/* The program freshly started for one case, aimed at its address, with
 * cyclic sending suspended (the toggle on), the text shown as it stands
 * and kCommand in the field; stopped again when it goes out of scope. */
class Session {
public:
    explicit Session(const std::string &chamberAddress) : address(chamberAddress)
    {
        started = AsciiStartup() == 0;
        if (!started)
            return;
        SuspendTimerCallbacks();
        SetCtrlVal(mainPanel, IP, address.c_str());
        SetCtrlVal(mainPanel, RINGSLIDE, DISPLAY_RAW);
        SetCtrlVal(mainPanel, SEND_STRING, kCommand);
        title = Title();
    }

    ~Session()
    {
        if (!started)
            return;
        DisconnectFromTCPServer(connHandle);
        connected = 0;
        DiscardPanel(mainPanel);
        ResumeTimerCallbacks();
    }

    std::string address;
    std::string title;
    bool started = false;
};

/*
 * With the misbehaving chamber gone and a well-behaved one on the same
 * address, `how` (a send or a tick) must get kGoodAnswer listed: the LED
 * on, connected unless CLOSE_CONN closes after the answer.
 */
void ExpectRecovery(const Session &session, Trigger how)
{
    ASSERT_TRUE(QTest::qWaitFor([] { return connected == 0; }, kAnswerWaitMs))
        << "the program sees the misbehaving chamber's connection end";
    FaultPeer good(session.address, PeerScript{Misbehaviour::Answer, kGoodAnswer});
    ASSERT_TRUE(good.ready());
    SetCtrlVal(mainPanel, SEND_STRING, kCommand);
    SetCtrlVal(mainPanel, RINGSLIDE, DISPLAY_RAW);
    Fire(how);
    EXPECT_TRUE(QTest::qWaitFor([] {
        std::vector<std::string> lines = Lines(ZEICHEN_EMPFANGEN);
        return !lines.empty() && lines[0] == kGoodAnswer;
    }, kAnswerWaitMs)) << "no answer listed once the chamber behaves";
    EXPECT_EQ(good.received(), kCommand);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(connected, IntVal(CLOSE_CONN) ? 0 : 1);
    ExpectSound(session.title);
}

/* ---- A connect that fails: refused at once, or never accepted. ---- */

struct ConnectCase {
    const char *name;
    Misbehaviour peer;
    Trigger trigger;
    int unconnectedSend;
    int ledBefore;
    int ledAfter;
    int toggleAfter;
    size_t sentAfter;
    Trigger recovery;
};

void RunConnectCase(const ConnectCase &c)
{
    Session session(NextAddress());
    ASSERT_TRUE(session.started);
    auto peer = std::make_unique<FaultPeer>(session.address, PeerScript{c.peer});
    ASSERT_TRUE(peer->ready());
    SetCtrlVal(mainPanel, UNCONNECTED_SEND, c.unconnectedSend);
    SetCtrlVal(mainPanel, TOGGLEBUTTON, 1);
    SetCtrlVal(mainPanel, LED, c.ledBefore);

    QElapsedTimer clock;
    clock.start();
    Fire(c.trigger);
    qint64 waited = clock.elapsed();
    if (c.peer == Misbehaviour::NeverAccept) {
        EXPECT_GE(waited, CONNECT_TIMEOUT_MS - 50) << "the connect waits out its timeout";
        EXPECT_LT(waited, CONNECT_TIMEOUT_MS + kSlackMs);
    } else {
        EXPECT_LT(waited, kRefusedConnectMs) << "a refused connect does not wait";
    }
    QTest::qWait(kSettleMs);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(Led(), c.ledAfter);
    EXPECT_EQ(IntVal(TOGGLEBUTTON), c.toggleAfter);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), c.sentAfter);
    EXPECT_TRUE(Lines(ZEICHEN_EMPFANGEN).empty());
    ExpectSound(session.title);

    peer.reset();
    ExpectRecovery(session, c.recovery);
}

TEST(Fault, FailedConnectFollowsTheLedRulesOfItsCallerAndRecovers)
{
    using M = Misbehaviour;
    using T = Trigger;
    const ConnectCase cases[] = {
        {"refused send leaves the LED on", M::Refuse, T::Enter, 0, 1, 1, 1, 0, T::Enter},
        {"refused send leaves the LED off", M::Refuse, T::Enter, 0, 0, 0, 1, 0, T::Enter},
        {"refused tick stops cyclic sending", M::Refuse, T::Tick, 0, 1, 1, 0, 0, T::Enter},
        {"refused tick sends on unconnected", M::Refuse, T::Tick, 1, 1, 0, 1, 1, T::Tick},
        {"refused address commit", M::Refuse, T::AddressCommit, 0, 1, 0, 1, 0, T::Enter},
        {"unaccepted send", M::NeverAccept, T::Enter, 0, 1, 1, 1, 0, T::Enter},
        {"unaccepted tick stops cyclic sending", M::NeverAccept, T::Tick, 0, 1, 1, 0, 0, T::Enter},
    };
    for (const ConnectCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunConnectCase(c);
    }
}

/* ---- A connection that the chamber drops. ---- */

struct DropCase {
    const char *name;
    PeerScript script;
    Trigger trigger;
    int closeConn;
    size_t sentAfter;
    std::vector<std::string> received; /* oldest first */
    int ledAfter;
    int connectedAfter;
};

void RunDropCase(const DropCase &c)
{
    Session session(NextAddress());
    ASSERT_TRUE(session.started);
    auto peer = std::make_unique<FaultPeer>(session.address, c.script);
    ASSERT_TRUE(peer->ready());
    SetCtrlVal(mainPanel, CLOSE_CONN, c.closeConn);
    SetCtrlVal(mainPanel, LED, 0);
    Recorder answers(ZEICHEN_EMPFANGEN);

    Fire(c.trigger);
    EXPECT_EQ(Led(), 1) << "the connect itself succeeds";
    EXPECT_EQ(connected, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return connected == 0 && answers.count >= c.received.size(); },
                                kAnswerWaitMs));
    QTest::qWait(kSettleMs);
    EXPECT_EQ(answers.lines, c.received);
    EXPECT_EQ(Led(), c.ledAfter);
    EXPECT_EQ(connected, c.connectedAfter);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), c.sentAfter);
    ExpectSound(session.title);

    peer.reset();
    ExpectRecovery(session, Trigger::Enter);
}

TEST(Fault, DroppedConnectionClearsConnectedAndRecovers)
{
    using M = Misbehaviour;
    using T = Trigger;
    const PeerScript closes{M::CloseAtOnce};
    const PeerScript resets{M::ResetMidAnswer, kPartedAnswer, 1, 50};
    const std::string firstHalf = std::string(kPartedAnswer).substr(0, strlen(kPartedAnswer) / 2);
    const DropCase cases[] = {
        {"closed at once after a send", closes, T::Enter, 0, 1, {}, 0, 0},
        {"closed at once after a tick", closes, T::Tick, 0, 1, {}, 0, 0},
        {"closed at once after an address commit", closes, T::AddressCommit, 0, 0, {}, 0, 0},
        {"reset mid-answer", resets, T::Enter, 0, 1, {firstHalf}, 0, 0},
        /* The program closes after the first part itself: no disconnect event. */
        {"reset mid-answer, closing after each command", resets, T::Enter, 1, 1, {firstHalf}, 1, 0},
    };
    for (const DropCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunDropCase(c);
    }
}

/* ---- Answers of every shape and size. ---- */

enum class Expect {
    Lines,     /* exactly these lines, oldest first */
    Joined,    /* lines that together make `whole`, at least minLines of them */
    OnePrefix, /* one line only, a part of `whole` from its start */
};

struct ShapeCase {
    const char *name;
    PeerScript script;
    int mode;
    int closeConn;
    Expect expect;
    std::vector<std::string> lines;
    std::string whole;
    size_t minLines;
};

/* True once the recorder has seen what the case waits for. */
bool ShapeArrived(const ShapeCase &c, const Recorder &answers)
{
    switch (c.expect) {
    case Expect::Lines:
        return answers.count >= c.lines.size();
    case Expect::Joined:
        return answers.joined().size() >= c.whole.size();
    case Expect::OnePrefix:
        return answers.count >= 1 && connected == 0;
    }
    return false;
}

void ExpectShape(const ShapeCase &c, const Recorder &answers)
{
    switch (c.expect) {
    case Expect::Lines:
        EXPECT_EQ(answers.lines, c.lines);
        break;
    case Expect::Joined:
        EXPECT_TRUE(answers.joined() == c.whole) << "bytes lost, doubled or changed on the way";
        EXPECT_GE(answers.count, c.minLines);
        EXPECT_LE(answers.longest, (size_t)ANSWER_MAX) << "one read takes at most 2,500 bytes";
        break;
    case Expect::OnePrefix:
        ASSERT_EQ(answers.count, 1u);
        EXPECT_FALSE(answers.lines[0].empty());
        EXPECT_EQ(c.whole.compare(0, answers.lines[0].size(), answers.lines[0]), 0) << answers.lines[0];
        break;
    }
}

void RunShapeCase(const ShapeCase &c)
{
    Session session(NextAddress());
    ASSERT_TRUE(session.started);
    auto peer = std::make_unique<FaultPeer>(session.address, c.script);
    ASSERT_TRUE(peer->ready());
    SetCtrlVal(mainPanel, RINGSLIDE, c.mode);
    SetCtrlVal(mainPanel, CLOSE_CONN, c.closeConn);
    Recorder answers(ZEICHEN_EMPFANGEN);

    Fire(Trigger::Enter);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ShapeArrived(c, answers); }, kAnswerWaitMs));
    QTest::qWait(kSettleMs);
    ExpectShape(c, answers);
    EXPECT_EQ(Led(), 1);
    EXPECT_EQ(connected, c.closeConn ? 0 : 1);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), 1u);
    ExpectSound(session.title);

    peer.reset();
    ExpectRecovery(session, Trigger::Enter);
}

/* The bytes from first to last, in order. */
std::string Bytes(int first, int last)
{
    std::string bytes;
    for (int b = first; b <= last; b++)
        bytes += (char)b;
    return bytes;
}

TEST(Fault, AnswerOfAnyShapeIsListedWithinTheLineAndLosesNoByte)
{
    using M = Misbehaviour;
    const size_t hexFit = (DISPLAY_LINE_SIZE - 1) / 5;
    const std::string full = Stream(ANSWER_MAX);
    const std::string over = Stream(ANSWER_MAX + 1);
    const std::string huge = Stream(100000);
    const std::string trickle = Stream(40);
    const std::string high = Bytes(0x80, 0xFF);
    const std::string nonzero = Bytes(0x01, 0xFF);
    const PeerScript segments{M::Segments, trickle, 1, 20};
    const ShapeCase cases[] = {
        {"2,500 bytes at once", {M::Answer, full}, DISPLAY_RAW, 0, Expect::Lines, {full}, "", 0},
        {"2,500 bytes at once, hexadecimal", {M::Answer, full}, DISPLAY_HEX, 0, Expect::Lines,
         {Hex(full.substr(0, hexFit))}, "", 0},
        {"2,501 bytes at once", {M::Answer, over}, DISPLAY_RAW, 0, Expect::Lines,
         {full, over.substr(ANSWER_MAX)}, "", 0},
        {"2,501 bytes at once, hexadecimal", {M::Answer, over}, DISPLAY_HEX, 0, Expect::Lines,
         {Hex(full.substr(0, hexFit)), Hex(over.substr(ANSWER_MAX))}, "", 0},
        {"100,000 bytes at once", {M::Answer, huge}, DISPLAY_RAW, 0, Expect::Joined, {}, huge,
         huge.size() / ANSWER_MAX},
        {"one byte a segment", segments, DISPLAY_RAW, 0, Expect::Joined, {}, trickle, trickle.size()},
        {"one byte a segment, closing after each command", segments, DISPLAY_RAW, 1,
         Expect::OnePrefix, {}, trickle, 1},
        {"no answer at all", {M::Answer, ""}, DISPLAY_RAW, 0, Expect::Lines, {}, "", 0},
        {"zero bytes only", {M::Answer, std::string(3, '\0')}, DISPLAY_RAW, 0, Expect::Lines, {""}, "", 0},
        {"a zero byte inside", {M::Answer, std::string("A0\0\x80\x81", 5)}, DISPLAY_RAW, 0,
         Expect::Lines, {"A0"}, "", 0},
        {"bytes 0x80 to 0xFF", {M::Answer, high}, DISPLAY_RAW, 0, Expect::Lines, {high}, "", 0},
        {"bytes 0x80 to 0xFF, hexadecimal", {M::Answer, high}, DISPLAY_HEX, 0, Expect::Lines,
         {Hex(high)}, "", 0},
        {"bytes 0x80 to 0xFF, interpreted", {M::Answer, high}, DISPLAY_INTERPRETED, 0, Expect::Lines,
         {high}, "", 0},
        {"bytes 0x01 to 0xFF", {M::Answer, nonzero}, DISPLAY_RAW, 0, Expect::Lines, {nonzero}, "", 0},
    };
    for (const ShapeCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunShapeCase(c);
    }
}

/* ---- A chamber that floods the line. ---- */

/* Checks each line against the test stream where the last one ended. */
struct StreamCheck {
    size_t offset = 0;
    size_t mismatches = 0;

    void take(const std::string &line)
    {
        if (line != Stream(line.size(), offset))
            mismatches++;
        offset += line.size();
    }
};

/* Runs the event loop for ms; returns how long it really took. */
qint64 TimedWait(int ms)
{
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(ms);
    return clock.elapsed();
}

/* What the test saw while a flood ran and drained. */
struct FloodRun {
    std::string commands;   /* every command sent meanwhile */
    qint64 longestPump = 0; /* the longest the event loop took for kFloodSendEveryMs */
    bool listsSound = true; /* the received list never held more than 12 lines */
    qint64 tookMs = 0;
};

/* Runs the event loop until the flooding chamber has closed and the
 * program has taken everything in (or time is up), sending kCommand every
 * kFloodSendEveryMs while the flood runs. */
FloodRun DriveFlood(const FaultPeer &peer)
{
    FloodRun run;
    QElapsedTimer clock;
    clock.start();
    run.commands = kCommand;
    while ((!peer.finished() || connected) && clock.elapsed() < kFloodMs + kFloodDrainMs) {
        run.longestPump = std::max(run.longestPump, TimedWait(kFloodSendEveryMs));
        run.listsSound = run.listsSound && ListWidget(ZEICHEN_EMPFANGEN)->count() <= HISTORY_MAX;
        if (clock.elapsed() < kFloodMs - kFloodSendEveryMs) {
            Fire(Trigger::Enter);
            run.commands += kCommand;
        }
    }
    run.tookMs = clock.elapsed();
    return run;
}

TEST(Fault, FloodLeavesTheProgramResponsiveAndLosesNoByte)
{
    Session session(NextAddress());
    ASSERT_TRUE(session.started);
    PeerOptions buffers;
    buffers.sendBuffer = kFloodSendBuffer;
    auto peer = std::make_unique<FaultPeer>(session.address, PeerScript{Misbehaviour::Flood, "", 1, 0, kFloodMs},
                                            buffers);
    ASSERT_TRUE(peer->ready());
    StreamCheck stream;
    Recorder answers(ZEICHEN_EMPFANGEN, [&stream](const std::string &line) { stream.take(line); });

    Fire(Trigger::Enter);
    ASSERT_EQ(connected, 1);
    FloodRun run = DriveFlood(*peer);
    printf("flood: %zu bytes in %zu lines, taken in after %lld ms, longest pump of %d ms: %lld ms\n",
           peer->streamed(), answers.count, (long long)run.tookMs, kFloodSendEveryMs,
           (long long)run.longestPump);
    EXPECT_TRUE(peer->finished()) << "the program did not take the whole flood in time";
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(Led(), 0) << "the chamber's close after the flood is a disconnect event";
    EXPECT_GT(peer->streamed(), (size_t)ANSWER_MAX * HISTORY_MAX);
    EXPECT_EQ(stream.offset, peer->streamed()) << "every byte sent is listed once";
    EXPECT_EQ(stream.mismatches, 0u);
    EXPECT_LE(answers.longest, (size_t)ANSWER_MAX);
    EXPECT_EQ(peer->received(), run.commands) << "sends during the flood go out whole";
    EXPECT_TRUE(run.listsSound);
    EXPECT_LT(run.longestPump, kFloodSendEveryMs + kResponsiveMs) << "the flood held the event loop";
    ExpectSound(session.title);

    peer.reset();
    ExpectRecovery(session, Trigger::Enter);
}

/* ---- A chamber that stops reading. ---- */

struct StallCase {
    const char *name;
    int resend;
};

/* Sends the command in the field (count characters) until one write waits
 * out its timeout or more than bound bytes went out; *sent: bytes sent.
 * Returns how long the slowest send took. */
qint64 SendUntilAWriteTimesOut(size_t count, size_t bound, size_t *sent)
{
    qint64 took = 0;
    for (*sent = 0; *sent <= bound && took < IO_TIMEOUT_MS - 50; *sent += count) {
        QElapsedTimer one;
        one.start();
        SENDEN(mainPanel, SEND_STRING, EVENT_KEYPRESS, nullptr, VAL_ENTER_VKEY, 0);
        took = std::max(took, one.elapsed());
    }
    return took;
}

/*
 * Both ends' buffers are fixed small: the chamber's before it listens, the
 * program's send buffer right after its connect, before the bulk of the
 * bytes. Every byte written then sits in one of the two, so a write must
 * back up within twice their sum.
 */
void RunStallCase(const StallCase &c)
{
    Session session(NextAddress());
    ASSERT_TRUE(session.started);
    PeerOptions buffers;
    buffers.receiveBuffer = kStallBuffer;
    buffers.sendBuffer = kStallBuffer;
    auto peer = std::make_unique<FaultPeer>(session.address, PeerScript{Misbehaviour::StopReading}, buffers);
    ASSERT_TRUE(peer->ready());
    std::string command(COMMAND_SIZE - 1, 'x');
    command[0] = 'M';
    SetCtrlVal(mainPanel, SEND_STRING, command.c_str());
    SetCtrlVal(mainPanel, RESEND, c.resend);
    Fire(Trigger::Enter);
    ASSERT_EQ(connected, 1);
    const int programSend = LockBuffer(session.address, SO_SNDBUF, kStallBuffer);
    const int peerReceive = peer->bufferSize(SO_RCVBUF);
    ASSERT_GT(programSend, 0) << "the program's connection is not found";
    ASSERT_GT(peerReceive, 0);

    const size_t bound = 2 * (size_t)(programSend + peerReceive) + command.size();
    size_t sent = 0;
    qint64 took = SendUntilAWriteTimesOut(command.size(), bound, &sent);
    printf("stall: a write backed up after %zu bytes (at most %zu)\n", sent, bound);
    ASSERT_GE(took, IO_TIMEOUT_MS - 50) << "no write backed up in " << sent << " bytes";
    EXPECT_LT(took, IO_TIMEOUT_MS + kSlackMs);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET)[0], command) << "a command whose write failed is listed";
    EXPECT_EQ(Led(), 1) << "a failed write leaves the LED";
    EXPECT_EQ(connected, c.resend ? 0 : 1);
    ExpectSound(session.title);

    /* The chamber goes away with the unread bytes: the connection is reset. */
    peer.reset();
    if (!c.resend) {
        EXPECT_TRUE(QTest::qWaitFor([] { return connected == 0; }, kAnswerWaitMs));
        EXPECT_EQ(Led(), 0) << "the reset is a disconnect event";
    }
    ExpectRecovery(session, Trigger::Enter);
}

TEST(Fault, ChamberThatStopsReadingMakesTheWriteFailAndRecovers)
{
    const StallCase cases[] = {
        {"reconnect on send error", 1},
        {"stay on the connection after a send error", 0},
    };
    for (const StallCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunStallCase(c);
    }
}

} // namespace
