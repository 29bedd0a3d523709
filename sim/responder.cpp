/*
 * responder.cpp -- the chamber's answers (see responder.h).
 *
 * One handler per command letter. A handler checks the command's layout
 * strictly, carries it out and writes the answer; it returns nullptr on
 * success, or the reason why the command was refused. A refused command
 * changes nothing and gets no answer.
 */
#include "responder.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace sim {

namespace {

/* One formatted answer field or short answer, with its NUL. */
constexpr int kFieldSize = 96;
constexpr int64_t kMaxSecondsField = 99999999;  /* eight digits */

using Handler = const char *(*)(Chamber &, const QByteArray &, QByteArray *);

__attribute__((format(printf, 1, 2)))
QByteArray Printed(const char *format, ...) {
  char buf[kFieldSize];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return QByteArray(buf);
}

/* The channel digit "0" to "4" at pos of command; -1 for anything else. */
int ChannelAt(const QByteArray &command, int pos) {
  if (pos >= command.size()) return -1;
  char c = command[pos];
  return c >= '0' && c < '0' + kAnalogChannels ? c - '0' : -1;
}

/* Accepts [+-]digits[.digits] or [+-].digits of finite value, nothing
 * else (no blanks, exponents, "inf" or "nan"). Returns false for any other
 * text. */
bool ParseDecimal(const QByteArray &text, double *value) {
  int i = text.startsWith('+') || text.startsWith('-') ? 1 : 0;
  int digits = 0;
  bool point = false;
  for (; i < text.size(); i++) {
    char c = text[i];
    if (c >= '0' && c <= '9') digits++;
    else if (c == '.' && !point) point = true;
    else return false;
  }
  bool ok = false;
  *value = text.toDouble(&ok);
  return digits > 0 && ok && std::isfinite(*value);
}

/* Accepts 1 to maxDigits decimal digits and nothing else. */
bool ParseDigits(const QByteArray &text, int maxDigits, int *value) {
  if (text.isEmpty() || text.size() > maxDigits) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *value = text.toInt();
  return true;
}

/* Reads "<letter><channel 0-4> <decimal>" into *k and *value. */
bool ParseChannelValue(const QByteArray &command, int *k, double *value) {
  *k = ChannelAt(command, 1);
  return *k >= 0 && command.size() > 3 && command[2] == ' ' &&
         ParseDecimal(command.mid(3), value);
}

/* "A<k> <actual> <set>": 14 characters; the actual value as the sensor
 * reads it. */
QByteArray ChannelGroup(Chamber &chamber, int k) {
  double measured = chamber.measured(k);
  return "A" + QByteArray::number(k) + ' ' + FormatValue(measured) + ' ' +
         FormatValue(chamber.channel(k).set);
}

char Bit(bool on) { return on ? '1' : '0'; }

/* Keeps a text free of the field separator and of control bytes. */
QByteArray CleanText(const std::string &text) {
  QByteArray out = QByteArray::fromStdString(text);
  for (char &c : out)
    if (c == ';' || static_cast<unsigned char>(c) < ' ') c = ',';
  return out;
}

}  // namespace

/* Five characters for every value from kValueMin to kValueMax, one
 * decimal ("023.5", "-80.0", "999.9"); values outside are clamped. */
QByteArray FormatValue(double value) {
  double tenths = std::round(std::clamp(value, kValueMin, kValueMax) * 10.0);
  if (tenths == 0) tenths = 0;  /* no "-00.0" */
  return Printed("%05.1f", tenths / 10.0);
}

/* Five characters for a ramp rate per minute: two decimals below 100
 * ("03.50"), one from there ("100.0", "999.9"); clamped to 0..kNoRamp. */
QByteArray FormatRate(double rate) {
  double r = std::clamp(rate, 0.0, kNoRamp);
  if (std::round(r * 100.0) < 10000.0) return Printed("%05.2f", r);
  return Printed("%05.1f", r);
}

/* Twelve digits: day, month, year (two digits), hour, minute, second. */
QByteArray FormatClock(int64_t wallSeconds) {
  QDateTime t = QDateTime::fromSecsSinceEpoch(wallSeconds, QTimeZone::utc());
  return t.toString(QStringLiteral("ddMMyyHHmmss")).toLatin1();
}

