/*
 * monitor_test.cpp -- the monitor's parts without a network: the command
 * line and the chambers file, the end of an answer, the CSV rows and their
 * escaping, the CSV file's writer under every fault of its file (through
 * a fault-injecting FaultEnv), the metrics text, and the schedule of wake-ups.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <sstream>

#include "answer_frame.h"
#include "csv_log.h"
#include "metrics.h"
#include "monitor_support.h"
#include "options.h"
#include "poller.h"
#include "rows.h"
#include "schedule.h"

namespace {

using namespace monitor;

TEST(MonitorOptions, ArgumentsGiveSettingsOrAUsageError) {
  struct Case {
    QStringList args;
    bool ok;
    const char *error;  /* part of the message when !ok */
  } cases[] = {
      {{"192.0.2.7", "192.0.2.8", "--every", "5", "--csv", "run.csv", "--metrics", "127.0.0.1:9464"}, true, ""},
      {{"send", "192.0.2.7", "A0", "S", "--mode", "interpreted", "--lang", "de"}, true, ""},
      {{"--bogus", "192.0.2.7"}, false, "Unknown option 'bogus'"},
      {{"--every", "0", "192.0.2.7"}, false, "--every needs seconds"},
      {{"--every", "fast", "192.0.2.7"}, false, "--every needs seconds"},
      {{"--timeout", "-1", "192.0.2.7"}, false, "--timeout needs seconds"},
      {{"--metrics", "localhost:9464", "192.0.2.7"}, false, "--metrics needs"},
      {{"--metrics", "127.0.0.1:70000", "192.0.2.7"}, false, "--metrics needs"},
      {{"--commands", "A0,,S", "192.0.2.7"}, false, "an empty command"},
      {{"300.1.2.3"}, false, "\"300.1.2.3\" is not a chamber address"},
      {{"127.0.99.021"}, false, "is written in decimal without leading zeros"},
      {{"127.1"}, false, "has four numbers from 0 to 255"},
      {{"[lab.example]:1080"}, false, "is not a chamber address"},
      {{"fe80::1%eth0", "chamber_3.lab.example.", "2001:db8::1"}, true, ""},
      {{"192.0.2.7:0"}, false, "is not a chamber address"},
      {{"bad_name!"}, false, "is not a chamber address"},
      {{}, false, "no chambers"},
      {{"192.0.2.7", "192.0.2.7:1080"}, false, "is given twice"},
      {{"send", "192.0.2.7"}, false, "send needs an address and at least one command"},
      {{"send", "192.0.2.7", "A0", "--mode", "xml"}, false, "--mode needs hex, raw"},
      {{"send", "192.0.2.7", "A0", "--lang", "fr"}, false, "--lang needs en or de"},
      {{"send", "192.0.2.7", QString(512, 'A')}, false, "has 512 characters; at most 511"},
      {{"send", "192.0.2.7", QString::fromUtf8("A\u20AC")}, false, "holds U+20AC, which is not a Latin-1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.join(' ').left(80).toStdString());
    Invocation inv;
    QString error;
    EXPECT_EQ(ParseArguments(c.args, &inv, &error), c.ok) << error.toStdString();
    if (!c.ok) {
      EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
    }
  }
}

TEST(MonitorOptions, DefaultsAndValuesReadBack) {
  Invocation inv;
  QString error;
  ASSERT_TRUE(ParseArguments({"192.0.2.7", "[2001:db8::1]:1081", "--every", "0.25", "--commands",
                              "A0,S", "--commands", "T", "--metrics", "9464"},
                             &inv, &error))
      << error.toStdString();
  const MonitorOptions &o = inv.monitor;
  EXPECT_EQ(o.everyMs, 250);
  EXPECT_EQ(o.timeoutMs, 2000);
  EXPECT_EQ(o.commands, (QList<QByteArray>{"A0", "S", "T"}));
  ASSERT_EQ(o.chambers.size(), 2);
  EXPECT_EQ(o.chambers[0].address(), "192.0.2.7:1080");
  EXPECT_EQ(o.chambers[1].address(), "[2001:db8::1]:1081");
  EXPECT_EQ(o.metricsAddress.toString(), "127.0.0.1");
  EXPECT_EQ(o.metricsPort, 9464);

  struct Duration {
    const char *seconds;
    qint64 ms;
  } durations[] = {{"0.05", 50}, {"3600", 3600000}, {"2592000", 2592000000}, {"5184000", 5184000000},
                   {"10000000", 10000000000}};
  for (const Duration &d : durations) {  /* 30 and 60 days do not fit an int of ms */
    SCOPED_TRACE(d.seconds);
    Invocation inv;
    ASSERT_TRUE(ParseArguments({"192.0.2.7", "--duration", d.seconds}, &inv, &error)) << error.toStdString();
    EXPECT_EQ(inv.monitor.durationMs, d.ms);
  }

  Invocation defaults;
  ASSERT_TRUE(ParseArguments({"192.0.2.7"}, &defaults, &error)) << error.toStdString();
  EXPECT_EQ(defaults.monitor.commands, QList<QByteArray>{"Aa"});
  Invocation send;
  ASSERT_TRUE(ParseArguments({"send", "192.0.2.7", QString::fromLatin1("i0 Gr\xfc\xdf")}, &send, &error));
  EXPECT_EQ(send.send.commands[0], QByteArray("i0 Gr\xfc\xdf"));
  EXPECT_EQ(send.send.form, SendForm::Raw);
}

