/*
 * run_test.cpp -- test runs: profiles read or refused with their place,
 * and real profiles run by the built quenta-monitor against the simulator
 * at speed 600: a door opened during a hold (guaranteed soak), a write the
 * chamber ignores, a profile outside the chamber's limits, kill -9 and
 * resume, the dry run; wait-stable's exit codes; the report's figures
 * against the CSV file. Addresses 127.0.60.1 to 127.0.60.39 and
 * 127.0.88.1, port 1080.
 */
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "monitor_support.h"
#include "profile.h"

namespace {

using namespace monitor;

constexpr int kWaitMs = 60000;
constexpr double kScale = 600;

TEST(RunProfile, ReadOrSayWhereItIsWrong) {
  struct Case {
    const char *text;
    const char *error;  /* "" when the profile is good */
  } cases[] = {
      {"[[step]]\nhold = \"16h\"\nband = { temperature = 3 }\n", ""},
      {"poll = \"5x\"\n[[step]]\nset = { 0 = 1 }\n", "p.toml:1:8: poll needs a duration"},
      {"[[step]]\nset = { oven = 3 }\n", "p.toml:2:16: set: \"oven\" is no channel"},
      {"[[step]]\nset = { temperature = 2000 }\n", "p.toml:2:23: set needs a number from -99.9 to 999.9"},
      {"[[step]]\nramp = { 0 = 1 }\nbogus = 3\n", "p.toml:3:9: a ramp step has no \"bogus\""},
      {"[[step]]\nramp = { 0 = 1 }\n", "p.toml:1:1: a ramp needs either rate"},
      {"[[step]]\nhold = \"1h\"\nmax = \"2h\"\non_timeout = \"goto:nowhere\"\n", "p.toml:4:14: goto: no step named \"nowhere\""},
      {"[[step]]\nset = { 0 = 1 }\nhold = 5\n", "a step does one thing"},
      {"[[step]]\nwait_stable = { 0 = 1 }\nwindow = 60\ndrift = 0.1\n", "wait_stable needs a timeout"},
      {"[[step]]\ndigital = { start = 1 }\n", "p.toml:2:21: digital: \"start\" needs to be one of"},
      {"[[step]]\nhold = 5\nguaranteed = true\n", "guaranteed soak needs a band"},
      {"x = [", "p.toml:1:6: "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Profile p;
    QString error;
    EXPECT_EQ(ParseProfile(c.text, "p.toml", &p, &error), *c.error == 0);
    EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
  }
  QDir examples(QStringLiteral(QUENTA_SOURCE_DIR "/docs/profiles"));
  const QStringList files = examples.entryList({"*.toml"});
  EXPECT_EQ(files.size(), 5);
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    Profile p;
    QString error;
    EXPECT_TRUE(LoadProfile(examples.filePath(name), &p, &error)) << error.toStdString();
  }
}

/* A run's files in a directory of its own. */
struct RunFiles {
  QTemporaryDir dir;
  QString profile() const { return dir.filePath("p.toml"); }
  QString csv() const { return dir.filePath("p.csv"); }
  QJsonObject summary() const {
    QFile f(dir.filePath("p.csv.summary.json"));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
  }
  std::vector<QJsonObject> journal(const char *event) const {
    std::vector<QJsonObject> out;
    QFile f(dir.filePath("p.csv.journal"));
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
      QJsonObject r = QJsonDocument::fromJson(line).object();
      if (r["e"] == event) out.push_back(r);
    }
    return out;
  }
  QStringList args(const QString &address) const {
    return {"run", profile(), address, "--csv", csv(), "--time-scale", QString::number(kScale)};
  }
};

/* The longest time, in run seconds, between two polls of step (from 1)
 * in the run's CSV file: the resolution of every figure of the step,
 * however busy the machine was. */
double Resolution(const QString &csv, int step) {
  QFile file(csv);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  double longest = 0;
  QDateTime last;
  for (const QByteArray &line : file.readAll().split('\n')) {
    std::vector<std::string> f = ParseCsvLine(line.toStdString());
    if (f.size() != 13 || f[3] != "Aa" || f[12] != std::to_string(step)) continue;
    QDateTime t = QDateTime::fromString(QString::fromStdString(f[0]), Qt::ISODateWithMs);
    if (last.isValid()) longest = std::max(longest, last.msecsTo(t) / 1000.0 * kScale);
    last = t;
  }
  return longest;
}

