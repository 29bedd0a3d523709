/*
 * rows.cpp -- the CSV rows of one command's result (layout in rows.h).
 * Everything is appended to one string that the caller writes at once, so
 * that the rows of one result reach the file together or not at all.
 */
#include "rows.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace monitor {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kNumberSize = 64;  /* a plain decimal from 1e-6 has at most 24 digits */

/* True when the field must be quoted: it holds a comma or a double quote.
 * Escaping adds neither, so the raw bytes decide. */
bool NeedsQuotes(const char *bytes, size_t length) {
  for (size_t i = 0; i < length; i++)
    if (bytes[i] == ',' || bytes[i] == '"') return true;
  return false;
}

/* A byte written as it is when escaping: printable ASCII but the backslash. */
bool Plain(char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }

/* One field: escaped (escape true) or as it is, quoted where needed, with
 * the double quotes inside doubled. Runs of plain bytes are copied whole. */
void AppendField(const char *bytes, size_t length, bool escape, std::string &out) {
  bool quote = NeedsQuotes(bytes, length);
  if (quote) out += '"';
  size_t run = 0;
  for (size_t i = 0; i < length; i++) {
    char c = bytes[i];
    if (c != '"' && (!escape || Plain(c))) continue;
    out.append(bytes + run, i - run);
    if (c == '"') out += "\"\"";
    else AppendEscaped(&c, 1, out);
    run = i + 1;
  }
  out.append(bytes + run, length - run);
  if (quote) out += '"';
}

void AppendText(const char *text, bool escape, std::string &out) {
  AppendField(text, strlen(text), escape, out);
}

/* The value columns of one decoded value, after their comma. */
void AppendValue(const AnswerValue &v, std::string &out) {
  AppendText(v.name ? v.name : "", false, out);
  out += ',';
  if (v.channel) AppendField(&v.channel, 1, true, out);
  out += ',';
  if (v.kind == VALUE_NUMBER) AppendNumber(v.number, out);
  out += ',';
  if (v.kind == VALUE_TEXT) AppendField(v.text, strnlen(v.text, VALUE_TEXT_SIZE), true, out);
}

}  // namespace

const char *OutcomeName(Outcome outcome) {
  switch (outcome) {
    case kAnswered: return "answered";
    case kInvalid: return "invalid";
    case kTimeout: return "timeout";
    case kRefused: return "refused";
    case kClosed: return "closed";
    case kIncomplete: return "incomplete";
    case kSkipped: return "skipped";
  }
  return "skipped";
}

void AppendNameField(const char *text, std::string &out) { AppendText(text, false, out); }

void AppendEscaped(const char *bytes, size_t length, std::string &out) {
  size_t run = 0;
  for (size_t i = 0; i < length; i++) {
    if (Plain(bytes[i])) continue;
    out.append(bytes + run, i - run);
    unsigned char u = static_cast<unsigned char>(bytes[i]);
    char group[4] = {'\\', 'x', kHexDigits[u >> 4], kHexDigits[u & 15]};
    if (u == '\\') out += "\\\\";
    else out.append(group, sizeof group);
    run = i + 1;
  }
  out.append(bytes + run, length - run);
}

void AppendUtcTime(int64_t wallMs, std::string &out) {
  time_t seconds = static_cast<time_t>(wallMs / 1000);
  struct tm t;
  gmtime_r(&seconds, &t);
  char text[kNumberSize];
  int n = snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                   t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                   static_cast<int>(wallMs % 1000));
  out.append(text, static_cast<size_t>(n > 0 && n < kNumberSize ? n : 0));
}

void AppendNumber(double value, std::string &out) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "inf" : "-inf";
    return;
  }
  /* Plain decimals where they stay short ("0.0005", not "5e-04"). */
  char text[kNumberSize];
  double magnitude = std::fabs(value);
  bool plain = magnitude == 0 || (magnitude >= 1e-6 && magnitude < 1e15);
  std::to_chars_result r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (!plain || r.ec != std::errc()) r = std::to_chars(text, text + sizeof text, value);
  out.append(text, r.ec == std::errc() ? static_cast<size_t>(r.ptr - text) : 0);
}

void AppendRows(const CommandResult &result, std::string &out) {
  size_t start = out.size();
  AppendUtcTime(result.wallMs, out);
  out += ',';
  AppendText(result.chamber, false, out);
  out += ',';
  AppendText(result.address, false, out);
  out += ',';
  AppendField(result.command, result.commandLength, true, out);
  out += ',';
  out += OutcomeName(result.outcome);
  out += ',';
  if (result.roundTripNs >= 0) AppendNumber(std::round(result.roundTripNs / 1e3) / 1e3, out);
  out += ',';
  AppendField(result.answer, result.answerLength, true, out);
  out += ',';
  size_t prefix = out.size() - start;
  int count = result.values ? result.values->count : 0;
  if (count > ANSWER_VALUES_MAX) count = ANSWER_VALUES_MAX;
  std::string run;
  if (result.run) {
    run += ',';
    AppendText(result.run, false, run);
    run += ',';
    if (result.step > 0) run += std::to_string(result.step);
  }
  for (int i = 0; i < count; i++) {
    if (i > 0) out.append(out, start, prefix);
    AppendValue(result.values->value[i], out);
    out += run;
    out += '\n';
  }
  if (count == 0) out += ",,," + run + "\n";
}

}  // namespace monitor
