/*
 * sim_server_test.cpp -- the built quenta-sim over loopback: clients that
 * leave or misbehave, several clients, framing and line ends, each fault
 * option, the speed, and the command line. Each test has an address of its
 * own from 127.0.0.60 to 127.0.0.69, port 1080.
 */
#include <gtest/gtest.h>

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

TEST(SimServer, SplitAnswersArriveInTwoParts) {
  struct Case {
    const char *command, *first, *second;
  } cases[] = {
      {"C", "C05 3.23", " SIM-0001"},
      {"L", "L", "0"},
      {"D", "D", ""},  /* one byte cannot be split */
  };
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.0.63", {"--split-answers", "--split-pause", "300"}));
  SimClient client;
  ASSERT_TRUE(client.connect("127.0.0.63"));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    client.send(c.command);
    QList<QByteArray> reads = client.collect(900);
    ASSERT_FALSE(reads.isEmpty());
    EXPECT_EQ(reads[0], QByteArray(c.first));
    EXPECT_EQ(Joined(reads.mid(1)), QByteArray(c.second));
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
