/*
 * file_env.cpp -- the file operations of the CSV writer as plain system
 * calls (see file_env.h).
 */
#include "file_env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace monitor {

int FileEnv::open(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }

ssize_t FileEnv::pread(int fd, void *buffer, size_t length, off_t offset) {
  return ::pread(fd, buffer, length, offset);
}

ssize_t FileEnv::write(int fd, const void *bytes, size_t length) { return ::write(fd, bytes, length); }

int FileEnv::fdatasync(int fd) { return ::fdatasync(fd); }

int FileEnv::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }

int FileEnv::fstat(int fd, struct stat *st) { return ::fstat(fd, st); }

int FileEnv::stat(const char *path, struct stat *st) { return ::stat(path, st); }

int FileEnv::flock(int fd, int operation) { return ::flock(fd, operation); }

int FileEnv::close(int fd) { return ::close(fd); }

FileEnv *FileEnv::System() {
  static FileEnv system;
  return &system;
}

}  // namespace monitor
