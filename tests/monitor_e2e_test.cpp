/*
 * monitor_e2e_test.cpp -- the built quenta-monitor against the built
 * simulator and against chambers that misbehave, over loopback: the values
 * in the CSV and the metrics, a chamber killed and started again, slow,
 * silent and garbage chambers beside a good one, a chamber that closes
 * after each answer, kill -9 in mid-run, bad input, the one-shot send, and
 * promtool on the served metrics; a chamber that ends its answers with
 * line ends, SIGTERM while a poll waits for its answer, a full disk, and
 * metrics clients that never read. Addresses 127.0.30.10 to 127.0.30.79,
 * 127.0.40.10 to 127.0.40.39, 127.0.50.1 to 127.0.50.109, 127.0.51.10 to
 * 127.0.51.19 and 127.0.54.1 to 127.0.54.29, port 1080; metrics on port 9464.
 */
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <map>

#include "answer_frame.h"
#include "display.h"
#include "monitor_support.h"

namespace {

constexpr int kWaitMs = 30000;  /* bound of every wait for a condition */

enum Column { kTime, kChamber, kAddress, kCommand, kOutcome, kRoundTrip, kAnswer, kName, kChannel, kNumber, kText };

/* Rows of one chamber, in file order. */
std::vector<std::vector<std::string>> RowsOf(const std::vector<std::vector<std::string>> &rows,
                                             const std::string &chamber) {
  std::vector<std::vector<std::string>> mine;
  for (const auto &r : rows)
    if (r.size() > kChamber && r[kChamber] == chamber) mine.push_back(r);
  return mine;
}

/* Results (one per command sent or skipped): rows sharing time, chamber and
 * command count once. */
int Results(const std::vector<std::vector<std::string>> &rows, const char *outcome = nullptr) {
  int n = 0;
  for (size_t i = 0; i < rows.size(); i++) {
    bool same = i > 0 && rows[i][kTime] == rows[i - 1][kTime] && rows[i][kChamber] == rows[i - 1][kChamber] &&
                rows[i][kCommand] == rows[i - 1][kCommand];
    if (!same && (!outcome || rows[i][kOutcome] == outcome)) n++;
  }
  return n;
}

/* The resident memory of process pid in kB (VmRSS), 0 when unknown. */
qint64 ResidentKb(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ')[0].toLongLong();
  return 0;
}

/* count connections to address:9464 that each send requests GET
 * /metrics at once and never read, with receive buffers as small as the
 * kernel allows; their descriptors (only those that connected and sent). */
std::vector<int> SilentClients(const char *address, int count, int requests) {
  std::string many;
  for (int i = 0; i < requests; i++) many += "GET /metrics HTTP/1.1\r\nHost: monitor\r\n\r\n";
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(9464);
  inet_pton(AF_INET, address, &to.sin_addr);
  std::vector<int> fds;
  for (int i = 0; i < count; i++) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), small = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    bool sent = connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 &&
                send(fd, many.data(), many.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(many.size());
    if (sent) fds.push_back(fd);
    else close(fd);
  }
  return fds;
}

int CsvResults(const QString &path, const std::string &chamber, const char *outcome) {
  bool whole = false;
  return Results(RowsOf(ReadCsvRows(path, &whole), chamber), outcome);
}

/* Sets the simulated chamber's analogue channels to values that stay put:
 * ramps off, so that each actual value jumps to its set value. */
