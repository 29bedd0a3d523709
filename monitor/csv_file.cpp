/*
 * csv_file.cpp -- opening the CSV file, whole writes, the check of its
 * path, the rows kept in memory and the rate of rows (see csv_file.h).
 */
#include "csv_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFileInfo>
#include <algorithm>

#include "rows.h"

namespace monitor {

namespace {

constexpr size_t kScanChunk = 65536;           /* bytes read at a time looking for the last line end */
constexpr size_t kHeaderMax = 256;              /* the longest header line */
constexpr int64_t kRateWindowNs = 60000000000;  /* the rate is measured over one to two of these */

/* Reads exactly length bytes at offset. Returns false when the read fails
 * or ends early (errno then says why; EIO for an early end). */
bool ReadExactly(FileEnv &env, int fd, char *buffer, size_t length, off_t offset) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = env.pread(fd, buffer + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

/* Sets *after to the offset just after the last line end before size, 0
 * when there is none. Returns false when the file cannot be read. */
bool AfterLastLineEnd(FileEnv &env, int fd, off_t size, off_t *after) {
  char chunk[kScanChunk];
  for (off_t end = size; end > 0;) {
    off_t start = std::max<off_t>(0, end - static_cast<off_t>(kScanChunk));
    if (!ReadExactly(env, fd, chunk, static_cast<size_t>(end - start), start)) return false;
    for (off_t i = end - start - 1; i >= 0; i--)
      if (chunk[i] == '\n') {
        *after = start + i + 1;
        return true;
      }
    end = start;
  }
  *after = 0;
  return true;
}

/* Syncs the directory that holds path, so that a file just created is
 * still found after a power loss. Best effort: the rows' own syncs count. */
void SyncDirectory(const QString &path) {
  QByteArray dir = QFileInfo(path).absolutePath().toLocal8Bit();
  int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

/* Sets *error for a file that cannot be read (errno says why); returns
 * false. */
bool Unreadable(const QString &path, QString *error) {
  *error = SystemError(path, "cannot read the CSV file, so it is left as it is") + "; refusing to start";
  return false;
}

/* Gives an empty file, or one holding only a torn header, its header. */
bool WriteHeader(FileEnv &env, const QString &path, const char *header, OpenedCsv *file, QString *error) {
  const size_t kHeaderLength = strlen(header);
  if (env.ftruncate(file->fd, 0) != 0 || WriteAll(env, file->fd, header, kHeaderLength) != kHeaderLength ||
      env.fdatasync(file->fd) != 0) {
    *error = SystemError(path, "cannot write the CSV header");
    return false;
  }
  SyncDirectory(path);
  file->length = static_cast<off_t>(kHeaderLength);
  return true;
}

/* Checks the header of the locked file, or writes it, and cuts a torn
 * tail; nothing is changed unless every byte needed could be read. */
bool Prepare(FileEnv &env, const QString &path, const char *header, OpenedCsv *file, QString *error,
             QString *note) {
  const size_t kHeaderLength = strlen(header);
  char head[kHeaderMax];
  size_t have = std::min(kHeaderLength, static_cast<size_t>(file->length));
  if (!ReadExactly(env, file->fd, head, have, 0)) return Unreadable(path, error);
  if (have < kHeaderLength && memcmp(head, header, have) == 0) return WriteHeader(env, path, header, file, error);
  if (have < kHeaderLength || memcmp(head, header, kHeaderLength) != 0) {
    *error = path + ": its first line is not this monitor's CSV header; refusing to append "
                    "to it (name another file)";
    return false;
  }
  off_t keep = 0;
  if (!AfterLastLineEnd(env, file->fd, file->length, &keep)) return Unreadable(path, error);
  keep = std::max(keep, static_cast<off_t>(kHeaderLength));
  if (keep == file->length) return true;
  if (env.ftruncate(file->fd, keep) != 0 || env.fdatasync(file->fd) != 0) {
    *error = SystemError(path, "cannot cut the torn last row");
    return false;
  }
  *note = QStringLiteral("%1: cut off a torn last row of %2 bytes left by an earlier stop")
              .arg(path).arg(static_cast<qint64>(file->length - keep));
  file->length = keep;
  return true;
}

}  // namespace

QString SystemError(const QString &path, const char *what) {
  return QStringLiteral("%1: %2: %3").arg(path, what, QString::fromLocal8Bit(strerror(errno)));
}

bool OpenCsvFile(FileEnv &env, const QString &path, const char *header, OpenedCsv *out, QString *error,
                 QString *note) {
  note->clear();
  QByteArray name = path.toLocal8Bit();
  OpenedCsv file;
  file.fd = env.open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (file.fd < 0) {
    *error = SystemError(path, "cannot open the CSV file");
    return false;
  }
  struct stat st;
  bool ok = false;
  if (env.fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) *error = path + ": the CSV file must be a regular file";
  else if (env.flock(file.fd, LOCK_EX | LOCK_NB) != 0) *error = path + ": another process is writing this CSV file";
  else {
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.length = st.st_size;
    ok = Prepare(env, path, header, &file, error, note);
  }
  if (!ok) {
    env.close(file.fd);
    return false;
  }
  *out = file;
  return true;
}

size_t WriteAll(FileEnv &env, int fd, const char *bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = env.write(fd, bytes + done, length - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
  return done;
}

off_t CutBack(FileEnv &env, int fd, off_t length) {
  struct stat st;
  if (env.fstat(fd, &st) != 0) return -1;
  if (st.st_size <= length) return st.st_size;
  return env.ftruncate(fd, length) == 0 ? length : -1;
}

void CutTail(FileEnv &env, int fd, size_t bytes) {
  struct stat st;
  int saved = errno;  /* the caller reports the write's error, not this one's */
  if (env.fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(bytes))
    env.ftruncate(fd, st.st_size - static_cast<off_t>(bytes));
  errno = saved;
}

FileFate CheckPath(FileEnv &env, int fd, const QString &path) {
  struct stat open, named;
  if (env.fstat(fd, &open) != 0) return FileFate::kSame;
  if (open.st_nlink == 0) return FileFate::kDeleted;
  if (env.stat(path.toLocal8Bit().constData(), &named) != 0)
    return errno == ENOENT ? FileFate::kRenamed : FileFate::kSame;
  return named.st_dev == open.st_dev && named.st_ino == open.st_ino ? FileFate::kSame : FileFate::kRenamed;
}

void RowQueue::push(const char *bytes, size_t length, uint32_t rows) {
  buffer_.append(bytes, length);
  results_.push_back(Result{static_cast<uint32_t>(length), rows});
  bytes_ += length;
  rows_ += rows;
}

void RowQueue::pop(size_t results) {
  for (; results > 0 && !results_.empty(); results--) {
    head_ += results_.front().length;
    bytes_ -= results_.front().length;
    rows_ -= results_.front().rows;
    results_.pop_front();
  }
  if (results_.empty()) clear();
  else if (head_ > buffer_.size() / 2) {  /* now and then, so that it costs little per result */
    buffer_.erase(0, head_);
    head_ = 0;
  }
}

void RowQueue::clear() {
  buffer_.clear();
  buffer_.shrink_to_fit();  /* a queue that filled up after a full disk gives its memory back */
  head_ = 0;
  results_.clear();
  bytes_ = rows_ = 0;
}

void RowQueue::measure(size_t results, uint64_t *bytes, uint64_t *rows) const {
  *bytes = *rows = 0;
  for (size_t i = 0; i < results && i < results_.size(); i++) {
    *bytes += results_[i].length;
    *rows += results_[i].rows;
  }
}

void ByteRate::add(uint64_t bytes, int64_t nowNs) {
  roll(nowNs);
  current_ += bytes;
}

double ByteRate::perSecond(int64_t nowNs) {
  roll(nowNs);
  int64_t since = lastStartNs_ >= 0 ? lastStartNs_ : startNs_;
  double seconds = static_cast<double>(nowNs - since) / 1e9;
  return seconds > 0 ? static_cast<double>(last_ + current_) / seconds : 0;
}

/* Starts a new window when the current one is full; the one before stays
 * in the rate, so that it never rests on a few seconds alone. */
void ByteRate::roll(int64_t nowNs) {
  if (startNs_ < 0) startNs_ = nowNs;
  if (nowNs - startNs_ < kRateWindowNs) return;
  lastStartNs_ = startNs_;
  last_ = current_;
  startNs_ = nowNs;
  current_ = 0;
}

QString Megabytes(uint64_t bytes) {
  const bool mega = bytes >= (1u << 20);
  const double value = static_cast<double>(bytes) / (mega ? 1 << 20 : 1 << 10);
  const int decimals = value >= 100 ? 0 : value >= 10 ? 1 : 2;  /* three digits or so */
  return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(mega ? "MB" : "kB");
}

QString LastsFor(uint64_t bytes, double bytesPerSecond) {
  if (bytesPerSecond <= 0) return QStringLiteral("as long as no rows come");
  double seconds = static_cast<double>(bytes) / bytesPerSecond;
  if (seconds < 120) return QStringLiteral("about %1 seconds").arg(seconds, 0, 'f', 0);
  if (seconds < 7200) return QStringLiteral("about %1 minutes").arg(seconds / 60, 0, 'f', 0);
  return QStringLiteral("about %1 hours").arg(seconds / 3600, 0, 'f', 1);
}

}  // namespace monitor