namespace {

const char *AnswerA(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 2) return "expects A0 to A4 or Aa";
  if (command[1] == 'a') {
    for (int k = 0; k < kAnalogChannels; k++) {
      if (k > 0) out->append(' ');
      out->append(ChannelGroup(chamber, k));
    }
    return nullptr;
  }
  int k = ChannelAt(command, 1);
  if (k < 0) return "channel must be 0 to 4 or a";
  *out = ChannelGroup(chamber, k);
  return nullptr;
}

const char *AnswerC(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects C alone";
  *out = Printed("C%.2s %.4s %s", kPlcVersion, kControllerVersion, chamber.plcNumber().c_str());
  return nullptr;
}

/* "D" or "D<program>": the running program, or "D" alone when none runs or
 * it is not the program asked about. */
const char *AnswerD(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int asked = 0;
  if (command.size() > 1 && !ParseDigits(command.mid(1), 3, &asked))
    return "expects D or D with a program number of up to three digits";
  ProgramStatus p = chamber.program();
  if (p.number == 0 || (command.size() > 1 && asked != p.number)) {
    *out = "D";
    return nullptr;
  }
  *out = Printed("D%03d %03d %d %d %08lld %08lld", p.number, p.line, p.waiting ? 1 : 0,
                 p.running ? 1 : 0, static_cast<long long>(std::min(p.runtime, kMaxSecondsField)),
                 static_cast<long long>(std::min(p.lineRemaining, kMaxSecondsField)));
  return nullptr;
}

const char *AnswerE(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k = ChannelAt(command, 1);
  if (command.size() != 2 || k < 0) return "expects E0 to E4";
  *out = "E" + QByteArray::number(k) + ' ' + FormatValue(chamber.channel(k).set);
  return nullptr;
}

const char *AnswerF(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects F alone";
  std::vector<PendingError> errors = chamber.errors();
  *out = "F";
  if (!errors.empty()) out->append(CleanText(errors.front().text));
  return nullptr;
}

const char *AnswerG(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k = ChannelAt(command, 1);
  if (command.size() != 2 || k < 0) return "expects G0 to G4";
  AnalogChannel c = chamber.channel(k);
  *out = "G" + QByteArray::number(k) + ' ' + FormatValue(c.limitMin) + ' ' +
         FormatValue(c.limitMax);
  return nullptr;
}

/* "H01;<count>;" or "H02;<count>;<text>;...;". */
const char *AnswerH(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command != "H01" && command != "H02") return "expects H01 or H02";
  std::vector<PendingError> errors = chamber.errors();
  *out = command + ';' + QByteArray::number(static_cast<int>(errors.size())) + ';';
  if (command == "H02")
    for (const PendingError &e : errors) out->append(CleanText(e.text) + ';');
  return nullptr;
}

/* "I0 1": remote access enabled; the simulator never disables it. */
const char *AnswerI(Chamber &, const QByteArray &command, QByteArray *out) {
  if (command != "I0") return "expects I0";
  *out = "I0 1";
  return nullptr;
}

const char *AnswerL(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects L alone";
  *out = "L" + QByteArray::number(chamber.lockLevel());
  return nullptr;
}

/* "M01;<count>;<n1>;...;" or, for "M02 <n>", "M02;<n>;<name>;<lines>;
 * <minutes>;" with empty name and zeros for a program not stored. */
const char *AnswerM(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int number = 0;
  if (command == "M01") {
    *out = "M01;" + QByteArray::number(static_cast<int>(chamber.programs().size())) + ';';
    for (const TestProgram &p : chamber.programs()) out->append(QByteArray::number(p.number) + ';');
    return nullptr;
  }
  if (!command.startsWith("M02 ") || !ParseDigits(command.mid(4), 3, &number))
    return "expects M01 or M02 with a program number of up to three digits";
  const TestProgram *p = chamber.findProgram(number);
  int seconds = 0;
  if (p)
    for (const ProgramLine &line : p->lines) seconds += line.seconds;
  *out = Printed("M02;%d;%s;%d;%d;", number, p ? CleanText(p->name).constData() : "",
                 p ? static_cast<int>(p->lines.size()) : 0, (seconds + 59) / 60);
  return nullptr;
}

