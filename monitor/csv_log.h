/*
 * csv_log.h -- the CSV file that keeps every result. The event loop hands
 * each result's rows over (append) and goes on; the rows are written at
 * the file's end in one write() on the event loop's thread, and a thread
 * of its own syncs them to the disk, one sync taking every row written
 * while the one before ran (group commit), so that the loop never waits
 * for the disk. A row counts as kept (CsvCounts::synced) only once a sync
 * covered it and the file synced was not deleted.
 *
 * Rows wait in memory, in order and bounded by CsvSettings::queueLimit,
 * while the file cannot take them: the disk is full (they are written as
 * soon as there is room: at each new result and each second), or the file
 * is being opened again. Written rows are kept in memory too until synced,
 * so that they can be written again (with a sync interval, a sync comes
 * early once they fill half the bound):
 *   a failed sync   the file is opened again, cut back to its length at
 *                   the last good sync, the rows are written again and
 *                   synced; after kSyncFailuresMax failures in a row the
 *                   writer gives up (CsvCounts::failed) and says so;
 *   deleted file    the path is opened again (a new file, with the header)
 *                   and the rows written since the last check go into it;
 *   renamed file    (or reopen(), for SIGHUP) its rows stay in it, synced
 *                   there; the path is opened again for the rows after.
 * Rows beyond the bound are dropped and counted (CsvCounts::lost), as are
 * rows that are not on the disk when the writer closes.
 *
 * On open, a torn last row (a crash) is cut off; a file that cannot be
 * read is refused, never changed. Two monitors never share a file: it is
 * locked (flock) while open.
 */
#ifndef QUENTA_MONITOR_CSV_LOG_H
#define QUENTA_MONITOR_CSV_LOG_H

#include <stdint.h>

#include <QString>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "csv_file.h"
#include "file_env.h"
#include "metrics.h"
#include "rows.h"

namespace monitor {

constexpr uint64_t kDefaultQueueLimit = 256ull << 20;
constexpr int kSyncFailuresMax = 5;  /* failed syncs (or reopens) in a row before giving up */

struct CsvSettings {
  int syncIntervalMs = 0;                   /* least time between two syncs; 0: as soon as rows are written */
  uint64_t queueLimit = kDefaultQueueLimit; /* bytes of rows waiting in memory at most */
  const char *header = kCsvHeader;          /* the file's first line: kCsvHeader, or kRunCsvHeader for a run */
};

class CsvLog {
 public:
  explicit CsvLog(FileEnv *env = FileEnv::System());
  ~CsvLog();
  CsvLog(const CsvLog &) = delete;
  CsvLog &operator=(const CsvLog &) = delete;

  /* Opens path (see OpenCsvFile) and starts the sync thread. Returns true,
   * or false with *error; *note says what was repaired, else is empty. */
  bool open(const QString &path, const CsvSettings &settings, QString *error, QString *note);

  /* Hands over one result's rows: whole lines, each ending in "\n". They
   * are written now when the file takes them, else wait (or are dropped
   * beyond the bound); either way onEvent says so once. */
  void append(const std::string &rows);

  /* Opens the path again (SIGHUP, after logrotate renamed the file): the
   * rows so far stay in the file open now, synced there. */
  void reopen();

  /* Writes what waits while the file takes it, waits for the last syncs
   * (or for the writer to give up), and closes the file. Rows not on the
   * disk then count as lost. */
  void close();

  bool isOpen() const { return open_; }
  CsvCounts counts() const;

  /* Called on the event loop with what the operator must read (rows
   * waiting, dropped, written again, a sync failed, the file reopened);
   * fatal when the writer gave up, so that the monitor stops. */
  std::function<void(const QString &message, bool fatal)> onEvent;

 private:
  enum class Mode { kWriting, kHandover, kRepairing };
  /* Why the file is opened again; a later one wins over an earlier one. */
  enum class Reason { kNone, kHangup, kRenamed, kDeleted, kSyncFailed };

  /* The event loop's side: csv_log.cpp. */
  bool admit(const std::string &rows);
  void drain();
  bool writeFront(int fd);
  void tick();
  void finish();
  void refused(int error);
  void roomAgain();
  void tell(const QString &message, bool fatal = false);
  void deliver();
  /* The sync thread's side: csv_sync.cpp. */
  void syncLoop();
  void syncOnce(std::unique_lock<std::mutex> &lock);
  void repair(std::unique_lock<std::mutex> &lock);
  void retire(std::unique_lock<std::mutex> &lock, Reason why);
  bool reopenFile(std::unique_lock<std::mutex> &lock, QString *error);
  void attemptFailed(std::unique_lock<std::mutex> &lock, const QString &why);
  void settle(size_t results);
  void handOver(Reason why);
  void post(const QString &message, bool fatal = false);

  FileEnv *env_;
  QString path_;
  CsvSettings settings_;
  bool open_ = false;
  QTimer timer_;              /* each second on the loop: rows written again, events told */
  ByteRate rate_;             /* rows handed over; the loop's alone */
  bool refusing_ = false;     /* a write was refused and the rows have not all been written since */
  bool dropping_ = false;     /* rows were dropped since refusing_ began */
  uint64_t lostBefore_ = 0;   /* rows lost when refusing_ began */
  std::thread syncer_;
  mutable std::mutex mutex_;  /* guards what follows */
  std::condition_variable wake_;     /* the sync thread waits on it */
  std::condition_variable changed_;  /* close() waits on it */
  OpenedCsv file_;                   /* length: as of the last good sync */
  RowQueue queue_;                   /* rows not yet written; the loop writes its front unlocked */
  RowQueue written_;                 /* rows written and not yet synced */
  Mode mode_ = Mode::kWriting;
  Reason reason_ = Reason::kNone;
  bool closing_ = false, stopping_ = false;
  int failuresInARow_ = 0;
  std::vector<std::pair<QString, bool>> events_;  /* for onEvent, from the sync thread */
  CsvCounts counts_;
};

}  // namespace monitor

#endif
