/*
 * sim_fleet_test.cpp -- many chambers in one simulator: where they listen,
 * that each keeps its own state and gets the command line's settings, the
 * control commands in-process and through the built quenta-sim's standard
 * input, the log that names the chamber, standard input that ends, is
 * missing or is a terminal whose foreground is another's, and the limit of
 * open files. Addresses 127.0.20.1 to 127.0.21.254 and 127.0.52.1, port
 * 1080; each test has its own.
 */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTcpServer>
#include <memory>
#include <vector>

#include "fleet.h"
#include "responder.h"
#include "sim_process.h"

namespace {

using sim::SimClient;
using sim::SimProcess;

/* The set value field of an "A<k>" answer. */
QByteArray SetField(const QByteArray &answer) { return answer.mid(9, 5); }

QByteArray PlcAnswer(int chamberNumber) {
  return "C05 3.23 SIM-" + QByteArray::number(chamberNumber).rightJustified(4, '0');
}

/* Reads until the chamber closes the connection; all that came. */
QByteArray ReadUntilClosed(SimClient &client) {
  QByteArray all;
  while (client.socket().state() == QAbstractSocket::ConnectedState &&
         client.socket().waitForReadyRead(5000))
    all += client.socket().readAll();
  return all + client.socket().readAll();
}

/* Waits until the simulator's standard output (or error) holds needle. */
bool OutputHolds(SimProcess &sim, const QByteArray &needle, bool error = false) {
  QElapsedTimer waited;
  waited.start();
  while (!(error ? sim.standardError() : sim.output()).contains(needle))
    if (waited.elapsed() > 10000) return false;
  return true;
}

/* A child setup that allows at most hard open files (soft limit 32). */
std::function<void()> OpenFileLimit(rlim_t hard) {
  return [hard] {
    rlimit limit = {std::min<rlim_t>(32, hard), hard};
    setrlimit(RLIMIT_NOFILE, &limit);
  };
}

TEST(SimFleet, AddressesCountOnSkippingZeroAnd255) {
  struct Case {
    const char *first;
    int index;
    const char *expected;  /* "" for none */
  } cases[] = {
      {"127.0.1.1", 0, "127.0.1.1"},       {"127.0.1.1", 1, "127.0.1.2"},
      {"127.0.1.1", 253, "127.0.1.254"},   {"127.0.1.1", 254, "127.0.2.1"},
      {"127.0.1.1", 999, "127.0.4.238"},   {"127.0.1.200", 60, "127.0.2.6"},
      {"127.0.0.254", 1, "127.0.1.1"},     {"127.255.255.254", 1, "128.0.0.1"},
      {"255.255.255.253", 1, "255.255.255.254"}, {"255.255.255.254", 1, ""},
      {"10.1.2.0", 0, "10.1.2.0"},  /* a lone chamber listens where it is told */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " + " << c.index);
    QHostAddress address = sim::FleetAddress(QHostAddress(c.first), c.index);
    EXPECT_EQ(address.isNull() ? QString() : address.toString(), QString(c.expected));
  }
}

TEST(SimFleet, AddressProblems) {
  struct Case {
    const char *first;
    int chambers;
    const char *problem;  /* "" for none */
  } cases[] = {
      {"127.0.1.1", 1000, ""},        {"::1", 1, ""},        {"127.0.1.0", 1, ""},
      {"::1", 2, "IPv4"},             {"127.0.1.0", 2, ".0 or .255"},
      {"127.0.1.255", 2, ".0 or .255"}, {"0.0.0.0", 2, ".0 or .255"},
      {"255.255.255.250", 4, ""},     {"255.255.255.250", 6, "past 255.255.255.254"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.chambers << " from " << c.first);
    QString problem = sim::FleetAddressProblem(QHostAddress(c.first), c.chambers);
    if (*c.problem) EXPECT_TRUE(problem.contains(c.problem)) << problem.toStdString();
    else EXPECT_EQ(problem, QString());
  }
}

