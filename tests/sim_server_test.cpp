/*
 * sim_server_test.cpp -- the built quenta-sim over loopback: clients that
 * leave or misbehave, several clients, framing and line ends, the faults
 * of the options and of the control input, the speed, and the command
 * line. Each test has an address of its
 * own from 127.0.0.60 to 127.0.0.69, port 1080.
 */
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTime>

#include "sim_process.h"

namespace {

using sim::SimClient;
using sim::SimProcess;

QByteArray Joined(const QList<QByteArray> &reads) {
  QByteArray all;
  for (const QByteArray &r : reads) all += r;
  return all;
}

/* Lets the simulator take what was sent as a read of its own. */
void Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

TEST(SimServer, NextClientIsServedAfterOneLeavesOrMisbehaves) {
  struct Case {
    const char *what;
    QByteArray sent;
    bool readAnswer, abort;
  } cases[] = {
      {"asks and leaves", "L", true, false},
      {"leaves before its answer is read", "Aa", false, false},
      {"resets in the middle of a command", "a0 03", false, true},
      {"sends bytes that are no command", QByteArray("\x00\xff\xfe\r\n\x01", 6), false, false},
      {"sends an overlong command", QByteArray(5000, 'A'), false, false},
      {"floods commands and reads nothing", QByteArray("Aa\n").repeated(30000), false, true},
  };
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.60", {}));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    {
      SimClient bad;
      ASSERT_TRUE(bad.connect("127.0.0.60"));
      if (c.readAnswer) EXPECT_EQ(bad.ask(c.sent), QByteArray("L0"));
      else bad.send(c.sent);
      if (c.abort) bad.socket().abort();
    }
    SimClient next;
    ASSERT_TRUE(next.connect("127.0.0.60"));
    EXPECT_EQ(next.ask("P"), QByteArray("P000"));
  }
}

TEST(SimServer, ClientsAtTheSameTimeShareOneChamber) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.61", {}));
  SimClient first, second;
  ASSERT_TRUE(first.connect("127.0.0.61"));
  ASSERT_TRUE(second.connect("127.0.0.61"));
  EXPECT_EQ(first.ask("l2"), QByteArray("l2"));
  EXPECT_EQ(second.ask("L"), QByteArray("L2"));
  EXPECT_EQ(second.ask("l1"), QByteArray("l1"));
  EXPECT_EQ(first.ask("L"), QByteArray("L1"));
}

TEST(SimServer, CloseAfterAnswer) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.62", {"--close-after-answer"}));
  for (const char *command : {"L", "P", "D"}) {
    SCOPED_TRACE(command);
    SimClient client;
    ASSERT_TRUE(client.connect("127.0.0.62"));
    EXPECT_FALSE(client.ask(command).isEmpty());
    EXPECT_TRUE(client.waitForClosed(2000));
  }
}

/* Sends command to the chamber at address on a connection of its own and
 * reads, past the Qt socket, until want bytes came or the connection ends.
 * *end tells how it stands then: "open", "closed" or "reset". */
QByteArray Exchange(const char *address, const QByteArray &command, qsizetype want,
                    const char **end) {
  sockaddr_in to = {AF_INET, htons(sim::kChamberPort), {inet_addr(address)}, {}};
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  *end = connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 &&
         send(fd, command.constData(), command.size(), 0) == command.size() ? "open" : "unsent";
  QByteArray got;
  char buffer[4096];
  pollfd readable = {fd, POLLIN, 0};
  while (got.size() < want && !strcmp(*end, "open") && poll(&readable, 1, 5000) == 1) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) got.append(buffer, n);
    else *end = n == 0 ? "closed" : errno == ECONNRESET ? "reset" : "failed";
  }
  close(fd);
  return got;
}

/* The writes the verbose log shows after byte from: what follows " >> ",
 * and its time of day in milliseconds. */
QList<QPair<QByteArray, int>> LoggedWrites(const QByteArray &log, qsizetype from) {
  QList<QPair<QByteArray, int>> writes;
  for (const QByteArray &line : log.mid(from).split('\n'))
    if (line.contains(" >> "))
      writes.append({line.mid(line.indexOf(" >> ") + 4),
                      QTime::fromString(QString::fromLatin1(line.left(12)), "HH:mm:ss.zzz")
                          .msecsSinceStartOfDay()});
  return writes;
}

/* Each answer through a socket, and its writes in the log, at least
 * pauseMs apart, as the start options and then the control commands shape
 * it. */
