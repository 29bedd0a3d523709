/*
 * stable_replay.cpp -- replays traces of one channel through
 * monitor::StableWindow (monitor/stability.h), the judge of the runs'
 * wait_stable steps, and prints its verdict after every sample, for
 * bench/run_bench.py to compare with a reference of its own.
 *
 *   stable_replay BAND WINDOW_MS DRIFT < TRACES > VERDICTS
 *
 * TRACES: one sample a line, "MS ACTUAL SET" (MS rising, the values as the
 * chamber answers them, e.g. "40.3") or "MS -" for a poll that got no
 * answer; a line "new" starts another trace with an empty window.
 * VERDICTS: one line per sample, "1" when stable after it, else "0".
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "stability.h"

namespace {

/* Feeds one line of a trace to window (made anew on "new"); appends the
 * verdict of a sample to out. False for a line that is neither. */
bool Replay(const char *line, double band, int64_t windowMs, double drift,
            std::unique_ptr<monitor::StableWindow> &window, std::string &out) {
  if (strncmp(line, "new", 3) == 0) {
    window = std::make_unique<monitor::StableWindow>(band, windowMs, drift);
    return true;
  }
  char *end = nullptr;
  long long atMs = strtoll(line, &end, 10);
  if (end == line || !window) return false;
  while (*end == ' ') end++;
  if (*end == '-') {
    window->miss();
  } else {
    char *rest = nullptr;
    double actual = strtod(end, &rest);
    double set = strtod(rest, &end);
    if (end == rest) return false;
    window->add(atMs, actual, set);
  }
  out += window->stable() ? "1\n" : "0\n";
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: stable_replay BAND WINDOW_MS DRIFT < TRACES\n");
    return 2;
  }
  double band = atof(argv[1]), drift = atof(argv[3]);
  int64_t windowMs = atoll(argv[2]);
  std::unique_ptr<monitor::StableWindow> window;
  std::string out;
  char line[256];
  for (int number = 1; fgets(line, sizeof line, stdin); number++) {
    if (!Replay(line, band, windowMs, drift, window, out)) {
      fprintf(stderr, "stable_replay: line %d is no sample: %s", number, line);
      return 2;
    }
  }
  fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
