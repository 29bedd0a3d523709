/*
 * csv_scan.h -- reading a large CSV file fast, for the figures of a run
 * (run_record.h): the file in large blocks of whole lines, a line split in
 * place into its fields, the rows' UTC times without a date library, and
 * a SHA-256 whose state can be copied. Nothing here allocates per row.
 */
#ifndef QUENTA_MONITOR_CSV_SCAN_H
#define QUENTA_MONITOR_CSV_SCAN_H

#include <stddef.h>
#include <stdint.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace monitor {

/* Calls onBlock with the file's whole lines, many at a time, in file
 * order, each block from the start of a line to just after a "\n"; bytes
 * after the last "\n" (a torn last row) are never passed. onBlock returns
 * false to read no further. Returns true, or false with *error (the
 * system's reason) when the file cannot be opened or read. */
bool ReadWholeLines(const QString &path, const std::function<bool(const char *, const char *)> &onBlock,
                    QString *error);

/* Splits line (without its line end) into at most max fields as RFC 4180
 * reads them: a quoted field's bytes, its doubled quotes made single, go
 * into scratch (whose old content is dropped), the others stay views into
 * line. Returns the number of fields, or 0 when the line is malformed (a
 * quote left open or inside an unquoted field, text after a closing quote)
 * or has more than max fields. */
size_t SplitRow(std::string_view line, std::string_view *fields, size_t max, std::string &scratch);

/* "2026-12-08T17:30:00.123Z" as ms since 1970, UTC; false when text is not
 * of that form. */
bool ParseUtcMs(std::string_view text, int64_t *ms);

/* SHA-256 (libcrypto), fed in pieces; a copy goes on from the same state. */
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256 &other);
  Sha256 &operator=(const Sha256 &) = delete;
  ~Sha256();
  void add(const char *bytes, size_t length);
  /* The digest of what was added so far, in lower-case hexadecimal. */
  QByteArray hex() const;

 private:
  EVP_MD_CTX *ctx_;
};

}  // namespace monitor

#endif
