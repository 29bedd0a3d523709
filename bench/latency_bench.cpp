/*
 * latency_bench.cpp -- answer latency in-process: the time from a chamber's
 * write of an answer to the answer's line in the received list.
 *
 * A chamber stand-in runs on a thread of its own, listening on one loopback
 * address, port 1080; it answers every read with the same answer and takes
 * the time on the steady clock just before its write. The module ASCII runs
 * on the real main panel on this thread: each cycle sends "A0" as Enter in
 * the command field does, and the list widget's rowsInserted signal takes
 * the time of arrival. Beside it, the same job without the module and its
 * library: the command written on a plain socket and listed in one
 * QListWidget, the answer read when a QSocketNotifier fires and listed in
 * another, which is what Qt itself costs.
 *
 * Between cycles the event loop runs idle for a gap (2 ms), so that each
 * cycle starts with the windows repainted, as it does when an operator or
 * the timer sends. The stand-in answers at once by default: the answer then
 * waits for what the program still does after its write (listing the sent
 * command, repainting that list). With --answer-delay-us N it answers N
 * microseconds later, as a slower chamber does, and finds the program idle:
 * the figure is then that of the receive path alone.
 *
 * With --flood N it measures instead how fast the module lists long
 * answers: the stand-in answers one command with N answers of 2,500 bytes
 * written back to back, the module lists them in the "without framing" mode
 * (one line per read, every byte as it came), and a timer that is due every
 * 5 ms tells how long the event loop was held at the most. Every listed
 * byte is checked against what was written.
 *
 * Usage: latency_bench [--address A] [--count N] [--warmup N]
 *                      [--answer-delay-us N] [--gap-ms N] [--flood N]
 * Prints one line per path, times in microseconds:
 *   latency <path> <answers> p50 <us> p99 <us> max <us>
 * or, with --flood, one line:
 *   flood module-raw <answers> lines <n> bytes <n> ms <ms> lines/s <n> held-ms <ms>
 * Exits 0, or 1 after a message when an answer is lost or listed wrong.
 */
#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ascii.h"
#include "ascii_module.h"
#include "bench_stats.h"
#include "platform.h"
#include "platform_qt.h"

namespace {

const char kCommand[] = "A0";
const char kAnswer[] = "A0 022.0 025.0";
const int kAnswerWaitMs = 2000;
const int kPeerSliceMs = 50;
const int kMaxPeerFds = 8;
const int kDefaultCount = 1000;
const int kDefaultWarmup = 50;
const int kDefaultAnswerDelayUs = 0;
const int kDefaultGapMs = 2;
const int kFloodWaitMs = 120000;  /* the longest a flood may take to be listed */
const int kHoldTickMs = 5;        /* the timer that watches the event loop */
const int kFloodMax = 20000;      /* answers in a flood at most (50 MB) */

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

/* The chamber stand-in: accepts connections and answers each read. */
struct Peer {
    int listenFd = -1;
    int answerDelayUs = 0;
    std::atomic<const std::string *> flood{nullptr}; /* written whole for the next command */
    std::atomic<long long> floodNs{0};
    std::vector<int> conns;
    std::atomic<bool> stop{false};
    std::atomic<long long> writeNs{0};
    std::thread thread;
};

/* Listens on address, port 1080. Returns the socket, or -1 after a message. */
int Listen(const char *address)
{
    struct sockaddr_in a = {};
    int one = 1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);

