/*
 * sim_loop_test.cpp -- the simulator's event loop in-process: the epoll
 * dispatcher's timers, socket notifiers (on socket pairs, a pipe and a
 * regular file) and wake-ups from other threads, and the control input
 * that reads lines from a descriptor. No network addresses.
 */
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "control_input.h"
#include "epoll_dispatcher.h"

namespace {

constexpr int kGuardMs = 20000;

/* The application for every test, on the epoll dispatcher. */
class EpollApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "sim_loop_test";
    static char *argv[] = {name, nullptr};
    QCoreApplication::setEventDispatcher(new eventloop::EpollDispatcher);
    new QCoreApplication(argc, argv);
    ASSERT_NE(dynamic_cast<eventloop::EpollDispatcher *>(QAbstractEventDispatcher::instance()), nullptr);
  }
};
const ::testing::Environment *const kApplication =
    ::testing::AddGlobalTestEnvironment(new EpollApplication);

/* Runs the event loop until done() holds or kGuardMs pass; returns
 * done(). done() is checked every few milliseconds by a timer. */
bool RunUntil(const std::function<bool()> &done) {
  QEventLoop loop;
  QTimer check, guard;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
  check.start(5);
  guard.start(kGuardMs);
  if (!done()) loop.exec();
  return done();
}

/* Runs the event loop for ms milliseconds. */
void RunFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  RunUntil([&] { return clock.elapsed() >= ms; });
}

/* Both ends of a local stream socket pair, closed at the end. */
struct Pair {
  Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd); }
  ~Pair() {
    close(fd[0]);
    close(fd[1]);
  }
  int fd[2] = {-1, -1};
};

TEST(SimLoop, TimersFireInTheOrderOfTheirTimesAndNeverEarly) {
  const std::vector<int> cases[] = {{120, 40, 80, 1}, {30, 90, 10, 60}, {5, 15}};
  for (const std::vector<int> &intervals : cases) {
    SCOPED_TRACE(testing::Message() << "intervals " << testing::PrintToString(intervals));
    const size_t n = intervals.size();
    QElapsedTimer clock;
    clock.start();
    /* Each timer is due in [earliest, latest] by this clock: a pause of
     * the test between two starts moves the later ones on. */
    std::vector<qint64> earliest(n), latest(n), firedAt(n, -1);
    std::vector<size_t> fired;
    QObject context;
    for (size_t i = 0; i < n; i++) {
      earliest[i] = clock.elapsed() + intervals[i] - 1;
      QTimer::singleShot(intervals[i], &context, [&, i] {
        firedAt[i] = clock.elapsed();
        fired.push_back(i);
      });
      latest[i] = clock.elapsed() + intervals[i] + 1;
    }
    ASSERT_TRUE(RunUntil([&] { return fired.size() == n; }));
    for (size_t i = 0; i < n; i++) EXPECT_GE(firedAt[i], earliest[i]) << "timer " << i;
    for (size_t p = 0; p < n; p++)
      for (size_t q = p + 1; q < n; q++)
        EXPECT_FALSE(latest[fired[q]] < earliest[fired[p]])
            << "timer " << fired[q] << " was due before timer " << fired[p] << " but fired after it";
  }
}

TEST(SimLoop, RepeatingTimersRepeatUntilStopped) {
  QTimer timer;
  int count = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++count == 5) timer.stop();
  });
  timer.start(20);
  ASSERT_TRUE(RunUntil([&] { return count >= 5; }));
  RunFor(150);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(QAbstractEventDispatcher::instance()->remainingTime(timer.timerId()), -1);

  QTimer slow;
  slow.start(10000);
  int left = QAbstractEventDispatcher::instance()->remainingTime(slow.timerId());
  EXPECT_GT(left, 5000);
  EXPECT_LE(left, 10000);
  auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&slow);
  ASSERT_EQ(timers.size(), 1);
  EXPECT_EQ(timers[0].interval, 10000);
  slow.stop();
  EXPECT_TRUE(QAbstractEventDispatcher::instance()->registeredTimers(&slow).isEmpty());
}

