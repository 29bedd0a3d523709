/*
 * protocol_bench.cpp -- lines per second of the response interpreter.
 *
 * Mode 0 on a 511-byte and a 2,500-byte answer, beside the naive way of
 * making the same line (one snprintf and one strcat per byte). Every
 * answer form of mode 2 in English and in German, beside a single snprintf
 * of the same sentence with its values already at hand. Each pair runs in the same process, so
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
        DescribeAnswerIn(&answer[0], line, DISPLAY_HEX, 1);
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
 * sentence, in English (english nonzero) or German, from values already
 * read. */
struct Form {
    const char *name;
    const char *answer;
    void (*sentence)(char *line, int english);
};

const Form kForms[] = {
    {"A_channel", "A1 023.5 025.0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Values of channel %c: Actvalue =%6.1f, Setvalue =%6.1f"
                     : "Werte das Kanal %c: Istwert =%6.1f, Sollwert =%6.1f",
                  '1', 23.5, 25.0);
     }},
    {"A_all", "A0 023.5 025.0 A1 045.0 050.0 A2 -10.0 000.5 A3 001.0 002.0 A4 003.0 004.0",
     [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Values of channel:  '0': Act =%6.1f, Set =%6.1f - '1': Act =%6.1f,"
                       " Set =%6.1f - '2': Act =%6.1f, Set =%6.1f - '3': Act =%6.1f,"
                       " Set =%6.1f - '4': Act =%6.1f, Set =%6.1f"
                     : "Werte das Kanals:  '0': Ist =%6.1f, Soll =%6.1f - '1': Ist =%6.1f,"
                       " Soll =%6.1f - '2': Ist =%6.1f, Soll =%6.1f - '3': Ist =%6.1f,"
                       " Soll =%6.1f - '4': Ist =%6.1f, Soll =%6.1f",
                  23.5, 25.0, 45.0, 50.0, -10.0, 0.5, 1.0, 2.0, 3.0, 4.0);
     }},
    {"C", "C12 3.19 4711-0815", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Software version information: PLC version = %s - Zelo version = %s"
                       " - PLC number = %s"
                     : "Software-Versionsst\xE4" "nde: SPS-Version = %s - Zelo-Version = %s"
                       " - SPS-Nummer = %s",
                  "12", "3.19", "4711-0815");
     }},
    {"D_idle", "D", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s",
                  Opaque(en ? "The selected program is not running"
                            : "Das gew\xE4" "hlte Programm l\xE4" "uft nicht"));
     }},
    {"D_running", "D001 002 0 1 00003725 00000061", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Running program %d: Line = %d; Wait = %d; ProgRun = %d; RuntimeProg = %d [s]"
                       " (%02d:%02d:%02d [hh:mm:ss]); RemainingRuntimeLine = %d [s]"
                       " (%02d:%02d:%02d [hh:mm:ss])"
                     : "Laufendes Programm %d: Zeile = %d; Wait = %d; ProgL\xE4" "uft = %d;"
                       " LaufzeitProg = %d [s] (%02d:%02d:%02d [hh:mm:ss]);"
                       " RestlaufzeitZeile = %d [s] (%02d:%02d:%02d [hh:mm:ss])",
                  1, 2, 0, 1, 3725, 1, 2, 5, 61, 0, 1, 1);
     }},
    {"E", "E0 045.0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Ramp terminal value of channel %c: =%6.1f" : "Rampenendwert das Kanal %c: =%6.1f",
                  '0', 45.0);
     }},
    {"F", "FDoor open", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE, en ? "Pending Error: %s" : "Aktueller Fehler: %s",
                  "Door open");
     }},
    {"G", "G0 -80.0 190.0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "manual limits of channel %c: min = %6.1f, max = %6.1f"
                     : "Manuale Grenzwerte das Kanal %c: Min = %6.1f, Max = %6.1f",
                  '0', -80.0, 190.0);
     }},
    {"H", "H02 2;Err1;Err2;", [](char *l, int) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s", Opaque("H02 2;Err1;Err2;"));
     }},
    {"L_enabled", "L0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s",
                  Opaque(en ? "Keyboard enabled" : "Tastatur ist freigeben"));
     }},
    {"L_locked", "L2", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Keyboard disabled level:%c" : "Tastatur gesperrt auf Level %c.", '2');
     }},
    {"O_pause", "O1010110", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Digital channels: Start:%c ,Error:%c ,Pause:%c, Flags/Softkeys %s"
                     : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c ,Pause:%c, Merker/Softkeys %s",
                  '1', '0', '1', "0110");
     }},
    {"O_plain", "O1000110", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Digital channels: Start:%c ,Error:%c , Flags/Softkeys %s"
                     : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c , Merker/Softkeys %s",
                  '1', '0', "0110");
     }},
    {"P_idle", "P0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s",
                  Opaque(en ? "No Programme running" : "kein laufendes Program"));
     }},
    {"P_running", "P12", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Programme No.:%d is running" : "Program Nr.:%d l\xE4" "uft", 12);
     }},
    {"S", "S101000005", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Status: Start:%c ,Error:%c ,Temper:%c, Humidity:%c ,Add.func.1-4:%c%c%c%c"
                       " ,ErrorNo: %c"
                     : "Status: Start:%c ,Fehler:%c ,Temper:%c, Feuchte:%c ,Zusatzfkt1-4:%c%c%c%c"
                       " ,Fehlernr: %c",
                  '1', '0', '1', '0', '0', '0', '0', '0', '5');
     }},
    {"T", "T131009123000", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "actual clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                     : "Aktuelle Uhrzeit der Anlage: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
                  '1', '3', '1', '0', '0', '9', '1', '2', '3', '0', '0', '0');
     }},
    {"U", "U0 003.5 005.0", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Ramprates of channel %c: ramp up =%6.1f, ramp down =%6.1f"
                     : "Gradienten das Kanal %c: steigende Rampe =%6.1f, fallende Rampe =%6.1f",
                  '0', 3.5, 5.0);
     }},
    {"a", "a", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE, "%s",
                  Opaque(en ? "setvalue changed" : "Sollwert ge\xE4" "ndert"));
     }},
    {"o", "o05", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Digital channel %02d adjusted" : "Digitalkanal %02d ge\xE4" "ndert", 5);
     }},
    {"s", "s1", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "Digital channel %c adjusted" : "Digital Kanal %c ge\xE4" "ndert", '1');
     }},
    {"t", "t131009123000", [](char *l, int en) {
         snprintf(l, DISPLAY_LINE_SIZE,
                  en ? "clock of chamber adjusted: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                     : "Uhr der Anlage eingestellt auf: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
                  '1', '3', '1', '0', '0', '9', '1', '2', '3', '0', '0', '0');
     }},
};

