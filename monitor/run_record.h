/*
 * run_record.h -- what a run did, computed again from its record: the
 * rows of the run in the CSV file, the profile, and the journal. The end
 * summary of "quenta-monitor run" and the report are made from it, so
 * that every figure they show can be computed again from the CSV file by
 * anyone (docs/runs.md says how).
 *
 * Per chamber and step: start and end, and per analogue channel the
 * minimum, maximum and mean of the actual values answered; the seconds out
 * of band (the interval from one poll of "Aa" to the next counts as the
 * first poll was: out of band when it was not answered or a banded channel
 * was more than its band from the set value it reported; the time the run
 * was away, from the journal, counts out of band); interruptions (polls
 * not answered, in a row counting once, and the run being away); alarms
 * raised (from the journal). Over the whole run: the SHA-256 of the bytes
 * of its rows, in file order with their line ends, per chamber and in all.
 * For the report, each step's trend too: its polls gathered into at most
 * a plot's width of buckets, each keeping the smallest and largest actual
 * value and the last set value, so that a plot shows every peak.
 *
 * The CSV file is read once, in large blocks, each row split in place
 * and each result's time parsed once: a 1,000-hour run's gigabyte takes
 * seconds (docs/performance.md).
 */
#ifndef QUENTA_MONITOR_RUN_RECORD_H
#define QUENTA_MONITOR_RUN_RECORD_H

#include <stdint.h>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "profile.h"

namespace monitor {

struct ChannelFigures {
  double min = 0, max = 0, sum = 0;
  uint64_t count = 0;
  double mean() const { return count ? sum / static_cast<double>(count) : 0; }
};

/* One bucket of a trend: the answered polls that fell into it; NaN where
 * a channel had none. */
struct StepTrendBucket {
  uint32_t polls = 0, answered = 0;
  bool gapBefore = false;             /* the polls before it stopped for a while (the run away) */
  double min[kAnalogueChannels], max[kAnalogueChannels], set[kAnalogueChannels];
};

/* A step's polls over time in buckets of bucketMs from originMs (wall
 * clock); the bucket doubles whenever the polls would need more than
 * limit buckets, so that there are never more than limit. */
struct StepTrend {
  int64_t originMs = -1, bucketMs = 1;
  size_t limit = 0;                   /* 0: no trend kept */
  std::vector<StepTrendBucket> buckets;
};

struct StepFigures {
  int step = 0;                       /* from 1 */
  QString label;
  int64_t startMs = -1, endMs = -1;   /* wall clock, ms since 1970: the first and last poll */
  ChannelFigures channel[kAnalogueChannels];
  double outOfBandSeconds = 0;
  int interruptions = 0;
  std::vector<QString> alarms;        /* "out_of_band", ... as raised */
  uint64_t samples = 0;
  StepTrend trend;
};

struct ChamberFigures {
  QString chamber;
  QString status;                     /* from the journal's end, "running" when none */
  std::vector<StepFigures> steps;     /* in the order entered */
  uint64_t rows = 0;
  QByteArray sha256;                  /* hexadecimal, of this chamber's rows */
};

struct RunFigures {
  QString runId;
  std::vector<ChamberFigures> chambers;
  uint64_t rows = 0;
  QByteArray sha256;                  /* of all the run's rows */
  double timeScale = 1;
  int64_t lastRowMs = -1;             /* the time of the last result read */
};

/* Reads the run runId from the CSV file at csvPath (the run layout) with
 * the profile and the journal's records; with trendPoints > 0, each
 * step's trend in at most that many buckets. Returns true, or false with
 * *error when the file cannot be read or is not a run's CSV file. */
bool ComputeRunFigures(const QString &csvPath, const QString &runId, const Profile &profile,
                       const std::vector<QJsonObject> &journal, RunFigures *out, QString *error,
                       size_t trendPoints = 0);

/* The figures as the JSON of the end summary (docs/runs.md); without the
 * chambers when withChambers is false, for writing them one at a time
 * (ChamberFiguresJson) where there are many. */
QJsonObject RunFiguresJson(const RunFigures &figures, const Profile &profile, bool withChambers = true);
QJsonObject ChamberFiguresJson(const ChamberFigures &chamber);

}  // namespace monitor

#endif