    a.sin_family = AF_INET;
    a.sin_port = htons(CHAMBER_PORT);
    if (fd < 0 || inet_pton(AF_INET, address, &a.sin_addr) != 1) {
        fprintf(stderr, "latency_bench: bad address %s\n", address);
        return -1;
    }
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, (struct sockaddr *)&a, sizeof a) != 0 || listen(fd, 4) != 0) {
        fprintf(stderr, "latency_bench: cannot listen on %s:%d: %s\n", address, CHAMBER_PORT, strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

/* Writes all of bytes to fd. Returns false after a message. */
bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fprintf(stderr, "latency_bench: the peer cannot write: %s\n", strerror(errno));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

/* One readable connection of the peer: a read is one command, answered
 * after the peer's answer delay, or with the flood when one waits; the
 * time of the (first) write is kept. A closed connection is dropped. */
void Answer(Peer *peer, size_t index)
{
    char command[COMMAND_SIZE];
    const int fd = peer->conns[index];
    ssize_t n = recv(fd, command, sizeof command, 0);

    if (n <= 0) {
        close(fd);
        peer->conns.erase(peer->conns.begin() + static_cast<long>(index));
        return;
    }
    if (const std::string *flood = peer->flood.exchange(nullptr, std::memory_order_acq_rel)) {
        peer->floodNs.store(NowNs(), std::memory_order_release);
        WriteAll(fd, *flood);
        return;
    }
    if (peer->answerDelayUs > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(peer->answerDelayUs));
    peer->writeNs.store(NowNs(), std::memory_order_release);
    if (send(fd, kAnswer, strlen(kAnswer), MSG_NOSIGNAL) < 0)
        fprintf(stderr, "latency_bench: the peer cannot write: %s\n", strerror(errno));
}

/* The peer's thread: accepts and answers until told to stop. */
void RunPeer(Peer *peer)
{
    struct pollfd p[kMaxPeerFds];

    while (!peer->stop.load()) {
        size_t n = 0;
        p[n++] = {peer->listenFd, POLLIN, 0};
        for (size_t i = 0; i < peer->conns.size() && n < kMaxPeerFds; i++)
            p[n++] = {peer->conns[i], POLLIN, 0};
        if (poll(p, n, kPeerSliceMs) <= 0)
            continue;
        for (size_t i = n - 1; i >= 1; i--)
            if (p[i].revents != 0)
                Answer(peer, i - 1);
        if ((p[0].revents & POLLIN) && peer->conns.size() + 1 < kMaxPeerFds) {
            int fd = accept4(peer->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                peer->conns.push_back(fd);
        }
    }
}

/* Waits for one line in a list and takes its latency. */
struct Arrival {
    Peer *peer = nullptr;
    QEventLoop *loop = nullptr;
    long long latencyNs = -1;
    int warmup = 0;   /* cycles run before the measured ones */
    int count = 0;    /* cycles measured */
    int gapMs = 0;    /* idle time of the event loop after each cycle */
};

/* Hooks list's model so that every inserted row ends the current wait
 * with the time since the peer's last write. */
void WatchList(QListWidget *list, Arrival *arrival)
{
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list, [arrival] {
        arrival->latencyNs = NowNs() - arrival->peer->writeNs.load(std::memory_order_acquire);
        if (arrival->loop)
            arrival->loop->quit();
    });
}

/* Runs the event loop for ms milliseconds. */
void RunIdle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

/* Runs send() once, then the event loop until a line arrives (or 2 s).
 * Returns the latency in microseconds, or -1 when no line came. */
double OneCycle(Arrival *arrival, const std::function<void()> &send)
{
    QEventLoop loop;
    QTimer::singleShot(kAnswerWaitMs, &loop, &QEventLoop::quit);
    arrival->latencyNs = -1;
    arrival->loop = &loop;
    send();
    if (arrival->latencyNs < 0)
        loop.exec();
    arrival->loop = nullptr;
    return arrival->latencyNs < 0 ? -1.0 : static_cast<double>(arrival->latencyNs) / 1000.0;
}

/*
 * Runs the warm-up and the measured cycles, checking after each that the
 * top line of list reads expected and letting the event loop idle for the
 * gap. Prints the line of figures for name and returns true, or returns
 * false after a message.
 */
bool Measure(const char *name, QListWidget *list, Arrival *arrival, const std::function<void()> &send,
             const QString &expected)
{
    std::vector<double> us;

    for (int i = 0; i < arrival->warmup + arrival->count; i++) {
        const double latency = OneCycle(arrival, send);
        if (latency < 0 || list->count() == 0 || list->item(0)->text() != expected) {
            fprintf(stderr, "latency_bench: %s: answer %d %s\n", name, i + 1,
                    latency < 0 ? "never listed" : "listed wrong");
            return false;
        }
        if (i >= arrival->warmup)
            us.push_back(latency);
        RunIdle(arrival->gapMs);
    }
    printf("latency %s %d p50 %.1f p99 %.1f max %.1f\n", name, arrival->count, Percentile(us, 50),
           Percentile(us, 99), Percentile(us, 100));
    fflush(stdout);
    return true;
}

/* The module's line for kAnswer in display mode. */
QString ExpectedLine(int mode)
{
    char answer[ANSWER_MAX + 1];
    char line[DISPLAY_LINE_SIZE];

    snprintf(answer, sizeof answer, "%s", kAnswer);
    DescribeAnswer(answer, line, DISPLAY_RAW);
    DescribeAnswer(answer, line, mode);
    return QString::fromLatin1(line);
}

/*
 * Loads the main panel as start-up does, with cyclic sending suspended, and
 * connects it to address by committing IP. Returns true when connected.
 */
bool StartModule(const char *address)
{
    AsciiRegisterCallbacks();
    mainPanel = LoadPanel(0, AsciiPanelFile(), PANEL);
    if (mainPanel < 0) {
        fprintf(stderr, "latency_bench: cannot load %s (%d)\n", AsciiPanelFile(), mainPanel);
        return false;
    }
    SuspendTimerCallbacks();
    DisplayPanel(mainPanel);
    SetCtrlVal(mainPanel, SEND_STRING, kCommand);
    SetCtrlVal(mainPanel, IP, address);
    IPinput(mainPanel, IP, EVENT_COMMIT, nullptr, 0, 0);
    if (!connected)
        fprintf(stderr, "latency_bench: the module cannot connect to %s\n", address);
    return connected != 0;
}

/* The module's path in display mode: Enter in the command field, the
 * answer through the library's callback into ZEICHEN_EMPFANGEN. */
bool MeasureModule(const char *name, int mode, Arrival *arrival)
{
    auto *list = static_cast<QListWidget *>(GetCtrlWidget(mainPanel, ZEICHEN_EMPFANGEN));
    SetCtrlVal(mainPanel, RINGSLIDE, mode);
    auto send = [] { SENDEN(mainPanel, SEND_STRING, EVENT_KEYPRESS, nullptr, VAL_ENTER_VKEY, 0); };
    return Measure(name, list, arrival, send, ExpectedLine(mode));
}

/* answers answers of ANSWER_MAX bytes each, printable ASCII and Latin-1
 * letters in a pattern that does not repeat from one answer to the next. */
std::string FloodBytes(int answers)
{
    std::string bytes;
    for (int a = 0; a < answers; a++)
        for (int i = 0; i < ANSWER_MAX; i++) {
            const int c = (i * 7 + a * 3) % (0x5F + 0x40);
            bytes += static_cast<char>(c < 0x5F ? 0x20 + c : 0xC0 + (c - 0x5F));
        }
    return bytes;
}

/* What the received list took in during a flood, and the longest the
 * event loop let the watching timer wait. */
struct Intake {
    std::string bytes;
    int lines = 0;
    long long lastNs = 0;
    long long lastTickNs = 0;
    long long longestGapNs = 0;
};

/*
 * Has the peer answer the next command with a flood of answers, sends it
 * as Enter does, and lists until every byte is in (or kFloodWaitMs pass).
 * Prints the flood's line and returns true when every byte was listed in
 * order; false after a message.
 */
bool MeasureFlood(int answers, Peer *peer)
{
    auto *list = static_cast<QListWidget *>(GetCtrlWidget(mainPanel, ZEICHEN_EMPFANGEN));
    const std::string sent = FloodBytes(answers);
    Intake in;
    QEventLoop loop;
    QTimer tick;

    SetCtrlVal(mainPanel, RINGSLIDE, DISPLAY_RAW);
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list, [&] {
        in.bytes += list->item(0)->text().toLatin1().toStdString();
        in.lines++;
        in.lastNs = NowNs();
        if (in.bytes.size() >= sent.size())
            loop.quit();
    });
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&in] {
        const long long now = NowNs();
        if (in.lastTickNs > 0)
            in.longestGapNs = std::max(in.longestGapNs, now - in.lastTickNs);
        in.lastTickNs = now;
    });
    peer->flood.store(&sent, std::memory_order_release);
    tick.start(kHoldTickMs);
    QTimer::singleShot(kFloodWaitMs, &loop, &QEventLoop::quit);
    SENDEN(mainPanel, SEND_STRING, EVENT_KEYPRESS, nullptr, VAL_ENTER_VKEY, 0);
    loop.exec();
    if (in.bytes != sent) {
        fprintf(stderr, "latency_bench: the flood's %zu bytes were listed as %zu bytes%s\n", sent.size(),
                in.bytes.size(), in.bytes.size() == sent.size() ? ", not as written" : "");
        return false;
    }
    const double ms = static_cast<double>(in.lastNs - peer->floodNs.load(std::memory_order_acquire)) / 1e6;
    const double heldMs = std::max(0.0, static_cast<double>(in.longestGapNs) / 1e6 - kHoldTickMs);
    printf("flood module-raw %d lines %d bytes %zu ms %.1f lines/s %.0f held-ms %.1f\n", answers, in.lines,
           in.bytes.size(), ms, in.lines / (ms / 1000.0), heldMs);
    fflush(stdout);
    return true;
}

