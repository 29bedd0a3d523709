/*
 * pages.h -- the browser pages and their JSON API at the address of
 * --metrics (docs/api.md): the room (/), one chamber (/chamber), their
 * scripts and styles and uPlot (/static/NAME, the Qt resources ":/web/"),
 * /api/v1/chambers, /api/v1/series, /api/v1/runs, /csv, and the hook of
 * the run report (/report). All of it read-only.
 *
 * /api/v1/chambers and /api/v1/runs are made on the event loop from what
 * the poller and the runner hold; everything that reads a file (the
 * series older than memory, /csv, the report) and the static files on the
 * HTTP worker, at most kCsvReadersMax at once, so that no page ever holds
 * up the polls.
 */
#ifndef QUENTA_MONITOR_PAGES_H
#define QUENTA_MONITOR_PAGES_H

#include <stdint.h>

#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "history.h"
#include "http_server.h"
#include "journal.h"
#include "poller.h"
#include "profile.h"
#include "run.h"
#include "run_pages.h"

namespace monitor {

constexpr int kCsvReadersMax = 2;       /* requests reading the CSV file at once; more get 503 */
constexpr int kSeriesPointsMax = 10000;

struct PagesSettings {
  QString csvPath;           /* the monitor's CSV file; empty: none */
  int64_t disorderMs = 0;    /* how far out of time order its rows may be (csv_window.h) */
};

/* How far out of time order the rows of a monitor polling commands with
 * timeoutMs may be: a poll's commands each waiting for the timeout, and a
 * minute more. */
int64_t RowDisorderMs(int commands, int timeoutMs);

class Pages {
 public:
  /* The pages of poller's chambers, from now on (created before
   * poller.start()). */
  Pages(const Poller &poller, const PagesSettings &settings);
  ~Pages();

  /* In a run: the run's steps and alarms from journal (its records, then
   * every one appended), /api/v1/runs, each chamber's run. Before
   * runner.start(); runner, profile and journal outlive this. */
  void setRun(const Runner &runner, const Profile &profile, Journal &journal);

  /* Registers every page on http (before http.listen()). */
  void serve(HttpServer &http);

  /* A poller's result, on the event loop: into the history. */
  void take(const CommandResult &r) { history_.add(r); }

  /* The report of run id as an HTML page into response, on an HTTP worker
   * (monitor/report.h sets it, before http.listen()); unset, /report
   * answers 404. */
  std::function<void(const std::string &runId, HttpResponse &response)> report;

  struct Resource {
    std::string contentType;
    std::string bytes;
  };

 private:
  void chambers(std::string &out) const;
  void series(const HttpRequest &request, HttpResponse &response) const;
  void csv(const HttpRequest &request, HttpResponse &response) const;
  void resource(const std::string &name, HttpResponse &response) const;
  bool chamberOf(const std::map<std::string, std::string> &query, int *index, HttpResponse &response) const;
  bool readTrend(int chamber, Trend &trend, const char **source, std::string *error) const;

  const Poller &poller_;
  PagesSettings settings_;
  History history_;
  std::vector<std::string> names_;               /* the chambers' names, in the poller's order */
  std::map<std::string, int> index_;              /* chamber name to its place */
  std::map<std::string, Resource> resources_;    /* /static/NAME */
  const Runner *runner_ = nullptr;
  const Profile *profile_ = nullptr;
  std::unique_ptr<RunEvents> events_;
  Journal *journal_ = nullptr;
  mutable std::atomic<int> readers_{0};
};

}  // namespace monitor

#endif
