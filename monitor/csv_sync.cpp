/*
 * csv_sync.cpp -- the CSV file's writer on its sync thread (see
 * csv_log.h): group commit, the check that the path still names the file
 * synced, and opening the path again with the rows kept in memory written
 * into it. Only this thread closes or replaces the file, and only while
 * the event loop has handed it over (Mode::kRepairing): no write and no
 * sync ever meets a descriptor closed or swapped under it.
 */
#include <errno.h>
#include <string.h>

#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <chrono>

#include "csv_log.h"

namespace monitor {

namespace {

constexpr int kRetryMs = 1000;  /* rest after a failed attempt to open the file again */

QString ErrorText(int error) { return QString::fromLocal8Bit(strerror(error)); }

/* Opens path again. When it is still the file open before, cuts it back
 * to that file's length at its last good sync; should someone else have
 * cut it shorter, leaves it so, and notes it. Returns true with *now (its
 * length: where the rows kept in memory go), or false with *error (now->fd
 * may then be open, for the caller to close). */
bool OpenAgain(FileEnv &env, const QString &path, const char *header, const OpenedCsv &before, OpenedCsv *now,
               QString *error, QStringList *notes) {
  QString note;
  if (!OpenCsvFile(env, path, header, now, error, &note)) return false;
  if (!note.isEmpty()) notes->append(note);
  if (now->device != before.device || now->inode != before.inode) return true;
  const off_t length = CutBack(env, now->fd, before.length);
  if (length < 0) {
    *error = SystemError(path, "cannot cut the CSV file back to the rows synced");
    return false;
  }
  if (length < before.length)
    notes->append(QStringLiteral("%1 is %2 bytes shorter than the rows synced to it: another process cut it; "
                                 "the rows go on at its end").arg(path).arg(static_cast<qint64>(before.length - length)));
  now->length = length;
  return true;
}

}  // namespace

void CsvLog::syncLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (counts_.failed || mode_ == Mode::kHandover || (mode_ == Mode::kWriting && written_.empty())) wake_.wait(lock);
    else if (mode_ == Mode::kRepairing) repair(lock);
    else syncOnce(lock);
  }
}

/* Syncs the rows written so far and checks that the path still names the
 * file synced: then they count as synced. After a failed sync or with the
 * file deleted they do not, and the file is asked of the loop, to open the
 * path again; so too when it was renamed. Called with the lock held; syncs
 * without it. */
void CsvLog::syncOnce(std::unique_lock<std::mutex> &lock) {
  const size_t results = written_.results();
  const int fd = file_.fd;
  lock.unlock();
  const int error = env_->fdatasync(fd) == 0 ? 0 : errno;
  const FileFate fate = error ? FileFate::kSame : CheckPath(*env_, fd, path_);
  lock.lock();
  counts_.syncs++;
  if (error) {
    counts_.syncErrors++;
    failuresInARow_++;
    post(QStringLiteral("%1: a sync to the disk failed (%2), %3 in a row: the %4 rows written since the last good "
                        "sync are written again").arg(path_, ErrorText(error)).arg(failuresInARow_).arg(written_.rows()));
    handOver(Reason::kSyncFailed);
  } else if (fate == FileFate::kDeleted) {
    handOver(Reason::kDeleted);
  } else {
    settle(results);
    if (fate == FileFate::kRenamed) handOver(Reason::kRenamed);
    else if (settings_.syncIntervalMs > 0)
      wake_.wait_for(lock, std::chrono::milliseconds(settings_.syncIntervalMs), [this] {
        return stopping_ || closing_ || mode_ != Mode::kWriting || written_.bytes() >= settings_.queueLimit / 2;
      });
  }
}

/* Opens the path again, the loop's writes paused, and writes the rows kept
 * in memory into it: after a failed sync, a deleted or renamed file, or
 * SIGHUP. Called with the lock held and the file handed over. */
void CsvLog::repair(std::unique_lock<std::mutex> &lock) {
  static const char *const kDone[] = {
      "", "%1: opened again (SIGHUP)",
      "%1 was renamed or moved: the rows written so far stay in it; writing on in a new %1",
      "%1 was deleted: writing on in a new %1, with the %2 rows written since the last check written again",
      "%1: opened again after a failed sync; the %2 rows since the last good sync written again and synced"};
  const Reason why = reason_;
  const uint64_t rows = written_.rows();
  if (file_.fd >= 0) retire(lock, why);
  QString error;
  if (!reopenFile(lock, &error)) {
    attemptFailed(lock, error);
    return;
  }
  mode_ = Mode::kWriting;
  reason_ = Reason::kNone;
  counts_.reopens++;
  changed_.notify_all();
  post(QString::fromLatin1(kDone[static_cast<int>(why)]).replace("%1", path_).replace("%2", QString::number(rows)));
}

