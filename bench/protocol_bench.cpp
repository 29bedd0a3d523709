/*
 * protocol_bench.cpp -- lines per second of the response interpreter.
 *
 * Mode 0 on a 511-byte and a 2,500-byte answer, beside the naive way of
 * making the same line (one snprintf and one strcat per byte). Every
 * answer form of mode 2, beside a single snprintf of the same sentence
 * with its values already at hand. Each pair runs in the same process, so
 * the ratios hold on any machine: mode 0 should be at least ten times the
 * naive rate, and no interpreted form slower than 1.5 times its snprintf.
 */
#include "display.h"

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

extern const int englishUI = 1;

namespace {

enum { HEX_GROUPS_MAX = (DISPLAY_LINE_SIZE - 1) / 5 };

/* An answer of n bytes cycling through every non-zero byte value. */
std::string MixedAnswer(size_t n) {
    std::string answer(n, 'A');
    for (size_t i = 1; i < n; i++)
        answer[i] = static_cast<char>(1 + i % 255);
    return answer;
}

void HexInterpreter(benchmark::State &state) {
    std::string answer = MixedAnswer(static_cast<size_t>(state.range(0)));
    char line[DISPLAY_LINE_SIZE];
    for (auto _ : state) {
        DescribeAnswer(&answer[0], line, DISPLAY_HEX);
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

/* The same line, one formatting call per byte and a strcat that scans the
 * line from its start each time; as many groups as fit the line. */
void HexNaive(benchmark::State &state) {
    std::string answer = MixedAnswer(static_cast<size_t>(state.range(0)));
    char line[DISPLAY_LINE_SIZE];
    char group[8];
    for (auto _ : state) {
        line[0] = 0;
        for (size_t i = 0; i < answer.size() && i < HEX_GROUPS_MAX; i++) {
            snprintf(group, sizeof group, "0x%02X ", static_cast<unsigned char>(answer[i]));
            strcat(line, group);
        }
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

/* The text, hidden from the compiler, which would otherwise turn a
 * snprintf of a known text into a plain copy. */
const char *Opaque(const char *text) {
    benchmark::DoNotOptimize(text);
    return text;
}

/* One answer form: the answer, and the single snprintf that writes its
 * sentence from values already read. */
struct Form {
    const char *name;
    const char *answer;
    void (*sentence)(char *line);
};

const Form kForms[] = {
    {"A_channel", "A1 023.5 025.0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Values of channel %c: Actvalue =%6.1f, Setvalue =%6.1f",
                  '1', 23.5, 25.0);
     }},
    {"A_all", "A0 023.5 025.0 A1 045.0 050.0 A2 -10.0 000.5 A3 001.0 002.0 A4 003.0 004.0",
     [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "Values of channel:  '0': Act =%6.1f, Set =%6.1f - '1': Act =%6.1f, Set =%6.1f"
                  " - '2': Act =%6.1f, Set =%6.1f - '3': Act =%6.1f, Set =%6.1f"
                  " - '4': Act =%6.1f, Set =%6.1f",
                  23.5, 25.0, 45.0, 50.0, -10.0, 0.5, 1.0, 2.0, 3.0, 4.0);
     }},
    {"C", "C12 3.19 4711-0815", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "Software version information: PLC version = %s - Zelo version = %s"
                  " - PLC number = %s", "12", "3.19", "4711-0815");
     }},
    {"D_idle", "D", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("The selected program is not running"));
     }},
    {"D_running", "D001 002 0 1 00003725 00000061", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "Running program %d: Line = %d; Wait = %d; ProgRun = %d; RuntimeProg = %d [s]"
                  " (%02d:%02d:%02d [hh:mm:ss]); RemainingRuntimeLine = %d [s]"
                  " (%02d:%02d:%02d [hh:mm:ss])", 1, 2, 0, 1, 3725, 1, 2, 5, 61, 0, 1, 1);
     }},
    {"E", "E0 045.0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Ramp terminal value of channel %c: =%6.1f", '0', 45.0);
     }},
    {"F", "FDoor open", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Pending Error: %s", "Door open");
     }},
    {"G", "G0 -80.0 190.0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "manual limits of channel %c: min = %6.1f, max = %6.1f",
                  '0', -80.0, 190.0);
     }},
    {"H", "H02 2;Err1;Err2;", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("H02 2;Err1;Err2;"));
     }},
    {"L_enabled", "L0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("Keyboard enabled"));
     }},
    {"L_locked", "L2", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Keyboard disabled level:%c", '2');
     }},
    {"O_pause", "O1010110", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "Digital channels: Start:%c ,Error:%c ,Pause:%c, Flags/Softkeys %s",
                  '1', '0', '1', "0110");
     }},
    {"O_plain", "O1000110", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Digital channels: Start:%c ,Error:%c , Flags/Softkeys %s",
                  '1', '0', "0110");
     }},
    {"P_idle", "P0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("No Programme running"));
     }},
    {"P_running", "P12", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Programme No.:%d is running", 12);
     }},
    {"S", "S101000005", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "Status: Start:%c ,Error:%c ,Temper:%c, Humidity:%c ,Add.func.1-4:%c%c%c%c"
                  " ,ErrorNo: %c", '1', '0', '1', '0', '0', '0', '0', '0', '5');
     }},
    {"T", "T131009123000", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "actual clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c",
                  '1', '3', '1', '0', '0', '9', '1', '2', '3', '0', '0', '0');
     }},
    {"U", "U0 003.5 005.0", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Ramprates of channel %c: ramp up =%6.1f, ramp down =%6.1f",
                  '0', 3.5, 5.0);
     }},
    {"a", "a", [](char *l) { snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("setvalue changed")); }},
    {"o", "o05", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Digital channel %02d adjusted", 5);
     }},
    {"s", "s1", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE, "Digital channel %c adjusted", '1');
     }},
    {"t", "t131009123000", [](char *l) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  "clock of chamber adjusted: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c",
                  '1', '3', '1', '0', '0', '9', '1', '2', '3', '0', '0', '0');
     }},
};