void PinChannels(const QString &address) {
  RunResult r = RunMonitor({"send", address, "u0 999.9", "d0 999.9", "a0 -12.5", "u1 999.9", "d1 999.9",
                            "a1 067.5", "a2 033.3"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  ASSERT_EQ(r.out, "u0\nd0\na0\nu1\nd1\na1\na2\n");
}

TEST(MonitorEndToEnd, ValuesInCsvAndMetricsAreWhatTheChamberAnswered) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.30.10", {"--split-answers"}));
  PinChannels("127.0.30.10");
  ASSERT_TRUE(mon.startMonitor({"127.0.30.10", "--commands", "Aa,A1,P", "--every", "0.5", "--csv", csv,
                                "--metrics", "127.0.30.10:9464"}));
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, "127.0.30.10:1080", "answered") >= 12; }, kWaitMs))
      << mon.errors().toStdString();
  QByteArray metrics = HttpGet("127.0.30.10", 9464, "/metrics");
  EXPECT_EQ(mon.terminate(), 0) << mon.errors().toStdString();

  const std::map<std::string, double> expected = {
      {"actual0", -12.5}, {"set0", -12.5}, {"actual1", 67.5}, {"set1", 67.5}, {"actual2", 33.3},
      {"set2", 33.3},     {"actual3", 0},  {"set3", 0},       {"actual4", 0},  {"set4", 0}};
  for (const auto &[key, value] : expected) {
    QByteArray metric = key.rfind("actual", 0) == 0 ? "quenta_chamber_actual_value" : "quenta_chamber_set_value";
    QByteArray sample = metric + "{chamber=\"127.0.30.10:1080\",channel=\"" + QByteArray(1, key.back()) + "\"}";
    EXPECT_DOUBLE_EQ(MetricValue(metrics, sample), value) << sample.toStdString();
  }
  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  ASSERT_TRUE(whole);
  const std::map<std::string, std::string> answers = {
      {"Aa", "A0 -12.5 -12.5 A1 067.5 067.5 A2 033.3 033.3 A3 000.0 000.0 A4 000.0 000.0"},
      {"A1", "A1 067.5 067.5"},
      {"P", "P000"}};
  std::map<std::string, int> perCommand;
  for (const auto &r : rows) {
    SCOPED_TRACE(r[kCommand] + " " + r[kAnswer]);
    ASSERT_EQ(r[kOutcome], "answered");
    perCommand[r[kCommand]]++;
    EXPECT_EQ(r[kAnswer], answers.at(r[kCommand]));
    if (r[kName] == "actual" || r[kName] == "set") {
      EXPECT_DOUBLE_EQ(std::stod(r[kNumber]), expected.at(r[kName] + r[kChannel]));
    }
    EXPECT_LT(std::stod(r[kRoundTrip]), 2000.0);
  }
  /* Every answer the simulator sent the monitor is in the file, once. */
  int simAnswers = static_cast<int>(sim.output().count(">> ") - sim.output().count(" (part)\n")) - 7;
  EXPECT_EQ(Results(rows), simAnswers) << sim.output().toStdString();
  EXPECT_EQ(perCommand["Aa"] % 10, 0);
  EXPECT_EQ(perCommand["Aa"] / 10, perCommand["A1"] / 2);
}

TEST(MonitorEndToEnd, ChamberKilledAndStartedAgainShowsDownThenUpWithoutGaps) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child a, b, mon;
  ASSERT_TRUE(a.startSim("127.0.30.20", {}));
  ASSERT_TRUE(b.startSim("127.0.30.21", {}));
  ASSERT_TRUE(mon.startMonitor({"127.0.30.20", "127.0.30.21", "--every", "0.2", "--timeout", "0.5", "--csv",
                                csv, "--metrics", "127.0.30.20:9464"}));
  auto up = [](const char *chamber) {
    return MetricValue(HttpGet("127.0.30.20", 9464, "/metrics"),
                       QByteArray("quenta_chamber_up{chamber=\"") + chamber + ":1080\",address=\"" + chamber + ":1080\"}");
  };
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, "127.0.30.20:1080", "answered") >= 5; }, kWaitMs));
  EXPECT_EQ(up("127.0.30.20"), 1);
  a.kill9();
  ASSERT_TRUE(WaitFor([&] { return up("127.0.30.20") == 0; }, kWaitMs));
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, "127.0.30.20:1080", "refused") >= 3; }, kWaitMs));
  ASSERT_TRUE(a.startSim("127.0.30.20", {}));
  ASSERT_TRUE(WaitFor([&] { return up("127.0.30.20") == 1; }, kWaitMs));
  int answeredAgain = CsvResults(csv, "127.0.30.20:1080", "answered");
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, "127.0.30.20:1080", "answered") >= answeredAgain + 3; }, kWaitMs));
  EXPECT_EQ(mon.terminate(), 0);

  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  ASSERT_TRUE(whole);
  auto killed = RowsOf(rows, "127.0.30.20:1080");
  auto other = RowsOf(rows, "127.0.30.21:1080");
  /* answered, then only failures and skipped polls, then answered again */
  std::string phases;
  for (const auto &r : killed) {
    char phase = r[kOutcome] == "answered" ? 'A' : 'F';
    if (phases.empty() || phases.back() != phase) phases += phase;
    if (phase == 'F') {
      EXPECT_TRUE(r[kOutcome] == "refused" || r[kOutcome] == "skipped" || r[kOutcome] == "closed" ||
                  r[kOutcome] == "timeout") << r[kOutcome];
    }
  }
  EXPECT_EQ(phases, "AFA");
  /* One result per poll for both: the outage left no gap. */
  EXPECT_NEAR(Results(killed), Results(other), 2) << "results of the killed and of the other chamber";
  EXPECT_EQ(Results(other, "answered"), Results(other));
  EXPECT_TRUE(mon.errors().contains("127.0.30.20:1080 is down")) << mon.errors().toStdString();
}