TEST(SimFleet, ChambersStartApartAndTheFirstAsALoneChamber) {
  struct Case {
    int index;
    const char *plc, *temperature, *humidity;
  } cases[] = {
      {0, "C05 3.23 SIM-0001", "A0 022.0 025.0", "A1 045.0 050.0"},
      {49, "C05 3.23 SIM-0050", "A0 026.9 025.0", "A1 049.9 050.0"},
      {50, "C05 3.23 SIM-0051", "A0 027.0 025.0", "A1 045.0 050.0"},
      {99, "C05 3.23 SIM-0100", "A0 031.9 025.0", "A1 049.9 050.0"},
      {100, "C05 3.23 SIM-0101", "A0 022.0 025.0", "A1 045.0 050.0"},
      {9998, "C05 3.23 SIM-9999", "A0 031.8 025.0", "A1 049.8 050.0"},
      {99999, "C05 3.23 SIM-100000", "A0 031.9 025.0", "A1 049.9 050.0"},
  };
  int64_t now = 0;
  sim::Chamber lone([&now] { return now; }, 1.0, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    sim::Chamber chamber([&now] { return now; }, 1.0, 0, c.index);
    EXPECT_EQ(sim::Respond(chamber, "C").answer, QByteArray(c.plc));
    EXPECT_EQ(sim::Respond(chamber, "A0").answer, QByteArray(c.temperature));
    EXPECT_EQ(sim::Respond(chamber, "A1").answer, QByteArray(c.humidity));
    now += 600 * 1000;  /* ten minutes bring every chamber to 25.0 */
    EXPECT_EQ(sim::Respond(chamber, "A0").answer, QByteArray("A0 025.0 025.0"));
    /* stopped, it drifts back to an ambient value of its own */
    EXPECT_EQ(sim::Respond(chamber, "s1 0").kind, sim::Reply::Answered);
    now += 3600 * 1000;
    EXPECT_EQ(sim::Respond(chamber, "A0").answer.mid(0, 8), QByteArray(c.temperature).mid(0, 8));
  }
  EXPECT_EQ(sim::Respond(lone, "C").answer, QByteArray("C05 3.23 SIM-0001"));
}

/* Chambers 1 to 3 of an in-process fleet, each described as its faults
 * joined by '+' ("-" for none) and whether it listens. */
QByteArray Describe(sim::Fleet &fleet) {
  QByteArray all;
  for (int k = 0; k < fleet.size(); k++) {
    const sim::Faults &f = fleet.server(k).faults();
    QByteArrayList parts;
    if (f.silent) parts << "silent";
    if (f.delayMs) parts << "slow " + QByteArray::number(f.delayMs);
    if (f.garbage) parts << "garbage";
    if (f.closeAfterAnswer) parts << "close";
    if (f.splitAnswers) parts << "split";
    if (fleet.chamber(k).doorOpen()) parts << "door";
    for (const sim::PendingError &e : fleet.chamber(k).errors())
      parts << "error " + QByteArray::fromStdString(e.text);
    all += (k ? " | " : "") + (parts.isEmpty() ? QByteArray("-") : parts.join('+')) +
           (fleet.server(k).isListening() ? "" : " down");
  }
  return all;
}

