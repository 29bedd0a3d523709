/*
 * journal.cpp -- the run journal's file (see journal.h): read on opening,
 * appended line by line, synced by a thread of its own (group commit).
 */
#include "journal.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>

#include "clock.h"

namespace monitor {

namespace {

/* Reads all of fd into *out; false on a read error. */
bool ReadAll(int fd, QByteArray *out) {
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(chunk, n);
  }
}

/* The records of text (whole lines) into *out; false with *error at the
 * first line that is not one. */
bool Parse(const QByteArray &text, const QString &path, std::vector<QJsonObject> *out, QString *error) {
  out->clear();
  const QList<QByteArray> lines = text.split('\n');
  for (qsizetype n = 0; n + 1 < lines.size(); n++) {
    QJsonDocument doc = QJsonDocument::fromJson(lines[n]);
    if (!doc.isObject() || !doc.object().contains("e")) {
      *error = QStringLiteral("%1:%2: not a record of a run journal").arg(path).arg(n + 1);
      return false;
    }
    out->push_back(doc.object());
  }
  return true;
}

}  // namespace

bool Journal::read(const QString &path, std::vector<QJsonObject> *out, QString *error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + ": cannot read the run journal: " + file.errorString();
    return false;
  }
  QByteArray text = file.readAll();
  return Parse(text.left(text.lastIndexOf('\n') + 1), path, out, error);
}

bool Journal::open(const QString &path, QString *error) {
  close();
  QByteArray name = path.toLocal8Bit();
  fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  QByteArray text;
  if (fd_ < 0 || !ReadAll(fd_, &text)) {
    *error = QStringLiteral("%1: cannot open the run journal: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    close();
    return false;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    *error = path + ": another run is using this journal";
    close();
    return false;
  }
  qsizetype whole = text.lastIndexOf('\n') + 1;
  if (whole < text.size() && ftruncate(fd_, whole) != 0) {
    *error = path + ": cannot cut off the torn last line of the run journal";
    close();
    return false;
  }
  if (!Parse(text.left(whole), path, &records_, error)) {
    close();
    return false;
  }
  path_ = path;
  stopping_ = failed_ = false;
  written_ = synced_ = 0;
  syncer_ = std::thread([this] { syncLoop(); });
  return true;
}

bool Journal::append(QJsonObject record) {
  if (fd_ < 0) return false;
  record["wall"] = static_cast<double>(WallMs());
  QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  ssize_t n;
  do n = ::write(fd_, line.constData(), static_cast<size_t>(line.size()));
  while (n < 0 && errno == EINTR);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n != line.size()) {
      if (n > 0 && ftruncate(fd_, lseek(fd_, 0, SEEK_END) - n) != 0) failed_ = true;
      error_ = path_ + ": cannot append to the run journal: " + QString::fromLocal8Bit(strerror(n < 0 ? errno : ENOSPC));
      return false;
    }
    written_++;
    wake_.notify_one();
  }
  if (onAppend) onAppend(record);
  return true;
}

/* Syncs as soon as records were written since the last sync began. */
void Journal::syncLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return written_ != synced_ || stopping_; });
    if (stopping_) return;
    uint64_t target = written_;
    lock.unlock();
    bool ok = fdatasync(fd_) == 0;
    int code = errno;
    lock.lock();
    if (ok) synced_ = target;
    else {
      failed_ = true;
      error_ = path_ + ": cannot sync the run journal: " + QString::fromLocal8Bit(strerror(code));
    }
    done_.notify_all();
    if (!ok) return;
  }
}

bool Journal::flush() const {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return synced_ == written_ || failed_ || fd_ < 0; });
  return !failed_;
}

QString Journal::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void Journal::close() {
  if (fd_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (syncer_.joinable()) syncer_.join();
  fdatasync(fd_);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace monitor
