/*
 * run_main.cpp -- "quenta-monitor run": a profile on its chambers with one
 * poller, one CSV file, one journal and one metrics endpoint; the dry run
 * that only shows what would be written; the summary at the end.
 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>
#include <cmath>

#include "console.h"
#include "csv_log.h"
#include "http_server.h"
#include "journal.h"
#include "metrics.h"
#include "pages.h"
#include "run.h"
#include "run_commands.h"
#include "run_record.h"

namespace monitor {

namespace {

constexpr int kMinPollMs = 50;
constexpr int kStatusMs = 1000;
constexpr int kLogStatusMs = 60000;
constexpr int kRunCommandsMax = 16;  /* of one poll or ask: a step's writes and read-backs */

/* How long a step is expected to take, from the value before it (NaN
 * when unknown): a hold its time, a ramp its distance at its rate, a
 * wait for stability its window. */
double ExpectedSeconds(const Step &s, const double *before) {
  if (s.kind == StepKind::Hold) return static_cast<double>(s.holdMs) / 1000;
  if (s.kind == StepKind::WaitStable) return static_cast<double>(s.windowMs) / 1000;
  if (s.kind != StepKind::Ramp) return 0;
  if (s.rampMs > 0) return static_cast<double>(s.rampMs) / 1000;
  double longest = 0;
  for (const ChannelValue &t : s.targets) longest = std::max(longest, std::fabs(t.value - before[t.channel]) / s.rate * 60);
  return longest;
}

QString Hours(double seconds) {
  if (std::isnan(seconds)) return QStringLiteral("?");
  return QStringLiteral("%1 h %2 min").arg(static_cast<int64_t>(seconds / 3600)).arg(static_cast<int>(std::fmod(seconds, 3600) / 60));
}

/* --dry-run: the schedule, the expected duration and every command, and
 * nothing written anywhere. */
int DryRun(const Profile &profile) {
  double before[kAnalogueChannels];
  std::fill(std::begin(before), std::end(before), std::nan(""));
  double total = 0;
  printf("profile %s (%s, sha256 %s): %zu steps, polled every %g s\n", qPrintable(profile.name),
         qPrintable(profile.path), profile.sha256.constData(), profile.steps.size(), profile.pollMs / 1000.0);
  for (size_t k = 0; k < profile.steps.size(); k++) {
    const Step &s = profile.steps[k];
    double seconds = ExpectedSeconds(s, before);
    total += seconds;
    printf("%4zu  %-40s  expected %s", k + 1, qPrintable(s.label), qPrintable(Hours(seconds)));
    if (s.maxMs > 0) printf(", at most %s", qPrintable(Hours(s.maxMs / 1000.0)));
    printf("\n");
    for (const QByteArray &w : StepWrites(s)) printf("        writes %s\n", w.constData());
    if (s.kind == StepKind::Ramp && !s.byChamber)
      printf("        writes a%d ... at each poll, the set value the time calls for\n", s.targets.front().channel);
    for (const ChannelValue &t : s.targets) before[t.channel] = t.value;
  }
  printf("expected duration %s%s\n", qPrintable(Hours(total)),
         std::isnan(total) ? " (a ramp starts from a value the profile does not set: its time is not counted)" : "");
  return kExitOk;
}

/* Holds a lock per chamber address for this process, so that a second
 * run on one chamber from this machine is refused. Returns "" or why not. */