/* "O" and one digit per further digital channel from 1: start, error,
 * pause, the flags, the softkeys. */
const char *AnswerO(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects O alone";
  *out = "O";
  for (int i = kDigitalStart; i <= kLastDigital; i++) out->append(Bit(chamber.digital(i)));
  return nullptr;
}

const char *AnswerP(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects P alone";
  *out = Printed("P%03d", chamber.program().number);
  return nullptr;
}

/* "R<k> <activated> <running> <up> <down>". */
const char *AnswerR(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k = ChannelAt(command, 1);
  if (command.size() != 2 || k < 0) return "expects R0 to R4";
  AnalogChannel c = chamber.channel(k);
  bool activated = c.rateUp < kNoRamp || c.rateDown < kNoRamp;
  *out = "R" + QByteArray::number(k) + ' ' + Bit(activated) + ' ' + Bit(chamber.rampRunning(k)) +
         ' ' + FormatRate(c.rateUp) + ' ' + FormatRate(c.rateDown);
  return nullptr;
}

/* "S" with start, error, temperature and humidity control, flags 1 to 4
 * as additional functions, and the number of the first pending error. */
const char *AnswerS(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects S alone";
  bool running = chamber.started() && !chamber.paused();
  std::vector<PendingError> errors = chamber.errors();
  *out = "S";
  out->append(Bit(chamber.started())).append(Bit(!errors.empty()));
  out->append(Bit(running)).append(Bit(running && chamber.channel(1).set > 0));
  for (int i = 0; i < 4; i++) out->append(Bit(chamber.digital(kFirstFlag + i)));
  out->append(static_cast<char>('0' + (errors.empty() ? 0 : errors.front().number)));
  return nullptr;
}

const char *AnswerT(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 1) return "expects T alone";
  *out = "T" + FormatClock(chamber.clockSeconds());
  return nullptr;
}

const char *AnswerU(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k = ChannelAt(command, 1);
  if (command.size() != 2 || k < 0) return "expects U0 to U4";
  AnalogChannel c = chamber.channel(k);
  *out = "U" + QByteArray::number(k) + ' ' + FormatRate(c.rateUp) + ' ' + FormatRate(c.rateDown);
  return nullptr;
}

const char *SetA(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k;
  double value;
  if (!ParseChannelValue(command, &k, &value)) return "expects a<channel 0-4> <value>";
  chamber.setSetValue(k, value);
  *out = "a" + QByteArray::number(k);
  return nullptr;
}

/* "d" and "u": ramp rate down and up. */
const char *SetRate(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k;
  double rate;
  if (!ParseChannelValue(command, &k, &rate)) return "expects <d|u><channel 0-4> <rate>";
  if (!chamber.setRate(k, command[0] == 'u', rate)) return "rate must be above 0";
  *out = command.left(1) + QByteArray::number(k);
  return nullptr;
}

const char *SetG(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int k = ChannelAt(command, 1);
  QList<QByteArray> values = command.mid(3).split(' ');
  values.removeAll(QByteArray());
  double min, max;
  if (k < 0 || command.size() < 4 || command[2] != ' ' || values.size() != 2 ||
      !ParseDecimal(values[0], &min) || !ParseDecimal(values[1], &max))
    return "expects g<channel 0-4> <min> <max>";
  if (!chamber.setLimits(k, min, max)) return "limits must satisfy -99.9 <= min <= max <= 999.9";
  *out = "g" + QByteArray::number(k);
  return nullptr;
}

/* "i<index 0-1> <text>": the text may be empty. */
const char *SetI(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() < 3 || command[2] != ' ' || command[1] < '0' || command[1] > '9' ||
      !chamber.setInfoText(command[1] - '0', command.mid(3).toStdString()))
    return "expects i<index 0-1> <text>";
  *out = command.left(2);
  return nullptr;
}

const char *SetL(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 2 || command[1] < '0' || command[1] > '9' ||
      !chamber.setLockLevel(command[1] - '0'))
    return "expects l0, l1 or l2";
  *out = command;
  return nullptr;
}

