/*
 * json_text.cpp -- JSON strings, numbers and keys appended to a string
 * (see json_text.h).
 */
#include "json_text.h"

#include <cmath>
#include <cstdio>

#include "metrics.h"
#include "rows.h"

namespace monitor {

void AppendJsonString(const char *text, size_t length, std::string &out) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
  out += '"';
  for (size_t i = 0; i < length;) {
    int n = Utf8Length(bytes + i, length - i);
    unsigned char c = bytes[i];
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i++;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.append(text + i, static_cast<size_t>(n));
    }
    i += static_cast<size_t>(n);
  }
  out += '"';
}

void AppendJsonNumber(double v, std::string &out) {
  if (std::isfinite(v)) AppendNumber(v, out);
  else out += "null";
}

void AppendJsonKey(const char *name, bool first, std::string &out) {
  if (!first) out += ',';
  out += '"';
  out += name;
  out += "\":";
}

}  // namespace monitor