TEST(SimFleet, ControlCommandsRepliesAndTheirEffect) {
  struct Case {
    const char *line, *reply, *after;
  } cases[] = {
      {"silent 1", "ok silent 1", "silent | split | split"},
      {"slow 2 200", "ok slow 2 200", "silent | slow 200+split | split"},
      {"garbage 127.0.20.3", "ok garbage 127.0.20.3", "silent | slow 200+split | garbage+split"},
      {"  close\tall ", "ok close all",
       "silent+close | slow 200+close+split | garbage+close+split"},
      {"normal 1", "ok normal 1", "- | slow 200+close+split | garbage+close+split"},
      {"slow 2 0", "ok slow 2 0", "- | close+split | garbage+close+split"},
      {"down 2", "ok down 2", "- | close+split down | garbage+close+split"},
      {"down 2", "ok down 2", "- | close+split down | garbage+close+split"},
      {"up 2", "ok up 2", "- | close+split | garbage+close+split"},
      {"up 2", "ok up 2", "- | close+split | garbage+close+split"},
      {"down all", "ok down all", "- down | close+split down | garbage+close+split down"},
      {"normal all", "ok normal all", "- | - | -"},
      /* refused: nothing changes */
      {"slow 1", "error slow 1: expects slow K MS", "- | - | -"},
      {"slow 1 -5", "error slow 1 -5: MS must be", "- | - | -"},
      {"slow 1 600001", "error slow 1 600001: MS must be", "- | - | -"},
      {"slow 1 1e3", "error slow 1 1e3: MS must be", "- | - | -"},
      {"down", "error down: expects down K", "- | - | -"},
      {"down 1 2", "error down 1 2: expects down K", "- | - | -"},
      {"down 0", "error down 0: no chamber 0 (K is 1 to 3", "- | - | -"},
      {"down 4", "error down 4: no chamber 4", "- | - | -"},
      {"down 127.0.20.4", "error down 127.0.20.4: no chamber", "- | - | -"},
      {"down 127.0.20.03", "error down 127.0.20.03: no chamber 127.0.20.03 (K is 1 to 3, a "
       "chamber's address, or all): a dotted IPv4 address is written in decimal without leading zeros",
       "- | - | -"},
      {"down everything", "error down everything: no chamber", "- | - | -"},
      {"DOWN 1", "error DOWN 1: unknown command", "- | - | -"},
      {"\x01\xff down 1", "error ?? down 1: unknown command", "- | - | -"},
      /* what the faults do: SimServer.AnswersArriveAsTheFaultsShapeThem */
      {"split 1 10001", "error split 1 10001: MS must be a whole number from 0 to 10000", "- | - | -"},
      {"long 1 100001", "error long 1 100001: N must be a whole number from 0 to 100000", "- | - | -"},
      {"channel 1 0x1", "error channel 1 0x1: XX must be two hexadecimal digits", "- | - | -"},
      {"door 1 open", "ok door 1 open", "door | - | -"},
      {"error 2 Water  supply low", "ok error 2 Water supply low", "door | error Water supply low | -"},
      {"normal all", "ok normal all", "- | error Water supply low | -"},
      {"clear 2", "ok clear 2", "- | - | -"},
      {"door 1 ajar", "error door 1 ajar: expects door K open or door K closed", "- | - | -"},
      {"error 1", "error error 1: expects error K TEXT", "- | - | -"},
  };
  sim::EnsureApplication();
  int64_t now = 0;
  sim::Faults split;
  split.splitAnswers = true;
  sim::Fleet fleet(3, QHostAddress("127.0.20.1"), [&now] { return now; }, 1.0, 0, {}, split,
                   false);
  QString error;
  ASSERT_TRUE(fleet.listen(1080, &error)) << error.toStdString();
  fleet.server(0).setFaults(sim::Faults());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    QByteArray reply = fleet.control(c.line);
    EXPECT_TRUE(reply.startsWith(c.reply)) << reply.constData();
    EXPECT_EQ(Describe(fleet), QByteArray(c.after));
  }
}

TEST(SimFleet, UpGoesOnPastAChamberThatCannotListen) {
  sim::EnsureApplication();
  int64_t now = 0;
  sim::Fleet fleet(3, QHostAddress("127.0.20.5"), [&now] { return now; }, 1.0, 0, {},
                   sim::Faults(), false);
  QString error;
  ASSERT_TRUE(fleet.listen(1080, &error)) << error.toStdString();
  EXPECT_EQ(fleet.control("down all"), QByteArray("ok down all"));
  QTcpServer squatter;
  ASSERT_TRUE(squatter.listen(QHostAddress("127.0.20.6"), 1080));
  QByteArray reply = fleet.control("up all");
  EXPECT_TRUE(reply.startsWith("error up all: chamber 2 cannot listen on 127.0.20.6 port 1080"))
      << reply.constData();
  EXPECT_EQ(Describe(fleet), QByteArray("- | - down | -"));
  squatter.close();
  EXPECT_EQ(fleet.control("normal 2"), QByteArray("ok normal 2"));
  EXPECT_EQ(Describe(fleet), QByteArray("- | - | -"));
}

/* What the command line gives (speed, pending errors, faults, physics) reaches
 * every chamber: quenta-sim always runs a fleet, of one chamber too. */
TEST(SimFleet, SpeedErrorsAndFaultsReachEveryChamber) {
  sim::EnsureApplication();
  int64_t now = 0;
  sim::Faults closing;
  closing.closeAfterAnswer = true;
  sim::Physics physics;
  physics.rise[1] = 1.0;  /* humidifies at 1 %/min, not at the ramp's 2 */
  sim::Fleet fleet(3, QHostAddress("127.0.20.61"), [&now] { return now; }, 600.0, 0,
                   {"Door open"}, closing, false, physics);
  now += 300;  /* 3 simulated minutes: 22.x -> 25.0 at 1 K/min, 45.x -> 48.x */
  for (int k = 0; k < fleet.size(); k++) {
    SCOPED_TRACE(k);
    EXPECT_EQ(sim::Respond(fleet.chamber(k), "A0").answer, QByteArray("A0 025.0 025.0"));
    EXPECT_EQ(sim::Respond(fleet.chamber(k), "A1").answer, "A1 048." + QByteArray::number(k) + " 050.0");
    EXPECT_EQ(sim::Respond(fleet.chamber(k), "H01").answer, QByteArray("H01;1;"));
    EXPECT_TRUE(fleet.server(k).faults().closeAfterAnswer);
  }
}