TEST(MonitorOptions, ChambersFileListsEveryBadLineByNumber) {
  const QByteArray text =
      "# climate lab\n"
      "192.0.2.7   oven 1   # left of the door\n"
      "192.0.2.8:1081\n"
      "\n"
      "not_an_address! x\n"
      "192.0.2.9 \xff\xfe\n"
      "   # indented comment\n"
      "192.0.2.300 x\n"
      "192.0.2.10 bell\x07here\n";
  QList<ChamberEntry> chambers;
  QString error;
  EXPECT_FALSE(ParseChambersText(text, "lab.txt", kChamberPort, &chambers, &error));
  QStringList lines = error.split('\n');
  ASSERT_EQ(lines.size(), 4) << error.toStdString();
  EXPECT_TRUE(lines[0].startsWith("lab.txt:5: \"not_an_address!\" is not a chamber address")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith("lab.txt:6: the name")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith("lab.txt:8: \"192.0.2.300\"")) << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith("lab.txt:9: the name")) << lines[3].toStdString();
  ASSERT_EQ(chambers.size(), 2);
  EXPECT_EQ(chambers[0].name, "oven 1");
  EXPECT_EQ(chambers[0].line, 2);
  EXPECT_EQ(chambers[1].name, "192.0.2.8:1081");
  EXPECT_EQ(chambers[1].port, 1081);
}

