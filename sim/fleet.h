/*
 * fleet.h -- many simulated chambers in one process, each with its own
 * model and server on an address of its own, and the control commands
 * that make them misbehave at run time.
 *
 * Exports ParseAddressLiteral() (the one reader of an address given to
 * the simulator), FleetAddress() and FleetAddressProblem() (where the
 * chambers listen), DescriptorsNeeded() (the open files the process
 * needs), and class Fleet. Chambers are numbered
 * from 1 in control commands and in what the fleet says, from 0 in its
 * calls. A fleet of one is the lone chamber of old: its log lines carry no
 * address of their own.
 */
#ifndef QUENTA_SIM_FLEET_H
#define QUENTA_SIM_FLEET_H

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <memory>
#include <vector>

#include "chamber.h"
#include "server.h"

namespace sim {

constexpr int kMaxChambers = 100000;
/* Descriptors the process needs besides a listener and one client per
 * chamber: the standard streams, the event loop's own, Qt's. */
constexpr int kSpareDescriptors = 32;

/* Reads text (as typed, no blanks stripped) as an IP address literal
 * through ParseHostText(): dotted IPv4 strictly in decimal, or IPv6 with an
 * optional zone. Returns true with *address set; false, with *why saying
 * what is wrong, for anything else, a host name too. */
bool ParseAddressLiteral(const QByteArray &text, QHostAddress *address, QByteArray *why);

/* The address of chamber index (from 0) of a fleet whose first chamber
 * listens on first: the index-th ordinary IPv4 address from first on,
 * skipping those that end in .0 or .255. first must be IPv4 and not end in
 * either unless index is 0. Returns a null address past 255.255.255.254. */
QHostAddress FleetAddress(const QHostAddress &first, int index);

/* Why chambers (>= 1) chambers cannot listen from first on; empty when
 * they can. One chamber may listen on any address. */
QString FleetAddressProblem(const QHostAddress &first, int chambers);

/* Descriptors that chambers chambers need with one client each. */
qint64 DescriptorsNeeded(int chambers);

class Fleet {
 public:
  /* chambers (1 to kMaxChambers) chambers on clock and speed with physics
   * (see Chamber), each with the pending errors errors, answering with
   * faults, the first listening on first (checked with
   * FleetAddressProblem()). */
  Fleet(int chambers, const QHostAddress &first, const MillisecondClock &clock, double speed,
        int64_t wallSeconds, const QStringList &errors, const Faults &faults, bool verbose,
        const Physics &physics = Physics());

  int size() const { return static_cast<int>(chambers_.size()); }
  Chamber &chamber(int index) { return *chambers_[index]; }
  Server &server(int index) { return *servers_[index]; }
  const QHostAddress &address(int index) const { return addresses_[index]; }
  quint16 port() const { return servers_.front()->port(); }

  /* Starts every chamber listening on port. Returns false, with *error
   * naming the chamber and the reason, when one cannot; then none
   * listens. */
  bool listen(quint16 port, QString *error);

  /* Carries out one control line (without line end), for example
   * "down 3", "slow all 200" or "up 127.0.1.7" (see control_commands.h). Returns the reply, without
   * line end: "ok " and the command, or "error ", the command, ": " and
   * why. A command for several chambers goes on past one that fails and
   * reports the first failure. */
  QByteArray control(const QByteArray &line);

 private:
  bool findChambers(const QByteArray &target, int *from, int *to, QByteArray *why) const;
  bool listenAgain(int index, QByteArray *why);

  std::vector<std::unique_ptr<Chamber>> chambers_;
  std::vector<std::unique_ptr<Server>> servers_;
  std::vector<QHostAddress> addresses_;
};

}  // namespace sim

#endif