const char *SetM(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  double value;
  if (command.size() < 4 || command[2] != ' ' || command[1] < '0' || command[1] > '9' ||
      !ParseDecimal(command.mid(3), &value) || !chamber.setExternalValue(command[1] - '0', value))
    return "expects m<index 0-2> <value>";
  *out = command.left(2);
  return nullptr;
}

/* "o<two-digit index> <0|1>". */
const char *SetO(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int index = 0;
  if (command.size() != 5 || !ParseDigits(command.mid(1, 2), 2, &index) || command[3] != ' ' ||
      (command[4] != '0' && command[4] != '1'))
    return "expects o<index, two digits> <0|1>";
  if (!chamber.setDigital(index, command[4] == '1')) return "index must be 01 to 13";
  *out = command.left(3);
  return nullptr;
}

/* "p<number>": up to three digits; 0 stops the running program. */
const char *SetP(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int number = 0;
  if (!ParseDigits(command.mid(1), 3, &number)) return "expects p with up to three digits";
  if (number == 0) chamber.stopProgram();
  else if (!chamber.startProgram(number)) return "no stored program with that number";
  *out = Printed("p%03d", number);
  return nullptr;
}

/* "s<channel 1-3> <0|1>": 1 start, 2 error (0 confirms), 3 run (0 pauses). */
const char *SetS(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  if (command.size() != 4 || command[1] < '1' || command[1] > '3' || command[2] != ' ' ||
      (command[3] != '0' && command[3] != '1'))
    return "expects s<channel 1-3> <0|1>";
  bool on = command[3] == '1';
  if (command[1] == '3') chamber.setPaused(!on);
  else chamber.setDigital(command[1] - '0', on);
  *out = command.left(2);
  return nullptr;
}

/* "t<ddMMyyhhmmss>", a valid date and time of the years 2000 to 2099. */
const char *SetT(Chamber &chamber, const QByteArray &command, QByteArray *out) {
  int f[6];
  bool digits = command.size() == 13;
  for (int i = 0; digits && i < 6; i++) digits = ParseDigits(command.mid(1 + 2 * i, 2), 2, &f[i]);
  if (!digits) return "expects t with twelve digits ddMMyyhhmmss";
  QDate date(2000 + f[2], f[1], f[0]);
  QTime time(f[3], f[4], f[5]);
  if (!date.isValid() || !time.isValid()) return "no such date or time";
  chamber.setClock(QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch());
  *out = "t" + FormatClock(chamber.clockSeconds());
  return nullptr;
}

Handler HandlerFor(char letter) {
  static const struct {
    char letter;
    Handler handler;
  } table[] = {
      {'A', AnswerA}, {'C', AnswerC}, {'D', AnswerD}, {'E', AnswerE}, {'F', AnswerF},
      {'G', AnswerG}, {'H', AnswerH}, {'I', AnswerI}, {'L', AnswerL}, {'M', AnswerM},
      {'O', AnswerO}, {'P', AnswerP}, {'R', AnswerR}, {'S', AnswerS}, {'T', AnswerT},
      {'U', AnswerU}, {'a', SetA},    {'d', SetRate}, {'g', SetG},    {'i', SetI},
      {'l', SetL},    {'m', SetM},    {'o', SetO},    {'p', SetP},    {'s', SetS},
      {'t', SetT},    {'u', SetRate},
  };
  for (const auto &entry : table)
    if (entry.letter == letter) return entry.handler;
  return nullptr;
}

}  // namespace

/* command: one command without line end. Returns the answer, or why it was
 * refused (a known letter with a bad layout, a value out of range, a
 * program not stored, an over-long command) or not known. */
Reply Respond(Chamber &chamber, const QByteArray &command) {
  Handler handler = command.isEmpty() ? nullptr : HandlerFor(command[0]);
  if (!handler) return Reply{Reply::Unknown, QByteArray(), "unknown command"};
  if (command.size() > kMaxCommandLength) return Reply{Reply::Refused, QByteArray(), "command too long"};
  QByteArray answer;
  const char *reason = handler(chamber, command, &answer);
  if (reason) return Reply{Reply::Refused, QByteArray(), reason};
  return Reply{Reply::Answered, answer, QByteArray()};
}

}  // namespace sim