/* Files saved by Windows editors: a byte order mark, CR LF line ends. */
TEST(MonitorOptions, ChambersFileFromWindowsReadsAsFromLinux) {
  struct Case {
    const char *what;
    QByteArray text;
  } cases[] = {
      {"LF", "192.0.2.7 oven 1\n# lab\n192.0.2.8:1081\n"},
      {"CR LF", "192.0.2.7 oven 1\r\n# lab\r\n192.0.2.8:1081\r\n"},
      {"byte order mark", "\xEF\xBB\xBF" "192.0.2.7 oven 1\n# lab\n192.0.2.8:1081"},
      {"both, comments", "\xEF\xBB\xBF" "192.0.2.7   oven 1 # left\r\n\r\n192.0.2.8:1081\t# right\r\n"},
      {"lone CR", "192.0.2.7 oven 1\r# lab\r192.0.2.8:1081\r"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    QList<ChamberEntry> chambers;
    QString error;
    ASSERT_TRUE(ParseChambersText(c.text, "lab.txt", kChamberPort, &chambers, &error)) << error.toStdString();
    ASSERT_EQ(chambers.size(), 2);
    EXPECT_EQ(chambers[0].address(), "192.0.2.7:1080");
    EXPECT_EQ(chambers[0].name, "oven 1");
    EXPECT_EQ(chambers[1].address(), "192.0.2.8:1081");
    EXPECT_EQ(chambers[1].name, "192.0.2.8:1081");
  }
}

/* One answer as its bytes, wake-ups and the close come, against the
 * rules of answer_frame.h: it ends whole, or incomplete, closed or timed
 * out with the bytes that came; every byte received is in the answer or
 * counted as thrown away; after an overlong answer the next command waits
 * until the chamber falls silent. */
TEST(MonitorAnswerEnd, EndsOnlyWhenWholeAndAccountsForEveryByte) {
  struct Step {
    char what;  /* 'f' feed bytes, 'w' wake, 'c' close */
    int64_t ms;
    std::string bytes;
  };
  const std::string aa = "A0 022.0 025.0 A1 045.0 050.0 A2 000.0 000.0 A3 000.0 000.0 A4 000.0 000.0";
  const std::string overlong = "F" + std::string(2999, 'x');
  struct Case {
    const char *what, *command;
    std::vector<Step> steps;
    int end;  /* the first end other than FRAME_OPEN */
    std::string answer;
    uint64_t discarded;
    int after;  /* the frame's state at the end */
  } cases[] = {
      {"whole at once", "A0", {{'f', 1, "A0 022.0 025.0"}}, FRAME_ANSWER, "A0 022.0 025.0", 0, FRAME_IDLE},
      {"parts further apart than the gap", "A0", {{'f', 1, "A0 022."}, {'w', 400, ""}, {'f', 600, "0 025.0"}},
       FRAME_ANSWER, "A0 022.0 025.0", 0, FRAME_IDLE},
      {"cut by the timeout", "A0", {{'f', 1, "A0 022."}, {'w', 1999, ""}, {'w', 2000, ""}}, FRAME_INCOMPLETE,
       "A0 022.", 0, FRAME_IDLE},
      {"cut by a reset", "Aa", {{'f', 1, aa.substr(0, 40)}, {'c', 2, ""}}, FRAME_CLOSED, aa.substr(0, 40), 0, FRAME_IDLE},
      {"no byte", "S", {{'w', 2000, ""}}, FRAME_TIMEOUT, "", 0, FRAME_IDLE},
      {"open length ends by the gap", "P", {{'f', 1, "P001"}, {'w', 150, ""}, {'w', 201, ""}}, FRAME_ANSWER, "P001", 0,
       FRAME_IDLE},
      {"open length ends by the close", "F", {{'f', 1, "FDoor"}, {'c', 5, ""}}, FRAME_ANSWER, "FDoor", 0, FRAME_IDLE},
      {"open length still coming at the timeout", "F",
       {{'f', 1, "F"}, {'f', 150, "D"}, {'f', 300, "o"}, {'f', 1900, "o"}, {'w', 2000, ""}}, FRAME_INCOMPLETE, "FDoo",
       0, FRAME_IDLE},
      {"one line end kept, a late one thrown away", "A0", {{'f', 1, "A0 022.0 025.0\r\n\r\n"}}, FRAME_ANSWER,
       "A0 022.0 025.0\r\n", 2, FRAME_IDLE},
      {"line ends before the answer", "S", {{'f', 1, "\r\n"}, {'f', 5, "S111100001"}}, FRAME_ANSWER, "S111100001", 2,
       FRAME_IDLE},
      {"not the command's letter: open length", "A0", {{'f', 1, "S111100001xxxxx"}, {'w', 201, ""}}, FRAME_ANSWER,
       "S111100001xxxxx", 0, FRAME_IDLE},
      {"overlong: the tail is drained", "F", {{'f', 1, overlong}, {'f', 10, "yyyy"}, {'w', 100, ""}}, FRAME_ANSWER,
       overlong.substr(0, 2500), 504, FRAME_DRAINING},
      {"overlong, then quiet", "F", {{'f', 1, overlong}, {'w', 211, ""}}, FRAME_ANSWER, overlong.substr(0, 2500), 500,
       FRAME_IDLE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    AnswerFrame f;
    FrameInit(&f, 200 * kNsPerMs, 2000 * kNsPerMs);
    FrameBegin(&f, c.command, strlen(c.command), 0);
    int end = FRAME_OPEN;
    std::string answer;
    uint64_t recorded = 0;
    for (const Step &step : c.steps) {
      int got = step.what == 'f'   ? FrameFeed(&f, step.bytes.data(), step.bytes.size(), step.ms * kNsPerMs)
                : step.what == 'w' ? FrameWake(&f, step.ms * kNsPerMs)
                                   : FrameClose(&f);
      if (got == FRAME_OPEN || end != FRAME_OPEN) continue;
      end = got;
      answer.assign(f.bytes, f.length);
      recorded = f.length;
    }
    EXPECT_EQ(end, c.end);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(f.discarded, c.discarded);
    EXPECT_EQ(f.state, c.after);
    EXPECT_EQ(recorded + f.discarded, f.received) << "every byte recorded or thrown away";
  }
  AnswerFrame flood;
  FrameInit(&flood, 200 * kNsPerMs, 2000 * kNsPerMs);
  FrameBegin(&flood, "F", 1, 0);
  ASSERT_EQ(FrameFeed(&flood, overlong.data(), overlong.size(), 0), FRAME_ANSWER);
  int64_t ms = 0;
  while (FrameWakeAt(&flood) > ms * kNsPerMs) FrameFeed(&flood, "z", 1, ++ms * kNsPerMs);
  EXPECT_EQ(FrameWake(&flood, ms * kNsPerMs), FRAME_FLOOD) << "still sending " << ms << " ms after the answer";
}

TEST(MonitorAnswerEnd, AnAnswerFitsItsCommandByLetterAndChannel) {
  struct Case {
    const char *command;
    std::string answer;
    bool fits;
  } cases[] = {
      {"E0", "E0 025.0", true},  {"E0", "E\xb0 025.0", false}, {"A0", std::string("A\x00 022.0 025.0", 15), false},
      {"Aa", "A0 022.0 025.0 A1", true}, {"U1", "U1 03.50 05.48", true}, {"G0", "Gx", false},
      {"A0", "S101100000", false}, {"F", "F", true}, {"S", "", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.answer));
    EXPECT_EQ(AnswerFits(c.command, strlen(c.command), c.answer.data(), c.answer.size()) != 0, c.fits);
  }
}

/* An answered result of command with answer, written at wallMs. */
CommandResult Answered(const char *chamber, const char *command, const std::string &answer,
                       int64_t wallMs, int64_t roundTripNs, const AnswerValues *values = nullptr) {
  CommandResult r;
  r.wallMs = wallMs;
  r.chamber = chamber;
  r.address = "192.0.2.7:1080";
  r.command = command;
  r.commandLength = strlen(command);
  r.outcome = kAnswered;
  r.roundTripNs = roundTripNs;
  r.answer = answer.data();
  r.answerLength = answer.size();
  r.values = values;
  return r;
}

TEST(MonitorRows, EscapingKeepsEveryByteAndEveryRowOnOneLine) {
  std::string all;
  for (int b = 0; b < 256; b++) all += static_cast<char>(b);
  std::string escaped;
  AppendEscaped(all.data(), all.size(), escaped);
  for (char c : escaped) {
    ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(c);
  }
  EXPECT_EQ(Unescape(escaped), all);

  struct Case {
    std::string answer;
    const char *field;  /* the answer field as written */
  } cases[] = {
      {"A0 022.0 025.0", "A0 022.0 025.0"},
      {"FDoor \"B\", left", "\"FDoor \"\"B\"\", left\""},
      {std::string("F\r\n\0\xe4\\", 6), "F\\x0d\\x0a\\x00\\xe4\\\\"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.answer);
    std::string rows;
    AppendRows(Answered("oven, \"left\"", "F", c.answer, 1255437000123, 1234567), rows);
    ASSERT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1);
    std::vector<std::string> f = ParseCsvLine(rows.substr(0, rows.size() - 1));
    ASSERT_EQ(f.size(), 11u) << rows;
    EXPECT_EQ(f[0], "2009-10-13T12:30:00.123Z");
    EXPECT_EQ(f[1], "oven, \"left\"");
    EXPECT_EQ(f[4], "answered");
    EXPECT_EQ(f[5], "1.235");
    EXPECT_EQ(Unescape(f[6]), c.answer);
    EXPECT_NE(rows.find(c.field), std::string::npos) << rows;
  }
}

