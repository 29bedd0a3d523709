/*
 * answer.cpp -- the response interpreter: turns one answer of the chamber
 * into the line of the received-history list, and into the values it
 * carries. Exports DescribeAnswerIn (display.h), DecodeAnswer and
 * DescribeValues (values.h).
 *
 * The answer letter at position 0 decides the form; the fields stand at
 * fixed positions. Each form states its fields once, in a table: decoding
 * reads them into named values, and the sentence is printed from those
 * values alone, so that the two cannot disagree. A number field cut
 * "before q" is ended by writing a NUL into the answer at q, which happens
 * only where q lies inside the answer. German sentences are Latin-1, each
 * literal split after its "\xE4".
 */
#include "display.h"
#include "fields.h"
#include "values.h"

#include <string.h>

/* How a field is read. */
enum FieldKind : unsigned char {
    FIELD_CHAR,  /* the byte at pos */
    FIELD_INT,   /* whole number from pos */
    FIELD_REAL,  /* decimal number from pos */
    FIELD_TEXT   /* text from pos to the end of the answer */
};

/* A field's channel: none, the byte at position 1, or a fixed character. */
enum : char { CHANNEL_NONE = 0, CHANNEL_AT_1 = 1 };

/* One field: the name of its value, how and where it is read. end 0: the
 * reading ends it (a number at the first byte that cannot continue it, a
 * text at the answer's end); else it ends before end, whatever stands
 * there. A number ended so is cut in the answer too (DescribeAnswerIn). */
struct Field {
    const char *name;
    FieldKind kind;
    unsigned char pos;
    unsigned char end;
    char channel;
};

/* The values of one answer as a sentence reads them. */
struct Decoded {
    const AnswerValues *values;
    const char *text[ANSWER_VALUES_MAX];  /* text value i in full */
    const char *answer;  /* the answer, for the forms that show it as it
                            stands; null when made from values */
};

typedef void (*Printer)(const Decoded &d, int english, char *line);

/* One form of an answer: its fields, and print, which makes the sentence
 * from their values; where print is null the sentence is english or
 * german alone. */
struct Layout {
    const Field *field;
    int count;
    Printer print;
    const char *english;
    const char *german;
};

/* Value i as a number: 0 for a text. */
static double Num(const Decoded &d, int i) {
    const AnswerValue &v = d.values->value[i];
    return v.kind == VALUE_NUMBER ? v.number : 0.0;
}

/* Value i as a whole number, clamped to the int range (NaN gives 0). */
static int Int(const Decoded &d, int i) {
    double x = Num(d, i);
    if (x >= 2147483647.0)
        return 2147483647;
    if (x <= -2147483648.0)
        return -2147483647 - 1;
    return x == x ? static_cast<int>(x) : 0;
}

/* Value i as the character it was read from: a digit for a number, else
 * the text's byte (NUL for an empty text, which ends the line). */
static char Chr(const Decoded &d, int i) {
    if (d.values->value[i].kind == VALUE_NUMBER)
        return static_cast<char>('0' + Int(d, i));
    return d.values->value[i].text[0];
}

/* The channel of the form's first value. */
static char Chan(const Decoded &d) {
    return d.values->value[0].channel;
}

/* "A1 023.5 025.0": channel at 1, actual value from 3 ending before 8,
 * set value from 9. */
static void ChannelValues(const Decoded &d, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "Values of channel %c: Actvalue =%6.1f, Setvalue =%6.1f"
                          : "Werte das Kanal %c: Istwert =%6.1f, Sollwert =%6.1f",
                      Chan(d), Num(d, 0), Num(d, 1));
}

/* All channels: actual and set value of channels 0 to 4. */
static void AllChannelValues(const Decoded &d, int english, char *line) {
    LinePrintfDecimal(line, english
        ? "Values of channel:  '0': Act =%6.1f, Set =%6.1f - '1': Act =%6.1f, Set =%6.1f"
          " - '2': Act =%6.1f, Set =%6.1f - '3': Act =%6.1f, Set =%6.1f"
          " - '4': Act =%6.1f, Set =%6.1f"
        : "Werte das Kanals:  '0': Ist =%6.1f, Soll =%6.1f - '1': Ist =%6.1f, Soll =%6.1f"
          " - '2': Ist =%6.1f, Soll =%6.1f - '3': Ist =%6.1f, Soll =%6.1f"
          " - '4': Ist =%6.1f, Soll =%6.1f",
        Num(d, 0), Num(d, 1), Num(d, 2), Num(d, 3), Num(d, 4), Num(d, 5), Num(d, 6),
        Num(d, 7), Num(d, 8), Num(d, 9));
}

