/*
 * profile.cpp -- reading a test profile from TOML (see profile.h and
 * docs/runs.md) with toml++, and the commands its steps write.
 *
 * Every check adds a message with the place of the value it is about and
 * goes on, so that one reading reports every problem of the file.
 */
#include "profile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <sstream>
#include <toml++/toml.h>

namespace monitor {

namespace {

constexpr int kMaxRepeat = 100000;
constexpr int kMaxSteps = 100000;          /* after unrolling */
constexpr double kValueMin = -99.9, kValueMax = 999.9;
constexpr double kRateMax = 999.8;         /* 999.9 means "no ramp" */
constexpr int64_t kDefaultAlarmDelayMs = 300000;
constexpr int64_t kMaxDurationMs = int64_t(366) * 86400 * 1000;

struct DigitalName {
  const char *name;
  int index;
};
constexpr DigitalName kDigitalNames[] = {
    {"start", 1}, {"pause", 3}, {"flag1", 4}, {"flag2", 5}, {"flag3", 6}, {"flag4", 7}, {"flag5", 8},
    {"softkey1", 9}, {"softkey2", 10}, {"softkey3", 11}, {"softkey4", 12}, {"softkey5", 13},
};

/* Collects the problems of one profile, each with its place. */
class Reader {
 public:
  explicit Reader(const QString &fileName) : fileName_(fileName) {}

  void problem(const toml::node *at, const QString &what) { problem(WhereOf(at), what); }
  void problem(Where w, const QString &what) {
    problems_ << QStringLiteral("%1:%2:%3: %4").arg(fileName_).arg(w.line).arg(w.column).arg(what);
  }
  bool ok() const { return problems_.isEmpty(); }
  QString text() const { return problems_.join('\n'); }

  static Where WhereOf(const toml::node *at) {
    Where w;
    if (at) {
      w.line = static_cast<int>(at->source().begin.line);
      w.column = static_cast<int>(at->source().begin.column);
    }
    return w;
  }

  bool duration(const toml::node *n, const char *key, int64_t *ms);
  bool number(const toml::node *n, const char *key, double low, double high, double *out);
  bool action(const toml::node *n, const char *key, StepAction *out);
  bool channels(const toml::node *n, const char *key, double low, double high, std::vector<ChannelValue> *out);

