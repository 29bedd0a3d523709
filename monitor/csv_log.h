/*
 * csv_log.h -- the CSV file that keeps every result: opened for appending
 * only, never truncated but for a torn last row, each result's rows
 * written in one write() straight to the file (no buffer in this process),
 * and synced to the disk by a thread of its own so that the event loop
 * never waits for the disk.
 *
 * What survives what:
 *   kill -9      every write() that returned is in the file; a result in
 *                flight is either whole or absent.
 *   power loss   every row synced is on the disk; the sync thread syncs
 *                when rows were written, at most once per sync interval
 *                (--sync-interval, default 1 s; 0 syncs as soon as rows
 *                are written, which costs the disk and the CPU far more),
 *                so only the rows of the last interval are at risk. A tail
 *                the crash tore, or filled with zero bytes, is cut off at
 *                the last line end when the file is next opened, and
 *                reported.
 * Two monitors never share a file: the file is locked (flock) while open.
 */
#ifndef QUENTA_MONITOR_CSV_LOG_H
#define QUENTA_MONITOR_CSV_LOG_H

#include <QString>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace monitor {

class CsvLog {
 public:
  CsvLog() = default;
  ~CsvLog() { close(); }
  CsvLog(const CsvLog &) = delete;
  CsvLog &operator=(const CsvLog &) = delete;

  /* Opens path for appending, creating it with the header when it is
   * missing or empty. Refuses (false, *error) a file whose first line is
   * not the header, one that is no regular file, and one another process
   * holds. A torn last row is cut off, and *note then says so (else it is
   * left empty). syncIntervalMs: the least time between two syncs. */
  bool open(const QString &path, int syncIntervalMs, QString *error, QString *note);

  /* Writes rows (whole lines) at the end of the file in one write. Returns
   * true, or false with *error when the file refused them; a part that was
   * written is then cut off again, so the file still ends with a whole row. */
  bool append(const std::string &rows, QString *error);

  /* Stops the sync thread, syncs what is left and closes the file. */
  void close();

  bool isOpen() const { return fd_ >= 0; }

 private:
  bool prepare(const QString &path, QString *error, QString *note);
  void syncLoop();

  int fd_ = -1;
  int syncIntervalMs_ = 0;
  std::thread syncer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool dirty_ = false;
  bool stopping_ = false;
};

}  // namespace monitor

#endif