/* The summary's figures of step (from 1) of the one chamber. */
QJsonObject StepOf(const QJsonObject &summary, int step) {
  for (const QJsonValue &s : summary["chambers"][0]["steps"].toArray())
    if (s["step"].toInt() == step) return s.toObject();
  return QJsonObject();
}

/* Seconds of run time between a step's first and last poll. */
double RunSeconds(const QJsonObject &step) {
  QDateTime a = QDateTime::fromString(step["start"].toString(), Qt::ISODateWithMs);
  QDateTime b = QDateTime::fromString(step["end"].toString(), Qt::ISODateWithMs);
  return static_cast<double>(a.msecsTo(b)) / 1000 * kScale;
}

const char kHeatAndSoak[] =
    "poll = \"10s\"\n"
    "[[step]]\ndigital = { start = true }\n"
    "[[step]]\nname = \"heat\"\nramp = { temperature = 40.0 }\nrate = 5.0\nband = { temperature = 1.0 }\nmax = \"1h\"\n"
    "[[step]]\nname = \"soak\"\nhold = \"1h\"\nband = { temperature = 1.0 }\nmax = \"5h\"\n";

/* A door opened for 5 minutes of the hour's hold, the chamber heating at
 * most 2 K/min with noise: the hold's clock stops while out of band, so
 * the step lasts the hold and the time out of band, and the summary
 * computed from the CSV file says the same as the runner. */
TEST(RunAtSpeed, GuaranteedSoakServesTheHoldInBandOnly) {
  RunFiles f;
  ASSERT_TRUE(WriteFile(f.profile(), kHeatAndSoak));
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.60.1", {"--speed", "600", "--heat-rate", "2", "--noise", "0.2"}));
  ASSERT_TRUE(mon.startMonitor(f.args("127.0.60.1")));
  ASSERT_TRUE(WaitFor([&] { return mon.errors().contains("step 3: soak"); }, kWaitMs)) << mon.errors().toStdString();
  ASSERT_TRUE(WaitFor([&] { return !f.journal("hold").empty() && f.journal("hold").back()["held"].toDouble() > 600000; }, kWaitMs));
  ASSERT_TRUE(sim.control("door 1 open"));
  ASSERT_TRUE(WaitFor([&] { return f.journal("hold").back()["out"].toDouble() > 300000; }, kWaitMs));
  ASSERT_TRUE(sim.control("door 1 closed"));
  ASSERT_TRUE(WaitFor([&] { return !mon.running(); }, kWaitMs));
  EXPECT_EQ(mon.terminate(), 0) << mon.errors().toStdString();
  const QJsonObject held = f.journal("hold").back();
  const double out = held["out"].toDouble() / 1000, poll = Resolution(f.csv(), 3);
  EXPECT_GE(held["held"].toDouble() / 1000, 3600);
  EXPECT_LE(held["held"].toDouble() / 1000, 3600 + poll) << "served within one poll";
  QJsonObject soak = StepOf(f.summary(), 3);
  EXPECT_NEAR(soak["seconds_out_of_band"].toDouble(), out, 2 * poll) << "the summary, from the CSV file";
  EXPECT_NEAR(RunSeconds(soak), 3600 + out, 3 * poll) << "the step lasted the hold and the time out";
  EXPECT_GT(out, 300);
  EXPECT_EQ(f.summary()["chambers"][0]["status"].toString(), "completed");
  EXPECT_TRUE(soak["alarms"].toArray().contains("out_of_band"));
}

/* The report of a run with a door opened during its hold: its figures
 * (per step minimum, maximum, mean and seconds out of band; the rows'
 * SHA-256) computed again from the CSV file by a script of its own, and
 * its plots drawn by a browser. Address 127.0.88.1. */
