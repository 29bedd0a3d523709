/*
 * answer.cpp -- the response interpreter: turns one answer of the chamber
 * into the line of the received-history list. Exports DescribeAnswerIn
 * (display.h).
 *
 * The answer letter at position 0 decides the layout; the fields stand at
 * fixed positions. A field cut "before q" is ended by writing a NUL into
 * the answer at q, which happens only where q lies inside the answer.
 * German sentences are Latin-1, each literal split after its "\xE4".
 */
#include "display.h"
#include "fields.h"

#include <string.h>

enum {
    ALL_CHANNELS = 5,       /* channels in the all-channels "A" answer */
    CHANNEL_STRIDE = 15,    /* positions per channel there */
    SINGLE_A_LENGTH = 14    /* "A1 023.5 025.0" */
};

/* Ends the field that runs up to pos by a NUL at pos, inside the answer
 * only. */
static void CutAt(char *answer, size_t len, size_t pos) {
    if (pos < len)
        answer[pos] = 0;
}

/* "A1 023.5 025.0": channel at 1, actual value from 3 ending before 8,
 * set value from 9. */
static void ChannelValues(char *answer, size_t len, int english, char *line) {
    CutAt(answer, len, 8);
    LinePrintfDecimal(line, english
                          ? "Values of channel %c: Actvalue =%6.1f, Setvalue =%6.1f"
                          : "Werte das Kanal %c: Istwert =%6.1f, Sollwert =%6.1f",
                      FieldChar(answer, len, 1), FieldReal(answer, len, 3),
                      FieldReal(answer, len, 9));
}

/* All channels: actual value of channel k from 3 + 15k, set value from
 * 9 + 15k, none cut. */
static void AllChannelValues(char *answer, size_t len, int english, char *line) {
    double v[2 * ALL_CHANNELS];
    for (int k = 0; k < ALL_CHANNELS; k++) {
        v[2 * k] = FieldReal(answer, len, 3 + CHANNEL_STRIDE * k);
        v[2 * k + 1] = FieldReal(answer, len, 9 + CHANNEL_STRIDE * k);
    }
    LinePrintfDecimal(line, english
        ? "Values of channel:  '0': Act =%6.1f, Set =%6.1f - '1': Act =%6.1f, Set =%6.1f"
          " - '2': Act =%6.1f, Set =%6.1f - '3': Act =%6.1f, Set =%6.1f"
          " - '4': Act =%6.1f, Set =%6.1f"
        : "Werte das Kanals:  '0': Ist =%6.1f, Soll =%6.1f - '1': Ist =%6.1f, Soll =%6.1f"
          " - '2': Ist =%6.1f, Soll =%6.1f - '3': Ist =%6.1f, Soll =%6.1f"
          " - '4': Ist =%6.1f, Soll =%6.1f",
        v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]);
}

/* "C": PLC version at 1..2, controller version at 4..7, PLC number from 9;
 * positions 3 and 8 are never shown. */
static void SoftwareVersions(char *answer, size_t len, int english, char *line) {
    char plc[3];
    char zelo[5];
    FieldCopy(plc, sizeof plc, answer, len, 1, 2);
    FieldCopy(zelo, sizeof zelo, answer, len, 4, 4);
    LinePrintf(line, english
        ? "Software version information: PLC version = %s - Zelo version = %s"
          " - PLC number = %s"
        : "Software-Versionsst\xE4" "nde: SPS-Version = %s - Zelo-Version = %s"
          " - SPS-Nummer = %s",
        plc, zelo, FieldText(answer, len, 9));
}

struct Duration {
    int seconds, h, m, s;
};

/* Splits a count of seconds into hours, minutes and seconds, each
 * truncated toward zero; hours are not reduced modulo 24. */
static Duration Split(int seconds) {
    long long t = seconds;
    long long h = t / 3600;
    long long m = (t - 3600 * h) / 60;
    long long s = t - 3600 * h - 60 * m;
    return Duration{seconds, static_cast<int>(h), static_cast<int>(m),
                    static_cast<int>(s)};
}

/* "D001 002 0 1 00003725 00000061": program, line, wait, running, runtime
 * of the program and remaining runtime of the line in seconds. "D" alone:
 * no program runs. */
static void ProgramInformation(char *answer, size_t len, int english, char *line) {
    if (len == 1) {
        LineCopy(line, english ? "The selected program is not running"
                                 : "Das gew\xE4" "hlte Programm l\xE4" "uft nicht");
        return;
    }
    Duration run = Split(FieldInt(answer, len, 13));
    Duration rest = Split(FieldInt(answer, len, 22));
    LinePrintf(line, english
        ? "Running program %d: Line = %d; Wait = %d; ProgRun = %d; RuntimeProg = %d [s]"
          " (%02d:%02d:%02d [hh:mm:ss]); RemainingRuntimeLine = %d [s]"
          " (%02d:%02d:%02d [hh:mm:ss])"
        : "Laufendes Programm %d: Zeile = %d; Wait = %d; ProgL\xE4" "uft = %d;"
          " LaufzeitProg = %d [s] (%02d:%02d:%02d [hh:mm:ss]);"
          " RestlaufzeitZeile = %d [s] (%02d:%02d:%02d [hh:mm:ss])",
        FieldInt(answer, len, 1), FieldInt(answer, len, 5), FieldInt(answer, len, 9),
        FieldInt(answer, len, 11), run.seconds, run.h, run.m, run.s,
        rest.seconds, rest.h, rest.m, rest.s);
}

