/*
 * csv_log.cpp -- the CSV file's writer on the event loop's side (see
 * csv_log.h): rows admitted to memory or dropped, written oldest first one
 * result a write, written again when there is room, the operator told,
 * and the end. The sync thread's side is csv_sync.cpp.
 */
#include "csv_log.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "clock.h"

namespace monitor {

namespace {

constexpr int kTickMs = 1000;  /* rows refused are tried again at least this often */

}  // namespace

CsvLog::CsvLog(FileEnv *env) : env_(env) { timer_.callOnTimeout([this] { tick(); }); }

bool CsvLog::open(const QString &path, const CsvSettings &settings, QString *error, QString *note) {
  close();
  OpenedCsv file;
  if (!OpenCsvFile(*env_, path, settings.header, &file, error, note)) return false;
  path_ = path;
  settings_ = settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = file;
    mode_ = Mode::kWriting;
    reason_ = Reason::kNone;
    closing_ = stopping_ = false;
    failuresInARow_ = 0;
    counts_ = CsvCounts();
  }
  rate_ = ByteRate();
  refusing_ = dropping_ = false;
  lostBefore_ = 0;
  open_ = true;
  syncer_ = std::thread([this] { syncLoop(); });
  timer_.start(kTickMs);
  return true;
}

void CsvLog::append(const std::string &rows) {
  if (!open_ || rows.empty()) return;
  rate_.add(rows.size(), NowNs());
  if (!admit(rows) && !dropping_) {
    dropping_ = true;
    tell(QStringLiteral("%1: the rows waiting fill --queue-limit (%2): rows are lost from now on until the "
                        "file takes rows again (quenta_monitor_csv_rows_dropped_total counts them)")
             .arg(path_, Megabytes(settings_.queueLimit)));
  }
  drain();
}

/* Puts rows at the end of the queue. Returns false when they were
 * dropped instead: they do not fit beside the rows already waiting (rows
 * alone always fit, however long). */
bool CsvLog::admit(const std::string &rows) {
  const auto count = static_cast<uint32_t>(std::count(rows.begin(), rows.end(), '\n'));
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t waiting = queue_.bytes() + written_.bytes();
  if (waiting > 0 && waiting + rows.size() > settings_.queueLimit) {
    counts_.lost += count;
    return false;
  }
  queue_.push(rows.data(), rows.size(), count);
  return true;
}

/* Writes the rows waiting, oldest first, while the file takes them and is
 * not being opened again; hands the file to the sync thread when it asks.
 * Tells the operator once the rows that waited for room are written. */
void CsvLog::drain() {
  for (;;) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (mode_ == Mode::kHandover) {  /* this thread is not writing now: the file is the sync thread's */
        mode_ = Mode::kRepairing;
        wake_.notify_all();
      }
      if (mode_ != Mode::kWriting || queue_.empty()) break;
      fd = file_.fd;
    }
    if (!writeFront(fd)) return;
  }
  /* Rows dropped while written rows wait for a slow sync end there too,
   * once half the bound is free again, so that each drop is not told. */
  if ((refusing_ || dropping_) && queue_.empty() && counts().waitingBytes <= settings_.queueLimit / 2) roomAgain();
}

/* Writes the first result waiting in one write and moves it to the rows
 * waiting for their sync. Returns false when the file refused it: the
 * part written is cut off again, and the result stays first in line. */
bool CsvLog::writeFront(int fd) {
  const size_t length = queue_.frontLength();
  const size_t done = WriteAll(*env_, fd, queue_.data(), length);
  if (done < length) {
    const int error = errno;
    if (done > 0) CutTail(*env_, fd, done);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      counts_.writeErrors++;
    }
    refused(error);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    written_.push(queue_.data(), length, queue_.frontRows());
    queue_.pop(1);
  }
  wake_.notify_all();
  return true;
}

/* The file refused rows (errno error): the first time since all rows were
 * written, tells how long rows can wait at the rate they come. */
void CsvLog::refused(int error) {
  if (refusing_) return;
  refusing_ = true;
  const double rate = rate_.perSecond(NowNs());
  tell(QStringLiteral("%1: rows not written: %2. They wait in memory, in order, and are written as soon as "
                      "there is room: up to %3 (--queue-limit), %4 at the current %5/s")
           .arg(path_, QString::fromLocal8Bit(strerror(error)), Megabytes(settings_.queueLimit),
                LastsFor(settings_.queueLimit, rate), Megabytes(static_cast<uint64_t>(rate))));
}

/* Every row that waited is written: says so, with the rows lost meanwhile. */
void CsvLog::roomAgain() {
  const uint64_t lost = counts().lost;
  QString message = refusing_ ? path_ + ": room again: the rows that waited are written"
                              : path_ + ": the rows waiting fit in memory again";
  if (lost > lostBefore_) message += QStringLiteral("; %1 rows were lost meanwhile").arg(lost - lostBefore_);
  lostBefore_ = lost;
  refusing_ = dropping_ = false;
  tell(message);
}

void CsvLog::tell(const QString &message, bool fatal) {
  if (onEvent) onEvent(message, fatal);
}

/* Each second, and when the sync thread asks: rows waiting are tried
 * again, and what the sync thread has to say is told. */
void CsvLog::tick() {
  if (!open_) return;
  drain();
  deliver();
}

void CsvLog::deliver() {
  std::vector<std::pair<QString, bool>> events;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events.swap(events_);
  }
  for (const auto &[message, fatal] : events) tell(message, fatal);
}

void CsvLog::reopen() {
  if (!open_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (counts_.failed) return;
  reason_ = std::max(reason_, Reason::kHangup);
  mode_ = Mode::kRepairing;  /* this thread is not writing now: the sync thread may take the file at once */
  wake_.notify_all();
}

CsvCounts CsvLog::counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  CsvCounts c = counts_;
  c.waitingRows = queue_.rows() + written_.rows();
  c.waitingBytes = queue_.bytes() + written_.bytes();
  return c;
}

/* At close: writes the rows waiting while the file takes them, and waits
 * until every row written is synced, or the writer gave up. */
void CsvLog::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  closing_ = true;
  wake_.notify_all();
  bool refusedNow = false;
  while (!counts_.failed) {
    if (mode_ == Mode::kHandover) {
      mode_ = Mode::kRepairing;
      wake_.notify_all();
    }
    const bool writing = mode_ == Mode::kWriting;
    if (writing && !queue_.empty() && !refusedNow) {
      lock.unlock();
      drain();
      lock.lock();
      refusedNow = mode_ == Mode::kWriting && !queue_.empty();
    } else if (writing && written_.empty()) {
      break;
    } else {
      changed_.wait(lock);
    }
  }
}

void CsvLog::close() {
  if (!open_) return;
  timer_.stop();
  finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  syncer_.join();
  uint64_t lost = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost = queue_.rows() + written_.rows();
    counts_.lost += lost;
    queue_.clear();
    written_.clear();
    if (file_.fd >= 0) env_->close(file_.fd);
    file_.fd = -1;
  }
  open_ = false;
  deliver();
  if (lost > 0) tell(QStringLiteral("%1: %2 rows are not on the disk: lost").arg(path_).arg(lost));
}

CsvLog::~CsvLog() {
  onEvent = nullptr;  /* what it would tell may be gone already */
  close();
}

}  // namespace monitor
