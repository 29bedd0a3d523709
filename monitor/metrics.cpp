/*
 * metrics.cpp -- the counts behind the metrics, their exposition in the
 * Prometheus text format (see metrics.h).
 */
#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "rows.h"

namespace monitor {

namespace {

constexpr int64_t kBinNs = 100000;        /* 0.1 ms */
constexpr int kBins = 100000;             /* up to 10 s; the last bin holds everything above */

/* Writes families of metrics, each sample under its family's header. */
class Exposition {
 public:
  explicit Exposition(std::string &out) : out_(out) {}

  void family(const char *name, const char *type, const char *help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }

  struct Label {
    const char *name;
    QByteArray value;
  };

  /* name+suffix{label="value",...} value */
  void sample(const char *name, const char *suffix, std::initializer_list<Label> labels, double value) {
    out_ += name;
    out_ += suffix;
    const char *sep = "{";
    for (const Label &l : labels) {
      out_ += sep;
      out_ += l.name;
      out_ += "=\"";
      AppendLabelValue(l.value, out_);
      out_ += '"';
      sep = ",";
    }
    if (labels.size() > 0) out_ += '}';
    out_ += ' ';
    appendValue(value);
    out_ += '\n';
  }

  /* The _bucket, _sum and _count samples of one histogram; chamber may be
   * null for one of the whole monitor. */
  void histogram(const char *name, const QByteArray *chamber, const Histogram &h) {
    uint64_t cumulative = 0;
    for (int i = 0; i <= kBucketCount; i++) {
      cumulative += h.bucket[i];
      std::string le = "+Inf";
      if (i < kBucketCount) {
        le.clear();
        AppendNumber(kBucketBounds[i], le);
      }
      QByteArray bound = QByteArray::fromStdString(le);
      if (chamber) sample(name, "_bucket", {{"chamber", *chamber}, {"le", bound}}, static_cast<double>(cumulative));
      else sample(name, "_bucket", {{"le", bound}}, static_cast<double>(cumulative));
    }
    if (chamber) {
      sample(name, "_sum", {{"chamber", *chamber}}, h.sum);
      sample(name, "_count", {{"chamber", *chamber}}, static_cast<double>(h.count));
    } else {
      sample(name, "_sum", {}, h.sum);
      sample(name, "_count", {}, static_cast<double>(h.count));
    }
  }

 private:
  void appendValue(double value) {
    if (std::isnan(value)) out_ += "NaN";
    else if (std::isinf(value)) out_ += value > 0 ? "+Inf" : "-Inf";
    else AppendNumber(value, out_);
  }