/* "L0" enabled, "L2" locked at level 2. */
static void KeyboardLock(char *answer, size_t len, int english, char *line) {
    char level = FieldChar(answer, len, 1);
    if (level == '0') {
        LineCopy(line, english ? "Keyboard enabled" : "Tastatur ist freigeben");
        return;
    }
    LinePrintf(line, english ? "Keyboard disabled level:%c"
                               : "Tastatur gesperrt auf Level %c.",
               level);
}

/* "O": start at 1, error at 2, pause at 3 (shown only when it is "1"),
 * flags and softkeys from 4. */
static void DigitalChannels(char *answer, size_t len, int english, char *line) {
    char start = FieldChar(answer, len, 1);
    char error = FieldChar(answer, len, 2);
    char pause = FieldChar(answer, len, 3);
    const char *flags = FieldText(answer, len, 4);
    if (pause == '1')
        LinePrintf(line, english
                       ? "Digital channels: Start:%c ,Error:%c ,Pause:%c, Flags/Softkeys %s"
                       : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c ,Pause:%c, Merker/Softkeys %s",
                   start, error, pause, flags);
    else
        LinePrintf(line, english
                       ? "Digital channels: Start:%c ,Error:%c , Flags/Softkeys %s"
                       : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c , Merker/Softkeys %s",
                   start, error, flags);
}

/* "P12": program 12 runs; "P0" (or no number): none runs. */
static void ProgramStatus(char *answer, size_t len, int english, char *line) {
    int program = FieldInt(answer, len, 1);
    if (program == 0) {
        LineCopy(line, english ? "No Programme running" : "kein laufendes Program");
        return;
    }
    LinePrintf(line, english ? "Programme No.:%d is running" : "Program Nr.:%d l\xE4" "uft",
               program);
}

/* "S": start, error, temperature, humidity, four additional functions and
 * the error number, one character each at 1 to 9. */
static void ChamberStatus(char *answer, size_t len, int english, char *line) {
    char c[9];
    for (size_t i = 0; i < sizeof c; i++)
        c[i] = FieldChar(answer, len, i + 1);
    LinePrintf(line, english
        ? "Status: Start:%c ,Error:%c ,Temper:%c, Humidity:%c ,Add.func.1-4:%c%c%c%c ,ErrorNo: %c"
        : "Status: Start:%c ,Fehler:%c ,Temper:%c, Feuchte:%c ,Zusatzfkt1-4:%c%c%c%c ,Fehlernr: %c",
        c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8]);
}

/* "A1 023.5 025.0" (exactly 14 characters): one channel; any other
 * length: all channels. */
static void AnalogValues(char *answer, size_t len, int english, char *line) {
    if (len == SINGLE_A_LENGTH)
        ChannelValues(answer, len, english, line);
    else
        AllChannelValues(answer, len, english, line);
}

/* "E0 045.0": channel at 1, ramp terminal value from 3. */
static void RampEnd(char *answer, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english ? "Ramp terminal value of channel %c: =%6.1f"
                                      : "Rampenendwert das Kanal %c: =%6.1f",
                      FieldChar(answer, len, 1), FieldReal(answer, len, 3));
}

/* "G0 -80.0 190.0": channel at 1, minimum from 3, maximum from 9. */
static void ManualLimits(char *answer, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "manual limits of channel %c: min = %6.1f, max = %6.1f"
                          : "Manuale Grenzwerte das Kanal %c: Min = %6.1f, Max = %6.1f",
                      FieldChar(answer, len, 1), FieldReal(answer, len, 3),
                      FieldReal(answer, len, 9));
}

/* "U0 003.5 005.0": channel at 1, rising rate from 3 ending before 8,
 * falling rate from 9. */
static void Ramprates(char *answer, size_t len, int english, char *line) {
    CutAt(answer, len, 8);
    LinePrintfDecimal(line, english
                          ? "Ramprates of channel %c: ramp up =%6.1f, ramp down =%6.1f"
                          : "Gradienten das Kanal %c: steigende Rampe =%6.1f, fallende Rampe =%6.1f",
                      FieldChar(answer, len, 1), FieldReal(answer, len, 3),
                      FieldReal(answer, len, 9));
}

/* "FDoor open": the error text from 1. */
static void PendingError(char *answer, size_t len, int english, char *line) {
    LinePrintf(line, english ? "Pending Error: %s" : "Aktueller Fehler: %s",
               FieldText(answer, len, 1));
}

