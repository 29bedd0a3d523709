/*
 * report_sections.cpp -- the HTML sections of a run's report and the JSON
 * its script draws the plots from (see report_sections.h). Times are the
 * CSV file's (UTC, as its rows have them), numbers as the file has them;
 * only means are rounded, in the text (the JSON keeps them whole).
 */
#include "report_sections.h"

#include <algorithm>
#include <cmath>

#include "rows.h"

namespace monitor {

namespace {

QString Utc(int64_t ms) {
  std::string s;
  if (ms >= 0) AppendUtcTime(ms, s);
  return QString::fromStdString(s);
}

QString Number(double v) {
  std::string s;
  AppendNumber(v, s);
  return QString::fromStdString(s);
}

/* "16 h", "1 h 30 min", "90 s", "0.5 s". */
QString Span(int64_t ms) {
  if (ms % 1000 || ms < 60000) return Number(static_cast<double>(ms) / 1000) + " s";
  const int64_t s = ms / 1000;
  QStringList parts;
  if (s >= 86400) parts << QStringLiteral("%1 d").arg(s / 86400);
  if (s % 86400 >= 3600) parts << QStringLiteral("%1 h").arg(s % 86400 / 3600);
  if (s % 3600 >= 60) parts << QStringLiteral("%1 min").arg(s % 3600 / 60);
  if (s % 60) parts << QStringLiteral("%1 s").arg(s % 60);
  return parts.join(' ');
}

QString ActionText(const StepAction &a) {
  if (a.kind == ActionKind::Keep) return QStringLiteral("keep the set values");
  if (a.kind == ActionKind::Goto) return QStringLiteral("go to step \"%1\"").arg(a.targetName);
  return QStringLiteral("stop the chamber");
}

const char *KindName(StepKind kind) {
  static const char *const names[] = {"set", "ramp", "hold", "wait_stable", "digital"};
  return names[static_cast<int>(kind)];
}

QString BandText(const std::vector<ChannelValue> &band) {
  QStringList parts;
  for (const ChannelValue &b : band) parts << ChannelName(b.channel) + QStringLiteral(" \u00b1") + Number(b.value);
  return parts.isEmpty() ? QStringLiteral("\u2014") : parts.join(", ");
}

/* What bounds the step's time: the hold, the ramp's rate, the window. */
QString TimeText(const Step &s) {
  if (s.kind == StepKind::Hold) return Span(s.holdMs) + (Banded(s) && s.guaranteed ? ", guaranteed soak" : "");
  if (s.kind == StepKind::WaitStable) return "stable for " + Span(s.windowMs) + ", drift at most " + Number(s.drift);
  if (s.kind != StepKind::Ramp) return QStringLiteral("\u2014");
  QString how = s.rampMs > 0 ? "over " + Span(s.rampMs) : Number(s.rate) + " a minute";
  return how + (s.byChamber ? ", by the chamber" : ", by the monitor");
}

QString WritesText(const Step &s) {
  QStringList writes;
  for (const QByteArray &w : StepWrites(s)) writes << QString::fromLatin1(w);
  if (s.kind == StepKind::Ramp && !s.byChamber) writes << QStringLiteral("the set value at each poll");
  return writes.join(", ");
}

void Cells(std::string &out, const QStringList &cells, const char *tag = "td") {
  out += "<tr>";
  for (const QString &c : cells) {
    out += std::string("<") + tag + ">";
    AppendHtml(c, out);
    out += std::string("</") + tag + ">";
  }
  out += "</tr>\n";
}

/* The channels plotted: those the profile sets or bands, else temperature. */
std::vector<int> PlottedChannels(const Profile &profile) {
  bool used[kAnalogueChannels] = {};
  for (const Step &s : profile.steps) {
    for (const ChannelValue &t : s.targets) used[t.channel] = true;
    for (const ChannelValue &b : s.band) used[b.channel] = true;
  }
  std::vector<int> out;
  for (int k = 0; k < kAnalogueChannels; k++)
    if (used[k]) out.push_back(k);
  if (out.empty()) out.push_back(0);
  return out;
}

QString PlotId(size_t chamber, size_t step, int channel) {
  return QStringLiteral("trend-%1-%2-%3").arg(chamber).arg(step).arg(channel);
}

const ChannelValue *BandOf(const Step &s, int channel) {
  for (const ChannelValue &b : s.band)
    if (b.channel == channel) return &b;
  return nullptr;
}

/* "out_of_band 3 times, no_answer": each alarm once, in the order first raised. */
QString AlarmsText(const std::vector<QString> &alarms) {
  QStringList names;
  for (const QString &a : alarms)
    if (!names.contains(a)) names << a;
  for (QString &name : names) {
    const auto times = std::count(alarms.begin(), alarms.end(), name);
    if (times > 1) name += QStringLiteral(" %1 times").arg(times);
  }
  return names.isEmpty() ? QStringLiteral("none") : names.join(", ");
}

/* One step of one chamber: its figures, each channel's, and its plots. */
void AppendStep(const ReportData &d, const QString &chamber, size_t c, size_t k, std::string &out) {
  const StepFigures &f = d.figures.chambers[c].steps[k];
  const Step &step = d.profile.steps[static_cast<size_t>(f.step - 1)];
  out += "<section class=\"step\">\n<h3>";
  AppendHtml(QStringLiteral("%1: step %2, %3").arg(chamber).arg(f.step).arg(f.label), out);
  out += "</h3>\n<table class=\"facts\">\n";
  Cells(out, {"Start", Utc(f.startMs), "End", Utc(f.endMs)});
  Cells(out, {"Out of band", Banded(step) ? Number(std::round(f.outOfBandSeconds * 1000) / 1000) + " s" : "no band",
              "Interruptions", QString::number(f.interruptions)});
  Cells(out, {"Polls", QString::number(f.samples), "Alarms raised", AlarmsText(f.alarms)});
  out += "</table>\n<table class=\"channels\">\n";
  Cells(out, {"Channel", "Answered", "Minimum", "Maximum", "Mean", "Band"}, "th");
  for (int ch = 0; ch < kAnalogueChannels; ch++) {
    const ChannelFigures &cf = f.channel[ch];
    const ChannelValue *band = BandOf(step, ch);
    if (cf.count == 0) continue;
    Cells(out, {ChannelName(ch), QString::number(cf.count), Number(cf.min), Number(cf.max), QString::number(cf.mean(), 'f', 3),
                band ? QStringLiteral("\u00b1") + Number(band->value) : QStringLiteral("\u2014")});
  }
  out += "</table>\n";
  for (int ch : f.samples > 1 ? PlottedChannels(d.profile) : std::vector<int>())
    out += "<div class=\"trend\" id=\"" + PlotId(c, k, ch).toStdString() + "\"></div>\n";
  out += "</section>\n";
}

/* A trend's buckets as plot points: a bucket's start in seconds, null
 * values where no poll was answered, and a null point before a gap. */
QJsonObject TrendJson(const StepTrend &t, int channel, const ChannelValue *band) {
  QJsonArray time, low, high, set;
  auto value = [](double v) { return std::isnan(v) ? QJsonValue() : QJsonValue(v); };
  double last = -1;
  for (size_t k = 0; k < t.buckets.size(); k++) {
    const StepTrendBucket &b = t.buckets[k];
    if (b.polls == 0) continue;
    const double at = static_cast<double>(t.originMs + static_cast<int64_t>(k) * t.bucketMs) / 1000;
    if (b.gapBefore && last >= 0) {
      time.append((last + at) / 2);
      low.append(QJsonValue()), high.append(QJsonValue()), set.append(QJsonValue());
    }
    time.append(at);
    low.append(value(b.min[channel])), high.append(value(b.max[channel])), set.append(value(b.set[channel]));
    last = at;
  }
  return QJsonObject{{"channel", channel}, {"name", ChannelName(channel)}, {"band", band ? QJsonValue(band->value) : QJsonValue()},
                     {"t", time}, {"min", low}, {"max", high}, {"set", set}};
}

}  // namespace

void AppendHtml(const QString &text, std::string &out) {
  const QByteArray utf8 = text.toUtf8();
  for (char c : utf8) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
}

void AppendOverview(const ReportData &d, std::string &out) {
  const RunFigures &f = d.figures;
  out += "<header>\n<h1>";
  AppendHtml("Test run " + f.runId, out);
  out += "</h1>\n<table class=\"facts\">\n";
  Cells(out, {"Profile", d.profile.name});
  Cells(out, {"Profile file", d.profile.path});
  Cells(out, {"Its SHA-256", QString::fromLatin1(d.profile.sha256)});
  Cells(out, {"Record", QStringLiteral("%1: %2 rows of the run, the last result at %3").arg(d.csvName).arg(f.rows).arg(Utc(f.lastRowMs))});
  for (const ChamberFigures &c : f.chambers) Cells(out, {"Chamber " + c.chamber, c.status});
  if (f.timeScale != 1)
    Cells(out, {"Time scale", QStringLiteral("the run's clock went %1 times real time (a test against the simulator): "
                                             "times are the wall clock's, seconds out of band the run's").arg(f.timeScale)});
  out += "</table>\n</header>\n";
}

void AppendTolerances(const ReportData &d, std::string &out) {
  const Profile &p = d.profile;
  out += "<section class=\"tolerances\">\n<h2>Steps and their tolerances</h2>\n<p>";
  AppendHtml(QStringLiteral("Polled every %1; a write that did not take is made again up to %2 times; on abort: %3.")
                 .arg(Span(p.pollMs)).arg(p.writeRetries).arg(ActionText(p.onAbort)), out);
  out += "</p>\n<table class=\"steps\">\n";
  Cells(out, {"#", "Step", "Kind", "Writes", "Band", "Time", "Limit", "On timeout", "Alarm after"}, "th");
  for (size_t k = 0; k < p.steps.size(); k++) {
    const Step &s = p.steps[k];
    const QString none = QStringLiteral("\u2014");
    Cells(out, {QString::number(k + 1), s.label, KindName(s.kind), WritesText(s), BandText(s.band), TimeText(s),
                s.maxMs > 0 ? Span(s.maxMs) : none, s.maxMs > 0 ? ActionText(s.onTimeout) : none,
                Banded(s) && s.alarmDelayMs > 0 ? Span(s.alarmDelayMs) : none});
  }
  out += "</table>\n</section>\n";
}

void AppendIntegrity(const ReportData &d, std::string &out) {
  const RunFigures &f = d.figures;
  out += "<section class=\"integrity\">\n<h2>Checking the record</h2>\n<p>";
  AppendHtml(QStringLiteral("Every figure here is computed from the run's rows in %1 (with the profile's bands, and the "
                            "journal's outages and alarms), by the rules of docs/runs.md: a poll is in band when it was "
                            "answered and every banded channel was within its band of the set value reported in the same "
                            "answer; the interval to the next poll counts as the poll was; minimum, maximum and mean are of "
                            "the answered polls. The run has %2 rows; the SHA-256 of their bytes, in file order with their "
                            "line ends:").arg(d.csvName).arg(f.rows), out);
  out += "</p>\n<table class=\"hashes\">\n";
  Cells(out, {"All chambers", QString::number(f.rows) + " rows", QString::fromLatin1(f.sha256)});
  for (const ChamberFigures &c : f.chambers) Cells(out, {c.chamber, QString::number(c.rows) + " rows", QString::fromLatin1(c.sha256)});
  out += "</table>\n<p>To check it (Python 3; for one chamber's rows, also ask that the second field be its name):</p>\n<pre>";
  QString name = d.csvName, id = f.runId;
  name.replace('\\', "\\\\").replace('"', "\\\"");
  id.replace('\\', "\\\\").replace('"', "\\\"");
  AppendHtml(QStringLiteral("import csv, hashlib\nh = hashlib.sha256()\nwith open(\"%1\", \"rb\") as f:\n"
                            "    next(f)                                   # the header\n    for line in f:\n"
                            "        if next(csv.reader([line.decode()]))[11] == \"%2\":\n            h.update(line)\n"
                            "print(h.hexdigest())\n").arg(name, id), out);
  out += "</pre>\n</section>\n";
}

void AppendProfileText(const ReportData &d, std::string &out) {
  out += "<section class=\"profile\">\n<h2>";
  AppendHtml("The profile: " + d.profile.path, out);
  out += "</h2>\n<pre>";
  AppendHtml(QString::fromUtf8(d.profileText), out);
  out += "</pre>\n</section>\n";
}

void AppendChamber(const ReportData &d, size_t c, std::string &out) {
  const ChamberFigures &cf = d.figures.chambers[c];
  out += "<section class=\"chamber\">\n<h2>";
  AppendHtml("Chamber " + cf.chamber, out);
  out += "</h2>\n<p>";
  AppendHtml(QStringLiteral("Run %1; %2 rows, SHA-256 %3.").arg(cf.status).arg(cf.rows).arg(QString::fromLatin1(cf.sha256)), out);
  out += "</p>\n<table class=\"steps\">\n";
  Cells(out, {"#", "Step", "Start", "End", "Out of band (s)", "Interruptions", "Alarms raised"}, "th");
  for (const StepFigures &s : cf.steps)
    Cells(out, {QString::number(s.step), s.label, Utc(s.startMs), Utc(s.endMs), Number(std::round(s.outOfBandSeconds * 1000) / 1000),
                QString::number(s.interruptions), AlarmsText(s.alarms)});
  out += "</table>\n";
  for (size_t k = 0; k < cf.steps.size(); k++) AppendStep(d, cf.chamber, c, k, out);
  out += "</section>\n";
}

QJsonArray TolerancesJson(const Profile &profile) {
  QJsonArray steps;
  for (size_t k = 0; k < profile.steps.size(); k++) {
    const Step &s = profile.steps[k];
    QJsonObject band;
    for (const ChannelValue &b : s.band) band[QString::number(b.channel)] = b.value;
    QJsonObject o{{"step", static_cast<int>(k + 1)}, {"name", s.label}, {"kind", KindName(s.kind)}, {"band", band},
                  {"banded", Banded(s)}, {"writes", WritesText(s)}};
    if (s.kind == StepKind::Hold) o["hold_s"] = static_cast<double>(s.holdMs) / 1000, o["guaranteed"] = Banded(s) && s.guaranteed;
    if (s.maxMs > 0) o["max_s"] = static_cast<double>(s.maxMs) / 1000, o["on_timeout"] = ActionText(s.onTimeout);
    if (Banded(s) && s.alarmDelayMs > 0) o["alarm_delay_s"] = static_cast<double>(s.alarmDelayMs) / 1000;
    steps.append(o);
  }
  return steps;
}

QJsonObject TrendsJson(const ReportData &d) {
  QJsonObject plots;
  for (size_t c = 0; c < d.figures.chambers.size(); c++) {
    const std::vector<StepFigures> &steps = d.figures.chambers[c].steps;
    for (size_t k = 0; k < steps.size(); k++) {
      const Step &step = d.profile.steps[static_cast<size_t>(steps[k].step - 1)];
      for (int ch : steps[k].samples > 1 ? PlottedChannels(d.profile) : std::vector<int>())
        plots[PlotId(c, k, ch)] = TrendJson(steps[k].trend, ch, BandOf(step, ch));
    }
  }
  return plots;
}

}  // namespace monitor
