/*
 * csv_window.cpp -- finding and reading one chamber's window of the CSV
 * file (see csv_window.h).
 */
#include "csv_window.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace monitor {

namespace {

constexpr int64_t kSearchEndBytes = 65536;  /* the binary search stops at this much */
constexpr size_t kProbeBytes = 16384;
constexpr int kTimeLength = 24;             /* "2024-05-01T12:00:00.123Z" */
constexpr int kFieldsUsed = 10;             /* up to value_number */
enum Field { kTime, kChamber, kOutcome = 4, kValueName = 7, kValueChannel = 8, kValueNumber = 9 };

/* pread that goes on after EINTR and short reads, up to length or the
 * end; the bytes read, -1 on an error. */
ssize_t ReadAt(int fd, char *buffer, size_t length, int64_t offset) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, buffer + done, length - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

/* Days from 1970-01-01 to year-month-day (proleptic Gregorian). */
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

/* The whole number of count digits at text, -1 when one is no digit. */
int Digits(const char *text, int count) {
  int v = 0;
  for (int i = 0; i < count; i++) {
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

/* The first kFieldsUsed fields of a row (RFC 4180: a quoted field keeps
 * its quotes here); their count. */
int SplitFields(const char *line, size_t length, std::string_view *fields) {
  int count = 0;
  size_t begin = 0;
  bool quoted = false;
  for (size_t i = 0; i <= length && count < kFieldsUsed; i++) {
    if (i < length && line[i] == '"') quoted = !quoted;
    if (i < length && (quoted || line[i] != ',')) continue;
    fields[count++] = std::string_view(line + begin, i - begin);
    begin = i + 1;
  }
  return count;
}

}  // namespace

bool ParseRowTime(const char *line, size_t length, int64_t *ms) {
  if (length < kTimeLength || line[4] != '-' || line[10] != 'T' || line[19] != '.' || line[23] != 'Z') return false;
  int y = Digits(line, 4), mo = Digits(line + 5, 2), d = Digits(line + 8, 2), h = Digits(line + 11, 2);
  int mi = Digits(line + 14, 2), s = Digits(line + 17, 2), f = Digits(line + 20, 3);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || h < 0 || mi < 0 || s < 0 || f < 0) return false;
  *ms = ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + f;
  return true;
}

void AddCsvRow(const char *line, size_t length, int64_t t, Trend &trend) {
  std::string_view f[kFieldsUsed];
  if (SplitFields(line, length, f) < kFieldsUsed) return;
  if (f[kOutcome] != "skipped") trend.answered(t, f[kOutcome] == "answered");
  const bool isSet = f[kValueName] == "set";
  if ((!isSet && f[kValueName] != "actual") || f[kValueChannel].size() != 1) return;
  double v = 0;
  const char *end = f[kValueNumber].data() + f[kValueNumber].size();
  if (std::from_chars(f[kValueNumber].data(), end, v).ptr != end) return;
  trend.value(t, f[kValueChannel][0] - '0', isSet, v);
}

CsvWindowReader::~CsvWindowReader() {
  if (fd_ >= 0) close(fd_);
}

bool CsvWindowReader::open(const std::string &path, std::string *error) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  char first[kProbeBytes];
  ssize_t n = fd_ < 0 || fstat(fd_, &st) != 0 ? -1 : ReadAt(fd_, first, sizeof first, 0);
  if (n < 0) {
    *error = path + ": cannot read the CSV file: " + strerror(errno);
    return false;
  }
  size_ = st.st_size;
  const char *end = static_cast<const char *>(memchr(first, '\n', static_cast<size_t>(n)));
  header_.assign(first, end ? static_cast<size_t>(end - first + 1) : 0);
  return true;
}

/* The first whole line that begins after at and before end: its offset and
 * time; false when there is none or it has no time. */
bool CsvWindowReader::lineAfter(int64_t at, int64_t end, int64_t *line, int64_t *t) {
  char probe[kProbeBytes];
  for (int64_t from = at; from < end; from += static_cast<int64_t>(kProbeBytes)) {
    ssize_t n = ReadAt(fd_, probe, sizeof probe, from);
    if (n <= 0) return false;
    const char *nl = static_cast<const char *>(memchr(probe, '\n', static_cast<size_t>(n)));
    if (!nl) continue;
    *line = from + (nl - probe) + 1;
    if (*line >= end) return false;
    char head[kTimeLength];
    return ReadAt(fd_, head, sizeof head, *line) == kTimeLength && ParseRowTime(head, sizeof head, t);
  }
  return false;
}

/* An offset of a line start before every row timed target or later (as far
 * as the rows are in order): the last line found timed before target. */
int64_t CsvWindowReader::findStart(int64_t target) {
  int64_t lo = static_cast<int64_t>(header_.size()), hi = size_;
  while (hi - lo > kSearchEndBytes) {
    int64_t mid = lo + (hi - lo) / 2, line = 0, t = 0;
    if (lineAfter(mid, hi, &line, &t) && t < target) lo = line;
    else hi = mid;
  }
  return lo;
}

/* Hands row the whole lines of buffer from *used that belong to w, and
 * moves *used past them; false once the window is over or row stopped. */
static bool ScanLines(const std::string &buffer, size_t *used, const CsvWindow &w, const CsvRowFn &row) {
  const std::string_view chamber = w.chamberField;
  for (size_t nl; (nl = buffer.find('\n', *used)) != std::string::npos; *used = nl + 1) {
    const char *line = buffer.data() + *used;
    const size_t length = nl - *used;
    int64_t t = 0;
    if (!ParseRowTime(line, length, &t)) continue;
    if (t >= w.to + w.disorderMs) return false;
    bool mine = length > kTimeLength + 1 + chamber.size() && line[kTimeLength] == ',' &&
                line[kTimeLength + 1 + chamber.size()] == ',' &&
                memcmp(line + kTimeLength + 1, chamber.data(), chamber.size()) == 0;
    if (mine && t >= w.from && t < w.to && !row(line, length, t)) return false;
  }
  return true;
}

bool CsvWindowReader::read(const CsvWindow &w, const CsvRowFn &row, std::string *error) {
  std::string buffer;
  size_t used = 0;
  for (int64_t offset = findStart(w.from - w.disorderMs); offset < size_;) {
    buffer.erase(0, used);
    const size_t kept = buffer.size();
    const size_t want = static_cast<size_t>(std::min<int64_t>(kCsvReadBytes, size_ - offset));
    buffer.resize(kept + want);
    ssize_t n = ReadAt(fd_, &buffer[kept], want, offset);
    if (n <= 0) {
      *error = std::string("cannot read the CSV file: ") + (n < 0 ? strerror(errno) : "it was cut short");
      return false;
    }
    buffer.resize(kept + static_cast<size_t>(n));
    offset += n;
    used = 0;
    if (!ScanLines(buffer, &used, w, row)) return true;
  }
  return true;
}

}  // namespace monitor
