/*
 * soak_test.cpp -- 10,000 commands and answers against the simulated
 * chamber in one process, the program driven as the operator and the timer
 * drive it: Enter or a tick, in every display mode, every tenth cycle with
 * the connection closed after the answer, so that the next one connects
 * anew. Resident memory after the first 1,000 cycles must grow by less
 * than 1 MB to the end, and no Qt object may pile up; in the sanitizer
 * build LeakSanitizer checks the rest at exit.
 *
 * The simulator runs in-process on 127.0.0.119, port 1080.
 */
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>

#include <fstream>
#include <string>

#include "ascii.h"
#include "ascii_module.h"
#include "chamber.h"
#include "fault_support.h"
#include "platform.h"
#include "server.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

const ::testing::Environment *const engine =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

const char kAddress[] = "127.0.0.119";
const quint16 kPort = 1080;
/* Under AddressSanitizer every cycle is slower, and resident memory says
 * nothing: fewer cycles, and no memory figure checked. */
const int kCycles = kAddressSanitizer ? 2000 : 10000;
const int kWarmUpCycles = 1000;
const long kMaxGrowthBytes = 1024 * 1024;
const int kMaxObjectGrowth = 2;   /* a close's deferred delete may still be pending */
const int kAnswerWaitMs = 30000; /* for one answer; generous, a loaded machine is slow */
const int kChannels = 5;
const int64_t kChamberStart = 1700000000; /* the chamber clock at start, seconds */

/* Resident memory of this process in bytes, from /proc/self/statm; -1 when unknown. */
long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = -1;
    if (!(statm >> size >> resident))
        return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

/* Qt objects alive: the application's children and every widget. */
int LiveObjects()
{
    return (int)(QCoreApplication::instance()->findChildren<QObject *>().size() +
                 QApplication::allWidgets().size());
}

/* Runs the event loop until the recorder holds more than `before` lines or
 * timeoutMs passes, without the fixed slices of a polling pump. Returns
 * true when a line came. */
bool WaitForLine(const Recorder &answers, size_t before, int timeoutMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QMetaObject::Connection inserted = QObject::connect(
        ListWidget(ZEICHEN_EMPFANGEN)->model(), &QAbstractItemModel::rowsInserted, &loop,
        &QEventLoop::quit);
    deadline.start(timeoutMs);
    while (answers.count == before && deadline.isActive())
        loop.exec();
    QObject::disconnect(inserted);
    return answers.count > before;
}

/* What the answer to "A<channel>" looks like in mode: its start as it
 * stands or in hexadecimal, or the channel named in the sentence. */
bool AnswerLooksRight(const std::string &line, int channel, int mode)
{
    std::string raw = "A" + std::to_string(channel) + " ";
    if (mode == DISPLAY_RAW)
        return line.compare(0, raw.size(), raw) == 0;
    if (mode == DISPLAY_HEX)
        return line.compare(0, Hex(raw).size(), Hex(raw)) == 0;
    std::string named = (englishUI ? "channel " : "Kanal ") + std::to_string(channel);
    return line.find(named) != std::string::npos;
}

/* The program started, aimed at the simulator and connected to it, with
 * cyclic sending suspended; the ticks come from the test. */
void StartProgram()
{
    ASSERT_EQ(AsciiStartup(), 0);
    SuspendTimerCallbacks();
    SetCtrlVal(mainPanel, IP, kAddress);
    Fire(Trigger::AddressCommit);
    ASSERT_EQ(connected, 1);
}

/* Sets up and fires cycle i: channel, display mode, the option to close
 * after the answer, and Enter or a tick. */
void FireCycle(int i)
{
    std::string command = "A" + std::to_string(i % kChannels);
    SetCtrlVal(mainPanel, SEND_STRING, command.c_str());
    SetCtrlVal(mainPanel, RINGSLIDE, (i / kChannels) % 3);
    SetCtrlVal(mainPanel, CLOSE_CONN, i % 10 == 9 ? 1 : 0);
    Fire(i % 4 == 3 ? Trigger::Tick : Trigger::Enter);
}

TEST(Soak, ThousandsOfCyclesKeepMemoryAndObjectsFlat)
{
    QElapsedTimer clock;
    clock.start();
    sim::Chamber chamber([&clock] { return (int64_t)clock.elapsed(); }, 1.0, kChamberStart);
    sim::Server server(chamber, sim::Faults(), false);
    ASSERT_TRUE(server.listen(QHostAddress(QString(kAddress)), kPort))
        << server.errorString().toStdString();
    StartProgram();
    std::string last;
    Recorder answers(ZEICHEN_EMPFANGEN, [&last](const std::string &line) { last = line; });

    long warmResident = -1;
    int warmObjects = 0, wrong = 0;
    std::string firstWrong;
    for (int i = 0; i < kCycles; i++) {
        if (i == kWarmUpCycles) {
            warmResident = ResidentBytes();
            warmObjects = LiveObjects();
        }
        size_t before = answers.count;
        FireCycle(i);
        ASSERT_TRUE(WaitForLine(answers, before, kAnswerWaitMs)) << "no answer in cycle " << i;
        if (!AnswerLooksRight(last, i % kChannels, (i / kChannels) % 3) && wrong++ == 0)
            firstWrong = "cycle " + std::to_string(i) + ": " + last;
    }
    long endResident = ResidentBytes();
    int endObjects = LiveObjects();
    printf("soak: %d cycles in %lld ms, resident %ld -> %ld bytes, objects %d -> %d\n", kCycles,
           (long long)clock.elapsed(), warmResident, endResident, warmObjects, endObjects);

    EXPECT_EQ(wrong, 0) << firstWrong;
    EXPECT_EQ(answers.count, (size_t)kCycles);
    EXPECT_EQ(Lines(ZEICHEN_EMPFANGEN).size(), (size_t)HISTORY_MAX);
    EXPECT_EQ(Lines(ZEICHEN_GESENDET).size(), (size_t)HISTORY_MAX);
    EXPECT_EQ(IntVal(LED), 1);
    EXPECT_LE(endObjects - warmObjects, kMaxObjectGrowth) << "Qt objects pile up";
    if (!kAddressSanitizer) {
        ASSERT_GT(warmResident, 0);
        EXPECT_LT(endResident - warmResident, kMaxGrowthBytes);
    }
    DisconnectFromTCPServer(connHandle);
    connected = 0;
    DiscardPanel(mainPanel);
}

} // namespace
