/*
 * json_text.h -- JSON written straight into a std::string, for the pages'
 * API (docs/api.md): a page of 1,000 chambers a second costs a few
 * appends, not a document tree.
 */
#ifndef QUENTA_MONITOR_JSON_TEXT_H
#define QUENTA_MONITOR_JSON_TEXT_H

#include <stddef.h>

#include <string>

namespace monitor {

/* Appends text as a JSON string, quotes included: '"', '\' and control
 * characters escaped, a byte that is not part of valid UTF-8 as U+FFFD. */
void AppendJsonString(const char *text, size_t length, std::string &out);
inline void AppendJsonString(const std::string &text, std::string &out) {
  AppendJsonString(text.data(), text.size(), out);
}

/* Appends v in the shortest form that reads back the same; null for NaN
 * and the infinities, which JSON lacks. */
void AppendJsonNumber(double v, std::string &out);

/* Appends "name": (with the comma before it unless first). */
void AppendJsonKey(const char *name, bool first, std::string &out);

}  // namespace monitor

#endif
