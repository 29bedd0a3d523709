/*
 * csv_scan.cpp -- large blocks, fields in place, times by arithmetic and a
 * copyable SHA-256 (see csv_scan.h).
 */
#include "csv_scan.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <string.h>
#include <unistd.h>

#include <QFile>
#include <vector>

namespace monitor {

namespace {

constexpr size_t kBlockBytes = 8u << 20;

/* The digits of text[from, from + count) as a number, or -1. */
int Digits(std::string_view text, size_t from, size_t count) {
  int value = 0;
  for (size_t i = from; i < from + count; i++) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

/* Days from 1970-01-01 to the date (proleptic Gregorian calendar). */
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

/* One quoted field from line[at] (a quote) into scratch; *at ends after
 * the closing quote. False when the quote is left open. */
bool Unquote(std::string_view line, size_t *at, std::string &scratch) {
  for (size_t i = *at + 1; i < line.size(); i++) {
    if (line[i] != '"') {
      scratch += line[i];
    } else if (i + 1 < line.size() && line[i + 1] == '"') {
      scratch += '"';
      i++;
    } else {
      *at = i + 1;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadWholeLines(const QString &path, const std::function<bool(const char *, const char *)> &onBlock,
                    QString *error) {
  int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = QString::fromLocal8Bit(strerror(errno));
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<char> buffer(kBlockBytes);
  size_t have = 0;
  for (;;) {
    if (have == buffer.size()) buffer.resize(buffer.size() * 2);  /* one line longer than a block */
    ssize_t n = ::read(fd, buffer.data() + have, buffer.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) *error = QString::fromLocal8Bit(strerror(errno));
      ::close(fd);
      return n == 0;
    }
    have += static_cast<size_t>(n);
    const char *end = static_cast<const char *>(memrchr(buffer.data(), '\n', have));
    if (!end) continue;
    if (!onBlock(buffer.data(), end + 1)) {
      ::close(fd);
      return true;
    }
    size_t used = static_cast<size_t>(end + 1 - buffer.data());
    memmove(buffer.data(), end + 1, have - used);
    have -= used;
  }
}

size_t SplitRow(std::string_view line, std::string_view *fields, size_t max, std::string &scratch) {
  scratch.clear();
  scratch.reserve(line.size());  /* views into it stay valid: it never grows past this */
  size_t count = 0, at = 0;
  for (;;) {
    if (count == max) return 0;
    if (at < line.size() && line[at] == '"') {
      size_t from = scratch.size();
      if (!Unquote(line, &at, scratch)) return 0;
      fields[count++] = std::string_view(scratch).substr(from);
      if (at == line.size()) return count;
      if (line[at++] != ',') return 0;
      continue;
    }
    size_t comma = line.find(',', at);
    std::string_view field = line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
    if (field.find('"') != std::string_view::npos) return 0;
    fields[count++] = field;
    if (comma == std::string_view::npos) return count;
    at = comma + 1;
  }
}

bool ParseUtcMs(std::string_view text, int64_t *ms) {
  static constexpr char kForm[] = "0000-00-00T00:00:00.000Z";
  if (text.size() != sizeof kForm - 1) return false;
  for (size_t i = 0; i < text.size(); i++)
    if (kForm[i] != '0' && text[i] != kForm[i]) return false;
  int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2), milli = Digits(text, 20, 3);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60 || milli < 0)
    return false;
  int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  *ms = seconds * 1000 + milli;
  return true;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }

Sha256::Sha256(const Sha256 &other) : ctx_(EVP_MD_CTX_new()) { EVP_MD_CTX_copy_ex(ctx_, other.ctx_); }

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::add(const char *bytes, size_t length) { EVP_DigestUpdate(ctx_, bytes, length); }

QByteArray Sha256::hex() const {
  Sha256 copy(*this);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(copy.ctx_, digest, &length);
  return QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex();
}

}  // namespace monitor
