/*
 * main.cpp -- quenta-monitor: polls climate test chambers in the Quenta
 * ASCII protocol, keeps every result in a CSV file and serves Prometheus
 * metrics; or, as "quenta-monitor send", sends commands once. Options and
 * exit codes: options.h, --help, docs/monitor.md.
 */
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <string>

#include "console.h"
#include "csv_log.h"
#include "epoll_dispatcher.h"
#include "http_server.h"
#include "metrics.h"
#include "open_files.h"
#include "options.h"
#include "pages.h"
#include "poller.h"
#include "run_commands.h"
#include "send.h"

namespace {

using namespace monitor;

constexpr int kStatusMs = 1000;          /* status line redraw on a terminal */
constexpr int kLogStatusMs = 60000;      /* status as a log line elsewhere */
constexpr qint64 kSpareFiles = 256;      /* descriptors beyond one per chamber */
constexpr size_t kRowsReserve = 65536;
constexpr int64_t kTimerMaxMs = 86400000;    /* longest single wait of the --duration timer */

QString StatusLine(const Poller &poller, const CsvCounts &csv, const QString &lastError) {
  int up = poller.chambersUp();
  int all = static_cast<int>(poller.stats().size());
  QString line = QStringLiteral("%1 up, %2 down, %3 rows").arg(up).arg(all - up).arg(csv.synced);
  if (csv.waitingRows > 0) line += QStringLiteral(" (%1 waiting)").arg(csv.waitingRows);
  if (csv.lost > 0) line += QStringLiteral(", %1 rows lost").arg(csv.lost);
  if (!lastError.isEmpty()) line += ", last error: " + lastError;
  return line;
}

void PrintSummary(const Poller &poller, const CsvCounts &csv) {
  uint64_t commands = 0, answers = 0;
  for (const ChamberStats &s : poller.stats()) {
    commands += s.commands;
    answers += s.answers;
  }
  const Percentiles &rt = poller.roundTrips();
  const Percentiles &sd = poller.startDelays();
  fprintf(stderr,
          "quenta-monitor: %llu commands, %llu answered, %llu rows synced, %llu rows lost; round trip "
          "p50 %.1f ms, p99 %.1f ms, max %.1f ms; poll start delay p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
          static_cast<unsigned long long>(commands), static_cast<unsigned long long>(answers),
          static_cast<unsigned long long>(csv.synced), static_cast<unsigned long long>(csv.lost),
          rt.quantileMs(0.5), rt.quantileMs(0.99),
          rt.maxMs(), sd.quantileMs(0.5), sd.quantileMs(0.99), sd.maxMs());
}

int RunMonitor(const MonitorOptions &o) {
  Console console(isatty(STDERR_FILENO) == 1);
  const qint64 files = o.chambers.size() + kSpareFiles;
  if (eventloop::RaiseOpenFileLimit(files) < files)
    console.log(QStringLiteral("warning: the open-file limit is below %1; some chambers will "
                               "fail to connect").arg(files));
  Poller poller(o.chambers, PollSettings{o.commands, o.everyMs, o.timeoutMs, o.gapMs});
  MonitorStats stats;
  QString error, note, lastError;
  CsvLog csv;
  std::unique_ptr<Pages> pages;  /* before the server, whose workers use it */
  if (o.metrics)
    pages = std::make_unique<Pages>(poller, PagesSettings{o.csvPath, RowDisorderMs(static_cast<int>(o.commands.size()), o.timeoutMs)});
  HttpServer http;
  http.get("/metrics", kMetricsContentType, [&](std::string &out) {
    stats.startDelay = poller.startDelay();
    stats.csv = csv.counts();
    RenderMetrics(poller.stats(), stats, NowNs(), out);
  });
  if (pages) pages->serve(http);
  if (o.metrics && !http.listen(o.metricsAddress, o.metricsPort, &error)) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  const CsvSettings csvSettings{o.syncIntervalMs, static_cast<uint64_t>(o.queueLimitBytes)};
  if (!o.csvPath.isEmpty() && !csv.open(o.csvPath, csvSettings, &error, &note)) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  if (!note.isEmpty()) console.log(note);
  csv.onEvent = [&](const QString &message, bool fatal) {
    console.log(message);
    lastError = message;
    if (fatal) poller.stop();
  };

  std::string rows;
  rows.reserve(kRowsReserve);
  poller.onResult = [&](const CommandResult &r) {
    if (pages) pages->take(r);
    if (!csv.isOpen()) return;
    rows.clear();
    AppendRows(r, rows);
    csv.append(rows);
  };
  poller.onChange = [&](int i, bool up, const QString &why) {
    const ChamberStats &s = poller.stats()[static_cast<size_t>(i)];
    QString who = QString::fromUtf8(s.name);
    if (s.name != s.address) who += " (" + QString::fromUtf8(s.address) + ")";
    console.log(up ? who + " is up" : who + " is down: " + why);
    if (!up) lastError = QString::fromUtf8(s.name) + ": " + why;
  };
  poller.onStopped = [] { QCoreApplication::exit(kExitOk); };
  SignalWatch watch([&](int count) {
    if (count > 1) {
      console.log("second signal: stopping without waiting for the polls in flight");
      QCoreApplication::exit(kExitSetup);
      return;
    }
    console.log("stopping: ending the polls in flight");
    poller.stop();
  }, [&] { csv.reopen(); });
  QTimer status;
  QObject::connect(&status, &QTimer::timeout, [&] {
    if (console.terminal()) console.status(StatusLine(poller, csv.counts(), lastError));
    else console.log(StatusLine(poller, csv.counts(), lastError));
  });
  status.start(console.terminal() ? kStatusMs : kLogStatusMs);
  /* --duration may exceed what one QTimer can wait (2^31 ms, 24.8 days):
   * the timer waits in parts until the end is reached. */
  QTimer duration;
  duration.setSingleShot(true);
  const int64_t stopAtNs = NowNs() + o.durationMs * kNsPerMs;
  QObject::connect(&duration, &QTimer::timeout, [&] {
    int64_t leftMs = (stopAtNs - NowNs() + kNsPerMs - 1) / kNsPerMs;
    if (leftMs > 0) duration.start(static_cast<int>(std::min<int64_t>(leftMs, kTimerMaxMs)));
    else poller.stop();
  });
  if (o.durationMs > 0) duration.start(static_cast<int>(std::min<int64_t>(o.durationMs, kTimerMaxMs)));

  console.log(QStringLiteral("polling %1 chambers every %2 s").arg(o.chambers.size()).arg(o.everyMs / 1000.0));
  poller.start();
  int code = QCoreApplication::exec();
  csv.close();
  const CsvCounts kept = csv.counts();
  console.finish();
  PrintSummary(poller, kept);
  return kept.lost > 0 || kept.failed ? kExitRowsLost : code;
}

}  // namespace

