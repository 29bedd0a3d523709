/*
 * run_record.cpp -- a run's figures from its CSV rows, its profile and its
 * journal (see run_record.h).
 */
#include "run_record.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QTimeZone>
#include <cmath>
#include <memory>

#include "rows.h"
#include "stability.h"

namespace monitor {

namespace {

enum Column { kTime, kChamber, kAddress, kCommand, kOutcome, kRoundTrip, kAnswer, kName, kChannel, kNumber, kText, kRun, kStep, kColumns };

/* One poll of "Aa" of one chamber. */
struct Sample {
  int64_t wallMs = 0;
  int step = 0;
  bool answered = false;
  double actual[kAnalogueChannels] = {}, set[kAnalogueChannels] = {};
};

/* The wall-clock interval a chamber's run was away. */
struct Outage {
  int64_t fromMs, toMs;
  int step;
};

int64_t ParseTime(const std::string &text) {
  return QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

/* Folds the rows of one result (one command at one time) into samples. */
class Collector {
 public:
  std::map<QString, std::vector<Sample>> samples;  /* per chamber, in file order */

  void row(const std::vector<std::string> &f) {
    if (f[kOutcome] == "skipped") return;  /* not polled: no sample */
    std::string key = f[kTime] + '\n' + f[kChamber] + '\n' + f[kCommand];
    if (key != key_) {
      flush();
      key_ = key;
      chamber_ = QString::fromStdString(f[kChamber]);
      sample_ = Sample{};
      sample_.wallMs = ParseTime(f[kTime]);
      sample_.step = std::atoi(f[kStep].c_str());
      sample_.answered = f[kOutcome] == "answered";
      isPoll_ = f[kCommand] == "Aa";
      values_ = 0;
    }
    int channel = f[kChannel].size() == 1 ? f[kChannel][0] - '0' : -1;
    if (channel < 0 || channel >= kAnalogueChannels || f[kNumber].empty()) return;
    double v = std::strtod(f[kNumber].c_str(), nullptr);
    if (f[kName] == "actual") sample_.actual[channel] = v, values_++;
    if (f[kName] == "set") sample_.set[channel] = v, values_++;
  }

  void flush() {
    if (!key_.empty() && isPoll_) {
      sample_.answered = sample_.answered && values_ == 2 * kAnalogueChannels;
      samples[chamber_].push_back(sample_);
    }
    key_.clear();
  }

 private:
  std::string key_;
  QString chamber_;
  Sample sample_;
  bool isPoll_ = false;
  int values_ = 0;
};

/* In band as the runner judges it: answered, every banded channel of the
 * step within its band of the set value reported. */
bool InBand(const Sample &s, const Step &step) {
  if (!s.answered) return false;
  for (const ChannelValue &b : step.band)
    if (!AtMost(std::fabs(s.actual[b.channel] - s.set[b.channel]), b.value)) return false;
  return true;
}

/* The milliseconds of [from, to) that fall into an outage. */
int64_t AwayWithin(int64_t from, int64_t to, const std::vector<Outage> &outages) {
  int64_t away = 0;
  for (const Outage &o : outages) away += std::max<int64_t>(0, std::min(to, o.toMs) - std::max(from, o.fromMs));
  return away;
}

/* The figures of one chamber from its samples, outages and alarms. */
ChamberFigures Figure(const QString &chamber, const std::vector<Sample> &samples, const std::vector<Outage> &outages,
                      const std::vector<std::pair<int64_t, std::pair<int, QString>>> &alarms, const Profile &profile,
                      double scale) {
  ChamberFigures c;
  c.chamber = chamber;
  bool lastAnswered = true;
  for (size_t k = 0; k < samples.size(); k++) {
    const Sample &s = samples[k];
    if (s.step < 1 || s.step > static_cast<int>(profile.steps.size())) continue;
    const Step &step = profile.steps[static_cast<size_t>(s.step - 1)];
    if (c.steps.empty() || c.steps.back().step != s.step) {
      c.steps.push_back(StepFigures{});
      c.steps.back().step = s.step;
      c.steps.back().label = step.label;
      c.steps.back().startMs = s.wallMs;
      lastAnswered = true;
    }
    StepFigures &f = c.steps.back();
    f.endMs = s.wallMs;
    f.samples++;
    if (!s.answered && lastAnswered) f.interruptions++;
    lastAnswered = s.answered;
    for (int ch = 0; s.answered && ch < kAnalogueChannels; ch++) {
      ChannelFigures &cf = f.channel[ch];
      cf.min = cf.count ? std::min(cf.min, s.actual[ch]) : s.actual[ch];
      cf.max = cf.count ? std::max(cf.max, s.actual[ch]) : s.actual[ch];
      cf.sum += s.actual[ch];
      cf.count++;
    }
    if (k + 1 < samples.size() && samples[k + 1].step == s.step && Banded(step)) {
      int64_t span = samples[k + 1].wallMs - s.wallMs;
      int64_t away = AwayWithin(s.wallMs, samples[k + 1].wallMs, outages);
      if (!InBand(s, step)) f.outOfBandSeconds += static_cast<double>(span - away) * scale / 1000;
    }
  }
  for (const Outage &o : outages)
    for (StepFigures &f : c.steps)
      if (f.step == o.step + 1 && o.toMs >= f.startMs && (o.fromMs <= f.endMs || &f == &c.steps.back())) {
        if (Banded(profile.steps[static_cast<size_t>(f.step - 1)]))
          f.outOfBandSeconds += static_cast<double>(o.toMs - o.fromMs) * scale / 1000;
        f.interruptions++;
        break;
      }
  for (const auto &[wall, alarm] : alarms) {
    StepFigures *into = nullptr;
    for (StepFigures &f : c.steps)
      if (f.step == alarm.first + 1 && (!into || f.startMs <= wall)) into = &f;
    if (into) into->alarms.push_back(alarm.second);
  }
  return c;
}

}  // namespace

std::vector<std::string> SplitCsvLine(const std::string &line) {
  std::vector<std::string> fields(1);
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
      else quoted = false;
    } else if (c == ',') {
      fields.emplace_back();
      wasQuoted = false;
    } else if (c == '"' && fields.back().empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (wasQuoted || c == '"') {
      return {};
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return {};
  return fields;
}

bool ComputeRunFigures(const QString &csvPath, const QString &runId, const Profile &profile,
                       const std::vector<QJsonObject> &journal, RunFigures *out, QString *error) {
  QFile file(csvPath);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = csvPath + ": cannot read the run's CSV file: " + file.errorString();
    return false;
  }
  if (file.readLine() != QByteArray(kRunCsvHeader)) {
    *error = csvPath + ": not the CSV file of a run (its first line is not the run header)";
    return false;
  }
  out->runId = runId;
  const std::string id = runId.toStdString();
  QCryptographicHash all(QCryptographicHash::Sha256);
  std::map<QString, std::unique_ptr<QCryptographicHash>> per;
  std::map<QString, uint64_t> rows;
  Collector collector;
  for (QByteArray line; !(line = file.readLine()).isEmpty();) {
    if (!line.endsWith('\n')) break;  /* a torn last row is no row */
    std::vector<std::string> f = SplitCsvLine(line.chopped(1).toStdString());
    if (f.size() != kColumns || f[kRun] != id) continue;
    QString chamber = QString::fromStdString(f[kChamber]);
    if (!per[chamber]) per[chamber] = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
    per[chamber]->addData(line);
    all.addData(line);
    rows[chamber]++;
    out->rows++;
    collector.row(f);
  }
  collector.flush();
  out->sha256 = all.result().toHex();
  std::map<QString, std::vector<Outage>> outages;
  std::map<QString, std::vector<std::pair<int64_t, std::pair<int, QString>>>> alarms;
  std::map<QString, QString> status;
  for (const QJsonObject &r : journal) {
    QString chamber = r["chamber"].toString(), e = r["e"].toString();
    int64_t wall = static_cast<int64_t>(r["wall"].toDouble());
    if (e == "run") out->timeScale = r["scale"].toDouble(1);
    if (e == "outage")
      outages[chamber].push_back(Outage{static_cast<int64_t>(r["from_wall"].toDouble()), wall, r["step"].toInt()});
    if (e == "alarm" && r["raised"].toBool()) alarms[chamber].push_back({wall, {r["step"].toInt(), r["alarm"].toString()}});
    if (e == "end") status[chamber] = r["status"].toString();
    if (e == "step" && !rows.count(chamber)) rows[chamber] = 0;
  }
  for (const auto &[chamber, count] : rows) {
    ChamberFigures c = Figure(chamber, collector.samples[chamber], outages[chamber], alarms[chamber], profile, out->timeScale);
    c.rows = count;
    c.sha256 = per.count(chamber) ? per[chamber]->result().toHex() : QCryptographicHash::hash("", QCryptographicHash::Sha256).toHex();
    c.status = status.count(chamber) ? status[chamber] : QStringLiteral("running");
    out->chambers.push_back(c);
  }
  return true;
}

QJsonObject RunFiguresJson(const RunFigures &figures, const Profile &profile) {
  QJsonArray chambers;
  for (const ChamberFigures &c : figures.chambers) {
    QJsonArray steps;
    for (const StepFigures &s : c.steps) {
      QJsonObject channels;
      for (int k = 0; k < kAnalogueChannels; k++) {
        if (s.channel[k].count == 0) continue;
        channels[QString::number(k)] = QJsonObject{{"min", s.channel[k].min}, {"max", s.channel[k].max},
                                                   {"mean", s.channel[k].mean()}, {"samples", static_cast<double>(s.channel[k].count)}};
      }
      QJsonArray alarms;
      for (const QString &a : s.alarms) alarms.append(a);
      steps.append(QJsonObject{
          {"step", s.step}, {"name", s.label},
          {"start", QDateTime::fromMSecsSinceEpoch(s.startMs, QTimeZone::utc()).toString(Qt::ISODateWithMs)},
          {"end", QDateTime::fromMSecsSinceEpoch(s.endMs, QTimeZone::utc()).toString(Qt::ISODateWithMs)},
          {"channels", channels}, {"seconds_out_of_band", std::round(s.outOfBandSeconds * 1000) / 1000},
          {"interruptions", s.interruptions}, {"alarms", alarms}});
    }
    chambers.append(QJsonObject{{"chamber", c.chamber}, {"status", c.status}, {"steps", steps},
                                {"rows", static_cast<double>(c.rows)}, {"rows_sha256", QString::fromLatin1(c.sha256)}});
  }
  return QJsonObject{{"run", figures.runId}, {"profile", profile.path}, {"profile_name", profile.name},
                     {"profile_sha256", QString::fromLatin1(profile.sha256)}, {"rows", static_cast<double>(figures.rows)},
                     {"rows_sha256", QString::fromLatin1(figures.sha256)}, {"chambers", chambers}};
}

}  // namespace monitor