/* One benchmark: a form in a language. */
struct Run {
    const Form *form;
    int english;
    std::string name;
};

/* Mode 2 on the answer of run's form, in run's language. The answer is
 * restored before each call, since some forms end a field by writing into
 * it. */
void Interpreted(benchmark::State &state, const Run *run) {
    size_t size = strlen(run->form->answer) + 1;
    std::vector<char> answer(size);
    char line[DISPLAY_LINE_SIZE];
    for (auto _ : state) {
        memcpy(answer.data(), run->form->answer, size);
        DescribeAnswerIn(answer.data(), line, DISPLAY_INTERPRETED, run->english);
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void SingleSnprintf(benchmark::State &state, const Run *run) {
    char line[DISPLAY_LINE_SIZE];
    for (auto _ : state) {
        run->form->sentence(line, run->english);
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

/* Every form in both languages, named "Answer/<form>/<language>". */
std::vector<Run> Runs() {
    std::vector<Run> runs;
    for (const Form &form : kForms)
        for (int english : {1, 0})
            runs.push_back(Run{&form, english,
                               std::string("Answer/") + form.name + (english ? "/en" : "/de")});
    return runs;
}

/* Checks that each baseline writes the sentence the interpreter writes,
 * so that every pair compares the same work. Returns 0 when all agree. */
int CheckRuns(const std::vector<Run> &runs) {
    int mismatches = 0;
    for (const Run &run : runs) {
        const char *text = run.form->answer;
        std::vector<char> answer(text, text + strlen(text) + 1);
        char mine[DISPLAY_LINE_SIZE];
        char baseline[DISPLAY_LINE_SIZE];
        DescribeAnswerIn(answer.data(), mine, DISPLAY_INTERPRETED, run.english);
        run.form->sentence(baseline, run.english);
        if (strcmp(mine, baseline) != 0) {
            fprintf(stderr, "%s: interpreter \"%s\", baseline \"%s\"\n", run.name.c_str(),
                    mine, baseline);
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
    static const std::vector<Run> runs = Runs();
    if (CheckRuns(runs) != 0)
        return 1;
    for (const Run &run : runs) {
        benchmark::RegisterBenchmark((run.name + "/interpreted").c_str(), Interpreted, &run)
            ->ComputeStatistics("min", Fastest);
        benchmark::RegisterBenchmark((run.name + "/snprintf").c_str(), SingleSnprintf, &run)
            ->ComputeStatistics("min", Fastest);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
