/*
 * open_files.cpp -- raising the open-file limit (see open_files.h).
 */
#include "open_files.h"

#include <sys/resource.h>

#include <algorithm>
#include <limits>

namespace eventloop {

qint64 RaiseOpenFileLimit(qint64 wanted) {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t want = static_cast<rlim_t>(std::max<qint64>(wanted, 0));
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want) {
    rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = soft;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<qint64>::max();
  return static_cast<qint64>(limit.rlim_cur);
}

}  // namespace eventloop