TEST(RunAtSpeed, ReportShowsTheFiguresOfTheCsvFile) {
  RunFiles f;
  ASSERT_TRUE(WriteFile(f.profile(), kHeatAndSoak));
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.88.1", {"--speed", "600", "--heat-rate", "2", "--noise", "0.2"}));
  ASSERT_TRUE(mon.startMonitor(f.args("127.0.88.1")));
  ASSERT_TRUE(WaitFor([&] { return !f.journal("hold").empty() && f.journal("hold").back()["held"].toDouble() > 600000; }, kWaitMs));
  ASSERT_TRUE(sim.control("door 1 open"));
  ASSERT_TRUE(WaitFor([&] { return f.journal("hold").back()["out"].toDouble() > 120000; }, kWaitMs));
  ASSERT_TRUE(sim.control("door 1 closed"));
  ASSERT_TRUE(WaitFor([&] { return !mon.running(); }, kWaitMs));
  const QString html = f.dir.filePath("report.html");
  RunResult r = RunMonitor({"report", f.csv(), "--out", html});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QProcess check;
  check.start("python3", {QUENTA_SOURCE_DIR "/tests/report_check.py", f.csv(), html});
  ASSERT_TRUE(check.waitForFinished(kWaitMs));
  EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString() << check.readAllStandardError().toStdString();
  QTemporaryDir browserData;  /* every plot drawn by a browser, under the report's own Content-Security-Policy */
  QProcess browser;
  browser.start("chromium", {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                             "--disable-background-networking", "--disable-component-update", "--disable-sync",
                             "--user-data-dir=" + browserData.path(), "--dump-dom", "file://" + html});
  ASSERT_TRUE(browser.waitForStarted(kWaitMs)) << "chromium is missing: scripts/install-deps.sh test installs it";
  ASSERT_TRUE(browser.waitForFinished(kWaitMs));
  const QByteArray dom = browser.readAllStandardOutput();
  EXPECT_GT(dom.count("<div class=\"trend\""), 0) << dom.toStdString();
  EXPECT_EQ(dom.count("<div class=\"uplot"), dom.count("<div class=\"trend\""));
}

/* The runs that must end before their profile does, each with its exit
 * code and what the chamber and the record show. */
TEST(RunAtSpeed, RefusedOrAbortedRunsSayWhyAndWriteNoMore) {
  struct Case {
    const char *address, *control, *profile;
    int code;
    const char *message;
    bool anyWrite;
    const char *alarmed;  /* what --on-alarm's command saw in its environment; "" without */
  } cases[] = {
      {"127.0.60.10", "", "[[step]]\nname = \"freeze\"\nset = { temperature = -90.0 }\n", 10,
       "p.toml:3:23: step \"freeze\": temperature -90 is outside its manual limits", false, ""},
      {"127.0.60.11", "ignore 1", "on_abort = \"keep\"\n[[step]]\nset = { temperature = 30.0 }\n", 11,
       "alarm write raised: \"a0 030.0\" did not take after 4 writes", true, "write raised 1 127.0.60.11:1080\n"},
      {"127.0.60.12", "", "[[step]]\nname = \"heat\"\nramp = { temperature = 180.0 }\nrate = 0.1\nmax = \"10m\"\n", 11,
       "step 1 (heat) took longer than 600 s; the chamber was stopped", true, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    RunFiles f;
    ASSERT_TRUE(WriteFile(f.profile(), c.profile));
    Child sim;
    ASSERT_TRUE(sim.startSim(c.address, {"--speed", "600"}));
    if (*c.control) {
      ASSERT_TRUE(sim.control(c.control));
    }
    const QString alarms = f.dir.filePath("alarms");
    const QString hook = "echo \"$QUENTA_ALARM $QUENTA_ALARM_STATE $QUENTA_STEP $QUENTA_CHAMBER\" >> '" + alarms + "'";
    RunResult r = RunMonitor(f.args(c.address) + QStringList{"--on-alarm", hook}, kWaitMs);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    QByteArray log = sim.output();
    bool wrote = QRegularExpression("<< [adus][0-9]").match(QString::fromLatin1(log)).hasMatch();
    EXPECT_EQ(wrote, c.anyWrite) << log.toStdString();
    QFile seen(alarms);
    EXPECT_TRUE(WaitFor([&] { return seen.exists() == (*c.alarmed != 0); }, kWaitMs));
    if (*c.alarmed && seen.open(QIODevice::ReadOnly)) {
      EXPECT_EQ(seen.readAll(), QByteArray(c.alarmed));
    }
  }
  /* A second run on a chamber that a run drives is refused before it
   * writes anything. */
  RunFiles first, second;
  ASSERT_TRUE(WriteFile(first.profile(), "[[step]]\nhold = \"10h\"\n"));
  ASSERT_TRUE(WriteFile(second.profile(), "[[step]]\nset = { temperature = 30.0 }\n"));
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.60.13", {"--speed", "600"}));
  ASSERT_TRUE(mon.startMonitor(first.args("127.0.60.13")));
  ASSERT_TRUE(WaitFor([&] { return mon.errors().contains("step 1"); }, kWaitMs));
  RunResult r = RunMonitor(second.args("127.0.60.13"), kWaitMs);
  EXPECT_EQ(r.code, 10) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("127.0.60.13:1080: another run is driving this chamber")) << r.err.toStdString();
  EXPECT_FALSE(sim.output().contains("<< a0")) << "the second run wrote";
}