TEST(SimLoop, NotifiersFireForTheirOwnDescriptorOnly) {
  constexpr int kPairs = 400;  /* 800 descriptors: within the usual limit of 1024 */
  std::vector<std::unique_ptr<Pair>> pairs;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  std::vector<int> activations(kPairs, 0);
  for (int i = 0; i < kPairs; i++) {
    pairs.push_back(std::make_unique<Pair>());
    ASSERT_GE(pairs.back()->fd[0], 0);
    notifiers.push_back(std::make_unique<QSocketNotifier>(pairs[i]->fd[0], QSocketNotifier::Read));
    QObject::connect(notifiers.back().get(), &QSocketNotifier::activated, [&, i] {
      char byte;
      if (read(pairs[i]->fd[0], &byte, 1) == 1) activations[i]++;
    });
  }
  RunFor(50);
  EXPECT_EQ(std::count(activations.begin(), activations.end(), 0), kPairs) << "none is ready";
  for (int i : {0, 277, kPairs - 1}) {
    SCOPED_TRACE(i);
    ASSERT_EQ(write(pairs[i]->fd[1], "x", 1), 1);
    ASSERT_TRUE(RunUntil([&] { return activations[i] == 1; }));
    EXPECT_EQ(std::count(activations.begin(), activations.end(), 0), kPairs - 1);
    activations[i] = 0;
  }
}

TEST(SimLoop, ReadAndWriteNotifiersShareADescriptor) {
  Pair pair;
  QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
  QSocketNotifier writer(pair.fd[0], QSocketNotifier::Write);
  int reads = 0, writes = 0;
  QObject::connect(&reader, &QSocketNotifier::activated, [&] {
    char byte;
    reads += read(pair.fd[0], &byte, 1) == 1;
  });
  QObject::connect(&writer, &QSocketNotifier::activated, [&] { writes++; });
  ASSERT_TRUE(RunUntil([&] { return writes > 0; })) << "a fresh socket is writable";
  writer.setEnabled(false);
  int writesBefore = writes;
  ASSERT_EQ(write(pair.fd[1], "ab", 2), 2);
  ASSERT_TRUE(RunUntil([&] { return reads == 2; }));
  EXPECT_EQ(writes, writesBefore) << "a disabled notifier stays quiet";
  reader.setEnabled(false);
  writer.setEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return writes > writesBefore; }));
  ASSERT_EQ(write(pair.fd[1], "c", 1), 1);
  RunFor(50);
  EXPECT_EQ(reads, 2);
}

TEST(SimLoop, ANotifierDeletedByAnotherInTheSamePassIsNotActivated) {
  Pair first, second;
  auto a = std::make_unique<QSocketNotifier>(first.fd[0], QSocketNotifier::Read);
  auto b = std::make_unique<QSocketNotifier>(second.fd[0], QSocketNotifier::Read);
  int activations = 0;
  char byte;
  QObject::connect(a.get(), &QSocketNotifier::activated, [&] {
    activations += read(first.fd[0], &byte, 1) == 1;
    b.reset();
  });
  QObject::connect(b.get(), &QSocketNotifier::activated, [&] {
    activations += read(second.fd[0], &byte, 1) == 1;
    a.reset();
  });
  ASSERT_EQ(write(first.fd[1], "x", 1), 1);
  ASSERT_EQ(write(second.fd[1], "x", 1), 1);
  ASSERT_TRUE(RunUntil([&] { return activations > 0; }));
  RunFor(50);
  EXPECT_EQ(activations, 1);
  EXPECT_TRUE(!a || !b);
}

