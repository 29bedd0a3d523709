/*
 * csv_file.h -- the parts of the CSV writer (csv_log.h) that hold no
 * state of their own: opening the file with its lock, header check and
 * repair of a torn tail; whole writes and cutting a torn write off again;
 * telling whether the path still names the open file; the rows kept in
 * memory; and the rate at which rows come. For csv_log.* only.
 */
#ifndef QUENTA_MONITOR_CSV_FILE_H
#define QUENTA_MONITOR_CSV_FILE_H

#include <stdint.h>
#include <sys/types.h>

#include <QString>
#include <deque>
#include <string>

#include "file_env.h"

namespace monitor {

/* An open CSV file: its descriptor, which file it is, and its length. */
struct OpenedCsv {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  off_t length = 0;
};

/* Opens path for appending, creating it when missing, and locks it
 * (flock). Writes the header into an empty file or one holding only a
 * torn header (header: the line with its "\n", kCsvHeader or
 * kRunCsvHeader); cuts a torn last row off (*note then says so, else it is
 * left empty). Returns true with *out, or false with *error and the file
 * closed: one that is no regular file, that another process holds, whose
 * first line is not the header, or that cannot be read. A file that cannot
 * be read is never changed. */
bool OpenCsvFile(FileEnv &env, const QString &path, const char *header, OpenedCsv *out, QString *error,
                 QString *note);

/* Writes all of bytes at the end of fd. Returns the count written: less
 * than length only when the file refused the rest (errno set). */
size_t WriteAll(FileEnv &env, int fd, const char *bytes, size_t length);

/* Cuts the file back to length when it is longer; never makes it longer.
 * Returns its length afterwards, or -1 (errno set). */
off_t CutBack(FileEnv &env, int fd, off_t length);

/* Cuts the last bytes bytes off: the torn part of a write that failed. */
void CutTail(FileEnv &env, int fd, size_t bytes);

/* What became of the open file, the path compared with it. */
enum class FileFate { kSame, kDeleted, kRenamed };

/* kDeleted when fd has no name left, kRenamed when path names another
 * file or none, else kSame (also when it cannot be told). */
FileFate CheckPath(FileEnv &env, int fd, const QString &path);

/* "path: what: the system's message for errno". */
QString SystemError(const QString &path, const char *what);

/* Results' rows in memory, oldest first: one buffer and the length and
 * row count of each result, so that they are written, and given up,
 * whole. */
class RowQueue {
 public:
  void push(const char *bytes, size_t length, uint32_t rows);
  /* Drops the first results results. */
  void pop(size_t results);
  void clear();
  bool empty() const { return results_.empty(); }
  size_t results() const { return results_.size(); }
  uint64_t bytes() const { return bytes_; }
  uint64_t rows() const { return rows_; }
  /* The first result, or all of them, as bytes. */
  const char *data() const { return buffer_.data() + head_; }
  size_t frontLength() const { return results_.front().length; }
  uint32_t frontRows() const { return results_.front().rows; }
  /* Bytes and rows of the first results results. */
  void measure(size_t results, uint64_t *bytes, uint64_t *rows) const;

 private:
  struct Result {
    uint32_t length, rows;
  };
  std::string buffer_;
  size_t head_ = 0;  /* bytes of buffer_ already given up */
  std::deque<Result> results_;
  uint64_t bytes_ = 0, rows_ = 0;
};

/* Bytes of rows that came per second, over the last one to two minutes. */
class ByteRate {
 public:
  void add(uint64_t bytes, int64_t nowNs);
  double perSecond(int64_t nowNs);

 private:
  void roll(int64_t nowNs);

  int64_t startNs_ = -1, lastStartNs_ = -1;
  uint64_t current_ = 0, last_ = 0;
};

/* "256 MB", "20 kB": bytes for a person to read. */
QString Megabytes(uint64_t bytes);

/* How long bytes last at bytesPerSecond: "about 3.4 hours". */
QString LastsFor(uint64_t bytes, double bytesPerSecond);

}  // namespace monitor

#endif
