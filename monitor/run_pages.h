/*
 * run_pages.h -- what the pages show of the run the monitor drives
 * (docs/api.md): each chamber's steps as it entered them and its alarms as
 * raised and cleared, taken from the run's journal records (those read on
 * opening, then each one appended), for the series; the profile's steps
 * and where each chamber is, for /api/v1/runs and /api/v1/chambers.
 * Records come on the event loop, series are made on the HTTP workers: one
 * mutex.
 */
#ifndef QUENTA_MONITOR_RUN_PAGES_H
#define QUENTA_MONITOR_RUN_PAGES_H

#include <stdint.h>

#include <QHash>
#include <QJsonObject>
#include <mutex>
#include <string>
#include <vector>

#include "metrics.h"
#include "profile.h"
#include "run.h"

namespace monitor {

class RunEvents {
 public:
  /* For the chambers (in the poller's order) of a run of profile, which
   * must outlive this. */
  RunEvents(const Profile &profile, const std::vector<ChamberStats> &chambers);

  /* One journal record: a step entered, an alarm, a chamber's end. */
  void take(const QJsonObject &record);

  /* Appends the members "steps" and "alarms" (each after a comma) of
   * chamber's series over [from, to). */
  void appendSeries(int chamber, int64_t from, int64_t to, std::string &out) const;

 private:
  struct Entered {
    int64_t wall;
    int step;  /* from 0; -1: the chamber's run ended */
  };
  struct Alarm {
    int64_t wall;
    int kind;
    bool raised;
  };

  void appendSteps(const std::vector<Entered> &steps, int64_t from, int64_t to, std::string &out) const;

  const Profile &profile_;
  QHash<QString, int> index_;
  std::vector<std::vector<Entered>> steps_;
  std::vector<std::vector<Alarm>> alarms_;
  mutable std::mutex mutex_;
};

/* Appends the page /api/v1/runs of the run runner drives. */
void AppendRuns(const Runner &runner, const Profile &profile, const std::vector<ChamberStats> &chambers,
                std::string &out);

/* Appends chamber i's "run" member (after a comma) and "alarms" for
 * /api/v1/chambers. */
void AppendChamberRun(const ChamberRunView &view, const Profile &profile, std::string &out);

}  // namespace monitor

#endif
