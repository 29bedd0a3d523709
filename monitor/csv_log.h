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
 *   power loss   every row synced is on the disk. By default the sync
 *                thread syncs as soon as rows have been written, and one
 *                sync covers every row written while the one before ran
 *                (group commit), so only the rows of the sync in flight
 *                are at risk. With a sync interval (--sync-interval MS)
 *                it syncs at most once per interval, and the rows of the
 *                last interval are at risk. A tail the crash tore, or
 *                filled with zero bytes, is cut off at the last line end
 *                when the file is next opened, and reported.
 * A row counts as written (rowsSynced) only once a sync covered it.
 * Two monitors never share a file: the file is locked (flock) while open.
 */
#ifndef QUENTA_MONITOR_CSV_LOG_H
#define QUENTA_MONITOR_CSV_LOG_H

#include <stdint.h>

#include <QString>
#include <atomic>
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
   * left empty). syncIntervalMs: the least time between two syncs, 0 to
   * sync as soon as rows have been written. */
  bool open(const QString &path, int syncIntervalMs, QString *error, QString *note);

  /* Writes rows (whole lines, each ending in "\n") at the end of the file
   * in one write and hands them to the sync thread. Returns true, or false
   * with *error when the file refused them; a part that was written is
   * then cut off again, so the file still ends with a whole row. */
  bool append(const std::string &rows, QString *error);

  /* Stops the sync thread, syncs what is left and closes the file. */
  void close();

  bool isOpen() const { return fd_ >= 0; }

  /* Rows a sync has put on the disk since open(); any thread may ask. */
  uint64_t rowsSynced() const { return synced_.load(std::memory_order_relaxed); }
  /* Syncs that failed since open() (their rows may be lost on a power
   * loss), and the last one's message ("" before any). */
  uint64_t syncErrors() const { return syncErrors_.load(std::memory_order_relaxed); }
  /* Syncs made since open(), failed ones too. */
  uint64_t syncs() const { return syncs_.load(std::memory_order_relaxed); }
  QString lastSyncError();

 private:
  bool prepare(const QString &path, QString *error, QString *note);
  void syncLoop();
  void settle(uint64_t rows, int error);

  int fd_ = -1;
  int syncIntervalMs_ = 0;
  QString path_;
  std::thread syncer_;
  std::mutex mutex_;             /* guards what follows, up to the atomics */
  std::condition_variable wake_;
  uint64_t written_ = 0;         /* rows written since open() */
  uint64_t settled_ = 0;         /* rows whose sync has ended, well or not */
  bool stopping_ = false;
  QString lastSyncError_;
  std::atomic<uint64_t> synced_{0};
  std::atomic<uint64_t> syncErrors_{0};
  std::atomic<uint64_t> syncs_{0};
};

}  // namespace monitor

#endif