TEST(SimFleetProcess, ControlCommandsOverStandardInput) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.20.11", {"--chambers", "3", "--verbose"}));
  EXPECT_TRUE(OutputHolds(sim, "on 127.0.20.11 to 127.0.20.13 port 1080 (3 chambers, speed 1)"));
  SimClient first, second, third;
  ASSERT_TRUE(first.connect("127.0.20.11"));
  ASSERT_TRUE(second.connect("127.0.20.12"));
  ASSERT_TRUE(third.connect("127.0.20.13"));
  EXPECT_EQ(first.ask("C"), PlcAnswer(1));
  EXPECT_EQ(second.ask("a0 030.0"), QByteArray("a0"));

  /* down: its connections end, connects are refused, the others go on */
  EXPECT_EQ(sim.control("down 2"), QByteArray("ok down 2"));
  EXPECT_TRUE(second.waitForClosed(5000));
  SimClient refused;
  EXPECT_FALSE(refused.connect("127.0.20.12"));
  EXPECT_EQ(refused.socket().error(), QAbstractSocket::ConnectionRefusedError);
  EXPECT_EQ(third.ask("C"), PlcAnswer(3));

  /* up: the same model as before, its own */
  EXPECT_EQ(sim.control("up 127.0.20.12"), QByteArray("ok up 127.0.20.12"));
  SimClient back;
  ASSERT_TRUE(back.connect("127.0.20.12"));
  EXPECT_EQ(SetField(back.ask("A0")), QByteArray("030.0"));
  EXPECT_EQ(SetField(third.ask("A0")), QByteArray("025.0"));

  /* silent, then normal on the same connection */
  EXPECT_EQ(sim.control("silent 1"), QByteArray("ok silent 1"));
  first.send("l1");
  ASSERT_TRUE(OutputHolds(sim, "(silent)"));
  EXPECT_FALSE(first.socket().waitForReadyRead(100)) << first.socket().readAll().constData();
  EXPECT_EQ(first.socket().state(), QAbstractSocket::ConnectedState);
  EXPECT_EQ(sim.control("normal 1"), QByteArray("ok normal 1"));
  EXPECT_EQ(first.ask("L"), QByteArray("L1"));  /* the silent command was carried out */

  /* slow */
  EXPECT_EQ(sim.control("slow 3 200"), QByteArray("ok slow 3 200"));
  QElapsedTimer waited;
  waited.start();
  EXPECT_EQ(third.ask("L", 5000), QByteArray("L0"));
  EXPECT_GE(waited.elapsed(), 190);

  /* all */
  EXPECT_EQ(sim.control("close all"), QByteArray("ok close all"));
  for (SimClient *client : {&first, &back, &third}) {
    EXPECT_EQ(client->ask("P", 5000), QByteArray("P000"));
    EXPECT_TRUE(client->waitForClosed(5000));
  }
}