TEST(SimLoop, EventsPostedFromAnotherThreadWakeTheLoop) {
  QEventLoop loop;
  QObject receiver;
  bool delivered = false;
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
  guard.start(kGuardMs);
  std::thread poster([&] {
    QThread::msleep(100);
    QMetaObject::invokeMethod(&receiver, [&] {
      delivered = true;
      loop.quit();
    }, Qt::QueuedConnection);
  });
  loop.exec();  /* nothing but the guard is due: only the wake-up ends the wait early */
  poster.join();
  EXPECT_TRUE(delivered);

  bool destroyed = false;
  QObject *doomed = new QObject;
  QObject::connect(doomed, &QObject::destroyed, [&] { destroyed = true; });
  doomed->deleteLater();
  EXPECT_TRUE(RunUntil([&] { return destroyed; }));
}

/* A control input on a descriptor, with replies that tell which line they
 * answer. */
struct Control {
  explicit Control(int fd)
      : replies(open_memstream(&text, &size)),
        input(fd, [](const QByteArray &line) { return "seen [" + line + "]"; }, replies) {}
  ~Control() {
    fclose(replies);
    free(text);
  }
  QByteArray written() {
    fflush(replies);
    return QByteArray(text, static_cast<qsizetype>(size));
  }
  char *text = nullptr;
  size_t size = 0;
  FILE *replies;
  sim::ControlInput input;
};

TEST(SimLoop, ControlInputAnswersEachLineOnce) {
  const QByteArray longLine(sim::kMaxControlLine + 1, 'a');
  struct Case {
    const char *what;
    bool regularFile;  /* else a pipe, written chunk by chunk */
    std::vector<QByteArray> chunks;
    QByteArray replies;
  } cases[] = {
      {"lines in pieces", false, {"down 1\nup", " 2\r\n", "\n  \n", "slow all 5\n"},
       "seen [down 1]\nseen [up 2]\nseen [slow all 5]\n"},
      {"a last line without line end", false, {"close 3\nnormal 3"},
       "seen [close 3]\nseen [normal 3]\n"},
      {"a line too long", false, {longLine + "\nup 1\n"}, "error line too long\nseen [up 1]\n"},
      {"a line too long in pieces", false, {longLine, longLine, "\n", "up 1\n"},
       "error line too long\nseen [up 1]\n"},
      {"the longest line", false, {QByteArray(sim::kMaxControlLine, 'b') + "\n"},
       "seen [" + QByteArray(sim::kMaxControlLine, 'b') + "]\n"},
      {"bytes of every kind", false, {QByteArray("a\0b\xff\n", 5)},
       QByteArray("seen [a\0b\xff]\n", 12)},
      /* epoll refuses a regular file, which is always readable */
      {"a regular file", true, {"down all\nup 7\n"}, "seen [down all]\nseen [up 7]\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int fds[2] = {-1, -1};
    QTemporaryFile file;
    if (c.regularFile) {
      ASSERT_TRUE(file.open());
      for (const QByteArray &chunk : c.chunks) file.write(chunk);
      file.flush();
      fds[0] = open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_CLOEXEC);
    } else {
      ASSERT_EQ(pipe(fds), 0);
    }
    ASSERT_GE(fds[0], 0);
    {
      Control control(fds[0]);
      for (size_t i = 0; fds[1] >= 0 && i < c.chunks.size(); i++) {
        ASSERT_EQ(write(fds[1], c.chunks[i].constData(), c.chunks[i].size()), c.chunks[i].size());
        RunFor(20);  /* often a read of its own, which the lines must survive */
      }
      if (fds[1] >= 0) close(fds[1]);
      EXPECT_TRUE(RunUntil([&] { return control.input.atEnd(); })) << "the end is noticed";
      EXPECT_EQ(control.written().toStdString(), c.replies.toStdString());
    }
    close(fds[0]);
  }
  QTimer timer;  /* after the file, the loop still waits for its timers */
  bool fired = false;
  QObject::connect(&timer, &QTimer::timeout, [&] { fired = true; });
  timer.start(30);
  EXPECT_TRUE(RunUntil([&] { return fired; }));
}

}  // namespace
