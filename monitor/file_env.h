/*
 * file_env.h -- the file operations the CSV writer uses, behind one seam:
 * FileEnv passes each to the system call of the same name, and a test
 * derives from it to make chosen ones fail (a read error, a full disk, a
 * failing sync, a file deleted or renamed under the writer). Every call
 * returns what the system call returns, with errno set on failure, and
 * may be made from any thread.
 */
#ifndef QUENTA_MONITOR_FILE_ENV_H
#define QUENTA_MONITOR_FILE_ENV_H

#include <sys/stat.h>
#include <sys/types.h>

namespace monitor {

class FileEnv {
 public:
  virtual ~FileEnv() = default;
  virtual int open(const char *path, int flags, mode_t mode);
  virtual ssize_t pread(int fd, void *buffer, size_t length, off_t offset);
  virtual ssize_t write(int fd, const void *bytes, size_t length);
  virtual int fdatasync(int fd);
  virtual int ftruncate(int fd, off_t length);
  virtual int fstat(int fd, struct stat *st);
  virtual int stat(const char *path, struct stat *st);
  virtual int flock(int fd, int operation);
  virtual int close(int fd);

  /* The one that only calls the system: what the monitor uses. */
  static FileEnv *System();
};

}  // namespace monitor

#endif