  std::string &out_;
};

struct CounterFamily {
  const char *name;
  const char *help;
  uint64_t ChamberStats::*field;
};

constexpr CounterFamily kCounters[] = {
    {"quenta_chamber_commands_total", "Commands written to the chamber.", &ChamberStats::commands},
    {"quenta_chamber_answers_total", "Whole answers to their command.", &ChamberStats::answers},
    {"quenta_chamber_invalid_answers_total",
     "Whole answers that were not answers to their command (letter, channel).", &ChamberStats::invalid},
    {"quenta_chamber_incomplete_answers_total",
     "Answers of which only a part came within the timeout (not decoded).", &ChamberStats::incomplete},
    {"quenta_chamber_timeouts_total", "Connections or answers that did not come within the timeout.",
     &ChamberStats::timeouts},
    {"quenta_chamber_refusals_total", "Connections that failed (refused, unreachable).",
     &ChamberStats::refusals},
    {"quenta_chamber_closes_total", "Connections the chamber closed before the answer was whole.",
     &ChamberStats::closes},
    {"quenta_chamber_reconnects_total", "Connection attempts after the first.",
     &ChamberStats::reconnects},
    {"quenta_chamber_skipped_total", "Commands of polls that fell due but were not sent.",
     &ChamberStats::skipped},
    {"quenta_chamber_discarded_bytes_total",
     "Bytes received that belonged to no answer (late, beyond an answer or its limit), thrown away.",
     &ChamberStats::discardedBytes},
};

/* One gauge family of the kept numbers: those named name, or with
 * name null those named neither "actual" nor "set". */
void KeptFamily(Exposition &e, const std::vector<ChamberStats> &chambers, const char *metric,
                const char *name) {
  for (const ChamberStats &c : chambers) {
    for (int i = 0; i < c.keptCount; i++) {
      const KeptValue &v = c.kept[i];
      bool mine = name ? strcmp(v.name, name) == 0
                       : strcmp(v.name, "actual") != 0 && strcmp(v.name, "set") != 0;
      if (!mine) continue;
      QByteArray channel = v.channel ? QByteArray(1, v.channel) : QByteArray();
      if (name) e.sample(metric, "", {{"chamber", c.name}, {"channel", channel}}, v.number);
      else e.sample(metric, "", {{"chamber", c.name}, {"name", v.name}, {"channel", channel}}, v.number);
    }
  }
}

/* The CSV file's families: what its writer counts (see CsvCounts). */
void CsvFamilies(Exposition &e, const CsvCounts &csv) {
  e.family("quenta_monitor_csv_rows_total", "counter", "Rows written to the CSV file and synced to the disk.");
  e.sample("quenta_monitor_csv_rows_total", "", {}, static_cast<double>(csv.synced));
  e.family("quenta_monitor_csv_rows_dropped_total", "counter",
           "Rows lost: beyond --queue-limit, or not on the disk when the CSV file failed.");
  e.sample("quenta_monitor_csv_rows_dropped_total", "", {}, static_cast<double>(csv.lost));
  e.family("quenta_monitor_csv_rows_waiting", "gauge", "Rows in memory, not yet written or not yet synced.");
  e.sample("quenta_monitor_csv_rows_waiting", "", {}, static_cast<double>(csv.waitingRows));
  e.family("quenta_monitor_csv_bytes_waiting", "gauge", "Bytes of the rows waiting, bounded by --queue-limit.");
  e.sample("quenta_monitor_csv_bytes_waiting", "", {}, static_cast<double>(csv.waitingBytes));
  e.family("quenta_monitor_csv_write_errors_total", "counter", "Writes the CSV file refused.");
  e.sample("quenta_monitor_csv_write_errors_total", "", {}, static_cast<double>(csv.writeErrors));
  e.family("quenta_monitor_csv_syncs_total", "counter", "Syncs of the CSV file to the disk.");
  e.sample("quenta_monitor_csv_syncs_total", "", {}, static_cast<double>(csv.syncs));
  e.family("quenta_monitor_csv_sync_errors_total", "counter", "Syncs of the CSV file to the disk that failed.");
  e.sample("quenta_monitor_csv_sync_errors_total", "", {}, static_cast<double>(csv.syncErrors));
  e.family("quenta_monitor_csv_reopens_total", "counter",
           "Times the CSV file was opened again: deleted, renamed, SIGHUP, a failed sync.");
  e.sample("quenta_monitor_csv_reopens_total", "", {}, static_cast<double>(csv.reopens));
}

}  // namespace

void Histogram::add(double seconds) {
  int i = 0;
  while (i < kBucketCount && seconds > kBucketBounds[i]) i++;
  bucket[i]++;
  count++;
  sum += seconds;
}

Percentiles::Percentiles() : bins_(kBins, 0) {}

void Percentiles::add(int64_t ns) {
  int64_t bin = ns < 0 ? 0 : ns / kBinNs;
  bins_[static_cast<size_t>(bin < kBins ? bin : kBins - 1)]++;
  count_++;
  if (ns > maxNs_) maxNs_ = ns;
}

double Percentiles::quantileMs(double q) const {
  if (count_ == 0) return 0;
  uint64_t want = static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_)));
  uint64_t seen = 0;
  for (int i = 0; i < kBins; i++) {
    seen += bins_[static_cast<size_t>(i)];
    if (seen >= want && seen > 0) return i == kBins - 1 ? maxMs() : std::min((i + 1) * kBinNs / 1e6, maxMs());
  }
  return maxMs();
}

