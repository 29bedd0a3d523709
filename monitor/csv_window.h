/*
 * csv_window.h -- one chamber's rows in a window of time, read from the
 * monitor's CSV file (rows.h) on an HTTP worker, for the pages' trends
 * older than memory and for /csv: the window found by a binary search on
 * the rows' times, then read in parts of kCsvReadBytes, never the whole
 * file into memory.
 *
 * Rows are appended as results end, each with the time its command was
 * written or fell due, so their times are in order only to within the
 * longest a result takes (CsvWindow::disorderMs): the search starts before
 * a row older than the window by that much, and the reading stops at a row
 * newer than it by that much. Rows further out of order (results of polls
 * skipped while the monitor stalled longer, a clock set back) may be
 * missed at the window's edges.
 */
#ifndef QUENTA_MONITOR_CSV_WINDOW_H
#define QUENTA_MONITOR_CSV_WINDOW_H

#include <stdint.h>

#include <functional>
#include <string>

#include "history.h"

namespace monitor {

constexpr size_t kCsvReadBytes = 1 << 20;

struct CsvWindow {
  std::string chamberField;  /* the chamber's name as its CSV field (AppendNameField) */
  int64_t from = 0, to = 0;  /* ms since 1970: from <= time < to */
  int64_t disorderMs = 0;
};

/* A row (without its line end) and its time; false stops the reading. */
using CsvRowFn = std::function<bool(const char *line, size_t length, int64_t t)>;

class CsvWindowReader {
 public:
  CsvWindowReader() = default;
  ~CsvWindowReader();
  CsvWindowReader(const CsvWindowReader &) = delete;
  CsvWindowReader &operator=(const CsvWindowReader &) = delete;

  /* Opens the file at path as it is now and reads its header; false with
   * *error when it cannot. */
  bool open(const std::string &path, std::string *error);
  /* The file's first line, with its line end. */
  const std::string &header() const { return header_; }
  /* Calls row for each row of w's chamber and window, in file order.
   * False with *error when the file could not be read to the end. */
  bool read(const CsvWindow &w, const CsvRowFn &row, std::string *error);

 private:
  bool lineAfter(int64_t at, int64_t end, int64_t *line, int64_t *t);
  int64_t findStart(int64_t target);

  int fd_ = -1;
  int64_t size_ = 0;
  std::string header_;
};

/* The time of a row ("2024-05-01T12:00:00.123Z,...") in ms since 1970;
 * false when the row does not begin with one. */
bool ParseRowTime(const char *line, size_t length, int64_t *ms);

/* Adds a row of the chamber to trend: answered or not (the outages) and
 * its actual or set value of channels 0 to 4. */
void AddCsvRow(const char *line, size_t length, int64_t t, Trend &trend);

}  // namespace monitor

#endif