/* "C": PLC version, controller version, PLC number. */
static void SoftwareVersions(const Decoded &d, int english, char *line) {
    LinePrintf(line, english
        ? "Software version information: PLC version = %s - Zelo version = %s"
          " - PLC number = %s"
        : "Software-Versionsst\xE4" "nde: SPS-Version = %s - Zelo-Version = %s"
          " - SPS-Nummer = %s",
        d.text[0], d.text[1], d.text[2]);
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
 * of the program and remaining runtime of the line in seconds. */
static void ProgramInformation(const Decoded &d, int english, char *line) {
    Duration run = Split(Int(d, 4));
    Duration rest = Split(Int(d, 5));
    LinePrintf(line, english
        ? "Running program %d: Line = %d; Wait = %d; ProgRun = %d; RuntimeProg = %d [s]"
          " (%02d:%02d:%02d [hh:mm:ss]); RemainingRuntimeLine = %d [s]"
          " (%02d:%02d:%02d [hh:mm:ss])"
        : "Laufendes Programm %d: Zeile = %d; Wait = %d; ProgL\xE4" "uft = %d;"
          " LaufzeitProg = %d [s] (%02d:%02d:%02d [hh:mm:ss]);"
          " RestlaufzeitZeile = %d [s] (%02d:%02d:%02d [hh:mm:ss])",
        Int(d, 0), Int(d, 1), Int(d, 2), Int(d, 3), run.seconds, run.h, run.m, run.s,
        rest.seconds, rest.h, rest.m, rest.s);
}

/* "L0" enabled, "L2" locked at level 2. */
static void KeyboardLock(const Decoded &d, int english, char *line) {
    char level = Chr(d, 0);
    if (level == '0') {
        LineCopy(line, english ? "Keyboard enabled" : "Tastatur ist freigeben");
        return;
    }
    LinePrintf(line, english ? "Keyboard disabled level:%c" : "Tastatur gesperrt auf Level %c.",
               level);
}

/* "O": start, error, pause (shown only when it is "1"), flags and
 * softkeys. */
static void DigitalChannels(const Decoded &d, int english, char *line) {
    if (Chr(d, 2) == '1')
        LinePrintf(line, english
                       ? "Digital channels: Start:%c ,Error:%c ,Pause:%c, Flags/Softkeys %s"
                       : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c ,Pause:%c, Merker/Softkeys %s",
                   Chr(d, 0), Chr(d, 1), Chr(d, 2), d.text[3]);
    else
        LinePrintf(line, english
                       ? "Digital channels: Start:%c ,Error:%c , Flags/Softkeys %s"
                       : "Digitale Kan\xE4" "le: Start:%c ,Fehler:%c , Merker/Softkeys %s",
                   Chr(d, 0), Chr(d, 1), d.text[3]);
}

/* "P12": program 12 runs; "P0" (or no number): none runs. */
static void ProgramStatus(const Decoded &d, int english, char *line) {
    int program = Int(d, 0);
    if (program == 0) {
        LineCopy(line, english ? "No Programme running" : "kein laufendes Program");
        return;
    }
    LinePrintf(line, english ? "Programme No.:%d is running" : "Program Nr.:%d l\xE4" "uft",
               program);
}

/* "S": start, error, temperature, humidity, four additional functions and
 * the error number. */
static void ChamberStatus(const Decoded &d, int english, char *line) {
    LinePrintf(line, english
        ? "Status: Start:%c ,Error:%c ,Temper:%c, Humidity:%c ,Add.func.1-4:%c%c%c%c ,ErrorNo: %c"
        : "Status: Start:%c ,Fehler:%c ,Temper:%c, Feuchte:%c ,Zusatzfkt1-4:%c%c%c%c ,Fehlernr: %c",
        Chr(d, 0), Chr(d, 1), Chr(d, 2), Chr(d, 3), Chr(d, 4), Chr(d, 5), Chr(d, 6), Chr(d, 7),
        Chr(d, 8));
}

/* "E0 045.0": channel, ramp terminal value. */
static void RampEnd(const Decoded &d, int english, char *line) {
    LinePrintfDecimal(line, english ? "Ramp terminal value of channel %c: =%6.1f"
                                    : "Rampenendwert das Kanal %c: =%6.1f",
                      Chan(d), Num(d, 0));
}

/* "G0 -80.0 190.0": channel, minimum, maximum. */
static void ManualLimits(const Decoded &d, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "manual limits of channel %c: min = %6.1f, max = %6.1f"
                          : "Manuale Grenzwerte das Kanal %c: Min = %6.1f, Max = %6.1f",
                      Chan(d), Num(d, 0), Num(d, 1));
}