TEST(MonitorRows, OneRowPerValueWrittenTogether) {
  AnswerValues values{};
  values.letter = 'A';
  values.count = 3;
  values.value[0] = AnswerValue{"actual", '0', VALUE_NUMBER, -12.5, "", 0};
  values.value[1] = AnswerValue{"set", '0', VALUE_NUMBER, 0.1, "", 0};
  values.value[2] = AnswerValue{"text", 0, VALUE_TEXT, 0, "a,\"b\"", 0};
  const std::string answer = "A0 -12.5 000.1";
  CommandResult r = Answered("c", "A0", answer, 0, 500, &values);
  r.address = "a";
  std::string rows;
  AppendRows(r, rows);
  std::istringstream lines(rows);
  std::string line;
  std::vector<std::vector<std::string>> parsed;
  while (std::getline(lines, line)) parsed.push_back(ParseCsvLine(line));
  ASSERT_EQ(parsed.size(), 3u) << rows;
  const char *expected[3][4] = {{"actual", "0", "-12.5", ""}, {"set", "0", "0.1", ""}, {"text", "", "", "a,\"b\""}};
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    ASSERT_EQ(parsed[i].size(), 11u);
    EXPECT_EQ(parsed[i][0], "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(parsed[i][5], "0.001");
    for (int k = 0; k < 4; k++) {
      EXPECT_EQ(parsed[i][7 + k], expected[i][k]);
    }
  }

  r.outcome = kTimeout;
  r.roundTripNs = -1;
  r.answerLength = 0;
  r.values = nullptr;
  rows.clear();
  AppendRows(r, rows);
  EXPECT_EQ(rows, "1970-01-01T00:00:00.000Z,c,a,A0,timeout,,,,,,\n");
}