 private:
  QString fileName_;
  QStringList problems_;
};

/* A duration: seconds as a number, or a text of numbers with units d, h,
 * m, s ("16h", "1h30m", "90s", "0.5h"). Returns -1 when it is none. */
int64_t DurationMs(const toml::node &n) {
  if (auto v = n.value<double>()) return std::isfinite(*v) && *v >= 0 ? std::llround(*v * 1000) : -1;
  auto text = n.value<std::string>();
  if (!text) return -1;
  static const QRegularExpression part(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*([dhms])"));
  QString rest = QString::fromStdString(*text).trimmed();
  double seconds = 0;
  if (rest.isEmpty()) return -1;
  while (!rest.isEmpty()) {
    QRegularExpressionMatch m = part.match(rest);
    if (!m.hasMatch()) return -1;
    const QChar unit = m.captured(2)[0];
    double scale = unit == 'd' ? 86400 : unit == 'h' ? 3600 : unit == 'm' ? 60 : 1;
    seconds += m.captured(1).toDouble() * scale;
    rest = rest.mid(m.capturedLength()).trimmed();
  }
  return std::llround(seconds * 1000);
}

bool Reader::duration(const toml::node *n, const char *key, int64_t *ms) {
  int64_t value = n ? DurationMs(*n) : -1;
  if (value < 0 || value > kMaxDurationMs) {
    problem(n, QStringLiteral("%1 needs a duration: seconds, or a text such as \"16h\", \"1h30m\", \"90s\" "
                              "(up to a year)").arg(key));
    return false;
  }
  *ms = value;
  return true;
}

bool Reader::number(const toml::node *n, const char *key, double low, double high, double *out) {
  auto v = n ? n->value<double>() : std::optional<double>();
  if (!v || !(*v >= low && *v <= high)) {
    problem(n, QStringLiteral("%1 needs a number from %2 to %3").arg(key).arg(low).arg(high));
    return false;
  }
  *out = *v;
  return true;
}

/* "stop", "keep" or "goto:NAME"; the target is found after unrolling. */
bool Reader::action(const toml::node *n, const char *key, StepAction *out) {
  auto text = n ? n->value<std::string>() : std::optional<std::string>();
  QString t = text ? QString::fromStdString(*text) : QString();
  out->where = WhereOf(n);
  if (t == "stop" || t == "keep") {
    out->kind = t == "stop" ? ActionKind::Stop : ActionKind::Keep;
    return true;
  }
  if (t.startsWith("goto:") && t.size() > 5) {
    out->kind = ActionKind::Goto;
    out->targetName = t.mid(5);
    return true;
  }
  problem(n, QStringLiteral("%1 needs \"stop\", \"keep\" or \"goto:STEP\"").arg(key));
  return false;
}

/* The channel a key names: "temperature", "humidity", "0" to "4" or
 * "channel0" to "channel4"; -1 for none. */
int ChannelOf(const std::string &key) {
  if (key == "temperature") return 0;
  if (key == "humidity") return 1;
  std::string digits = key.rfind("channel", 0) == 0 ? key.substr(7) : key;
  if (digits.size() == 1 && digits[0] >= '0' && digits[0] < '0' + kAnalogueChannels) return digits[0] - '0';
  return -1;
}

/* A table of channel = number, each within [low, high]. */
bool Reader::channels(const toml::node *n, const char *key, double low, double high,
                      std::vector<ChannelValue> *out) {
  const toml::table *t = n ? n->as_table() : nullptr;
  if (!t || t->empty()) {
    problem(n, QStringLiteral("%1 needs a table of channels, e.g. { temperature = -25.0 }").arg(key));
    return false;
  }
  bool good = true;
  for (const auto &[name, value] : *t) {
    ChannelValue cv;
    cv.channel = ChannelOf(std::string(name.str()));
    cv.where = WhereOf(&value);
    if (cv.channel < 0) {
      problem(&value, QStringLiteral("%1: \"%2\" is no channel (temperature, humidity, 0 to 4)")
                          .arg(key, QString::fromStdString(std::string(name.str()))));
      good = false;
    } else if (number(&value, key, low, high, &cv.value)) {
      out->push_back(cv);
    } else {
      good = false;
    }
  }
  return good;
}

/* The keys each kind of step may have beside its own. */
const char *const kCommonKeys[] = {"name", "alarm_delay"};
struct KindKeys {
  const char *key;
  StepKind kind;
  std::vector<const char *> allowed;
};
const KindKeys kKinds[] = {
    {"set", StepKind::Set, {}},
    {"ramp", StepKind::Ramp, {"rate", "duration", "by", "band", "max", "on_timeout"}},
    {"hold", StepKind::Hold, {"band", "guaranteed", "max", "on_timeout"}},
    {"wait_stable", StepKind::WaitStable, {"window", "drift", "timeout", "on_timeout"}},
    {"digital", StepKind::Digital, {}},
    {"repeat", StepKind::Set, {"step"}},
};

/* Reads one step table; repeat blocks are unrolled into out. */
class StepReader {
 public:
  StepReader(Reader &r, int64_t alarmDelayMs) : r_(r), alarmDelayMs_(alarmDelayMs) {}
  void steps(const toml::array *list, const QString &cycle, std::vector<Step> *out);

 private:
  void one(const toml::table &t, const QString &cycle, std::vector<Step> *out);
  const KindKeys *kindOf(const toml::table &t);
  void ramp(const toml::table &t, Step *s);
  void hold(const toml::table &t, Step *s);
  void waitStable(const toml::table &t, Step *s);
  void digital(const toml::node *n, Step *s);
  void timeout(const toml::table &t, const char *key, Step *s);

  Reader &r_;
  int64_t alarmDelayMs_;
};

void StepReader::steps(const toml::array *list, const QString &cycle, std::vector<Step> *out) {
  for (const toml::node &n : *list) {
    if (const toml::table *t = n.as_table()) one(*t, cycle, out);
    else r_.problem(&n, QStringLiteral("a step is a table ([[step]])"));
    if (out->size() > static_cast<size_t>(kMaxSteps)) {
      r_.problem(&n, QStringLiteral("more than %1 steps once repeats are unrolled").arg(kMaxSteps));
      return;
    }
  }
}

/* The one kind key of t, after checking that every key is known. */
const KindKeys *StepReader::kindOf(const toml::table &t) {
  const KindKeys *kind = nullptr;
  for (const KindKeys &k : kKinds) {
    if (!t.contains(k.key)) continue;
    if (kind) r_.problem(t.get(k.key), QStringLiteral("a step does one thing: \"%1\" and \"%2\" in one step")
                                           .arg(kind->key, k.key));
    else kind = &k;
  }
  if (!kind) {
    r_.problem(&t, QStringLiteral("a step needs one of set, ramp, hold, wait_stable, digital, repeat"));
    return nullptr;
  }
  for (const auto &[key, value] : t) {
    std::string k(key.str());
    bool known = k == kind->key || std::find_if(std::begin(kCommonKeys), std::end(kCommonKeys),
                                                [&](const char *c) { return k == c; }) != std::end(kCommonKeys) ||
                 std::find_if(kind->allowed.begin(), kind->allowed.end(), [&](const char *c) { return k == c; }) !=
                     kind->allowed.end();
    if (!known) r_.problem(&value, QStringLiteral("a %1 step has no \"%2\"").arg(kind->key, QString::fromStdString(k)));
  }
  return kind;
}

void StepReader::one(const toml::table &t, const QString &cycle, std::vector<Step> *out) {
  const KindKeys *kind = kindOf(t);
  if (!kind) return;
  Step s;
  s.where = Reader::WhereOf(&t);
  if (auto name = t["name"].value<std::string>()) s.name = QString::fromStdString(*name);
  if (std::string(kind->key) == "repeat") {
    auto times = t["repeat"].value<int64_t>();
    const toml::array *inner = t["step"].as_array();
    if (!times || *times < 1 || *times > kMaxRepeat) r_.problem(t.get("repeat"), QStringLiteral("repeat needs a count from 1 to %1").arg(kMaxRepeat));
    else if (!inner || inner->empty()) r_.problem(&t, QStringLiteral("repeat needs its steps ([[step.step]])"));
    else
      for (int64_t i = 1; i <= *times && r_.ok(); i++)
        steps(inner, QStringLiteral("%1%2 %3/%4").arg(cycle, s.name.isEmpty() ? "cycle" : s.name).arg(i).arg(*times), out);
    return;
  }
  s.kind = kind->kind;
  s.alarmDelayMs = alarmDelayMs_;
  if (t.contains("alarm_delay")) r_.duration(t.get("alarm_delay"), "alarm_delay", &s.alarmDelayMs);
  s.label = (s.name.isEmpty() ? QStringLiteral("step %1").arg(out->size() + 1) : s.name) +
            (cycle.isEmpty() ? QString() : " (" + cycle + ")");
  if (s.kind == StepKind::Set) r_.channels(t.get("set"), "set", kValueMin, kValueMax, &s.targets);
  else if (s.kind == StepKind::Ramp) ramp(t, &s);
  else if (s.kind == StepKind::Hold) hold(t, &s);
  else if (s.kind == StepKind::WaitStable) waitStable(t, &s);
  else digital(t.get("digital"), &s);
  /* Written in the order of the channels, whatever the order in the file. */
  std::sort(s.targets.begin(), s.targets.end(), [](const ChannelValue &a, const ChannelValue &b) { return a.channel < b.channel; });
  std::sort(s.digital.begin(), s.digital.end(), [](const DigitalWrite &a, const DigitalWrite &b) { return a.index < b.index; });
  out->push_back(s);
}

void StepReader::ramp(const toml::table &t, Step *s) {
  r_.channels(t.get("ramp"), "ramp", kValueMin, kValueMax, &s->targets);
  if (t.contains("rate") == t.contains("duration"))
    r_.problem(&t, QStringLiteral("a ramp needs either rate (per minute) or duration"));
  else if (t.contains("rate")) r_.number(t.get("rate"), "rate", 0.01, kRateMax, &s->rate);
  else r_.duration(t.get("duration"), "duration", &s->rampMs);
  auto by = t["by"].value_or<std::string>("chamber");
  if (by != "chamber" && by != "monitor") r_.problem(t.get("by"), QStringLiteral("by needs \"chamber\" or \"monitor\""));
  s->byChamber = by == "chamber";
  if (s->byChamber && s->rampMs > 0)
    r_.problem(t.get("duration"), QStringLiteral("a ramp by the chamber needs a rate; duration is for by = \"monitor\""));
  if (t.contains("band")) r_.channels(t.get("band"), "band", 0, kValueMax, &s->band);
  timeout(t, "max", s);
}

void StepReader::hold(const toml::table &t, Step *s) {
  r_.duration(t.get("hold"), "hold", &s->holdMs);
  if (t.contains("band")) r_.channels(t.get("band"), "band", 0, kValueMax, &s->band);
  s->guaranteed = t["guaranteed"].value_or(!s->band.empty());
  if (s->guaranteed && s->band.empty())
    r_.problem(t.get("guaranteed"), QStringLiteral("guaranteed soak needs a band"));
  timeout(t, "max", s);
}

void StepReader::waitStable(const toml::table &t, Step *s) {
  r_.channels(t.get("wait_stable"), "wait_stable", 0, kValueMax, &s->band);
  r_.duration(t.get("window"), "window", &s->windowMs);
  r_.number(t.get("drift"), "drift", 0, kValueMax, &s->drift);
  if (!t.contains("timeout")) r_.problem(&t, QStringLiteral("wait_stable needs a timeout"));
  else timeout(t, "timeout", s);
}

void StepReader::digital(const toml::node *n, Step *s) {
  const toml::table *t = n ? n->as_table() : nullptr;
  if (!t || t->empty()) {
    r_.problem(n, QStringLiteral("digital needs a table such as { start = true }"));
    return;
  }
  for (const auto &[key, value] : *t) {
    const std::string k(key.str());
    auto it = std::find_if(std::begin(kDigitalNames), std::end(kDigitalNames), [&](const DigitalName &d) { return k == d.name; });
    auto on = value.is_boolean() ? value.value<bool>() : std::optional<bool>();
    if (it == std::end(kDigitalNames) || !on)
      r_.problem(&value, QStringLiteral("digital: \"%1\" needs to be one of start, pause, flag1 to flag5, "
                                        "softkey1 to softkey5, set to true or false").arg(QString::fromStdString(k)));
    else s->digital.push_back(DigitalWrite{it->index, *on});
  }
}

/* The step's limit in time (key "max" or "timeout") and its action. */
void StepReader::timeout(const toml::table &t, const char *key, Step *s) {
  if (t.contains(key) && r_.duration(t.get(key), key, &s->maxMs) && s->maxMs == 0)
    r_.problem(t.get(key), QStringLiteral("%1 must be longer than 0").arg(key));
  if (t.contains("on_timeout")) r_.action(t.get("on_timeout"), "on_timeout", &s->onTimeout);
  else if (t.contains(key)) s->onTimeout.kind = ActionKind::Stop;
}

/* Finds the step each goto names: the first of that name. */
void ResolveGoto(Reader &r, StepAction *a, const std::vector<Step> &steps) {
  if (a->kind != ActionKind::Goto) return;
  for (size_t i = 0; i < steps.size(); i++)
    if (steps[i].name == a->targetName) {
      a->target = static_cast<int>(i);
      return;
    }
  r.problem(a->where, QStringLiteral("goto: no step named \"%1\"").arg(a->targetName));
}

}  // namespace

bool ParseProfile(const QByteArray &text, const QString &fileName, Profile *out, QString *error) {
  Reader r(fileName);
  toml::table root;
  try {
    root = toml::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())), fileName.toStdString());
  } catch (const toml::parse_error &e) {
    Where w{static_cast<int>(e.source().begin.line), static_cast<int>(e.source().begin.column)};
    r.problem(w, QString::fromStdString(std::string(e.description())));
    *error = r.text();
    return false;
  }
  static const char *const kTop[] = {"name", "poll", "write_retries", "on_abort", "alarm_delay", "step"};
  for (const auto &[key, value] : root)
    if (std::find_if(std::begin(kTop), std::end(kTop), [&](const char *k) { return key.str() == k; }) == std::end(kTop))
      r.problem(&value, QStringLiteral("a profile has no \"%1\"").arg(QString::fromStdString(std::string(key.str()))));
  out->name = QString::fromStdString(root["name"].value_or<std::string>(fileName.toStdString()));
  int64_t pollMs = 10000, alarmDelayMs = kDefaultAlarmDelayMs;
  if (root.contains("poll") && r.duration(root.get("poll"), "poll", &pollMs) && (pollMs < 100 || pollMs > 3600000))
    r.problem(root.get("poll"), QStringLiteral("poll needs from 0.1 s to 1 h"));
  out->pollMs = static_cast<int>(pollMs);
  double retries = 3;
  if (root.contains("write_retries")) r.number(root.get("write_retries"), "write_retries", 0, 10, &retries);
  out->writeRetries = static_cast<int>(retries);
  if (root.contains("on_abort")) r.action(root.get("on_abort"), "on_abort", &out->onAbort);
  if (root.contains("alarm_delay")) r.duration(root.get("alarm_delay"), "alarm_delay", &alarmDelayMs);
  const toml::array *steps = root["step"].as_array();
  if (!steps || steps->empty()) r.problem(Where{1, 1}, QStringLiteral("a profile needs steps ([[step]])"));
  else StepReader(r, alarmDelayMs).steps(steps, QString(), &out->steps);
  ResolveGoto(r, &out->onAbort, out->steps);
  for (Step &s : out->steps) ResolveGoto(r, &s.onTimeout, out->steps);
  out->sha256 = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
  *error = r.text();
  return r.ok();
}