TEST(SimFleetProcess, GarbageIsRandomBytesAndTheLogShowsThem) {
  SimProcess sim;
  ASSERT_TRUE(sim.start("127.0.20.21", {"--chambers", "3", "--verbose"}));
  EXPECT_EQ(sim.control("garbage 2"), QByteArray("ok garbage 2"));
  EXPECT_EQ(sim.control("close 2"), QByteArray("ok close 2"));
  for (int round = 0; round < 20; round++) {
    SCOPED_TRACE(round);
    SimClient client;
    ASSERT_TRUE(client.connect("127.0.20.22"));
    client.send("A0");
    QByteArray garbage = ReadUntilClosed(client);
    EXPECT_GE(garbage.size(), 2);
    EXPECT_LE(garbage.size(), 600);
    EXPECT_TRUE(garbage.contains('\0'));
    EXPECT_TRUE(std::any_of(garbage.begin(), garbage.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
    EXPECT_TRUE(OutputHolds(sim, " >> " + sim::Escaped(garbage) + "\n"));
  }
}

TEST(SimFleetProcess, LogLinesNameTheChamberOnlyInAFleet) {
  struct Case {
    const char *first;
    QStringList options;
    const char *asked;
    const char *answer;
    const char *chamber;  /* what stands between the time and the client */
  } cases[] = {
      {"127.0.20.24", {"--verbose", "--chambers", "3"}, "127.0.20.25", "A0 022.1 025.0",
       "127\\.0\\.20\\.25 "},
      {"127.0.20.28", {"--verbose"}, "127.0.20.28", "A0 022.0 025.0", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.first);
    SimProcess sim;
    ASSERT_TRUE(sim.start(c.first, c.options));
    SimClient client;
    ASSERT_TRUE(client.connect(c.asked));
    EXPECT_EQ(client.ask("A0"), QByteArray(c.answer));
    ASSERT_TRUE(OutputHolds(sim, ">> " + QByteArray(c.answer)));
    QString prefix = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ") + c.chamber +
                     "127\\.0\\.0\\.1:\\d+ ";
    QString log = QString::fromLatin1(sim.output());
    for (QString event : {QString("connected"), QString("<< A0"), QString(">> ") + c.answer}) {
      QRegularExpression line(prefix + QRegularExpression::escape(event) + "$",
                              QRegularExpression::MultilineOption);
      EXPECT_TRUE(line.match(log).hasMatch()) << event.toStdString() << " in\n" << log.toStdString();
    }
  }
}

TEST(SimFleetProcess, StandardInputThatEndsOrIsMissingStopsNothing) {
  enum Input { Ends, DevNull, Closed };
  struct Case {
    Input input;
    const char *what, *first, *second;
  } cases[] = {
      {Ends, "ends", "127.0.20.31", "127.0.20.32"},
      {DevNull, "is /dev/null", "127.0.20.41", "127.0.20.42"},
      {Closed, "is closed", "127.0.20.51", "127.0.20.52"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SimProcess sim;
    if (c.input == DevNull) sim.process().setStandardInputFile(QProcess::nullDevice());
    if (c.input == Closed) sim.process().setChildProcessModifier([] { close(0); });
    ASSERT_TRUE(sim.start(c.first, {"--chambers", "2"}));
    if (c.input == Ends) {
      EXPECT_EQ(sim.control("slow 2 1"), QByteArray("ok slow 2 1"));
      sim.process().closeWriteChannel();
    }
    QThread::msleep(300);
    EXPECT_EQ(sim.process().state(), QProcess::Running);
    for (const char *address : {c.first, c.second}) {
      SimClient client;
      ASSERT_TRUE(client.connect(address));
      EXPECT_EQ(client.ask("L"), QByteArray("L0"));
    }
  }
}

/* "quenta-sim --listen address &" as a shell in a terminal of its own
 * runs it: in a process group of its own, while its parent, the "shell",
 * leads the terminal's session in the foreground. A byte on *shell makes
 * the shell bring it to the foreground ("fg"). Returns the simulator's
 * process id, or -1; *master: the terminal's master side. */
pid_t StartInTheBackground(const char *address, int *master, int *shell, pid_t *leader) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  if ((*leader = forkpty(master, nullptr, nullptr, nullptr)) == 0) {
    pid_t sim = fork();
    if (sim == 0) {
      setpgid(0, 0);
      dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
      execl(QUENTA_SIM_PATH, "quenta-sim", "--listen", address, static_cast<char *>(nullptr));
      _exit(127);
    }
    setpgid(sim, sim);
    char fg;
    if (write(pair[1], &sim, sizeof sim) == sizeof sim && read(pair[1], &fg, 1) == 1)
      tcsetpgrp(STDIN_FILENO, sim);
    waitpid(sim, nullptr, 0);
    _exit(0);
  }
  *shell = pair[0];
  close(pair[1]);
  pid_t sim = -1;
  return *leader > 0 && read(pair[0], &sim, sizeof sim) == sizeof sim ? sim : -1;
}

/* The state letter of process pid ('T': stopped), '?' if none. */
char ProcessState(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
  qsizetype end = text.lastIndexOf(')');
  return end >= 0 && end + 2 < text.size() ? text[end + 2] : '?';
}

TEST(SimFleetProcess, AKeyInTheBackgroundOfATerminalStopsNothing) {
  int master = -1, shell = -1;
  pid_t leader = -1;
  pid_t pid = StartInTheBackground("127.0.52.1", &master, &shell, &leader);
  ASSERT_GT(pid, 0);
  SimClient client;
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.connect("127.0.52.1"); }, sim::kStartTimeoutMs));
  EXPECT_EQ(write(master, "down 1\n", 7), 7);  /* read, it would stop the process */
  EXPECT_EQ(client.ask("L"), QByteArray("L0"));
  EXPECT_EQ(client.ask("P"), QByteArray("P000"));
  EXPECT_NE(ProcessState(pid), 'T');
  EXPECT_EQ(write(shell, "f", 1), 1);  /* in the foreground, the line is read */
  EXPECT_TRUE(client.waitForClosed(5000));
  kill(pid, SIGKILL);
  waitpid(leader, nullptr, 0);
  close(master);
  close(shell);
}