constexpr int kWaitMs = 30000;  /* bound of every wait for a condition */

class MonitorCsvFile : public ::testing::Test {
 protected:
  QString path() const { return dir_.filePath("run.csv"); }
  std::string readFile(const QString &name = "run.csv") const {
    std::ifstream in(dir_.filePath(name).toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  QTemporaryDir dir_;
};

/* The file as it was found, and what befalls it under the writer: a
 * fault armed before open, or one armed once rows r1 and r2 are synced;
 * then rows r3 and r4, the writer left to settle after each, and r5 once
 * the disk has room again. Every row ends up in the file, or the writer
 * counts it lost and says so; a file that cannot be read is not touched.
 * The queue bound of 16 bytes holds two of the rows. */
TEST_F(MonitorCsvFile, KeepsEveryRowWhateverTheFileDoes) {
  EnsureApp();  /* the writer's timer and its calls from the sync thread need the event loop */
  using Arm = void (*)(FaultEnv &, CsvLog &, const QString &path);
  const std::string h = kCsvHeader, row = "2009-10-13T12:30:00.123Z,c,a,A0,timeout,,,,,,\n";
  const std::string r[5] = {"r1\n", "r2,2\n", "r3,33\n", "r4,444\n", "r5,5555\n"};
  const std::string all = r[0] + r[1] + r[2] + r[3] + r[4];
  struct Case {
    const char *what;
    bool exists;
    std::string before;
    Arm atOpen, midway;
    bool ok;
    std::string after, moved;  /* run.csv and run.csv.1 at the end */
    uint64_t lost;
    const char *message;       /* part of the error, the note or a line told */
  } cases[] = {
      {"missing file is created with its header", false, "", nullptr, nullptr, true, h + all, "", 0, ""},
      {"empty file gets the header", true, "", nullptr, nullptr, true, h + all, "", 0, ""},
      {"whole rows are kept", true, h + row, nullptr, nullptr, true, h + row + all, "", 0, ""},
      {"torn last row is cut", true, h + row + "2009-10-13T12:3", nullptr, nullptr, true, h + row + all, "", 0,
       "torn last row of 15 bytes"},
      {"zero bytes after a power loss are cut", true, h + row + std::string(4096, '\0'), nullptr, nullptr, true,
       h + row + all, "", 0, "torn last row of 4096 bytes"},
      {"torn header is written again", true, h.substr(0, 20), nullptr, nullptr, true, h + all, "", 0, ""},
      {"foreign header is refused", true, "a,b,c\n1,2,3\n", nullptr, nullptr, false, "a,b,c\n1,2,3\n", "", 0,
       "not this monitor's CSV header"},
      {"older layout is refused", true, "time,chamber\n", nullptr, nullptr, false, "time,chamber\n", "", 0,
       "not this monitor's CSV header"},
      {"a read error at start leaves the file as it is", true, h + row + "2009", [](FaultEnv &e, CsvLog &, const QString &) { e.badRead = 2; },
       nullptr, false, h + row + "2009", "", 0, "cannot read the CSV file"},
      {"a short read at start leaves the file as it is", true, h + row + "2009",
       [](FaultEnv &e, CsvLog &, const QString &) {
         e.badRead = 2;
         e.shortRead = true;
       }, nullptr, false,
       h + row + "2009", "", 0, "cannot read the CSV file"},
      {"a full disk: rows wait, then are written in order", false, "", nullptr,
       [](FaultEnv &e, CsvLog &, const QString &) { e.room = 8; }, true, h + all, "", 0, "rows not written"},
      {"rows beyond the queue bound are lost, and counted", false, "", nullptr,
       [](FaultEnv &e, CsvLog &, const QString &) { e.room = 0; }, true, h + r[0] + r[1] + r[2] + r[3], "", 1,
       "fill --queue-limit"},
      {"a failed sync: the rows are written again", false, "", nullptr,
       [](FaultEnv &e, CsvLog &, const QString &) { e.syncErrors = 1; }, true, h + all, "", 0,
       "written again and synced"},
      {"syncs that keep failing: the writer gives up and says so", false, "", nullptr,
       [](FaultEnv &e, CsvLog &, const QString &) { e.syncErrors = 1000; }, true, h + r[0] + r[1], "", 3,
       "giving up"},
      {"a deleted file: a new one, with the rows since the last check", false, "", nullptr,
       [](FaultEnv &, CsvLog &, const QString &p) { QFile::remove(p); }, true, h + r[2] + r[3] + r[4], "", 0,
       "was deleted"},
      {"a renamed file keeps its rows; a new one takes the rows after", false, "", nullptr,
       [](FaultEnv &, CsvLog &, const QString &p) { QFile::rename(p, p + ".1"); }, true, h + r[3] + r[4],
       h + r[0] + r[1] + r[2], 0, "was renamed"},
      {"SIGHUP after logrotate renamed the file", false, "", nullptr,
       [](FaultEnv &, CsvLog &log, const QString &p) {
         QFile::rename(p, p + ".1");
         log.reopen();
       }, true,
       h + r[2] + r[3] + r[4], h + r[0] + r[1], 0, "opened again (SIGHUP)"},
      {"a file cut short by another process is not lengthened", false, "", nullptr,
       [](FaultEnv &, CsvLog &log, const QString &p) {
         QFile(p).resize(sizeof kCsvHeader + 2);  /* the header and r1 */
         log.reopen();
       },
       true, h + r[0] + r[2] + r[3] + r[4], "", 0, "shorter than the rows synced"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(path());
    QFile::remove(path() + ".1");
    if (c.exists) {
      ASSERT_TRUE(WriteFile(path(), QByteArray::fromStdString(c.before)));
    }
    FaultEnv env;
    CsvLog log(&env);
    QStringList told;
    log.onEvent = [&](const QString &message, bool) { told << message; };
    QString error, note;
    if (c.atOpen) c.atOpen(env, log, path());
    EXPECT_EQ(log.open(path(), CsvSettings{0, 16}, &error, &note), c.ok) << error.toStdString();
    told << error << note;
    if (log.isOpen()) {
      auto settled = [&] { CsvCounts n = log.counts(); return n.failed || n.waitingRows == 0 || n.writeErrors > 0; };
      log.append(r[0]);
      log.append(r[1]);
      ASSERT_TRUE(WaitFor([&] { return log.counts().synced == 2; }, kWaitMs));
      if (c.midway) c.midway(env, log, path());
      for (int i : {2, 3}) {
        log.append(r[i]);
        ASSERT_TRUE(WaitFor(settled, kWaitMs)) << "after r" << i + 1;
      }
      env.room = -1;
      log.append(r[4]);
      log.close();
      CsvCounts n = log.counts();
      EXPECT_EQ(n.lost, c.lost);
      EXPECT_EQ(n.synced, 5 - c.lost) << "every row synced or lost";
      EXPECT_EQ(n.waitingRows, 0u);
    }
    EXPECT_EQ(readFile(), c.after);
    EXPECT_EQ(readFile("run.csv.1"), c.moved);
    EXPECT_TRUE(told.join('\n').contains(c.message)) << told.join('\n').toStdString();
  }
}

TEST_F(MonitorCsvFile, AppendsWholeRowsAndKeepsOthersOut) {
  EnsureApp();
  CsvLog log;
  QString error, note;
  ASSERT_TRUE(log.open(path(), CsvSettings(), &error, &note)) << error.toStdString();
  CsvLog second;
  EXPECT_FALSE(second.open(path(), CsvSettings(), &error, &note));
  EXPECT_TRUE(error.contains("another process is writing")) << error.toStdString();
  log.append("r1\nr2\n");
  log.append("r3\n");
  log.close();
  EXPECT_EQ(readFile(), std::string(kCsvHeader) + "r1\nr2\nr3\n");

  ASSERT_TRUE(log.open(path(), CsvSettings(), &error, &note)) << "reopened after close";
  log.append("r4\n");
  log.close();
  EXPECT_EQ(readFile(), std::string(kCsvHeader) + "r1\nr2\nr3\nr4\n");

  EXPECT_FALSE(log.open(dir_.filePath("missing/run.csv"), CsvSettings(), &error, &note));
  EXPECT_TRUE(error.contains("cannot open the CSV file")) << error.toStdString();
  EXPECT_FALSE(log.open(dir_.path(), CsvSettings(), &error, &note));
}

/* Group commit: a row counts once a sync covered it; rows appended while a
 * sync runs are taken by the next one, and close() syncs the rest. */
TEST_F(MonitorCsvFile, CountsRowsOnlyOnceSyncedAndSyncsTheRestOnClose) {
  EnsureApp();
  struct Case {
    int syncIntervalMs;
    int appends;
  } cases[] = {{0, 1}, {0, 200}, {3600000, 50}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "interval " << c.syncIntervalMs << " ms, " << c.appends << " appends");
    QFile::remove(path());
    CsvLog log;
    QString error, note;
    ASSERT_TRUE(log.open(path(), CsvSettings{c.syncIntervalMs, kDefaultQueueLimit}, &error, &note)) << error.toStdString();
    EXPECT_EQ(log.counts().synced, 0u);
    for (int i = 0; i < c.appends; i++) log.append("a,1\nb,2\n");
    const uint64_t rows = 2u * static_cast<uint64_t>(c.appends);
    if (c.syncIntervalMs == 0) {
      EXPECT_TRUE(WaitFor([&] { return log.counts().synced == rows; }, kWaitMs)) << log.counts().synced;
    } else {
      /* The first sync may come at once; the next waits an hour. */
      EXPECT_TRUE(WaitFor([&] { return log.counts().synced > 0; }, kWaitMs));
      log.append("c,3\n");
      WaitFor([] { return false; }, 200);
      EXPECT_LT(log.counts().synced, rows + 1) << "synced within the interval";
    }
    log.close();
    const CsvCounts n = log.counts();
    EXPECT_EQ(n.synced, c.syncIntervalMs == 0 ? rows : rows + 1) << "close() syncs the rest";
    EXPECT_EQ(n.syncErrors, 0u);
    if (c.syncIntervalMs == 0) {
      EXPECT_GE(n.syncs, 1u);
      EXPECT_LE(n.syncs, static_cast<uint64_t>(c.appends) + 1);
    } else {
      EXPECT_EQ(n.syncs, 2u) << "the first sync and the one of close()";
    }
  }
}

TEST(MonitorMetrics, TextNamesEscapesAndCounts) {
  std::vector<ChamberStats> chambers(2);
  chambers[0].name = "oven \"A\" \\ 1\nx";
  chambers[0].address = "192.0.2.7:1080";
  chambers[0].up = true;
  chambers[0].lastAnswerNs = 1000000000;
  chambers[0].commands = 7;
  chambers[0].answers = 6;
  chambers[0].timeouts = 1;
  chambers[0].roundTrip.add(0.0004);
  chambers[0].roundTrip.add(0.003);
  chambers[0].roundTrip.add(7);
  AnswerValues values{};
  values.count = 3;
  values.value[0] = AnswerValue{"actual", '0', VALUE_NUMBER, 22.5, "", 0};
  values.value[1] = AnswerValue{"set", '0', VALUE_NUMBER, 25, "", 0};
  values.value[2] = AnswerValue{"program", 0, VALUE_NUMBER, 1, "", 0};
  chambers[0].keep(values);
  values.value[0].number = 23.5;
  chambers[0].keep(values);  /* replaces, never adds a second series */
  chambers[1].name = "b\xb0";  /* not UTF-8: never on the page as it is */
  chambers[1].address = "192.0.2.8:1080";
  MonitorStats monitor;
  monitor.csv.synced = 42;
  std::string text;
  RenderMetrics(chambers, monitor, 3500000000, text);

  const char *lines[] = {
      "quenta_chamber_up{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",address=\"192.0.2.7:1080\"} 1\n",
      "quenta_chamber_up{chamber=\"b\xEF\xBF\xBD\",address=\"192.0.2.8:1080\"} 0\n",
      "quenta_chamber_actual_value{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",channel=\"0\"} 23.5\n",
      "quenta_chamber_set_value{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",channel=\"0\"} 25\n",
      "quenta_chamber_value{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",name=\"program\",channel=\"\"} 1\n",
      "quenta_chamber_last_answer_age_seconds{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\"} 2.5\n",
      "quenta_chamber_round_trip_seconds_bucket{chamber=\"b\xEF\xBF\xBD\",le=\"+Inf\"} 0\n",
      "quenta_chamber_round_trip_seconds_bucket{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",le=\"0.0005\"} 1\n",
      "quenta_chamber_round_trip_seconds_bucket{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",le=\"0.005\"} 2\n",
      "quenta_chamber_round_trip_seconds_bucket{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",le=\"5\"} 2\n",
      "quenta_chamber_round_trip_seconds_bucket{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\",le=\"+Inf\"} 3\n",
      "quenta_chamber_round_trip_seconds_count{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\"} 3\n",
      "quenta_chamber_commands_total{chamber=\"oven \\\"A\\\" \\\\ 1\\nx\"} 7\n",
      "quenta_chamber_timeouts_total{chamber=\"b\xEF\xBF\xBD\"} 0\n",
      "# TYPE quenta_chamber_reconnects_total counter\n",
      "quenta_monitor_csv_rows_total 42\n",
      "# TYPE quenta_monitor_poll_start_delay_seconds histogram\n",
  };
  for (const char *line : lines) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  }
  EXPECT_EQ(text.find("quenta_chamber_last_answer_age_seconds{chamber=\"b\xEF"), std::string::npos);
  std::istringstream in(text);
  std::string line, family;
  while (std::getline(in, line)) {  /* every sample follows the TYPE line of its family */
    if (line.rfind("# TYPE ", 0) == 0) {
      family = line.substr(7, line.find(' ', 7) - 7);
    } else if (line[0] != '#') {
      EXPECT_EQ(line.rfind(family, 0), 0u) << line;
    }
  }
}

TEST(MonitorMetrics, PercentilesOfLatencies) {
  Percentiles p;
  EXPECT_EQ(p.quantileMs(0.99), 0);
  for (int i = 1; i <= 100; i++) p.add(i * 1000000LL);  /* 1 ms to 100 ms */
  EXPECT_NEAR(p.quantileMs(0.5), 50, 0.11);
  EXPECT_NEAR(p.quantileMs(0.99), 99, 0.11);
  EXPECT_NEAR(p.maxMs(), 100, 1e-9);
  p.add(60LL * 1000000000);  /* beyond the bins: counted, and the maximum */
  EXPECT_EQ(p.count(), 101u);
  EXPECT_NEAR(p.quantileMs(1.0), 60000, 1e-6);
}

/* The polls' start times: spread over the interval in 10 ms steps, so
 * that the chambers of one step share a turn of the loop and a sync. */
TEST(MonitorSchedule, PollsSpreadOverTheIntervalInStepsOfTenMilliseconds) {
  constexpr int64_t kMs = 1000000;
  struct Case {
    int i, count;
    int64_t everyMs, offsetMs;
  } cases[] = {
      {0, 1, 1000, 0},      {0, 1000, 1000, 0},  {9, 1000, 1000, 0},     {10, 1000, 1000, 10},
      {999, 1000, 1000, 990}, {1, 2, 200, 100},  {1, 3, 1000, 330},      {2, 3, 1000, 660},
      {7, 8, 50, 40},       {1, 7, 50, 0},       {4, 5, 86400000, 69120000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "chamber " << c.i << " of " << c.count << ", every " << c.everyMs << " ms");
    EXPECT_EQ(PollOffsetNs(c.i, c.count, c.everyMs * kMs), c.offsetMs * kMs);
  }
  int64_t before = -1;
  for (int i = 0; i < 1000; i++) {  /* in order, on the steps, within the interval */
    int64_t offset = PollOffsetNs(i, 1000, 1000 * kMs);
    ASSERT_GE(offset, before);
    ASSERT_EQ(offset % (10 * kMs), 0);
    ASSERT_LT(offset, 1000 * kMs);
    before = offset;
  }
}

TEST(MonitorSchedule, WakesEachIdOnceAtItsEarliestTimeInTimeOrder) {
  EnsureApp();
  constexpr int64_t kMs = 1000000;
  std::vector<int> woken;
  std::vector<int64_t> late;
  int64_t start = NowNs();
  const int64_t asked[3] = {5 * kMs, 10 * kMs, 20 * kMs};
  Schedule schedule(3, [&](int id, int64_t now) {
    woken.push_back(id);
    late.push_back(now - (start + asked[id]));
  });
  schedule.wake(0, start + 30 * kMs);
  schedule.wake(1, start + 10 * kMs);
  schedule.wake(2, start + 20 * kMs);
  schedule.wake(0, start + 5 * kMs);   /* earlier: this one counts, the one at 30 ms lapses */
  schedule.wake(1, start + 50 * kMs);  /* later while one at 10 ms waits: changes nothing */
  ASSERT_TRUE(WaitFor([&] { return woken.size() >= 3; }, 30000));
  WaitFor([] { return false; }, 100);  /* the lapsed times pass: they must wake nobody */
  EXPECT_EQ(woken, (std::vector<int>{0, 1, 2}));
  for (int64_t l : late) EXPECT_GE(l, 0) << "woken before its time";
}

}  // namespace