QString LockChambers(const QList<ChamberEntry> &chambers) {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  dir = dir.isEmpty() ? QStringLiteral("/tmp/quenta-monitor-%1").arg(getuid()) : dir + "/quenta-monitor";
  mkdir(dir.toLocal8Bit().constData(), 0700);
  for (const ChamberEntry &c : chambers) {
    QString name = dir + "/run-" + c.address().replace(':', '_').replace('[', '_').replace(']', '_') + ".lock";
    int fd = ::open(name.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return name + ": cannot lock the chamber: " + QString::fromLocal8Bit(strerror(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return c.name + ": another run is driving this chamber";
  }
  return QString();
}

/* Refuses a journal of a run with another profile, or of a run that has
 * ended on every chamber (a new run needs a new journal). */
QString CheckJournal(const Journal &journal, const Profile &profile, const RunOptions &o) {
  QSet<QString> ended, started;
  for (const QJsonObject &r : journal.records()) {
    if (r["e"] == "run" && r["sha256"].toString().toLatin1() != profile.sha256)
      return journal.path() + ": its run was made with another profile (sha256 " + r["sha256"].toString() +
             "); name another --journal and --csv for a new run";
    if (r["e"] == "step") started.insert(r["chamber"].toString());
    if (r["e"] == "end") ended.insert(r["chamber"].toString());
  }
  if (!started.isEmpty() && ended.size() >= o.chambers.size() && !o.abort)
    return journal.path() + ": its run has ended; name another --csv (or --journal) for a new run";
  return QString();
}

/* The run's own samples on the metrics page. */
void RenderRun(const Runner &runner, const Profile &profile, const Poller &poller, std::string &out) {
  auto family = [&](const char *name, const char *type, const char *help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  auto sample = [&](const char *name, const QByteArray &chamber, const QByteArray &more, double value) {
    out += name;
    out += "{chamber=\"";
    AppendLabelValue(chamber, out);
    out += "\",run=\"";
    AppendLabelValue(runner.runId().toUtf8(), out);
    out += "\"" + more.toStdString() + "} ";
    AppendNumber(value, out);
    out += '\n';
  };
  const auto &views = runner.views();
  family("quenta_run_step", "gauge", "The step the chamber's run is in, from 1 (label step: its name); 0 before the first.");
  for (size_t i = 0; i < views.size(); i++) {
    QByteArray label = views[i].step >= 0 ? profile.steps[static_cast<size_t>(views[i].step)].label.toUtf8() : QByteArray();
    std::string escaped;
    AppendLabelValue(label, escaped);
    sample("quenta_run_step", poller.stats()[i].name, ",step=\"" + QByteArray::fromStdString(escaped) + "\"", views[i].step + 1);
  }
  family("quenta_run_step_seconds_left", "gauge", "Hold time left, or time left before the step's limit.");
  for (size_t i = 0; i < views.size(); i++)
    if (views[i].stepLeftMs >= 0) sample("quenta_run_step_seconds_left", poller.stats()[i].name, "", views[i].stepLeftMs / 1000.0);
  family("quenta_run_in_band", "gauge", "1 when every banded channel of the step is in its band, else 0.");
  for (size_t i = 0; i < views.size(); i++) sample("quenta_run_in_band", poller.stats()[i].name, "", views[i].inBand ? 1 : 0);
  family("quenta_run_out_of_band_seconds_total", "counter", "Seconds out of band in steps with a band.");
  for (size_t i = 0; i < views.size(); i++)
    sample("quenta_run_out_of_band_seconds_total", poller.stats()[i].name, "", views[i].outOfBandMs / 1000.0);
  family("quenta_run_running", "gauge", "1 while the chamber's run goes on, 0 once it has ended.");
  for (size_t i = 0; i < views.size(); i++)
    sample("quenta_run_running", poller.stats()[i].name, "", views[i].status == RunStatus::Running ? 1 : 0);
  family("quenta_run_alarm", "gauge", "1 while the alarm is raised.");
  for (size_t i = 0; i < views.size(); i++)
    for (int k = 0; k < kAlarmKinds; k++)
      sample("quenta_run_alarm", poller.stats()[i].name, QByteArray(",alarm=\"") + AlarmName(k) + "\"", views[i].alarm[k] ? 1 : 0);
  family("quenta_run_alarms_total", "counter", "Alarms raised.");
  for (size_t i = 0; i < views.size(); i++)
    for (int k = 0; k < kAlarmKinds; k++)
      sample("quenta_run_alarms_total", poller.stats()[i].name, QByteArray(",alarm=\"") + AlarmName(k) + "\"",
             static_cast<double>(views[i].alarms[k]));
}

/* Writes the end summary of the run (run_record.h) to path. */
QString WriteSummary(const RunOptions &o, const Profile &profile, const Runner &runner, const Journal &journal) {
  journal.flush();
  RunFigures figures;
  QString error;
  std::vector<QJsonObject> records;
  if (!Journal::read(journal.path(), &records, &error) ||
      !ComputeRunFigures(o.csvPath, runner.runId(), profile, records, &figures, &error))
    return error;
  QFile file(o.summaryPath + ".part");
  QByteArray text = QJsonDocument(RunFiguresJson(figures, profile)).toJson(QJsonDocument::Indented);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() ||
      fdatasync(file.handle()) != 0) {
    return o.summaryPath + ": cannot write the summary: " + file.errorString();
  }
  file.close();
  if (!QFile::remove(o.summaryPath) && QFile::exists(o.summaryPath)) return o.summaryPath + ": cannot replace it";
  return QFile::rename(o.summaryPath + ".part", o.summaryPath) ? QString() : o.summaryPath + ": cannot write it";
}

/* The exit code of a run that ran: every chamber completed, or not. */
int RunExitCode(const Runner &runner, bool interrupted) {
  if (!runner.refusal().isEmpty()) return kExitRefused;
  if (interrupted) return kExitOk;
  for (const ChamberRunView &v : runner.views())
    if (v.status != RunStatus::Completed) return kExitAborted;
  return kExitOk;
}

}  // namespace

int RunRun(const RunOptions &o) {
  Profile profile;
  QString error, note;
  if (!LoadProfile(o.profilePath, &profile, &error)) {
    for (const QString &line : error.split('\n')) fprintf(stderr, "quenta-monitor: %s\n", qPrintable(line));
    return kExitUsage;
  }
  if (o.dryRun) return DryRun(profile);
  Console console(isatty(STDERR_FILENO) == 1);
  Journal journal;
  if (!journal.open(o.journalPath, &error)) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  QString refused = CheckJournal(journal, profile, o);
  if (refused.isEmpty()) refused = LockChambers(o.chambers);
  if (!refused.isEmpty()) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(refused));
    return kExitRefused;
  }
  CsvLog csv;
  CsvSettings csvSettings;
  csvSettings.syncIntervalMs = o.syncIntervalMs;
  csvSettings.header = kRunCsvHeader;
  if (!csv.open(o.csvPath, csvSettings, &error, &note)) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  if (!note.isEmpty()) console.log(note);
  PollSettings settings;
  settings.commands = {"Aa", "S"};
  settings.everyMs = std::max(kMinPollMs, static_cast<int>(profile.pollMs / o.timeScale));
  settings.timeoutMs = o.timeoutMs;
  settings.gapMs = o.gapMs;
  Poller poller(o.chambers, settings);
  RunSettings runSettings;
  runSettings.timeScale = o.timeScale;
  runSettings.onAlarm = o.onAlarm;
  runSettings.abortOnly = o.abort;
  Runner runner(profile, poller, journal, runSettings);
  MonitorStats stats;
  std::unique_ptr<Pages> pages;  /* before the server, whose workers use it */
  if (o.metrics) {
    pages = std::make_unique<Pages>(poller, PagesSettings{o.csvPath, RowDisorderMs(kRunCommandsMax, o.timeoutMs)});
    pages->setRun(runner, profile, journal);
  }
  HttpServer http;
  http.get("/metrics", kMetricsContentType, [&](std::string &out) {
    stats.startDelay = poller.startDelay();
    stats.csv = csv.counts();
    RenderMetrics(poller.stats(), stats, NowNs(), out);
    RenderRun(runner, profile, poller, out);
  });
  if (pages) pages->serve(http);
  if (o.metrics && !http.listen(o.metricsAddress, o.metricsPort, &error)) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  const QByteArray runId = [&] { runner.start(); return runner.runId().toUtf8(); }();
  std::string rows;
  poller.onResult = [&](const CommandResult &result) {
    CommandResult r = result;
    r.run = runId.constData();
    r.step = runner.stepNumber(r.chamberIndex);
    rows.clear();
    AppendRows(r, rows);
    csv.append(rows);
    if (pages) pages->take(r);
    runner.take(r);
  };
  bool interrupted = false;
  runner.onLog = [&](const QString &line) { console.log(line); };
  runner.onFinished = [&] { poller.stop(); };
  poller.onStopped = [] { QCoreApplication::exit(0); };
  csv.onEvent = [&](const QString &message, bool fatal) {
    console.log(message);
    if (fatal) poller.stop();
  };
  SignalWatch watch([&](int count) {
    interrupted = true;
    console.log(count > 1 ? "second signal: stopping at once" : "interrupted: run the same command to resume");
    if (count > 1) QCoreApplication::exit(kExitSetup);
    else poller.stop();
  }, [&] { csv.reopen(); });
  QTimer status;
  QObject::connect(&status, &QTimer::timeout, [&] {
    int running = 0;
    for (const ChamberRunView &v : runner.views()) running += v.status == RunStatus::Running;
    QString line = QStringLiteral("run %1: %2 of %3 chambers running, %4 up, %5 rows")
                       .arg(runner.runId()).arg(running).arg(runner.views().size()).arg(poller.chambersUp()).arg(csv.counts().synced);
    if (console.terminal()) console.status(line);
    else console.log(line);
  });
  status.start(console.terminal() ? kStatusMs : kLogStatusMs);
  console.log(QStringLiteral("run %1 of %2 on %3 chambers").arg(runner.runId(), profile.name).arg(o.chambers.size()));
  poller.start();
  int code = QCoreApplication::exec();
  csv.close();
  journal.flush();
  console.finish();
  if (!runner.refusal().isEmpty()) {
    for (const QString &line : runner.refusal().trimmed().split('\n')) fprintf(stderr, "quenta-monitor: refused: %s\n", qPrintable(line));
    return kExitRefused;
  }
  QString summary = WriteSummary(o, profile, runner, journal);
  if (!summary.isEmpty()) fprintf(stderr, "quenta-monitor: %s\n", qPrintable(summary));
  else fprintf(stderr, "quenta-monitor: summary in %s\n", qPrintable(o.summaryPath));
  if (csv.counts().lost > 0) return kExitRowsLost;
  return code != 0 ? code : RunExitCode(runner, interrupted);
}

}  // namespace monitor