/* "U0 003.5 005.0": channel, rising rate, falling rate. */
static void Ramprates(const Decoded &d, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "Ramprates of channel %c: ramp up =%6.1f, ramp down =%6.1f"
                          : "Gradienten das Kanal %c: steigende Rampe =%6.1f, fallende Rampe =%6.1f",
                      Chan(d), Num(d, 0), Num(d, 1));
}

/* "FDoor open": the error text. */
static void PendingError(const Decoded &d, int english, char *line) {
    LinePrintf(line, english ? "Pending Error: %s" : "Aktueller Fehler: %s", d.text[0]);
}

/* "T131009123000": the chamber's clock. */
static void Clock(const Decoded &d, int english, char *line) {
    LineClock(line, english
                  ? "actual clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                  : "Aktuelle Uhrzeit der Anlage: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
              d.text[0], strlen(d.text[0]), 0);
}

/* "t131009123000": the clock as set. */
static void ClockSet(const Decoded &d, int english, char *line) {
    LineClock(line, english
                  ? "clock of chamber adjusted: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                  : "Uhr der Anlage eingestellt auf: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
              d.text[0], strlen(d.text[0]), 0);
}

/* "o05": the further digital channel. */
static void FurtherDigitalSet(const Decoded &d, int english, char *line) {
    LinePrintf(line, english ? "Digital channel %02d adjusted" : "Digitalkanal %02d ge\xE4" "ndert",
               Int(d, 0));
}

/* "s1": the digital channel. */
static void DigitalSet(const Decoded &d, int english, char *line) {
    LinePrintf(line, english ? "Digital channel %c adjusted" : "Digital Kanal %c ge\xE4" "ndert",
               Chr(d, 0));
}

/* "H02 2;Err1;Err2;" and the other answers shown as they stand. */
static void Verbatim(const Decoded &d, int, char *line) {
    DescribeBytes(d.answer, line, DISPLAY_RAW);
}