TEST(MonitorEndToEnd, SlowSilentAndGarbageChambersDoNotDelayAGoodOne) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child good, silent, slow, garbage, mon;
  ASSERT_TRUE(good.startSim("127.0.30.30", {}));
  ASSERT_TRUE(silent.startSim("127.0.30.31", {"--silent"}));
  ASSERT_TRUE(slow.startSim("127.0.30.32", {"--delay", "3000"}));
  ASSERT_TRUE(garbage.startSim("127.0.30.33", {}));
  ASSERT_TRUE(garbage.control("garbage 1"));
  ASSERT_TRUE(mon.startMonitor({"127.0.30.30", "127.0.30.31", "127.0.30.32", "127.0.30.33", "--every", "0.2",
                                "--timeout", "1", "--csv", csv}));
  QElapsedTimer span;
  span.start();
  ASSERT_TRUE(WaitFor([&] {
    return CsvResults(csv, "127.0.30.31:1080", "timeout") >= 2 && CsvResults(csv, "127.0.30.32:1080", "timeout") >= 2 &&
           CsvResults(csv, "127.0.30.33:1080", "invalid") >= 2;
  }, kWaitMs));
  EXPECT_EQ(mon.terminate(), 0);
  double polls = span.elapsed() / 200.0;

  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  ASSERT_TRUE(whole);
  auto mine = RowsOf(rows, "127.0.30.30:1080");
  /* Blocking on the others would cost a second per timeout: a third of
   * the polls or fewer. */
  EXPECT_GE(Results(mine, "answered"), polls * 0.5) << "in " << span.elapsed() << " ms";
  EXPECT_EQ(Results(mine, "answered"), Results(mine));
  for (const auto &r : RowsOf(rows, "127.0.30.33:1080")) {
    SCOPED_TRACE(r[kAnswer]);
    if (r[kOutcome] == "skipped") continue;  /* due while an answer cut short waited for its timeout */
    EXPECT_TRUE(r[kOutcome] == "invalid" || r[kOutcome] == "incomplete") << r[kOutcome];
    EXPECT_FALSE(r[kAnswer].empty()) << "the bytes that came are recorded";
    EXPECT_TRUE(r[kName].empty()) << "nothing decoded from garbage";
  }
}

TEST(MonitorEndToEnd, ChamberClosingAfterEachAnswerIsAnsweredEveryTime) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.30.45", {"--close-after-answer"}));
  ASSERT_TRUE(mon.startMonitor({"127.0.30.45", "--commands", "A0,P,S", "--every", "0.3", "--csv", csv}));
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, "127.0.30.45:1080", "answered") >= 15; }, kWaitMs));
  EXPECT_EQ(mon.terminate(), 0);
  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  ASSERT_TRUE(whole);
  EXPECT_EQ(Results(rows, "answered"), Results(rows)) << "a command met the connection closed after the last answer";
}

TEST(MonitorEndToEnd, KillNineLeavesOnlyWholeRowsAndATornTailIsCut) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim;
  ASSERT_TRUE(sim.startSim("127.0.30.40", {}));
  qint64 size = 0;
  for (int round = 0; round < 4; round++) {
    SCOPED_TRACE(round);
    Child mon;
    ASSERT_TRUE(mon.startMonitor({"127.0.30.40", "--every", "0.05", "--commands", "Aa,S,T", "--csv", csv}));
    qint64 want = size + 20000 + 7919 * round;  /* a different moment each round */
    ASSERT_TRUE(WaitFor([&] { return QFile(csv).size() >= want; }, kWaitMs));
    mon.kill9();
    size = QFile(csv).size();
    bool whole = false;
    ReadCsvRows(csv, &whole);
    EXPECT_TRUE(whole);
  }
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::Append));
  file.write("2009-10-13T12:30:00.123Z,127.0.30.40:1080,127.0.");
  file.close();
  RunResult r = RunMonitor({"127.0.30.40", "--duration", "0.5", "--csv", csv});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("cut off a torn last row of 48 bytes")) << r.err.toStdString();
  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  EXPECT_TRUE(whole);
  EXPECT_GT(rows.size(), 100u);
}