/* "T131009123000": day, month, year, hour, minute, second at 1 to 12. */
static void Clock(char *answer, size_t len, int english, char *line) {
    LineClock(line, english
                  ? "actual clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                  : "Aktuelle Uhrzeit der Anlage: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
              answer, len);
}

/* "t131009123000": the clock as set. */
static void ClockSet(char *answer, size_t len, int english, char *line) {
    LineClock(line, english
                  ? "clock of chamber adjusted: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                  : "Uhr der Anlage eingestellt auf: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
              answer, len);
}

/* "o05": index of the further digital channel in 1 and 2, ending before 3. */
static void FurtherDigitalSet(char *answer, size_t len, int english, char *line) {
    CutAt(answer, len, 3);
    LinePrintf(line, english ? "Digital channel %02d adjusted" : "Digitalkanal %02d ge\xE4" "ndert",
               FieldInt(answer, len, 1));
}

/* "s1": the digital channel at 1. */
static void DigitalSet(char *answer, size_t len, int english, char *line) {
    LinePrintf(line, english ? "Digital channel %c adjusted" : "Digital Kanal %c ge\xE4" "ndert",
               FieldChar(answer, len, 1));
}

/* "H02 2;Err1;Err2;" and the other answers shown as they stand. */
static void Verbatim(char *answer, size_t, int, char *line) {
    DescribeBytes(answer, line, DISPLAY_RAW);
}

/* One answer letter: write makes its line; where write is null the line
 * is the sentence alone (the acknowledgement of a setting). */
struct AnswerForm {
    char letter;
    void (*write)(char *answer, size_t len, int english, char *line);
    const char *english;
    const char *german;
};

static constexpr AnswerForm kForms[] = {
    {'A', AnalogValues, nullptr, nullptr},
    {'C', SoftwareVersions, nullptr, nullptr},
    {'D', ProgramInformation, nullptr, nullptr},
    {'E', RampEnd, nullptr, nullptr},
    {'F', PendingError, nullptr, nullptr},
    {'G', ManualLimits, nullptr, nullptr},
    {'H', Verbatim, nullptr, nullptr},
    {'I', Verbatim, nullptr, nullptr},
    {'L', KeyboardLock, nullptr, nullptr},
    {'M', Verbatim, nullptr, nullptr},
    {'O', DigitalChannels, nullptr, nullptr},
    {'P', ProgramStatus, nullptr, nullptr},
    {'R', Verbatim, nullptr, nullptr},
    {'S', ChamberStatus, nullptr, nullptr},
    {'T', Clock, nullptr, nullptr},
    {'U', Ramprates, nullptr, nullptr},
    {'a', nullptr, "setvalue changed", "Sollwert ge\xE4" "ndert"},
    {'d', nullptr, "Ramprate changed", "Gradient ge\xE4" "ndert"},
    {'g', nullptr, "manual limits (min/max) changed",
     "Manuale Grenzwerte (Min/Max) ge\xE4" "ndert"},
    {'i', Verbatim, nullptr, nullptr},
    {'l', nullptr, "keyboard locking changed.",
     "Zustand der Tastaturverriegelung des Bedienteils ge\xE4" "ndert."},
    {'m', Verbatim, nullptr, nullptr},
    {'o', FurtherDigitalSet, nullptr, nullptr},
    {'p', nullptr, "Programme started/stopped", "Program gestartet/gestoppt"},
    {'s', DigitalSet, nullptr, nullptr},
    {'t', ClockSet, nullptr, nullptr},
    {'u', nullptr, "Ramprate changed", "Gradient ge\xE4" "ndert"},
};

static constexpr LetterIndex kIndex = IndexLetters(kForms);

/* Mode 2: the sentence for answer, in English (english nonzero) or
 * German. Letters outside "A" to "u" and letters without a form leave line
 * as it was. */
static void InterpretAnswer(char *answer, int english, char *line) {
    int at = FindLetter(kIndex, answer);
    if (at < 0)
        return;
    const AnswerForm &form = kForms[at];
    if (form.write != nullptr)
        form.write(answer, strlen(answer), english, line);
    else
        LineCopy(line, english ? form.english : form.german);
}

/* answer: NUL-terminated answer, any length, modifiable (mode 2 may end a
 * field by a NUL inside it); line: DISPLAY_LINE_SIZE bytes; mode:
 * DISPLAY_HEX, DISPLAY_RAW or DISPLAY_INTERPRETED; english: nonzero for
 * English sentences, 0 for German. Writes the display line, or leaves line
 * untouched for any other mode and for answers that mode 2 does not know.
 * Returns 0. */
int DescribeAnswerIn(char *answer, char *line, int mode, int english) {
    if (answer == nullptr || line == nullptr)
        return 0;
    if (mode == DISPLAY_INTERPRETED)
        InterpretAnswer(answer, english, line);
    else
        DescribeBytes(answer, line, mode);
    return 0;
}