/* The fields of each form, in the order of their values. */
static constexpr Field kChannelFields[] = {
    {"actual", FIELD_REAL, 3, 8, CHANNEL_AT_1},
    {"set", FIELD_REAL, 9, 0, CHANNEL_AT_1},
};
static constexpr Field kAllChannelFields[] = {
    {"actual", FIELD_REAL, 3, 0, '0'}, {"set", FIELD_REAL, 9, 0, '0'},
    {"actual", FIELD_REAL, 18, 0, '1'}, {"set", FIELD_REAL, 24, 0, '1'},
    {"actual", FIELD_REAL, 33, 0, '2'}, {"set", FIELD_REAL, 39, 0, '2'},
    {"actual", FIELD_REAL, 48, 0, '3'}, {"set", FIELD_REAL, 54, 0, '3'},
    {"actual", FIELD_REAL, 63, 0, '4'}, {"set", FIELD_REAL, 69, 0, '4'},
};
static constexpr Field kVersionFields[] = {
    {"plc_version", FIELD_TEXT, 1, 3, CHANNEL_NONE},
    {"controller_version", FIELD_TEXT, 4, 8, CHANNEL_NONE},
    {"plc_number", FIELD_TEXT, 9, 0, CHANNEL_NONE},
};
static constexpr Field kProgramFields[] = {
    {"program", FIELD_INT, 1, 0, CHANNEL_NONE},
    {"line", FIELD_INT, 5, 0, CHANNEL_NONE},
    {"wait", FIELD_INT, 9, 0, CHANNEL_NONE},
    {"program_running", FIELD_INT, 11, 0, CHANNEL_NONE},
    {"runtime_s", FIELD_INT, 13, 0, CHANNEL_NONE},
    {"line_remaining_s", FIELD_INT, 22, 0, CHANNEL_NONE},
};
static constexpr Field kRampEndFields[] = {
    {"ramp_end", FIELD_REAL, 3, 0, CHANNEL_AT_1},
};
static constexpr Field kErrorFields[] = {
    {"error_text", FIELD_TEXT, 1, 0, CHANNEL_NONE},
};
static constexpr Field kLimitFields[] = {
    {"limit_min", FIELD_REAL, 3, 0, CHANNEL_AT_1},
    {"limit_max", FIELD_REAL, 9, 0, CHANNEL_AT_1},
};
static constexpr Field kLockFields[] = {
    {"keyboard_lock_level", FIELD_CHAR, 1, 0, CHANNEL_NONE},
};
static constexpr Field kDigitalFields[] = {
    {"start", FIELD_CHAR, 1, 0, CHANNEL_NONE},
    {"error", FIELD_CHAR, 2, 0, CHANNEL_NONE},
    {"pause", FIELD_CHAR, 3, 0, CHANNEL_NONE},
    {"flags_softkeys", FIELD_TEXT, 4, 0, CHANNEL_NONE},
};
static constexpr Field kProgramStatusFields[] = {
    {"program", FIELD_INT, 1, 0, CHANNEL_NONE},
};
static constexpr Field kStatusFields[] = {
    {"start", FIELD_CHAR, 1, 0, CHANNEL_NONE},
    {"error", FIELD_CHAR, 2, 0, CHANNEL_NONE},
    {"temperature_control", FIELD_CHAR, 3, 0, CHANNEL_NONE},
    {"humidity_control", FIELD_CHAR, 4, 0, CHANNEL_NONE},
    {"add_function_1", FIELD_CHAR, 5, 0, CHANNEL_NONE},
    {"add_function_2", FIELD_CHAR, 6, 0, CHANNEL_NONE},
    {"add_function_3", FIELD_CHAR, 7, 0, CHANNEL_NONE},
    {"add_function_4", FIELD_CHAR, 8, 0, CHANNEL_NONE},
    {"error_number", FIELD_CHAR, 9, 0, CHANNEL_NONE},
};
static constexpr Field kClockFields[] = {
    {"clock", FIELD_TEXT, 1, 13, CHANNEL_NONE},  /* ddMMyyhhmmss */
};
static constexpr Field kRampFields[] = {
    {"ramp_up", FIELD_REAL, 3, 8, CHANNEL_AT_1},
    {"ramp_down", FIELD_REAL, 9, 0, CHANNEL_AT_1},
};
static constexpr Field kFurtherDigitalFields[] = {
    {"digital_channel", FIELD_INT, 1, 3, CHANNEL_NONE},
};
static constexpr Field kDigitalSetFields[] = {
    {"digital_channel", FIELD_CHAR, 1, 0, CHANNEL_NONE},
};

/* The form whose values are the fields in field, printed by print. */
template <size_t N>
constexpr Layout Fields(const Field (&field)[N], Printer print) {
    return Layout{field, static_cast<int>(N), print, nullptr, nullptr};
}

/* The form without values whose line is the sentence alone. */
constexpr Layout Sentence(const char *english, const char *german) {
    return Layout{nullptr, 0, nullptr, english, german};
}

static constexpr Layout kChannel = Fields(kChannelFields, ChannelValues);
static constexpr Layout kAllChannels = Fields(kAllChannelFields, AllChannelValues);
static constexpr Layout kVersions = Fields(kVersionFields, SoftwareVersions);
static constexpr Layout kProgramIdle =
    Sentence("The selected program is not running", "Das gew\xE4" "hlte Programm l\xE4" "uft nicht");