/* Mode 2 on form's answer. The answer is restored before each call, since
 * some forms end a field by writing into it. */
void Interpreted(benchmark::State &state, const Form *form) {
    size_t size = strlen(form->answer) + 1;
    std::vector<char> answer(size);
    char line[DISPLAY_LINE_SIZE];
    for (auto _ : state) {
        memcpy(answer.data(), form->answer, size);
        DescribeAnswer(answer.data(), line, DISPLAY_INTERPRETED);
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void SingleSnprintf(benchmark::State &state, const Form *form) {
    char line[DISPLAY_LINE_SIZE];
    for (auto _ : state) {
        form->sentence(line);
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

/* Checks that each baseline writes the sentence the interpreter writes,
 * so that every pair compares the same work. Returns 0 when all agree. */
int CheckForms() {
    int mismatches = 0;
    for (const Form &form : kForms) {
        std::vector<char> answer(form.answer, form.answer + strlen(form.answer) + 1);
        char mine[DISPLAY_LINE_SIZE];
        char baseline[DISPLAY_LINE_SIZE];
        DescribeAnswer(answer.data(), mine, DISPLAY_INTERPRETED);
        form.sentence(baseline);
        if (strcmp(mine, baseline) != 0) {
            fprintf(stderr, "form %s: interpreter \"%s\", baseline \"%s\"\n", form.name, mine,
                    baseline);
            mismatches++;
        }
    }
    return mismatches;
}

}  // namespace

/* The fastest of the repetitions: on a shared machine the other
 * statistics mostly measure the neighbours. */
static double Fastest(const std::vector<double> &v) {
    return *std::min_element(v.begin(), v.end());
}

BENCHMARK(HexInterpreter)->Arg(511)->Arg(2500)->ComputeStatistics("min", Fastest);
BENCHMARK(HexNaive)->Arg(511)->Arg(2500)->ComputeStatistics("min", Fastest);

int main(int argc, char **argv) {
    if (CheckForms() != 0)
        return 1;
    for (const Form &form : kForms) {
        benchmark::RegisterBenchmark((std::string("Answer/") + form.name + "/interpreted").c_str(),
                                     Interpreted, &form)
            ->ComputeStatistics("min", Fastest);
        benchmark::RegisterBenchmark((std::string("Answer/") + form.name + "/snprintf").c_str(),
                                     SingleSnprintf, &form)
            ->ComputeStatistics("min", Fastest);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
