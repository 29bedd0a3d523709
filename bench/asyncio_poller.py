#!/usr/bin/env python3
"""asyncio_poller.py -- the poller a lab would write itself instead of
quenta-monitor: Python's asyncio, standard library only, one connection
per chamber, every chamber asked the same command every interval (the
chambers spread evenly over it), one CSV row per value in the monitor's
layout, the rows of each answer written and flushed together.

    asyncio_poller.py --chambers FILE --csv FILE [--every S] [--seconds S]
                      [--command Aa] [--timeout S]

FILE lists the chambers as quenta-monitor reads them ("ADDRESS [NAME]").
At the end one JSON line on standard output: polls, answered, and the
percentiles of the round trip and of the poll start delay, measured as
the monitor measures them. bench/monitor_bench.py runs it beside the
monitor.
"""
import argparse
import asyncio
import csv
import json
import time

ANSWER_LENGTH = {"Aa": 74, "A0": 14}  # answers of fixed length end there
HEADER = ["time", "chamber", "address", "command", "outcome", "round_trip_ms", "answer",
          "value_name", "value_channel", "value_number", "value_text"]


def decode(answer):
    """'A0 022.0 025.0 A1 ...' -> [("actual", "0", 22.0), ("set", "0", 25.0), ...]"""
    values = []
    for start in range(0, len(answer) - 13, 15):
        group = answer[start:start + 14]
        values.append(("actual", group[1], float(group[3:8])))
        values.append(("set", group[1], float(group[9:14])))
    return values


def utc(wall):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(wall)) + ".%03dZ" % (int(wall * 1000) % 1000)


def percentile(samples, q):
    if not samples:
        return 0.0
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, max(0, int(q * len(ordered) + 0.999999) - 1))]


class Poller:
    def __init__(self, args, out, file):
        self.args, self.out, self.file = args, out, file
        self.command = args.command.encode("latin-1")
        self.length = ANSWER_LENGTH.get(args.command)
        self.polls = self.answered = 0
        self.round_trips, self.delays = [], []

    async def ask(self, reader, writer):
        """Writes the command; returns the answer text and the round trip in s."""
        sent = time.monotonic()
        writer.write(self.command)
        if self.length:
            data = await reader.readexactly(self.length)
        else:
            data = await reader.read(2500)
        return data.decode("latin-1"), time.monotonic() - sent

    async def chamber(self, address, name, due, end):
        host, _, port = address.rpartition(":")
        reader = writer = None
        loop_time = time.monotonic
        while due < end:
            await asyncio.sleep(max(0.0, due - loop_time()))
            self.delays.append(loop_time() - due)
            self.polls += 1
            wall = time.time()
            rows = []
            try:
                if writer is None:
                    reader, writer = await asyncio.wait_for(
                        asyncio.open_connection(host, int(port)), self.args.timeout)
                answer, rtt = await asyncio.wait_for(self.ask(reader, writer), self.args.timeout)
                self.answered += 1
                self.round_trips.append(rtt)
                head = [utc(wall), name, address, self.args.command, "answered", "%.3f" % (rtt * 1000), answer]
                rows = [head + [n, ch, repr(v), ""] for n, ch, v in decode(answer)] or [head + ["", "", "", ""]]
            except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError) as error:
                outcome = "timeout" if isinstance(error, asyncio.TimeoutError) else "closed"
                rows = [[utc(wall), name, address, self.args.command, outcome, "", "", "", "", "", ""]]
                if writer is not None:
                    writer.close()
                reader = writer = None
            self.out.writerows(rows)
            self.file.flush()
            due += self.args.every
        if writer is not None:
            writer.close()


def read_chambers(path):
    chambers = []
    for line in open(path, encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if line:
            address, _, name = line.partition(" ")
            if ":" not in address:
                address += ":1080"
            chambers.append((address, name.strip() or address))
    return chambers


async def main():
    parser = argparse.ArgumentParser(description="asyncio poller of chambers")
    parser.add_argument("--chambers", required=True)
    parser.add_argument("--csv", required=True)
    parser.add_argument("--every", type=float, default=1.0)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--command", default="Aa")
    parser.add_argument("--timeout", type=float, default=2.0)
    args = parser.parse_args()
    chambers = read_chambers(args.chambers)
    with open(args.csv, "w", newline="", encoding="utf-8") as file:
        out = csv.writer(file, lineterminator="\n")
        out.writerow(HEADER)
        poller = Poller(args, out, file)
        start = time.monotonic()
        end = start + args.seconds
        await asyncio.gather(*(poller.chamber(address, name, start + args.every * i / len(chambers), end)
                               for i, (address, name) in enumerate(chambers)))
    print(json.dumps({
        "polls": poller.polls, "answered": poller.answered,
        "round_trip_p50_ms": percentile(poller.round_trips, 0.5) * 1000,
        "round_trip_p99_ms": percentile(poller.round_trips, 0.99) * 1000,
        "start_delay_p50_ms": percentile(poller.delays, 0.5) * 1000,
        "start_delay_p99_ms": percentile(poller.delays, 0.99) * 1000,
    }), flush=True)


if __name__ == "__main__":
    asyncio.run(main())