static constexpr Layout kProgram = Fields(kProgramFields, ProgramInformation);
static constexpr Layout kRampEnd = Fields(kRampEndFields, RampEnd);
static constexpr Layout kError = Fields(kErrorFields, PendingError);
static constexpr Layout kLimits = Fields(kLimitFields, ManualLimits);
static constexpr Layout kVerbatim = Layout{nullptr, 0, Verbatim, nullptr, nullptr};
static constexpr Layout kLock = Fields(kLockFields, KeyboardLock);
static constexpr Layout kDigital = Fields(kDigitalFields, DigitalChannels);
static constexpr Layout kProgramStatus = Fields(kProgramStatusFields, ProgramStatus);
static constexpr Layout kStatus = Fields(kStatusFields, ChamberStatus);
static constexpr Layout kClock = Fields(kClockFields, Clock);
static constexpr Layout kRamps = Fields(kRampFields, Ramprates);
static constexpr Layout kValueSet = Sentence("setvalue changed", "Sollwert ge\xE4" "ndert");
static constexpr Layout kRampSet = Sentence("Ramprate changed", "Gradient ge\xE4" "ndert");
static constexpr Layout kLimitsSet =
    Sentence("manual limits (min/max) changed", "Manuale Grenzwerte (Min/Max) ge\xE4" "ndert");
static constexpr Layout kLockSet =
    Sentence("keyboard locking changed.",
             "Zustand der Tastaturverriegelung des Bedienteils ge\xE4" "ndert.");
static constexpr Layout kFurtherDigitalSet = Fields(kFurtherDigitalFields, FurtherDigitalSet);
static constexpr Layout kProgramSet =
    Sentence("Programme started/stopped", "Program gestartet/gestoppt");
static constexpr Layout kDigitalSet = Fields(kDigitalSetFields, DigitalSet);
static constexpr Layout kClockSet = Fields(kClockFields, ClockSet);

/* One answer letter: its form, or for "A" and "D" the form of an answer
 * exactly length characters long and the form of any other. */
struct AnswerForm {
    char letter;
    const Layout *layout;
    size_t length;
    const Layout *other;
};

static constexpr AnswerForm kForms[] = {
    {'A', &kChannel, 14, &kAllChannels},  /* "A1 023.5 025.0" */
    {'C', &kVersions, 0, nullptr},
    {'D', &kProgramIdle, 1, &kProgram},   /* "D" alone: no program runs */
    {'E', &kRampEnd, 0, nullptr},
    {'F', &kError, 0, nullptr},
    {'G', &kLimits, 0, nullptr},
    {'H', &kVerbatim, 0, nullptr},
    {'I', &kVerbatim, 0, nullptr},
    {'L', &kLock, 0, nullptr},
    {'M', &kVerbatim, 0, nullptr},
    {'O', &kDigital, 0, nullptr},
    {'P', &kProgramStatus, 0, nullptr},
    {'R', &kVerbatim, 0, nullptr},
    {'S', &kStatus, 0, nullptr},
    {'T', &kClock, 0, nullptr},
    {'U', &kRamps, 0, nullptr},
    {'a', &kValueSet, 0, nullptr},
    {'d', &kRampSet, 0, nullptr},
    {'g', &kLimitsSet, 0, nullptr},
    {'i', &kVerbatim, 0, nullptr},
    {'l', &kLockSet, 0, nullptr},
    {'m', &kVerbatim, 0, nullptr},
    {'o', &kFurtherDigitalSet, 0, nullptr},
    {'p', &kProgramSet, 0, nullptr},
    {'s', &kDigitalSet, 0, nullptr},
    {'t', &kClockSet, 0, nullptr},
    {'u', &kRampSet, 0, nullptr},
};

static constexpr LetterIndex kIndex = IndexLetters(kForms);

/* The form of answer (len bytes), or null when its letter has none. */
static const Layout *LayoutOf(const char *answer, size_t len) {
    int at = FindLetter(kIndex, answer);
    if (at < 0)
        return nullptr;
    const AnswerForm &form = kForms[at];
    return form.other != nullptr && len != form.length ? form.other : form.layout;
}

/* Sets v to the character c: a digit as its number, any other byte as a
 * text of that byte, NUL as the empty text. */
static void SetChar(AnswerValue *v, char c) {
    if (c >= '0' && c <= '9') {
        v->kind = VALUE_NUMBER;
        v->number = c - '0';
        return;
    }
    v->kind = VALUE_TEXT;
    v->text[0] = c;
    v->text[1] = 0;
}

/* Reads field f of answer (len bytes) into v; *whole gets the text value
 * in full, as the sentence shows it. */
