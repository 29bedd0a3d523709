/*
 * journal.h -- the run journal: one JSON object a line, appended and
 * synced to the disk like the CSV file, so that a run killed at any moment
 * (kill -9, a power cut, a reboot) can go on where it was. The runner
 * (run.h) writes what it does; on start it reads back what was done.
 *
 * Every record carries "e" (what happened) and "wall" (UTC, ms since
 * 1970); the others their own fields (docs/runs.md). A last line torn by a
 * crash is cut off on opening, as in the CSV file. The journal is locked
 * while open: a second run on it is refused.
 */
#ifndef QUENTA_MONITOR_JOURNAL_H
#define QUENTA_MONITOR_JOURNAL_H

#include <stdint.h>

#include <QJsonObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace monitor {

class Journal {
 public:
  Journal() = default;
  ~Journal() { close(); }
  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;

  /* Opens path, creating it when missing, and reads its records. Returns
   * false with *error when it cannot be opened, read or locked, or holds a
   * line that is not a record (other than a torn last one, cut off). */
  bool open(const QString &path, QString *error);

  /* Reads every record of the journal at path into *out (a torn last
   * line left out). Returns false with *error when the file cannot be
   * read or a line is not a record. */
  static bool read(const QString &path, std::vector<QJsonObject> *out, QString *error);

  /* The records read by open(), oldest first. */
  const std::vector<QJsonObject> &records() const { return records_; }

  /* Appends record (with "wall" added) as one line; the sync thread puts
   * it on the disk. Returns false (and the record is lost) when the file
   * refused it; error() then says why. */
  bool append(QJsonObject record);

  /* Called with each record appended, on the appending thread. */
  std::function<void(const QJsonObject &)> onAppend;

  /* Waits until every record appended so far is on the disk (or a sync
   * failed); true when they are. */
  bool flush() const;

  /* Syncs what is left and closes the file. */
  void close();

  QString path() const { return path_; }
  QString error() const;

 private:
  void syncLoop();

  int fd_ = -1;
  QString path_;
  std::vector<QJsonObject> records_;
  std::thread syncer_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  mutable std::condition_variable done_;
  uint64_t written_ = 0, synced_ = 0;
  bool stopping_ = false, failed_ = false;
  QString error_;
};

}  // namespace monitor

#endif