bool LoadProfile(const QString &path, Profile *out, QString *error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = QStringLiteral("%1: cannot read the profile: %2").arg(path, file.errorString());
    return false;
  }
  out->path = path;
  return ParseProfile(file.readAll(), path, out, error);
}

QString ChannelName(int channel) {
  if (channel == 0) return QStringLiteral("temperature");
  if (channel == 1) return QStringLiteral("humidity");
  return QStringLiteral("channel %1").arg(channel);
}

QByteArray ValueField(double v) {
  char text[16];
  v = std::min(kValueMax, std::max(kValueMin, std::round(v * 10) / 10));
  if (v < 0) snprintf(text, sizeof text, "-%04.1f", -v);
  else snprintf(text, sizeof text, "%05.1f", v);
  return QByteArray(text);
}

QByteArray RateField(double perMinute) {
  char text[16];
  perMinute = std::min(999.9, std::max(0.0, perMinute));
  if (std::round(perMinute * 100) / 100 < 100) snprintf(text, sizeof text, "%05.2f", perMinute);
  else snprintf(text, sizeof text, "%05.1f", perMinute);
  return QByteArray(text);
}

std::vector<QByteArray> StepWrites(const Step &step) {
  std::vector<QByteArray> out;
  for (const ChannelValue &t : step.targets) {
    QByteArray k = QByteArray::number(t.channel);
    if (step.kind == StepKind::Ramp) {
      QByteArray rate = step.byChamber ? RateField(step.rate) : QByteArray("999.9");
      out.push_back("u" + k + " " + rate);
      out.push_back("d" + k + " " + rate);
    }
    if (step.kind == StepKind::Set || step.byChamber) out.push_back("a" + k + " " + ValueField(t.value));
  }
  for (const DigitalWrite &d : step.digital) {
    if (d.index == 1) out.push_back(QByteArray("s1 ") + (d.on ? "1" : "0"));
    else if (d.index == 3) out.push_back(QByteArray("s3 ") + (d.on ? "0" : "1"));  /* "s3 0" pauses */
    else out.push_back(QByteArray("o") + QByteArray::number(d.index).rightJustified(2, '0') + " " + (d.on ? "1" : "0"));
  }
  return out;
}

}  // namespace monitor
