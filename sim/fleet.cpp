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
#include "control_commands.h"

namespace sim {

namespace {

/* Ordinary host numbers in the last byte of an IPv4 address: 1 to 254. */
constexpr quint32 kHostsPerBlock = 254;
/* text with every byte outside printable ASCII shown as '?', so that a
 * reply stays one line of text. */
QByteArray Printable(QByteArray text) {
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return text;
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
             int64_t wallSeconds, const QStringList &errors, const Faults &faults, bool verbose,
             const Physics &physics) {
  chambers_.reserve(chambers);
  servers_.reserve(chambers);
  addresses_.reserve(chambers);
  for (int k = 0; k < chambers; k++) {
    addresses_.push_back(FleetAddress(first, k));
    chambers_.push_back(std::make_unique<Chamber>(clock, speed, wallSeconds, k, physics));
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
  ControlValue value;
  QByteArray why;
  int from = 0, to = 0;
  const ControlCommand *command = ReadControlCommand(words, &value, &why);
  if (command && findChambers(words[1], &from, &to, &why))
    for (int k = from; k < to; k++) {
      command->apply(*servers_[k], *chambers_[k], value);
      QByteArray failed;
      if (command->listens && !listenAgain(k, &failed) && why.isEmpty()) why = failed;
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

/* Makes chamber index listen again; false, with *why, when it cannot. */
bool Fleet::listenAgain(int index, QByteArray *why) {
  Server &server = *servers_[index];
  if (server.up()) return true;
  *why = QStringLiteral("chamber %1 cannot listen on %2 port %3: %4")
             .arg(index + 1).arg(addresses_[index].toString()).arg(server.port())
             .arg(server.errorString()).toLatin1();
  return false;
}

}  // namespace sim