/* Connects a plain blocking socket to address, port 1080. Returns it or -1. */
int PlainConnect(const char *address)
{
    struct sockaddr_in a = {};
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);

    a.sin_family = AF_INET;
    a.sin_port = htons(CHAMBER_PORT);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (fd >= 0 && connect(fd, (struct sockaddr *)&a, sizeof a) == 0)
        return fd;
    fprintf(stderr, "latency_bench: the plain socket cannot connect: %s\n", strerror(errno));
    if (fd >= 0)
        close(fd);
    return -1;
}

/* Puts text at the top of list and selects it; the list keeps 12 lines. */
void AddPlainLine(QListWidget *list, const QString &text)
{
    if (list->count() >= HISTORY_MAX)
        delete list->takeItem(HISTORY_MAX - 1);
    list->insertItem(0, text);
    list->setCurrentRow(0);
}

/* Reads what is waiting on fd and lists it at the top of list. */
void ListPlainAnswer(int fd, QListWidget *list)
{
    char answer[ANSWER_MAX + 1];
    ssize_t n = recv(fd, answer, ANSWER_MAX, MSG_DONTWAIT);

    if (n > 0)
        AddPlainLine(list, QString::fromLatin1(answer, static_cast<int>(n)));
}

/*
 * The same job with plain Qt, in a window of the panel's size with the two
 * lists where the panel has them: write the command on a plain socket and
 * list it; a socket notifier reads the answer and lists it.
 */