TEST(MonitorEndToEnd, BadInputGivesAClearMessageAndItsExitCode) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("lab.txt"), "127.0.30.60 oven\n# fine\nnot/an address\n127.0.30.61\n999.1.1.1 x\n"));
  ASSERT_TRUE(WriteFile(dir.filePath("other.csv"), "when,what\n1,2\n"));
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress("127.0.30.60"), 9464));
  struct Case {
    QStringList args;
    int code;
    const char *message;
  } cases[] = {
      {{"--frobnicate"}, 2, "Unknown option 'frobnicate'"},
      {{"--chambers", dir.filePath("lab.txt")}, 2, "lab.txt:3: \"not/an\" is not a chamber address"},
      {{"--chambers", dir.filePath("lab.txt")}, 2, "lab.txt:5: \"999.1.1.1\""},
      {{"--chambers", dir.filePath("missing.txt")}, 2, "cannot read the chambers file"},
      {{"127.0.30.256"}, 2, "\"127.0.30.256\" is not a chamber address"},
      {{}, 2, "no chambers"},
      {{"127.0.30.60", "--metrics", "127.0.30.60:9464"}, 1, "cannot serve HTTP on 127.0.30.60 port 9464: cannot bind"},
      {{"127.0.30.60", "--csv", dir.filePath("other.csv")}, 1, "not this monitor's CSV header"},
      {{"127.0.30.60", "--csv", dir.filePath("no/such/dir.csv")}, 1, "cannot open the CSV file"},
      {{"send", "127.0.30.60", QString(600, 'a')}, 2, "has 600 characters; at most 511"},
      {{"send", "127.0.30.60", QString::fromUtf8("a0 \u4e2d")}, 2, "holds U+4E2D, which is not a Latin-1 character"},
      {{"send", "127.0.30.60", "A0", "--timeout", "0"}, 2, "--timeout needs seconds"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.join(' ').left(80).toStdString());
    RunResult r = RunMonitor(c.args);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
  }
  QFile after(dir.filePath("other.csv"));
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), QByteArray("when,what\n1,2\n"));
  RunResult help = RunMonitor({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(help.out.contains("Usage: quenta-monitor")) << help.out.toStdString();
}

TEST(MonitorEndToEnd, SendPrintsEachFormAndLanguageWithItsExitCode) {
  Child sim, silent, closer, hostile;
  ASSERT_TRUE(sim.startSim("127.0.30.50", {}));
  ASSERT_TRUE(silent.startSim("127.0.30.51", {"--silent"}));
  ASSERT_TRUE(closer.startSim("127.0.30.52", {}));
  ASSERT_TRUE(closer.control("reset 1 0"));
  ASSERT_TRUE(hostile.startSim("127.0.30.54", {}));
  ASSERT_TRUE(hostile.control("lineend 1 0"));
  ASSERT_TRUE(hostile.control("channel 1 00"));
  struct Case {
    QStringList args;
    int code;
    QByteArray out;
    const char *err;
  } cases[] = {
      {{"127.0.30.50", "A0"}, 0, "A0 022.0 025.0\n", ""},
      {{"127.0.30.50", "A0", "L", "--mode", "raw"}, 0, "A0 022.0 025.0\nL0\n", ""},
      {{"127.0.30.50", "L", "--mode", "hex"}, 0, "0x4C 0x30 \n", ""},
      {{"127.0.30.50", "A0", "--mode", "interpreted"}, 0, "Values of channel 0: Actvalue =  22.0, Setvalue =  25.0\n", ""},
      {{"127.0.30.50", "A0", "--mode", "interpreted", "--lang", "de"}, 0,
       "Werte das Kanal 0: Istwert =  22.0, Sollwert =  25.0\n", ""},
      {{"127.0.30.50", "l0", "--mode", "interpreted", "--lang", "de"}, 0,
       "Zustand der Tastaturverriegelung des Bedienteils ge\xc3\xa4ndert.\n", ""},
      {{"127.0.30.53", "A0"}, 3, "", "cannot connect to 127.0.30.53:1080"},
      {{"127.0.30.51", "A0", "--timeout", "0.3"}, 4, "", "no answer within the timeout to \"A0\""},
      {{"127.0.30.50", "L", "Q", "S", "--timeout", "0.3"}, 4, "L0\n", "no answer within the timeout to \"Q\""},
      {{"127.0.30.52", "A0"}, 5, "", "connection closed before the answer to \"A0\""},
      /* One line per answer whatever its bytes; every byte in hex; an
       * answer that is not one to its command has an exit code of its own. */
      {{"127.0.30.54", "S", "--mode", "raw"}, 0, "S101100000\\x0d\\x0a\n", ""},
      {{"127.0.30.54", "E0", "--mode", "hex"}, 7, "0x45 0x00 0x20 0x30 0x32 0x35 0x2E 0x30 0x0D 0x0A \n",
       "the answer to \"E0\" is not an answer to it"},
      {{"127.0.30.54", "E0", "--mode", "raw"}, 7, "E\\x00 025.0\\x0d\\x0a\n", "is not an answer to it"},
      {{"127.0.30.54", "E0", "--mode", "json"}, 7,
       "{\"answer\":\"E\\u0000 025.0\\r\\n\",\"command\":\"E0\",\"outcome\":\"invalid\",", "is not an answer"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    RunResult r = RunMonitor(QStringList{"send"} + c.args);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    if (c.args.endsWith("json")) {
      EXPECT_TRUE(r.out.startsWith(c.out)) << r.out.toStdString();
    } else {
      EXPECT_EQ(r.out, c.out);
    }
    EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
  }
  RunResult json = RunMonitor({"send", "127.0.30.50", "A0", "F", "--mode", "json"});
  ASSERT_EQ(json.code, 0) << json.err.toStdString();
  QList<QByteArray> lines = json.out.trimmed().split('\n');
  ASSERT_EQ(lines.size(), 2);
  QJsonObject a0 = QJsonDocument::fromJson(lines[0]).object();
  EXPECT_EQ(a0["answer"].toString(), "A0 022.0 025.0");
  EXPECT_EQ(a0["outcome"].toString(), "answered");
  EXPECT_GT(a0["round_trip_seconds"].toDouble(), 0);
  QJsonArray values = a0["values"].toArray();
  ASSERT_EQ(values.size(), 2);
  EXPECT_EQ(values[0].toObject()["name"].toString(), "actual");
  EXPECT_EQ(values[0].toObject()["channel"].toString(), "0");
  EXPECT_EQ(values[0].toObject()["number"].toDouble(), 22.0);
  EXPECT_EQ(values[1].toObject()["name"].toString(), "set");
  EXPECT_EQ(values[1].toObject()["number"].toDouble(), 25.0);
  EXPECT_EQ(QJsonDocument::fromJson(lines[1]).object()["answer"].toString(), "F");
}

TEST(MonitorEndToEnd, PromtoolAcceptsTheServedMetrics) {
  QTemporaryDir dir;
  ASSERT_TRUE(WriteFile(dir.filePath("lab.txt"),
                        "127.0.30.70 oven \"A\" \\ left\n127.0.30.71 Kl\xc3\xa4gerkammer\n127.0.30.72 never there\n"));
  Child a, b, mon;
  ASSERT_TRUE(a.startSim("127.0.30.70", {}));
  ASSERT_TRUE(b.startSim("127.0.30.71", {}));
  ASSERT_TRUE(a.control("channel 1 b0"));  /* "E\xb0 025.0": one byte that is no channel */
  ASSERT_TRUE(mon.startMonitor({"--chambers", dir.filePath("lab.txt"), "--commands", "Aa,S,P,T,E0", "--every", "0.2",
                                "--metrics", "127.0.30.70:9464"}));
  QByteArray text;
  ASSERT_TRUE(WaitFor([&] {
    text = HttpGet("127.0.30.70", 9464, "/metrics");
    return MetricValue(text, "quenta_chamber_answers_total{chamber=\"Kl\xc3\xa4gerkammer\"}") >= 4 &&
           MetricValue(text, "quenta_chamber_refusals_total{chamber=\"never there\"}") >= 1 &&
           MetricValue(text, "quenta_chamber_invalid_answers_total{chamber=\"oven \\\"A\\\" \\\\ left\"}") >= 2;
  }, kWaitMs)) << text.toStdString();
  EXPECT_EQ(mon.terminate(), 0);
  EXPECT_TRUE(text.contains("quenta_chamber_up{chamber=\"oven \\\"A\\\" \\\\ left\"")) << text.toStdString();

  QProcess promtool;
  promtool.start("promtool", {"check", "metrics"});
  ASSERT_TRUE(promtool.waitForStarted(kWaitMs)) << "promtool is missing: scripts/install-deps.sh test installs it";
  promtool.write(text);
  promtool.closeWriteChannel();
  ASSERT_TRUE(promtool.waitForFinished(kWaitMs));
  EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAllStandardOutput().toStdString()
                                    << promtool.readAllStandardError().toStdString();
}

/* Chambers and serial bridges that send answers in parts further apart
 * than the answer gap, trickle them, reset in the middle, end them with a
 * late line end, or go beyond the 2,500-byte limit: an answer recorded as
 * answered is whole and its values are its own; one that did not come
 * whole is recorded with its bytes and says so, never decoded; nothing of
 * one answer joins the next. */
TEST(MonitorEndToEnd, HostileChambersNeverYieldInventedValues) {
  struct Case {
    const char *address, *control, *commands;
    std::map<std::string, std::string> outcome;  /* per command: the outcome of every result sent */
    int results;                                 /* results of that outcome to wait for */
  } cases[] = {
      {"127.0.54.10", "split 1 300", "A0,Aa", {{"A0", "answered"}, {"Aa", "answered"}}, 4},
      {"127.0.54.11", "trickle 1 300", "A0", {{"A0", "incomplete"}}, 2},
      {"127.0.54.12", "reset 1 7", "A0,S", {{"A0", "closed"}, {"S", "skipped"}}, 2},
      {"127.0.54.13", "lineend 1 30", "A0,S,A0", {{"A0", "answered"}, {"S", "answered"}}, 6},
      {"127.0.54.14", "long 1 3000", "P,S", {{"P", "answered"}, {"S", "answered"}}, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.control);
    QTemporaryDir dir;
    QString csv = dir.filePath("run.csv");
    Child sim, mon;
    ASSERT_TRUE(sim.startSim(c.address, {}));
    ASSERT_TRUE(sim.control(c.control));
    ASSERT_TRUE(mon.startMonitor({c.address, "--commands", c.commands, "--every", "1", "--csv", csv}));
    const std::string name = std::string(c.address) + ":1080";
    const char *first = c.outcome.begin()->second.c_str();
    ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, name, first) >= c.results; }, kWaitMs));
    EXPECT_EQ(mon.terminate(), 0) << mon.errors().toStdString();
    bool whole = false;
    auto rows = ReadCsvRows(csv, &whole);
    ASSERT_TRUE(whole);
    for (const auto &r : rows) {
      SCOPED_TRACE(r[kCommand] + " " + r[kAnswer]);
      if (r[kOutcome] == "skipped" && c.outcome.at(r[kCommand]) != "skipped") continue;  /* due while one waited */
      EXPECT_EQ(r[kOutcome], c.outcome.at(r[kCommand]));
      std::string answer = Unescape(r[kAnswer]);
      if (r[kOutcome] != "answered") {
        EXPECT_TRUE(r[kName].empty()) << "decoded from an answer that was not whole";
        continue;
      }
      AnswerValues values;
      DecodeAnswerBody(r[kCommand].data(), r[kCommand].size(), answer.data(), answer.size(), &values);
      size_t body = AnswerBodyLength(r[kCommand].data(), r[kCommand].size(), answer.data(), answer.size());
      EXPECT_EQ(answer.substr(0, 1), r[kCommand].substr(0, 1)) << "another command's bytes";
      EXPECT_TRUE(answer.size() == body || answer.substr(body) == "\r\n") << "bytes beyond the answer";
      if (r[kCommand] == "P") {
        EXPECT_EQ(answer.size(), 2500u);
      }
      bool found = false;
      for (int v = 0; v < values.count; v++)
        if (r[kName] == values.value[v].name && (values.value[v].channel ? std::string(1, values.value[v].channel) : "") == r[kChannel]) {
          found = true;
          if (values.value[v].kind == VALUE_NUMBER) {
            EXPECT_DOUBLE_EQ(std::stod(r[kNumber]), values.value[v].number);
          }
        }
      EXPECT_TRUE(found) << "a value the answer does not hold";
    }
  }
}