TEST(SimServer, AnswersArriveAsTheFaultsShapeThem) {
  struct Case {
    const char *control, *command;
    QByteArrayList writes;
    int pauseMs;
    const char *end;
  } cases[] = {
      {"", "C", {"C05 3.23", " SIM-0001"}, 300, "open"},  /* the start options */
      {"", "D", {"D"}, 0, "open"},  /* one byte cannot be split */
      {"split 1 250", "L", {"L", "0"}, 250, "open"},
      {"trickle 1 150", "P", {"P", "0", "0", "0"}, 150, "open"},
      {"lineend 1 200", "L", {"L0", "\r\n"}, 200, "open"},
      {"lineend 1 0", "L", {"L0\r\n"}, 0, "open"},
      {"channel 1 b0", "E0", {"E\xb0 025.0"}, 0, "open"},
      {"channel 1 B0", "L", {"L0"}, 0, "open"},  /* no channel in it */
      {"long 1 3000", "L", {"L0" + QByteArray(2998, '#')}, 0, "open"},
      {"reset 1 3", "C", {"C05"}, 0, "reset"},
      {"reset 1 0", "L", {""}, 0, "reset"},
  };
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.63", {"--split-answers", "--split-pause", "300", "--verbose"}));
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.control << " then " << c.command);
    if (*c.control) {
      ASSERT_EQ(sim.control("normal 1"), QByteArray("ok normal 1"));
      ASSERT_EQ(sim.control(c.control), "ok " + QByteArray(c.control));
    }
    qsizetype from = sim.output().size();
    const char *end = "";
    bool resets = !strcmp(c.end, "reset");
    EXPECT_EQ(Exchange("127.0.0.63", c.command, resets ? 1 << 20 : c.writes.join().size(), &end),
              c.writes.join());
    EXPECT_STREQ(end, c.end);
    QList<QPair<QByteArray, int>> writes = LoggedWrites(sim.output(), from);
    for (int reads = 0; writes.size() < c.writes.size() && reads < 100; reads++)
      writes = LoggedWrites(sim.output(), from);  /* output() waits for the log a little */
    ASSERT_EQ(writes.size(), c.writes.size()) << sim.output().mid(from).constData();
    for (qsizetype i = 0; i < writes.size(); i++)
      EXPECT_EQ(writes[i].first, sim::Escaped(c.writes[i]) + (i + 1 < writes.size() ? " (part)" : ""));
    for (qsizetype i = 1; i < writes.size(); i++)  /* both clocks count whole milliseconds */
      EXPECT_GE((writes[i].second - writes[i - 1].second + 86400000) % 86400000, c.pauseMs - 2);
  }
}

TEST(SimServer, DelayedAnswersKeepTheirOrder) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.64", {"--delay", "500"}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.64"));
  QElapsedTimer waited;
  waited.start();
  EXPECT_EQ(client.ask("L"), QByteArray("L0"));
  EXPECT_GE(waited.elapsed(), 450);
  client.send("P");
  Pause(100);
  client.send("l2");
  EXPECT_EQ(Joined(client.collect(1500)), QByteArray("P000l2"));
}

TEST(SimServer, SilentCarriesOutButNeverAnswers) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.65", {"--silent"}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.65"));
  EXPECT_EQ(client.ask("L", 700), QByteArray());
  EXPECT_EQ(client.socket().state(), QAbstractSocket::ConnectedState);
  EXPECT_EQ(sim.standardError(), QByteArray());
}

TEST(SimServer, UnknownAndMalformedGetNoAnswerAndOneLineOnStandardError) {
  const char *bad[] = {"X", "B1", "a9 1", "A", "t991399000000"};
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.66", {}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.66"));
  for (const char *command : bad) {
    SCOPED_TRACE(command);
    EXPECT_EQ(client.ask(command, 300), QByteArray());
  }
  EXPECT_EQ(client.ask("L"), QByteArray("L0"));  /* the connection lives on */
  QList<QByteArray> lines = sim.standardError().trimmed().split('\n');
  ASSERT_EQ(lines.size(), static_cast<int>(std::size(bad)));
  for (size_t i = 0; i < std::size(bad); i++)
    EXPECT_TRUE(lines[i].contains('"' + QByteArray(bad[i]) + '"')) << lines[i].constData();
  EXPECT_TRUE(lines[0].contains("unknown command"));
}

TEST(SimServer, EachReadIsOneCommandAndLineEndsAreMirrored) {
  struct Case {
    QByteArray sent, answers;
  } cases[] = {
      {"L", "L0"},
      {"L\r\n", "L0\r\n"},
      {"P\n", "P000\n"},
      {"L\nP\r\n", "L0\nP000\r\n"},
      {"\r\n\n", ""},
      {"L P", ""},  /* one read, one command: refused */
  };
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.67", {}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.67"));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sent.constData());
    client.send(c.sent);
    EXPECT_EQ(Joined(client.collect(400)), c.answers);
  }
}

TEST(SimServer, SpeedMakesTimeRunFaster) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.68", {"--speed", "600"}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.68"));
  EXPECT_EQ(client.ask("a0 030.0"), QByteArray("a0"));
  Pause(1500);  /* 15 simulated minutes: 22 -> 30 takes 8 at 1 K/min */
  EXPECT_EQ(client.ask("A0"), QByteArray("A0 030.0 030.0"));
}

TEST(SimServer, CommandLine) {
  struct Case {
    QStringList options;
    int exitCode;
    const char *says;
  } cases[] = {
      {{"--help"}, 0, "--close-after-answer"},
      {{"--port", "70000"}, 2, "--port"},
      {{"--speed", "0"}, 2, "--speed"},
      {{"--speed", "fast"}, 2, "--speed"},
      {{"--listen", "nowhere"}, 2, "--listen needs an IP address, not \"nowhere\": a host name"},
      {{"--listen", "127.0.99.021"}, 2, "\"127.0.99.021\": a dotted IPv4 address is written in decimal without leading zeros"},
      {{"--delay", "-1"}, 2, "--delay"},
      {{"--split-pause", "0"}, 2, "--split-pause"},
      {{"--noise", "nan"}, 2, "--noise must be a number from 0 to 100"},
      {{"--bogus"}, 2, "bogus"},
      {{"--listen", "127.0.0.69"}, 1, "cannot listen"},  /* taken below */
  };
  SimProcess holder;
  ASSERT_TRUE(holder.start("127.0.0.69", {}));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options.join(' ').toStdString());
    QByteArray output;
    EXPECT_EQ(SimProcess::run(c.options, &output), c.exitCode);
    EXPECT_TRUE(output.contains(c.says)) << output.constData();
  }
  QByteArray help;
  SimProcess::run({"--help"}, &help);
  for (const char *option : {"--listen", "--port", "--speed", "--delay", "--split-answers",
                             "--split-pause", "--close-after-answer", "--silent", "--error",
                             "--verbose"})
    EXPECT_TRUE(help.contains(option)) << option;
}

}  // namespace