/* Killed three times at different moments of a two-hour hold, and
 * started again each time by the same command: every step entered once,
 * the hold served within one poll, the time away out of band. */
TEST(RunAtSpeed, KillNineAndTheSameCommandResumes) {
  RunFiles f;
  ASSERT_TRUE(WriteFile(f.profile(), QByteArray(kHeatAndSoak).replace("hold = \"1h\"", "hold = \"2h\"")));
  Child sim;
  ASSERT_TRUE(sim.startSim("127.0.60.20", {"--speed", "600"}));
  double away = 0;
  for (int round = 0; round < 3; round++) {
    SCOPED_TRACE(round);
    Child mon;
    ASSERT_TRUE(mon.startMonitor(f.args("127.0.60.20")));
    const double after = 900000.0 * (round + 1) + 131000 * round;  /* a different moment each time */
    ASSERT_TRUE(WaitFor([&] { return !f.journal("hold").empty() && f.journal("hold").back()["held"].toDouble() > after; }, kWaitMs));
    mon.kill9();
  }
  RunResult r = RunMonitor(f.args("127.0.60.20"), kWaitMs);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  for (const QJsonObject &o : f.journal("outage")) away += (o["t"].toDouble() - o["from"].toDouble()) / 1000;
  EXPECT_EQ(f.journal("outage").size(), 3u);
  std::vector<int> steps;
  for (const QJsonObject &s : f.journal("step")) steps.push_back(s["step"].toInt());
  EXPECT_EQ(steps, (std::vector<int>{0, 1, 2})) << "every step entered once";
  EXPECT_EQ(f.journal("write").size(), 4u) << "s1 1, u0, d0, a0: none written again";
  const QJsonObject held = f.journal("hold").back();
  const double poll = Resolution(f.csv(), 3);
  EXPECT_GE(held["held"].toDouble() / 1000, 7200);
  EXPECT_LE(held["held"].toDouble() / 1000, 7200 + poll) << "served within one poll";
  EXPECT_GE(held["out"].toDouble() / 1000, away - 0.001) << "the time away counts out of band";
  EXPECT_NEAR(StepOf(f.summary(), 3)["seconds_out_of_band"].toDouble(), held["out"].toDouble() / 1000, 2 * poll);
}

TEST(RunAtSpeed, DryRunShowsEveryCommandAndTouchesNothing) {
  RunFiles f;
  ASSERT_TRUE(WriteFile(f.profile(), kHeatAndSoak));
  RunResult r = RunMonitor({"run", f.profile(), "--dry-run", "--csv", f.csv()});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  for (const char *line : {"writes s1 1", "writes u0 05.00", "writes d0 05.00", "writes a0 040.0", "expected duration"})
    EXPECT_TRUE(r.out.contains(line)) << line << "\n" << r.out.toStdString();
  EXPECT_FALSE(QFile::exists(f.csv())) << "a dry run writes nothing";
}

TEST(WaitStable, ExitCodesSayHowItEnded) {
  Child steady, noisy, stopped;
  ASSERT_TRUE(steady.startSim("127.0.60.30", {"--speed", "600"}));
  ASSERT_TRUE(noisy.startSim("127.0.60.31", {"--speed", "600", "--noise", "2"}));
  ASSERT_TRUE(stopped.startSim("127.0.60.32", {"--speed", "600"}));
  ASSERT_EQ(RunMonitor({"send", "127.0.60.30", "a0 025.0"}).code, 0);
  ASSERT_EQ(RunMonitor({"send", "127.0.60.31", "a0 025.0"}).code, 0);
  ASSERT_EQ(RunMonitor({"send", "127.0.60.32", "s1 0"}).code, 0);
  struct Case {
    const char *address;
    int code;
    const char *message;
  } cases[] = {
      {"127.0.60.30", 0, "stable"},
      {"127.0.60.31", 8, "not stable within 1200 s"},
      {"127.0.60.32", 9, "the chamber is stopped"},
      {"127.0.60.33", 3, "no answer from the chamber"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    RunResult r = RunMonitor({"wait-stable", c.address, "--channel", "0", "--band", "0.5", "--window", "600", "--timeout",
                              "1200", "--time-scale", QString::number(kScale), "--every", "10"}, kWaitMs);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE((r.out + r.err).contains(c.message)) << r.out.toStdString() << r.err.toStdString();
  }
}

}  // namespace