int main(int argc, char *argv[]) {
  signal(SIGPIPE, SIG_IGN);
  /* epoll: a turn of the loop costs in proportion to the ready sockets, not
   * to all the chambers' sockets as with Qt's own poll() dispatchers. */
  QCoreApplication::setEventDispatcher(new eventloop::EpollDispatcher);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("quenta-monitor");
  QCoreApplication::setApplicationVersion(QUENTA_VERSION);
  Invocation invocation;
  QString error;
  if (!ParseArguments(app.arguments().mid(1), &invocation, &error)) {
    for (const QString &line : error.split('\n'))
      fprintf(stderr, "quenta-monitor: %s\n", qPrintable(line));
    fprintf(stderr, "Try 'quenta-monitor --help'.\n");
    return kExitUsage;
  }
  switch (invocation.action) {
    case Action::Help:
      fputs(UsageText(), stdout);
      return kExitOk;
    case Action::Version:
      printf("quenta-monitor %s\n", qPrintable(QCoreApplication::applicationVersion()));
      return kExitOk;
    case Action::Send:
      return RunSend(invocation.send);
    case Action::Run:
      return RunRun(invocation.run);
    case Action::WaitStable:
      return RunWaitStable(invocation.wait);
    case Action::Monitor:
      break;
  }
  return RunMonitor(invocation.monitor);
}