/* The monitor itself stopped (SIGSTOP) for 3 s, as a starved process is:
 * the polls that fell due meanwhile have their rows, skipped at their due
 * time, so that the record has no hole. */
TEST(MonitorEndToEnd, AStalledMonitorRecordsEveryDuePoll) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.54.20", {}));
  ASSERT_TRUE(mon.startMonitor({"127.0.54.20", "--commands", "A0", "--every", "0.2", "--csv", csv}));
  const std::string name = "127.0.54.20:1080";
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, name, "answered") >= 3; }, kWaitMs));
  ::kill(static_cast<pid_t>(mon.pid()), SIGSTOP);
  WaitFor([] { return false; }, 3000);
  ::kill(static_cast<pid_t>(mon.pid()), SIGCONT);
  int before = CsvResults(csv, name, nullptr);
  ASSERT_TRUE(WaitFor([&] { return CsvResults(csv, name, "answered") >= before + 3; }, kWaitMs));
  EXPECT_EQ(mon.terminate(), 0);
  bool whole = false;
  auto rows = ReadCsvRows(csv, &whole);
  ASSERT_TRUE(whole);
  EXPECT_GE(Results(rows, "skipped"), 10) << "3 s of polls every 0.2 s";
  std::vector<QDateTime> times;
  for (const auto &r : rows) times.push_back(QDateTime::fromString(QString::fromStdString(r[kTime]), Qt::ISODateWithMs));
  std::sort(times.begin(), times.end());
  for (size_t i = 1; i < times.size(); i++) {
    EXPECT_LT(times[i - 1].msecsTo(times[i]), 1000) << "a hole after " << times[i - 1].toString(Qt::ISODateWithMs).toStdString();
  }
}

