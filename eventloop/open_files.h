/*
 * open_files.h -- the open-file limit of a program that holds a socket for
 * each of thousands of chambers: the usual soft limit of 1,024 is too few,
 * and the hard limit is often far higher.
 */
#ifndef QUENTA_EVENTLOOP_OPEN_FILES_H
#define QUENTA_EVENTLOOP_OPEN_FILES_H

#include <QtGlobal>

namespace eventloop {

/* Raises the soft limit of open files to wanted, or as near as the hard
 * limit allows; never lowers it. Returns the limit now in force (the
 * largest qint64 when there is none), or 0 when it cannot be read. */
qint64 RaiseOpenFileLimit(qint64 wanted);

}  // namespace eventloop

#endif
