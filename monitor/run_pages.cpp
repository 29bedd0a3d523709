/*
 * run_pages.cpp -- the run's steps and alarms per chamber from its journal,
 * and the run's JSON for the pages (see run_pages.h).
 */
#include "run_pages.h"

#include <cmath>
#include <cstring>

#include "http_server.h"
#include "json_text.h"

namespace monitor {

namespace {

const char *const kKindNames[] = {"set", "ramp", "hold", "wait_stable", "digital"};

void AppendString(const QString &text, std::string &out) {
  const QByteArray bytes = text.toUtf8();
  AppendJsonString(bytes.constData(), static_cast<size_t>(bytes.size()), out);
}

/* {"0": value, ...} of channel values. */
void AppendChannels(const std::vector<ChannelValue> &values, std::string &out) {
  out += '{';
  for (size_t k = 0; k < values.size(); k++) {
    out += k ? ",\"" : "\"";
    out += std::to_string(values[k].channel);
    out += "\":";
    AppendJsonNumber(values[k].value, out);
  }
  out += '}';
}

void AppendAction(const StepAction &a, std::string &out) {
  if (a.kind == ActionKind::Goto) AppendString("goto:" + a.targetName, out);
  else out += a.kind == ActionKind::Keep ? "\"keep\"" : "\"stop\"";
}

/* What a step does, by its kind: the members after "kind". */
void AppendStepKind(const Step &s, std::string &out) {
  if (s.kind == StepKind::Set || s.kind == StepKind::Ramp) {
    AppendJsonKey("targets", false, out);
    AppendChannels(s.targets, out);
  }
  if (s.kind == StepKind::Ramp) {
    AppendJsonKey(s.rampMs > 0 ? "ramp_s" : "rate_per_min", false, out);
    AppendJsonNumber(s.rampMs > 0 ? s.rampMs / 1000.0 : s.rate, out);
    out += s.byChamber ? ",\"by\":\"chamber\"" : ",\"by\":\"monitor\"";
  } else if (s.kind == StepKind::Hold) {
    AppendJsonKey("hold_s", false, out);
    AppendJsonNumber(s.holdMs / 1000.0, out);
    out += s.guaranteed ? ",\"guaranteed\":true" : ",\"guaranteed\":false";
  } else if (s.kind == StepKind::WaitStable) {
    AppendJsonKey("window_s", false, out);
    AppendJsonNumber(s.windowMs / 1000.0, out);
    AppendJsonKey("drift", false, out);
    AppendJsonNumber(s.drift, out);
  } else if (s.kind == StepKind::Digital) {
    out += ",\"digital\":{";
    for (size_t k = 0; k < s.digital.size(); k++)
      out += (k ? ",\"" : "\"") + std::to_string(s.digital[k].index) + (s.digital[k].on ? "\":true" : "\":false");
    out += '}';
  }
}

/* One step of the profile, k from 0, with its kind, band and limits. */
void AppendStep(const Step &s, size_t k, std::string &out) {
  out += "{\"step\":" + std::to_string(k + 1);
  AppendJsonKey("name", false, out);
  AppendString(s.label, out);
  AppendJsonKey("kind", false, out);
  AppendJsonString(kKindNames[static_cast<int>(s.kind)], strlen(kKindNames[static_cast<int>(s.kind)]), out);
  AppendStepKind(s, out);
  if (!s.band.empty()) {
    AppendJsonKey("band", false, out);
    AppendChannels(s.band, out);
  }
  if (s.maxMs > 0) {
    AppendJsonKey("max_s", false, out);
    AppendJsonNumber(s.maxMs / 1000.0, out);
    AppendJsonKey("on_timeout", false, out);
    AppendAction(s.onTimeout, out);
  }
  if (s.alarmDelayMs > 0) {
    AppendJsonKey("alarm_delay_s", false, out);
    AppendJsonNumber(s.alarmDelayMs / 1000.0, out);
  }
  out += '}';
}

}  // namespace

RunEvents::RunEvents(const Profile &profile, const std::vector<ChamberStats> &chambers)
    : profile_(profile), steps_(chambers.size()), alarms_(chambers.size()) {
  for (size_t i = 0; i < chambers.size(); i++) index_.insert(QString::fromUtf8(chambers[i].name), static_cast<int>(i));
}

void RunEvents::take(const QJsonObject &record) {
  const QString e = record["e"].toString();
  if (e != "step" && e != "alarm" && e != "end") return;
  const int i = index_.value(record["chamber"].toString(), -1);
  const int64_t wall = static_cast<int64_t>(record["wall"].toDouble());
  if (i < 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (e == "alarm") {
    const QByteArray name = record["alarm"].toString().toLatin1();
    for (int k = 0; k < kAlarmKinds; k++)
      if (name == AlarmName(k)) alarms_[static_cast<size_t>(i)].push_back({wall, k, record["raised"].toBool()});
    return;
  }
  const int step = e == "step" ? record["step"].toInt() : -1;
  if (step < static_cast<int>(profile_.steps.size())) steps_[static_cast<size_t>(i)].push_back({wall, step});
}

void RunEvents::appendSeries(int chamber, int64_t from, int64_t to, std::string &out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  appendSteps(steps_[static_cast<size_t>(chamber)], from, to, out);
  out += ",\"alarms\":[";
  bool first = true;
  for (const Alarm &a : alarms_[static_cast<size_t>(chamber)]) {
    if (a.wall < from || a.wall >= to) continue;
    out += (first ? "{\"t\":" : ",{\"t\":") + std::to_string(a.wall) + ",\"alarm\":\"" + AlarmName(a.kind) + "\"";
    out += a.raised ? ",\"raised\":true}" : ",\"raised\":false}";
    first = false;
  }
  out += ']';
}

/* The member steps of a series: those of steps that overlap [from, to),
 * each to the next one entered, with its band if it keeps one. */
void RunEvents::appendSteps(const std::vector<Entered> &steps, int64_t from, int64_t to, std::string &out) const {
  out += ",\"steps\":[";
  bool first = true;
  for (size_t k = 0; k < steps.size(); k++) {
    const int64_t end = k + 1 < steps.size() ? steps[k + 1].wall : -1;
    if (steps[k].step < 0 || steps[k].wall >= to || (end >= 0 && end <= from)) continue;
    const Step &s = profile_.steps[static_cast<size_t>(steps[k].step)];
    out += first ? "{\"step\":" : ",{\"step\":";
    out += std::to_string(steps[k].step + 1) + ",\"name\":";
    AppendString(s.label, out);
    out += ",\"from\":" + std::to_string(steps[k].wall) + ",\"to\":" + (end >= 0 ? std::to_string(end) : "null");
    out += ",\"band\":";
    AppendChannels(Banded(s) ? s.band : std::vector<ChannelValue>(), out);
    out += '}';
    first = false;
  }
  out += ']';
}

void AppendRuns(const Runner &runner, const Profile &profile, const std::vector<ChamberStats> &chambers,
                std::string &out) {
  out += "{\"runs\":[{\"id\":";
  AppendString(runner.runId(), out);
  out += ",\"profile\":{\"path\":";
  AppendString(profile.path, out);
  out += ",\"name\":";
  AppendString(profile.name, out);
  out += ",\"sha256\":\"" + profile.sha256.toStdString() + "\"},\"steps\":[";
  for (size_t k = 0; k < profile.steps.size(); k++) {
    if (k) out += ',';
    AppendStep(profile.steps[k], k, out);
  }
  out += "],\"chambers\":[";
  for (size_t i = 0; i < chambers.size() && i < runner.views().size(); i++) {
    out += i ? ",{\"name\":" : "{\"name\":";
    AppendJsonString(chambers[i].name.constData(), static_cast<size_t>(chambers[i].name.size()), out);
    out += ",\"status\":\"" + std::string(RunStatusName(runner.views()[i].status)) + "\",\"step\":";
    out += std::to_string(runner.views()[i].step + 1) + '}';
  }
  out += "],\"report\":\"/report?run=";
  AppendQueryValue(runner.runId().toStdString(), out);
  out += "\"}]}";
}

void AppendChamberRun(const ChamberRunView &view, const Profile &profile, std::string &out) {
  out += ",\"run\":{\"step\":" + std::to_string(view.step + 1) + ",\"step_name\":";
  AppendString(view.step >= 0 ? profile.steps[static_cast<size_t>(view.step)].label : QString(), out);
  out += ",\"status\":\"";
  out += RunStatusName(view.status);
  out += view.inBand ? "\",\"in_band\":true,\"seconds_left\":" : "\",\"in_band\":false,\"seconds_left\":";
  AppendJsonNumber(view.stepLeftMs >= 0 ? view.stepLeftMs / 1000.0 : std::nan(""), out);
  out += ",\"out_of_band_seconds\":";
  AppendJsonNumber(view.outOfBandMs / 1000.0, out);
  out += "},\"alarms\":[";
  bool first = true;
  for (int k = 0; k < kAlarmKinds; k++) {
    if (!view.alarm[k]) continue;
    out += first ? "\"" : ",\"";
    out += AlarmName(k);
    out += '"';
    first = false;
  }
  out += ']';
}

}  // namespace monitor