/* SIGTERM while a chamber takes 1.5 s to answer: the poll in flight ends
 * with its answer in the file, and the exit status is 0; a second signal
 * ends at once, with status 1 and a whole file. */
TEST(MonitorEndToEnd, SigtermWhileAPollWaitsKeepsItsAnswer) {
  struct Case {
    const char *address;
    int signalCount;
    int code;
    int answered;  /* results in the file */
  } cases[] = {{"127.0.40.20", 1, 0, 1}, {"127.0.40.21", 2, 1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    QTemporaryDir dir;
    QString csv = dir.filePath("run.csv");
    Child sim, mon;
    ASSERT_TRUE(sim.startSim(c.address, {"--delay", "1500"}));
    ASSERT_TRUE(mon.startMonitor({c.address, "--every", "60", "--timeout", "10", "--csv", csv}));
    ASSERT_TRUE(WaitFor([&] { return sim.output().contains("<< Aa"); }, kWaitMs));
    if (c.signalCount == 2) {  /* signals sent at once would merge into one */
      ::kill(static_cast<pid_t>(mon.pid()), SIGTERM);
      ASSERT_TRUE(WaitFor([&] { return mon.errors().contains("stopping: ending the polls in flight"); }, kWaitMs));
    }
    EXPECT_EQ(mon.terminate(), c.code) << mon.errors().toStdString();
    bool whole = false;
    auto rows = ReadCsvRows(csv, &whole);
    EXPECT_TRUE(whole);
    EXPECT_EQ(Results(rows, "answered"), c.answered);
    EXPECT_EQ(Results(rows), c.answered) << "no other result";
    if (c.answered) {
      EXPECT_EQ(rows.size(), 10u);
      EXPECT_TRUE(WaitFor([&] { return sim.output().contains(">> A0 022.0 025.0 A1"); }, kWaitMs));
    }
  }
}

/* The disk fills up (the monitor's file size limit stands in for it):
 * writes are refused and counted, polling goes on, and the rows wait in
 * memory. Once there is room again every result counted is in the file,
 * whole, and the summary says no row was lost (exit 0); with a queue bound
 * the wait outgrows, the rows beyond it are lost, and the metric, the
 * summary and the exit status (6) say so. */
TEST(MonitorEndToEnd, FullDiskCostsWholeResultsAndPollingGoesOn) {
  struct Case {
    const char *address;
    QStringList options;
    int code;
  } cases[] = {{"127.0.40.30", {}, 0}, {"127.0.51.10", {"--queue-limit", "0.01"}, 6}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    QTemporaryDir dir;
    QString csv = dir.filePath("run.csv");
    Child sim, mon;
    ASSERT_TRUE(sim.startSim(c.address, {}));
    ASSERT_TRUE(mon.startMonitor(QStringList{c.address, "--every", "0.1", "--commands", "Aa,S", "--csv", csv,
                                             "--metrics", QString(c.address) + ":9464"} + c.options, 20000));
    auto metric = [&](const QByteArray &sample) { return MetricValue(HttpGet(c.address, 9464, "/metrics"), sample); };
    const QByteArray answers = QByteArray("quenta_chamber_answers_total{chamber=\"") + c.address + ":1080\"}";
    ASSERT_TRUE(WaitFor([&] { return metric("quenta_monitor_csv_write_errors_total") >= 5; }, kWaitMs));
    double answered = metric(answers);
    ASSERT_TRUE(WaitFor([&] { return metric(answers) >= answered + 10; }, kWaitMs)) << "polling went on";
    double dropped = 0;
    ASSERT_TRUE(WaitFor([&] { return (dropped = metric("quenta_monitor_csv_rows_dropped_total")) > 0 || !c.code; }, kWaitMs));
    qint64 full = QFile(csv).size();
    EXPECT_LE(full, 20000);
    struct rlimit room = {RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(prlimit(static_cast<pid_t>(mon.pid()), RLIMIT_FSIZE, &room, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return QFile(csv).size() > full + 5000; }, kWaitMs)) << "written again";
    EXPECT_EQ(mon.terminate(), c.code) << mon.errors().toStdString();
    int reported = 0;  /* event lines; the status line, once a minute, repeats the last error */
    for (const QByteArray &line : mon.errors().split('\n'))
      if (line.contains("rows not written") && !line.contains(" up, ")) reported++;
    EXPECT_EQ(reported, 1) << "reported once, not per refused result:\n" << mon.errors().toStdString();
    bool whole = false;
    auto rows = ReadCsvRows(csv, &whole);
    EXPECT_TRUE(whole) << "every row whole, before and after the full disk";
    QRegularExpressionMatch summary = QRegularExpression("(\\d+) answered, (\\d+) rows synced, (\\d+) rows lost")
                                          .match(QString::fromLocal8Bit(mon.errors()));
    ASSERT_TRUE(summary.hasMatch()) << mon.errors().toStdString();
    EXPECT_EQ(rows.size(), summary.captured(2).toULongLong()) << "the rows counted are the rows in the file";
    if (c.code == 0) {
      EXPECT_EQ(summary.captured(3).toInt(), 0);
      EXPECT_EQ(Results(rows, "answered"), summary.captured(1).toInt()) << "every result counted is in the file";
    } else {
      EXPECT_GE(summary.captured(3).toDouble(), dropped) << "the rows lost in the summary and the metric";
      EXPECT_TRUE(mon.errors().contains("fill --queue-limit")) << mon.errors().toStdString();
    }
  }
}

/* Sixty metrics clients that each send 20 requests and never read, to a
 * monitor of 100 chambers: its memory stays within 50 MB of what it was
 * (all answers queued, it had grown by hundreds of MB), polling goes on,
 * and it serves its pages afterwards, each with its content type and the
 * pages with a policy that allows no inline script; other methods get
 * 405, other paths 404. */
TEST(MonitorEndToEnd, MetricsClientsThatNeverReadCostBoundedMemory) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.50.10", {"--chambers", "100"}));
  QStringList args{"--every", "0.5", "--commands", "Aa,P", "--csv", csv, "--metrics", "127.0.50.1:9464"};
  for (int i = 10; i < 110; i++) args << QStringLiteral("127.0.50.%1").arg(i);
  ASSERT_TRUE(mon.startMonitor(args));
  const char *last = "quenta_chamber_answers_total{chamber=\"127.0.50.109:1080\"}";
  ASSERT_TRUE(WaitFor([&] { return MetricValue(HttpGet("127.0.50.1", 9464, "/metrics"), last) >= 2; }, kWaitMs));
  const qint64 before = ResidentKb(mon.pid()), written = QFile(csv).size();
  ASSERT_GT(before, 0);
  std::vector<int> clients = SilentClients("127.0.50.1", 60, 20);
  ASSERT_EQ(clients.size(), 60u);
  qint64 peak = before;  /* some 10 polls of every chamber, 1 MB of rows */
  ASSERT_TRUE(WaitFor([&] {
    peak = std::max(peak, ResidentKb(mon.pid()));
    return QFile(csv).size() > written + 1000000;
  }, kWaitMs)) << "polling went on";
  EXPECT_LT(peak - before, 50000) << "kB; " << before << " kB before";
  for (int fd : clients) close(fd);

  const char *kPolicy = "Content-Security-Policy: default-src 'self'; script-src 'self';";
  struct Case {
    const char *method, *path, *status, *header, *body;
  } cases[] = {
      {"GET", "/metrics", "HTTP/1.1 200", "Content-Type: text/plain; version=0.0.4", last},
      {"GET", "/", "HTTP/1.1 200", kPolicy, ""},
      {"GET", "/chamber?name=127.0.50.10%3A1080", "HTTP/1.1 200", "Content-Type: text/html", ""},
      {"GET", "/static/uPlot.iife.min.js", "HTTP/1.1 200", "Content-Type: text/javascript", "uPlot"},
      {"GET", "/api/v1/chambers", "HTTP/1.1 200", "X-Content-Type-Options: nosniff", "\"name\":\"127.0.50.109:1080\""},
      {"POST", "/metrics", "HTTP/1.1 405", "Allow: GET", ""},
      {"POST", "/", "HTTP/1.1 405", "Allow: GET", ""},
      {"POST", "/api/v1/series?chamber=127.0.50.10%3A1080", "HTTP/1.1 405", "Allow: GET", ""},
      {"GET", "/metrics/", "HTTP/1.1 404", "Content-Type: text/plain", ""},
      {"GET", "/static/../../etc/passwd", "HTTP/1.1 404", "Content-Type: text/plain", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path);
    QByteArray head, body = HttpGet("127.0.50.1", 9464, c.path, &head, c.method);
    EXPECT_TRUE(head.startsWith(c.status) && head.contains(c.header)) << head.toStdString();
    EXPECT_TRUE(body.contains(c.body)) << body.left(200).toStdString();
  }
  EXPECT_EQ(mon.terminate(), 0) << mon.errors().toStdString();
}

}  // namespace
