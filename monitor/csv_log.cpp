/*
 * csv_log.cpp -- the CSV file (see csv_log.h): opening with the header
 * check and the repair of a torn tail, whole-row appends, and the sync
 * thread.
 */
#include "csv_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <algorithm>
#include <chrono>

#include "rows.h"

namespace monitor {

namespace {

constexpr size_t kScanChunk = 65536;  /* bytes read at a time looking for the last line end */
constexpr int kRetryMs = 1000;         /* least rest after a failed sync */

QString SystemError(const QString &path, const char *what) {
  return QStringLiteral("%1: %2: %3").arg(path, what, QString::fromLocal8Bit(strerror(errno)));
}

/* Writes all of bytes at the file's end; returns the count written, which
 * is less than length only when the file refused the rest (errno set). */
size_t WriteAll(int fd, const char *bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd, bytes + done, length - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
  return done;
}

/* Cuts the last bytes bytes off the file: the part of rows that a failed
 * write left. Should that fail too, the next open cuts the torn row. */
void CutTail(int fd, size_t bytes) {
  struct stat st;
  if (fstat(fd, &st) != 0 || ftruncate(fd, st.st_size - static_cast<off_t>(bytes)) != 0) return;
}

/* Syncs the directory that holds path, so that a file just created is
 * still found after a power loss. */
void SyncDirectory(const QString &path) {
  QByteArray dir = QFileInfo(path).absolutePath().toLocal8Bit();
  int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

/* The offset just after the last line end before size, or -1 when there
 * is none. */
off_t AfterLastLineEnd(int fd, off_t size) {
  char chunk[kScanChunk];
  for (off_t end = size; end > 0;) {
    off_t start = end > static_cast<off_t>(kScanChunk) ? end - static_cast<off_t>(kScanChunk) : 0;
    ssize_t n = pread(fd, chunk, static_cast<size_t>(end - start), start);
    if (n != end - start) return -1;
    for (ssize_t i = n - 1; i >= 0; i--)
      if (chunk[i] == '\n') return start + i + 1;
    end = start;
  }
  return -1;
}

}  // namespace

bool CsvLog::open(const QString &path, int syncIntervalMs, QString *error, QString *note) {
  close();
  note->clear();
  QByteArray name = path.toLocal8Bit();
  fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    *error = SystemError(path, "cannot open the CSV file");
    return false;
  }
  if (!prepare(path, error, note)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  syncIntervalMs_ = syncIntervalMs;
  path_ = path;
  stopping_ = false;
  written_ = settled_ = 0;
  lastSyncError_.clear();
  synced_ = 0;
  syncErrors_ = 0;
  syncs_ = 0;
  syncer_ = std::thread([this] { syncLoop(); });
  return true;
}

/* Locks the file, checks its header or writes it, and cuts a torn tail. */
bool CsvLog::prepare(const QString &path, QString *error, QString *note) {
  struct stat st;
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": the CSV file must be a regular file";
    return false;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    *error = path + ": another process is writing this CSV file";
    return false;
  }
  const size_t headerLength = strlen(kCsvHeader);
  char head[sizeof kCsvHeader];
  ssize_t n = pread(fd_, head, headerLength, 0);
  bool tornHeader = n >= 0 && static_cast<off_t>(n) == st.st_size && n < static_cast<ssize_t>(headerLength) &&
                    memcmp(head, kCsvHeader, static_cast<size_t>(n)) == 0;
  if (st.st_size == 0 || tornHeader) {
    if (ftruncate(fd_, 0) != 0 || WriteAll(fd_, kCsvHeader, headerLength) != headerLength) {
      *error = SystemError(path, "cannot write the CSV header");
      return false;
    }
    fsync(fd_);
    SyncDirectory(path);
    return true;
  }
  if (n != static_cast<ssize_t>(headerLength) || memcmp(head, kCsvHeader, headerLength) != 0) {
    *error = path + ": its first line is not this monitor's CSV header; refusing to append "
                    "to it (name another file)";
    return false;
  }
  off_t keep = AfterLastLineEnd(fd_, st.st_size);
  if (keep < static_cast<off_t>(headerLength)) keep = static_cast<off_t>(headerLength);
  if (keep < st.st_size) {
    if (ftruncate(fd_, keep) != 0) {
      *error = SystemError(path, "cannot cut the torn last row");
      return false;
    }
    fsync(fd_);
    *note = QStringLiteral("%1: cut off a torn last row of %2 bytes left by an earlier stop")
                .arg(path).arg(static_cast<qint64>(st.st_size - keep));
  }
  return true;
}

bool CsvLog::append(const std::string &rows, QString *error) {
  if (fd_ < 0) return false;
  size_t done = WriteAll(fd_, rows.data(), rows.size());
  if (done < rows.size()) {
    *error = SystemError(QStringLiteral("CSV file"), "rows not written");
    if (done > 0) CutTail(fd_, done);
    return false;
  }
  uint64_t count = static_cast<uint64_t>(std::count(rows.begin(), rows.end(), '\n'));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ += count;
  }
  wake_.notify_one();
  return true;
}

/* Runs on the sync thread: syncs as soon as rows were written since the
 * last sync began, so that one sync takes every row written while the
 * previous one ran; with a sync interval, then rests for it. */
void CsvLog::syncLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return written_ != settled_ || stopping_; });
    if (stopping_) return;
    uint64_t rows = written_;
    lock.unlock();
    int error = fdatasync(fd_) == 0 ? 0 : errno;
    lock.lock();
    settle(rows, error);
    int restMs = error ? std::max(syncIntervalMs_, kRetryMs) : syncIntervalMs_;
    if (restMs > 0) wake_.wait_for(lock, std::chrono::milliseconds(restMs), [this] { return stopping_; });
  }
}

/* Records that a sync of the first rows rows ended, with errno error (0
 * when it succeeded). Called with mutex_ held. */
void CsvLog::settle(uint64_t rows, int error) {
  settled_ = rows;
  syncs_.fetch_add(1, std::memory_order_relaxed);
  if (error == 0) {
    synced_.store(rows, std::memory_order_relaxed);
    return;
  }
  lastSyncError_ = QStringLiteral("%1: cannot sync the CSV file to the disk (rows may be lost "
                                  "on a power loss): %2")
                       .arg(path_, QString::fromLocal8Bit(strerror(error)));
  syncErrors_.fetch_add(1, std::memory_order_relaxed);
}

QString CsvLog::lastSyncError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastSyncError_;
}

void CsvLog::close() {
  if (fd_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (syncer_.joinable()) syncer_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  settle(written_, fdatasync(fd_) == 0 ? 0 : errno);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace monitor