bool MeasurePlainQt(const char *address, Arrival *arrival)
{
    const int fd = PlainConnect(address);
    if (fd < 0)
        return false;
    QWidget window;
    window.setFixedSize(960, 640);
    auto *sent = new QListWidget(&window);
    sent->setGeometry(10, 164, 465, 256);
    auto *received = new QListWidget(&window);
    received->setGeometry(485, 164, 465, 256);
    window.show();
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, received, [fd, received] { ListPlainAnswer(fd, received); });
    WatchList(received, arrival);
    auto send = [fd, sent] {
        if (::send(fd, kCommand, strlen(kCommand), MSG_NOSIGNAL) < 0)
            fprintf(stderr, "latency_bench: the plain socket cannot write\n");
        AddPlainLine(sent, QString::fromLatin1(kCommand));
    };
    const bool ok = Measure("plain-qt", received, arrival, send, QString::fromLatin1(kAnswer));
    notifier.setEnabled(false);
    close(fd);
    return ok;
}

/* Returns the value that follows option in argv, or fallback. */
const char *Option(int argc, char *argv[], const char *option, const char *fallback)
{
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], option) == 0)
            return argv[i + 1];
    return fallback;
}

/* Returns the whole number that follows option in argv, fallback when the
 * option is absent, or -1 when its value is not a whole number. */
int IntOption(int argc, char *argv[], const char *option, int fallback)
{
    const char *text = Option(argc, argv, option, nullptr);
    char *end = nullptr;
    if (!text)
        return fallback;
    long value = strtol(text, &end, 10);
    return (end == text || *end != '\0' || value < 0 || value > 1000000) ? -1 : (int)value;
}

/* Both module paths, then plain Qt, against the peer of arrival; or with
 * floodAnswers above 0 the flood alone. Returns true when all ran. */
bool RunAll(const char *address, Arrival &arrival, int floodAnswers)
{
    if (!StartModule(address))
        return false;
    if (floodAnswers > 0) {
        const bool ok = MeasureFlood(floodAnswers, arrival.peer);
        DisconnectFromTCPServer(connHandle);
        connected = 0;
        return ok;
    }
    WatchList(static_cast<QListWidget *>(GetCtrlWidget(mainPanel, ZEICHEN_EMPFANGEN)), &arrival);
    bool ok = MeasureModule("module-raw", DISPLAY_RAW, &arrival) &&
              MeasureModule("module-interpreted", DISPLAY_INTERPRETED, &arrival);
    DisconnectFromTCPServer(connHandle);
    connected = 0;
    return ok && MeasurePlainQt(address, &arrival);
}

}  // namespace

int main(int argc, char *argv[])
{
    const char *address = Option(argc, argv, "--address", "127.0.0.202");
    Peer peer;
    Arrival arrival;

    arrival.peer = &peer;
    arrival.count = IntOption(argc, argv, "--count", kDefaultCount);
    arrival.warmup = IntOption(argc, argv, "--warmup", kDefaultWarmup);
    arrival.gapMs = IntOption(argc, argv, "--gap-ms", kDefaultGapMs);
    peer.answerDelayUs = IntOption(argc, argv, "--answer-delay-us", kDefaultAnswerDelayUs);
    const int floodAnswers = IntOption(argc, argv, "--flood", 0);
    if (arrival.count < 1 || arrival.warmup < 0 || arrival.gapMs < 0 || peer.answerDelayUs < 0 ||
        floodAnswers < 0 || floodAnswers > kFloodMax) {
        fprintf(stderr, "usage: latency_bench [--address A] [--count N>0] [--warmup N] "
                        "[--answer-delay-us N] [--gap-ms N] [--flood N<=%d]\n", kFloodMax);
        return 2;
    }
    if (InitRuntimeEngine(nullptr, argv, 0) != 1) {
        fprintf(stderr, "latency_bench: no display\n");
        return 1;
    }
    if ((peer.listenFd = Listen(address)) < 0)
        return 1;
    peer.thread = std::thread(RunPeer, &peer);
    const bool ok = RunAll(address, arrival, floodAnswers);
    peer.stop = true;
    peer.thread.join();
    for (int fd : peer.conns)
        close(fd);
    close(peer.listenFd);
    return ok ? 0 : 1;
}