static void ReadField(const char *answer, size_t len, const Field &f, AnswerValue *v,
                      const char **whole) {
    v->name = f.name;
    v->channel = f.channel == CHANNEL_AT_1 ? FieldChar(answer, len, 1) : f.channel;
    v->kind = f.kind == FIELD_INT || f.kind == FIELD_REAL ? VALUE_NUMBER : VALUE_TEXT;
    v->number = 0.0;
    v->text[0] = 0;
    v->cut = 0;
    *whole = v->text;
    if (f.kind == FIELD_CHAR)
        SetChar(v, FieldChar(answer, len, f.pos));
    else if (f.kind == FIELD_INT)
        v->number = f.end ? FieldIntBefore(answer, len, f.pos, f.end) : FieldInt(answer, len, f.pos);
    else if (f.kind == FIELD_REAL)
        v->number = f.end ? FieldRealBefore(answer, len, f.pos, f.end) : FieldReal(answer, len, f.pos);
    else if (f.end)
        FieldCopy(v->text, sizeof v->text, answer, len, f.pos, f.end - f.pos);
    else {
        *whole = FieldText(answer, len, f.pos);
        size_t n = strlen(*whole);
        v->cut = n >= sizeof v->text;
        FieldCopy(v->text, sizeof v->text, *whole, n, 0, n);
    }
}

/* Decodes the fields of layout from answer (len bytes) into out, and
 * returns them as a sentence reads them. */
static Decoded Decode(const char *answer, size_t len, const Layout &layout, AnswerValues *out) {
    Decoded d;
    d.values = out;
    d.answer = answer;
    out->letter = answer[0];
    out->count = layout.count;
    for (int i = 0; i < layout.count; i++)
        ReadField(answer, len, layout.field[i], &out->value[i], &d.text[i]);
    return d;
}

/* Writes the sentence of layout from d into line. */
static void Print(const Layout &layout, const Decoded &d, int english, char *line) {
    if (layout.print != nullptr)
        layout.print(d, english, line);
    else
        LineCopy(line, english ? layout.english : layout.german);
}

/* Mode 2: the sentence for answer, in English (english nonzero) or
 * German. Number fields that end at a fixed position are then cut in the
 * answer. Letters outside "A" to "u" and letters without a form leave line
 * as it was. */
static void InterpretAnswer(char *answer, int english, char *line) {
    size_t len = strlen(answer);
    const Layout *layout = LayoutOf(answer, len);
    if (layout == nullptr)
        return;
    AnswerValues values;
    Decoded d = Decode(answer, len, *layout, &values);
    Print(*layout, d, english, line);
    for (int i = 0; i < layout->count; i++) {
        const Field &f = layout->field[i];
        if (f.end != 0 && f.kind != FIELD_TEXT && f.end < len)
            answer[f.end] = 0;
    }
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

/* answer: NUL-terminated answer, any bytes; out: filled in whole, unused
 * values zeroed. Returns out->count. */
int DecodeAnswer(const char *answer, AnswerValues *out) {
    if (out == nullptr)
        return 0;
    memset(out, 0, sizeof *out);
    if (answer == nullptr)
        return 0;
    out->letter = answer[0];
    size_t len = strlen(answer);
    const Layout *layout = LayoutOf(answer, len);
    if (layout != nullptr)
        Decode(answer, len, *layout, out);
    return out->count;
}

/* values: as DecodeAnswer made them; line: DISPLAY_LINE_SIZE bytes.
 * Chooses the letter's form by the count of values, prints its sentence
 * from them and returns 1; returns 0, line untouched, where there is no
 * such form or it shows the answer as it stands. */
int DescribeValues(const AnswerValues *values, char *line, int english) {
    if (values == nullptr || line == nullptr)
        return 0;
    int at = FindLetter(kIndex, &values->letter);
    if (at < 0)
        return 0;
    const AnswerForm &form = kForms[at];
    const Layout *layout = form.layout->count == values->count ? form.layout : form.other;
    if (layout == nullptr || layout->count != values->count || layout == &kVerbatim)
        return 0;
    Decoded d;
    d.values = values;
    d.answer = nullptr;
    for (int i = 0; i < layout->count; i++)
        d.text[i] = values->value[i].text;
    Print(*layout, d, english, line);
    return 1;
}
