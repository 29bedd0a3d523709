/*
 * control_commands.cpp -- the control commands (see control_commands.h).
 *
 * One table row per command: its name and usage, what it takes after the
 * chamber, and what it does. Faults add up until normal, which ends them
 * all, the options' too, and listens again.
 */
#include "control_commands.h"

#include <cctype>

namespace sim {

namespace {

constexpr int kMaxSlowMs = 600000;
constexpr int kMaxByte = 255;

/* What a command takes after its chamber. */
enum class Argument { None, Number, Hex, Door, Text };

struct Entry {
  ControlCommand command;
  Argument argument;
  int high;  /* the largest number it takes, from 0 */
};

/* Sets one number of the server's faults. */
template <int Faults::*field>
void SetNumber(Server &server, Chamber &, const ControlValue &value) {
  Faults faults = server.faults();
  faults.*field = value.number;
  server.setFaults(faults);
}

/* Turns one fault of the server's on. */
template <bool Faults::*field>
void SetFlag(Server &server, Chamber &, const ControlValue &) {
  Faults faults = server.faults();
  faults.*field = true;
  server.setFaults(faults);
}

/* split K MS: halves MS apart; 0 ends the splitting. */
void SetSplit(Server &server, Chamber &, const ControlValue &value) {
  Faults faults = server.faults();
  faults.splitAnswers = value.number > 0;
  if (value.number > 0) faults.splitPauseMs = value.number;
  server.setFaults(faults);
}

void Down(Server &server, Chamber &, const ControlValue &) { server.down(); }
void Nothing(Server &, Chamber &, const ControlValue &) {}
void Door(Server &, Chamber &chamber, const ControlValue &value) { chamber.setDoorOpen(value.number); }
void Clear(Server &, Chamber &chamber, const ControlValue &) { chamber.confirmErrors(); }

void RaiseError(Server &, Chamber &chamber, const ControlValue &value) {
  chamber.raiseError(value.text.toStdString());
}

/* No faults, the door closed; the pending errors stay, as on a chamber. */
void Normal(Server &server, Chamber &chamber, const ControlValue &) {
  server.setFaults(Faults());
  chamber.setDoorOpen(false);
}

const Entry kEntries[] = {
    {{"down", "down K", Down, false}, Argument::None, 0},
    {{"up", "up K", Nothing, true}, Argument::None, 0},
    {{"silent", "silent K", SetFlag<&Faults::silent>, false}, Argument::None, 0},
    {{"slow", "slow K MS", SetNumber<&Faults::delayMs>, false}, Argument::Number, kMaxSlowMs},
    {{"garbage", "garbage K", SetFlag<&Faults::garbage>, false}, Argument::None, 0},
    {{"close", "close K", SetFlag<&Faults::closeAfterAnswer>, false}, Argument::None, 0},
    {{"split", "split K MS", SetSplit, false}, Argument::Number, kMaxPartPauseMs},
    {{"trickle", "trickle K MS", SetNumber<&Faults::trickleMs>, false}, Argument::Number,
     kMaxPartPauseMs},
    {{"reset", "reset K N", SetNumber<&Faults::resetAfter>, false}, Argument::Number,
     kMaxAnswerBytes},
    {{"long", "long K N", SetNumber<&Faults::longBytes>, false}, Argument::Number,
     kMaxAnswerBytes},
    {{"channel", "channel K XX", SetNumber<&Faults::channelByte>, false}, Argument::Hex, kMaxByte},
    {{"lineend", "lineend K MS", SetNumber<&Faults::lineEndMs>, false}, Argument::Number,
     kMaxPartPauseMs},
    {{"ignore", "ignore K", SetFlag<&Faults::ignoreWrites>, false}, Argument::None, 0},
    {{"door", "door K open|closed", Door, false}, Argument::Door, 0},
    {{"error", "error K TEXT", RaiseError, false}, Argument::Text, 0},
    {{"clear", "clear K", Clear, false}, Argument::None, 0},
    {{"normal", "normal K", Normal, true}, Argument::None, 0},
};

/* "down, up, ...": every command's name. */
QByteArray Names() {
  QByteArrayList names;
  for (const Entry &e : kEntries) names << e.command.name;
  return names.join(", ");
}

/* Two hexadecimal digits, either case. */
bool ParseHex(const QByteArray &text, int *value) {
  bool ok = false;
  *value = text.toInt(&ok, 16);
  return ok && text.size() == 2 && isxdigit(static_cast<unsigned char>(text[0])) &&
         isxdigit(static_cast<unsigned char>(text[1]));
}

/* "open" (1) or "closed" (0). */
bool ParseDoor(const QByteArray &text, int *open) {
  *open = text == "open";
  return *open || text == "closed";
}

/* Reads the words after the chamber into *value as e takes them; false,
 * with *why, when they do not fit. */
bool ReadArgument(const Entry &e, const QList<QByteArray> &words, ControlValue *value,
                  QByteArray *why) {
  QByteArray usage = e.command.usage;
  QByteArray placeholder = usage.mid(usage.lastIndexOf(' ') + 1);
  bool text = e.argument == Argument::Text;
  if (text ? words.size() < 3 : words.size() != (e.argument == Argument::None ? 2 : 3))
    *why = "expects " + usage;
  else if (text)
    value->text = words.mid(2).join(' ');
  else if (e.argument == Argument::Door && !ParseDoor(words[2], &value->number))
    *why = "expects door K open or door K closed";
  else if (e.argument == Argument::Number && !ParseWhole(words[2], 0, e.high, &value->number))
    *why = placeholder + " must be a whole number from 0 to " + QByteArray::number(e.high);
  else if (e.argument == Argument::Hex && !ParseHex(words[2], &value->number))
    *why = placeholder + " must be two hexadecimal digits, 00 to ff";
  return why->isEmpty();
}

}  // namespace

bool ParseWhole(const QByteArray &text, int low, int high, int *value) {
  if (text.isEmpty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *value = text.toInt();
  return *value >= low && *value <= high;
}

const ControlCommand *ReadControlCommand(const QList<QByteArray> &words, ControlValue *value,
                                         QByteArray *why) {
  for (const Entry &e : kEntries)
    if (words[0] == e.command.name)
      return ReadArgument(e, words, value, why) ? &e.command : nullptr;
  *why = "unknown command (" + Names() + ")";
  return nullptr;
}

}  // namespace sim