void ChamberStats::keep(const AnswerValues &values) {
  for (int n = 0; n < values.count && n < ANSWER_VALUES_MAX; n++) {
    const AnswerValue &v = values.value[n];
    if (v.kind != VALUE_NUMBER || !v.name) continue;
    int i = 0;
    while (i < keptCount && !(kept[i].channel == v.channel && strcmp(kept[i].name, v.name) == 0)) i++;
    if (i == keptCount) {
      if (keptCount == kKeptValuesMax) continue;
      snprintf(kept[i].name, sizeof kept[i].name, "%s", v.name);
      kept[i].channel = v.channel;
      keptCount++;
    }
    kept[i].number = v.number;
  }
}

int Utf8Length(const unsigned char *text, size_t n) {
  unsigned char c = text[0];
  if (c < 0x80) return 1;
  int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (length == 0 || c > 0xF4 || static_cast<size_t>(length) > n) return 0;
  for (int k = 1; k < length; k++)
    if ((text[k] & 0xC0) != 0x80) return 0;
  if (length == 3 && ((c == 0xE0 && text[1] < 0xA0) || (c == 0xED && text[1] >= 0xA0))) return 0;
  if (length == 4 && ((c == 0xF0 && text[1] < 0x90) || (c == 0xF4 && text[1] >= 0x90))) return 0;
  return length;
}

void AppendLabelValue(const QByteArray &text, std::string &out) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.constData());
  size_t n = static_cast<size_t>(text.size());
  for (size_t i = 0; i < n;) {
    int length = Utf8Length(bytes + i, n - i);
    char c = static_cast<char>(bytes[i]);
    if (length == 0) {  /* not UTF-8: U+FFFD in its place, so that the page stays readable */
      out += "\xEF\xBF\xBD";
      i++;
      continue;
    }
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out.append(text.constData() + i, static_cast<size_t>(length));
    i += static_cast<size_t>(length);
  }
}

void RenderMetrics(const std::vector<ChamberStats> &chambers, const MonitorStats &monitor,
                   int64_t nowNs, std::string &out) {
  Exposition e(out);
  e.family("quenta_chamber_up", "gauge", "1 when the chamber answered its last command, else 0.");
  for (const ChamberStats &c : chambers)
    e.sample("quenta_chamber_up", "", {{"chamber", c.name}, {"address", c.address}}, c.up ? 1 : 0);
  e.family("quenta_chamber_actual_value", "gauge", "Actual value of an analogue channel.");
  KeptFamily(e, chambers, "quenta_chamber_actual_value", "actual");
  e.family("quenta_chamber_set_value", "gauge", "Set value of an analogue channel.");
  KeptFamily(e, chambers, "quenta_chamber_set_value", "set");
  e.family("quenta_chamber_value", "gauge", "Any other number the chamber's answers hold.");
  KeptFamily(e, chambers, "quenta_chamber_value", nullptr);
  e.family("quenta_chamber_last_answer_age_seconds", "gauge", "Seconds since the last answer.");
  for (const ChamberStats &c : chambers)
    if (c.lastAnswerNs >= 0)
      e.sample("quenta_chamber_last_answer_age_seconds", "", {{"chamber", c.name}},
               (nowNs - c.lastAnswerNs) / 1e9);
  e.family("quenta_chamber_round_trip_seconds", "histogram",
           "Time from writing a command to the end of its answer.");
  for (const ChamberStats &c : chambers) e.histogram("quenta_chamber_round_trip_seconds", &c.name, c.roundTrip);
  for (const CounterFamily &f : kCounters) {
    e.family(f.name, "counter", f.help);
    for (const ChamberStats &c : chambers)
      e.sample(f.name, "", {{"chamber", c.name}}, static_cast<double>(c.*f.field));
  }
  e.family("quenta_monitor_poll_start_delay_seconds", "histogram",
           "How late polls started after their due time.");
  e.histogram("quenta_monitor_poll_start_delay_seconds", nullptr, monitor.startDelay);
  CsvFamilies(e, monitor.csv);
}

}  // namespace monitor