TEST(SimFleetProcess, TheLimitOfOpenFiles) {
  QByteArray output;
  /* 100 chambers need 232 */
  EXPECT_EQ(SimProcess::run({"--listen", "127.0.20.201", "--chambers", "100"}, &output,
                            OpenFileLimit(200)),
            1);
  EXPECT_TRUE(output.contains("100 chambers need 232 open files")) << output.constData();
  EXPECT_TRUE(output.contains("the limit is 200")) << output.constData();
  EXPECT_FALSE(output.contains("listening"));

  /* 80 need 192: the soft limit of 32 is raised to fit them */
  SimProcess fits;
  fits.process().setChildProcessModifier(OpenFileLimit(200));
  ASSERT_TRUE(fits.start("127.0.20.101", {"--chambers", "80"})) << fits.standardError().constData();
  SimClient last;
  ASSERT_TRUE(last.connect("127.0.20.180"));
  EXPECT_EQ(last.ask("C"), PlcAnswer(80));
}

TEST(SimFleetProcess, AChamberOutOfFilesAcceptsAgainOnceSomeAreFree) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' checks open files of their own, and there are none left";
#endif
  constexpr int kClients = 60;  /* more than 48 files allow, fewer than they and the backlog */
  SimProcess sim;
  sim.process().setChildProcessModifier(OpenFileLimit(48));
  ASSERT_TRUE(sim.start("127.0.20.71", {}));
  std::vector<std::unique_ptr<SimClient>> crowd;
  for (int i = 0; i < kClients; i++) {
    crowd.push_back(std::make_unique<SimClient>());
    ASSERT_TRUE(crowd.back()->connect("127.0.20.71")) << i;
  }
  ASSERT_TRUE(OutputHolds(sim, "cannot accept", true)) << sim.standardError().constData();
  QElapsedTimer resting;
  resting.start();
  QThread::msleep(1000);
  /* it rests between tries instead of trying again at once */
  EXPECT_LE(sim.standardError().count("cannot accept"), 2 + resting.elapsed() / 1000);
  crowd.clear();
  SimClient late;
  ASSERT_TRUE(late.connect("127.0.20.71"));
  EXPECT_EQ(late.ask("L", 15000), QByteArray("L0"));
}

TEST(SimFleetProcess, CommandLine) {
  struct Case {
    QStringList options;
    int exitCode;
    std::vector<const char *> says;
  } cases[] = {
      {{"--chambers", "0"}, 2, {"--chambers must be a whole number from 1 to 100000"}},
      {{"--chambers", "100001"}, 2, {"--chambers"}},
      {{"--chambers", "many"}, 2, {"--chambers"}},
      /* the other refused addresses: SimFleet.AddressProblems */
      {{"--chambers", "2", "--listen", "::1"}, 2, {"IPv4"}},
      {{"--chambers", "2", "--listen", "127.0.20.150", "--port", "0"}, 2, {"--port 0"}},
      {{"--chambers", "5", "--listen", "127.0.20.190"}, 1,
       {"cannot listen on 127.0.20.192 port 1080: Address already in use"}},
  };
  SimProcess holder;  /* takes the third address of the fleet of five */
  ASSERT_TRUE(holder.start("127.0.20.192", {}));
  for (const Case &c : cases) {
    QByteArray output;
    int exitCode = SimProcess::run(c.options, &output);
    SCOPED_TRACE(c.options.join(' ').toStdString() + " said:\n" + output.toStdString());
    EXPECT_EQ(exitCode, c.exitCode);
    for (const char *text : c.says) EXPECT_TRUE(output.contains(text)) << text;
  }
}

}  // namespace