/* Lets go of the open file. After a rename or SIGHUP the rows written to
 * it stay there: they are synced first, and count as synced when that
 * works. After a failed sync or a deletion nothing in it since the last
 * good sync is trusted: the rows kept in memory go into the next file. */
void CsvLog::retire(std::unique_lock<std::mutex> &lock, Reason why) {
  const int fd = file_.fd;
  const size_t results = written_.results();
  const bool keep = why == Reason::kRenamed || why == Reason::kHangup;
  file_.fd = -1;
  lock.unlock();
  const int error = keep && env_->fdatasync(fd) != 0 ? errno : 0;
  env_->close(fd);
  lock.lock();
  if (!keep) return;
  counts_.syncs++;
  if (error == 0) {
    settle(results);
    return;
  }
  counts_.syncErrors++;
  post(QStringLiteral("%1: the last sync before opening it again failed (%2): its %3 rows not synced are written "
                      "again into the file opened next").arg(path_, ErrorText(error)).arg(written_.rows()));
}

/* Opens the path (OpenAgain), writes the rows kept in memory at its end
 * and syncs them. Returns true with the file in file_ and the rows
 * settled, or false with *error. Works without the lock: while the file
 * is handed over the loop neither writes nor touches written_. */
bool CsvLog::reopenFile(std::unique_lock<std::mutex> &lock, QString *error) {
  const OpenedCsv before = file_;
  const size_t results = written_.results();
  lock.unlock();
  OpenedCsv now;
  QStringList notes;
  bool ok = OpenAgain(*env_, path_, settings_.header, before, &now, error, &notes);
  if (ok && WriteAll(*env_, now.fd, written_.data(), written_.bytes()) < written_.bytes()) {
    *error = SystemError(path_, "cannot write the rows kept in memory again");
    ok = false;
  }
  const int syncError = ok && env_->fdatasync(now.fd) != 0 ? errno : 0;
  lock.lock();
  for (const QString &note : notes) post(note);
  if (now.fd >= 0) file_ = now;  /* a failed attempt's file is let go by the next */
  if (ok) counts_.syncs++;
  if (syncError) {
    counts_.syncErrors++;
    *error = path_ + ": the sync of the rows written again failed: " + ErrorText(syncError);
    return false;
  }
  if (ok) settle(results);
  return ok;
}

/* An attempt to open the file again failed (why): rests a second before
 * the next, or gives up after kSyncFailuresMax failures in a row. */
void CsvLog::attemptFailed(std::unique_lock<std::mutex> &lock, const QString &why) {
  reason_ = Reason::kSyncFailed;  /* nothing this attempt wrote is trusted */
  if (++failuresInARow_ < kSyncFailuresMax) {
    post(why + QStringLiteral(" (%1 failures in a row; trying again in a second)").arg(failuresInARow_));
    wake_.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return stopping_; });
    return;
  }
  counts_.failed = true;
  changed_.notify_all();
  post(QStringLiteral("%1: giving up on the CSV file after %2 failures in a row (last: %3); the rows not on the "
                      "disk are lost; stopping").arg(path_).arg(kSyncFailuresMax).arg(why), true);
}

/* The first results results written are synced: they count as kept, and
 * the file's length at its last good sync grows by them. Lock held. */
void CsvLog::settle(size_t results) {
  uint64_t bytes = 0, rows = 0;
  written_.measure(results, &bytes, &rows);
  written_.pop(results);
  file_.length += static_cast<off_t>(bytes);
  counts_.synced += rows;
  failuresInARow_ = 0;
  changed_.notify_all();
}

/* Asks the loop for the file, to open the path again (why); a reason
 * given earlier and weightier stays. Lock held. */
void CsvLog::handOver(Reason why) {
  reason_ = std::max(reason_, why);
  if (mode_ == Mode::kWriting) mode_ = Mode::kHandover;
  changed_.notify_all();
  QMetaObject::invokeMethod(&timer_, [this] { tick(); }, Qt::QueuedConnection);
}

/* Keeps message for onEvent, and has the loop tell it (and write the rows
 * waiting) soon. Lock held. */
void CsvLog::post(const QString &message, bool fatal) {
  events_.emplace_back(message, fatal);
  QMetaObject::invokeMethod(&timer_, [this] { tick(); }, Qt::QueuedConnection);
}

}  // namespace monitor
