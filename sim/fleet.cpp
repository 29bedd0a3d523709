/*
 * fleet.cpp -- many simulated chambers in one process (see fleet.h).
 *
 * The chambers cost nothing while nobody asks: a chamber's model moves on
 * only when one of its commands is carried out, and a server without
 * clients only has its listening socket.
 */
#include "fleet.h"

#include <algorithm>

#include "address.h"

namespace sim {

namespace {

/* Ordinary host numbers in the last byte of an IPv4 address: 1 to 254. */
constexpr quint32 kHostsPerBlock = 254;
constexpr int kMaxSlowMs = 600000;

struct ControlCommand {
  const char *name;
  int words;          /* with the command and its chamber */
  const char *usage;
};

constexpr ControlCommand kControlCommands[] = {
    {"down", 2, "down K"},       {"up", 2, "up K"},         {"silent", 2, "silent K"},
    {"slow", 3, "slow K MS"},    {"garbage", 2, "garbage K"}, {"close", 2, "close K"},
    {"normal", 2, "normal K"},
};

const ControlCommand *FindControlCommand(const QByteArray &name) {
  for (const ControlCommand &c : kControlCommands)
    if (name == c.name) return &c;
  return nullptr;
}

/* text with every byte outside printable ASCII shown as '?', so that a
 * reply stays one line of text. */
QByteArray Printable(QByteArray text) {
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return text;
}

/* Accepts a whole number from low to high written in decimal digits only;
 * false for anything else. */
bool ParseWhole(const QByteArray &text, int low, int high, int *value) {
  if (text.isEmpty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *value = text.toInt();
  return *value >= low && *value <= high;
}

}  // namespace

bool ParseAddressLiteral(const QByteArray &text, QHostAddress *address, QByteArray *why) {
  const char *reason = "a NUL byte in an address";
  int kind = text.contains('\0') ? HOST_BAD : ParseHostText(text.constData(), &reason);
  if (kind == HOST_NAME) reason = "a host name, not an IP address";
  if (kind == HOST_IPV4 || kind == HOST_IPV6) {
    if (address->setAddress(QString::fromLatin1(text))) return true;
    reason = "not an IP address";  /* the two readers disagree: trust neither */
  }
  *why = reason;
  return false;
}

QHostAddress FleetAddress(const QHostAddress &first, int index) {
  if (index == 0) return first;
  quint64 ip = first.toIPv4Address();
  quint64 offset = (ip & 0xFF) - 1 + static_cast<quint64>(index);
  quint64 block = (ip >> 8) + offset / kHostsPerBlock;
  if (block > 0xFFFFFF) return QHostAddress();
  return QHostAddress(static_cast<quint32>(block << 8 | (1 + offset % kHostsPerBlock)));
}

QString FleetAddressProblem(const QHostAddress &first, int chambers) {
  if (chambers <= 1) return QString();
  if (first.protocol() != QAbstractSocket::IPv4Protocol)
    return QStringLiteral("--listen must be an IPv4 address for more than one chamber");
  quint32 host = first.toIPv4Address() & 0xFF;
  if (host == 0 || host == 0xFF)
    return QStringLiteral("--listen must not end in .0 or .255 for more than one chamber");
  if (FleetAddress(first, chambers - 1).isNull())
    return QStringLiteral("%1 chambers from %2 on run past 255.255.255.254")
        .arg(chambers).arg(first.toString());
  return QString();
}

qint64 DescriptorsNeeded(int chambers) {
  return 2 * static_cast<qint64>(chambers) + kSpareDescriptors;
}

Fleet::Fleet(int chambers, const QHostAddress &first, const MillisecondClock &clock, double speed,
             int64_t wallSeconds, const QStringList &errors, const Faults &faults, bool verbose) {
  chambers_.reserve(chambers);
  servers_.reserve(chambers);
  addresses_.reserve(chambers);
  for (int k = 0; k < chambers; k++) {
    addresses_.push_back(FleetAddress(first, k));
    chambers_.push_back(std::make_unique<Chamber>(clock, speed, wallSeconds, k));
    for (const QString &text : errors) chambers_[k]->raiseError(text.toLatin1().toStdString());
    QByteArray label = chambers > 1 ? addresses_[k].toString().toLatin1() : QByteArray();
    servers_.push_back(std::make_unique<Server>(*chambers_[k], faults, verbose, label));
  }
}

bool Fleet::listen(quint16 port, QString *error) {
  for (int k = 0; k < size(); k++) {
    if (servers_[k]->listen(addresses_[k], port)) continue;
    *error = QStringLiteral("cannot listen on %1 port %2: %3")
                 .arg(addresses_[k].toString()).arg(port).arg(servers_[k]->errorString());
    for (int j = 0; j < k; j++) servers_[j]->down();
    return false;
  }
  return true;
}

QByteArray Fleet::control(const QByteArray &line) {
  QByteArray shown = Printable(line.simplified());
  QList<QByteArray> words = shown.split(' ');
  const ControlCommand *command = FindControlCommand(words[0]);
  QByteArray why;
  int from = 0, to = 0, ms = 0;
  if (!command)
    why = "unknown command (down, up, silent, slow, garbage, close, normal)";
  else if (words.size() != command->words)
    why = QByteArray("expects ") + command->usage;
  else if (words[0] == "slow" && !ParseWhole(words[2], 0, kMaxSlowMs, &ms))
    why = "MS must be a whole number from 0 to " + QByteArray::number(kMaxSlowMs);
  else if (findChambers(words[1], &from, &to, &why))
    for (int k = from; k < to; k++) {
      QByteArray failed;
      if (!applyCommand(words[0], ms, k, &failed) && why.isEmpty()) why = failed;
    }
  return why.isEmpty() ? "ok " + shown : "error " + shown + ": " + why;
}

/* target: "all", a chamber's number (1 to size()) or its address. Sets
 * [*from, *to) to the chambers it names; false, with *why, when it names
 * none. */
bool Fleet::findChambers(const QByteArray &target, int *from, int *to, QByteArray *why) const {
  int number = 0;
  QHostAddress address;
  QByteArray reason;
  if (target == "all") {
    *from = 0;
    *to = size();
    return true;
  }
  if (ParseWhole(target, 1, size(), &number)) {
    *from = number - 1;
    *to = number;
    return true;
  }
  if (ParseAddressLiteral(target, &address, &reason)) {
    auto it = std::find(addresses_.begin(), addresses_.end(), address);
    *from = static_cast<int>(it - addresses_.begin());
    *to = *from + 1;
    if (it != addresses_.end()) return true;
  }
  *why = "no chamber " + target + " (K is 1 to " + QByteArray::number(size()) +
         ", a chamber's address, or all)";
  /* a text meant as an address says why it is none */
  if (!reason.isEmpty() && (target.contains('.') || target.contains(':'))) *why += ": " + reason;
  return false;
}

/* Carries out control command name (with ms for slow) on chamber index.
 * false, with *why, when the chamber cannot listen again. */
bool Fleet::applyCommand(const QByteArray &name, int ms, int index, QByteArray *why) {
  Server &server = *servers_[index];
  Faults faults = server.faults();
  if (name == "down") {
    server.down();
    return true;
  }
  if (name == "up" || name == "normal") {
    if (name == "normal") server.setFaults(Faults());
    if (server.up()) return true;
    *why = QStringLiteral("chamber %1 cannot listen on %2 port %3: %4")
               .arg(index + 1).arg(addresses_[index].toString()).arg(server.port())
               .arg(server.errorString()).toLatin1();
    return false;
  }
  if (name == "silent") faults.silent = true;
  else if (name == "slow") faults.delayMs = ms;
  else if (name == "garbage") faults.garbage = true;
  else if (name == "close") faults.closeAfterAnswer = true;
  server.setFaults(faults);
  return true;
}

}  // namespace sim
