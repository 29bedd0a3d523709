/*
 * request.cpp -- the request interpreter: turns one command sent to the
 * chamber into the line of the sent-history list. Exports
 * DescribeCommandIn (display.h).
 *
 * Command layout: the letter at 0 (upper case reads, lower case sets), the
 * channel at 1, a blank at 2 where values follow, the values from 3.
 * German sentences are Latin-1; a literal is split after each "\xE4" so
 * that the escape cannot take in the letters after it.
 */
#include "display.h"
#include "fields.h"

#include <string.h>

/* "A": position 1 "a" reads all analogue channels, anything else is the
 * channel read. */
static void ReadValues(const char *cmd, size_t len, int english, char *line) {
    char channel = FieldChar(cmd, len, 1);
    if (channel == 'a') {
        LineCopy(line, english ? "Read all actual/set values"
                                 : "Lesen aller Ist-/Sollwerte");
        return;
    }
    LinePrintf(line, english ? "Read actual value of channel %c."
                               : "Lesen der Ist-/Sollwerte des Kanal %c.",
               channel);
}

/* "a0 030.0": channel at 1, set value from 3. */
static void SetValue(const char *cmd, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english ? "Adjust setvalue of channel %c to %5.1f."
                                      : "Sollwert von Kanal %c auf %5.1f \xE4" "ndern.",
                      FieldChar(cmd, len, 1), FieldReal(cmd, len, 3));
}

/* "d0 05.48": channel at 1, rate of falling ramps from 3. */
static void SetRampDown(const char *cmd, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "Adjust ramprate for ramp down of channel %c to %7.2f."
                          : "Gradient f\xFC" "r fallende Rampe des Kanal %c auf %7.2f \xE4" "ndern.",
                      FieldChar(cmd, len, 1), FieldReal(cmd, len, 3));
}

/* "u0 03.50": channel at 1, rate of rising ramps from 3. */
static void SetRampUp(const char *cmd, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "Adjust ramprate for ramp up of channel %c to %7.2f."
                          : "Gradient f\xFC" "r steigende Rampe des Kanal %c auf %7.2f \xE4" "ndern.",
                      FieldChar(cmd, len, 1), FieldReal(cmd, len, 3));
}

/* "g0 -80.0 190.0": channel at 1, minimum from 3, maximum from 9. */
static void SetLimits(const char *cmd, size_t len, int english, char *line) {
    LinePrintfDecimal(line, english
                          ? "Set manual limits of channel %c: min = %5.1f, max = %5.1f."
                          : "Manuale Grenzwerte von Kanal %c stellen: Min = %5.1f, Max = %5.1f.",
                      FieldChar(cmd, len, 1), FieldReal(cmd, len, 3), FieldReal(cmd, len, 9));
}

/* "l0" unlocks the keyboard, "l2" locks it at level 2. */
static void SetLock(const char *cmd, size_t len, int english, char *line) {
    char level = FieldChar(cmd, len, 1);
    if (level == '0') {
        LineCopy(line, english ? "Enable Keyboard" : "Tastatur freigeben");
        return;
    }
    LinePrintf(line, english ? "Disable Keyboard level:%c"
                               : "Tastatursperre auf Level %c setzen.",
               level);
}

/* "o10 1": index in positions 1 and 2 only, state at 4. */
static void SetFurtherDigital(const char *cmd, size_t len, int english, char *line) {
    LinePrintf(line, english ? "Adjust digital channel %02d to %c"
                               : "Setzt Digitalkanal %02d auf %c",
               FieldIntBefore(cmd, len, 1, 3), FieldChar(cmd, len, 4));
}

/* "p001" starts program 1, "p000" stops; the number is read from 1, so
 * that "p012" starts program 12. */
static void StartProgram(const char *cmd, size_t len, int english, char *line) {
    int program = FieldInt(cmd, len, 1);
    if (program == 0) {
        LineCopy(line, english ? "Stop Programme" : "Program beenden");
        return;
    }
    LinePrintf(line, english ? "Start Programme No.:%d" : "Starte Program Nr.:%d",
               program);
}

/* "s1 0": digital channel at 1, state at 3. */
static void SetDigital(const char *cmd, size_t len, int english, char *line) {
    LinePrintf(line, english ? "Adjust digital channel %c to %c"
                               : "Setze digital Kanal %c auf %c",
               FieldChar(cmd, len, 1), FieldChar(cmd, len, 3));
}

/* "t131009123000": day, month, year, hour, minute, second at 1 to 12. */
static void SetClock(const char *cmd, size_t len, int english, char *line) {
    LineClock(line, english
                  ? "Adjust clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                  : "Uhr der Anlage einstellen auf: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
              cmd, len, 1);
}

/* "H01", "I0", "M02 001", "R0", "i0 Ready", "m0 230.0": the command itself. */
static void Verbatim(const char *cmd, size_t, int, char *line) {
    DescribeBytes(cmd, line, DISPLAY_RAW);
}

/* One command letter: write makes its line; where write is null the line
 * is the sentence, with the channel at position 1 for its "%c" if it has
 * one. */
struct CommandForm {
    char letter;
    void (*write)(const char *cmd, size_t len, int english, char *line);
    const char *english;
    const char *german;
};

static constexpr CommandForm kForms[] = {
    {'A', ReadValues, nullptr, nullptr},
    {'C', nullptr, "Read Software version information",
     "Lesen der Software-Versionsst\xE4" "nde"},
    {'D', nullptr, "Read information about the current test program",
     "Informationen zum laufenden Pr\xFC" "fprogramm auslesen"},
    {'E', nullptr, "Read ramps terminal value of channel %c.",
     "Lesen des Rampenendwerts des Kanal %c."},
    {'F', nullptr, "Read errortext of pending error", "Lese Text des anstehenden Fehlers"},
    {'G', nullptr, "Read manual limits (min/max) of channel %c.",
     "Lesen der manualen Grenzwerte (Min/Max) des Kanals %c."},
    {'H', Verbatim, nullptr, nullptr},
    {'I', Verbatim, nullptr, nullptr},
    {'L', nullptr, "Read state of keyboard locking.",
     "Lesen des Zustand der Tastaturverriegelung des Bedienteils."},
    {'M', Verbatim, nullptr, nullptr},
    {'O', nullptr, "Read all digital channels.",
     "Lesen aller vorhandenen digitalen Kan\xE4" "le."},
    {'P', nullptr, "Read Programme status", "Programstatus abfragen"},
    {'R', Verbatim, nullptr, nullptr},
    {'S', nullptr, "Read chamber status", "Lesen des Kammerstatus"},
    {'T', nullptr, "Read actual time of chamber clock.", "Uhrzeit der Anlage auslesen"},
    {'U', nullptr, "Read ramprate of channel %c.", "Lesen der Gradienten des Kanal %c."},
    {'a', SetValue, nullptr, nullptr},
    {'d', SetRampDown, nullptr, nullptr},
    {'g', SetLimits, nullptr, nullptr},
    {'i', Verbatim, nullptr, nullptr},
    {'l', SetLock, nullptr, nullptr},
    {'m', Verbatim, nullptr, nullptr},
    {'o', SetFurtherDigital, nullptr, nullptr},
    {'p', StartProgram, nullptr, nullptr},
    {'s', SetDigital, nullptr, nullptr},
    {'t', SetClock, nullptr, nullptr},
    {'u', SetRampUp, nullptr, nullptr},
};

static constexpr LetterIndex kIndex = IndexLetters(kForms);

/* Mode 2: the sentence for cmd, in English (english nonzero) or German.
 * Letters outside "A" to "u" and letters without a form leave line as it
 * was. */
static void InterpretCommand(const char *cmd, int english, char *line) {
    int at = FindLetter(kIndex, cmd);
    if (at < 0)
        return;
    const CommandForm &form = kForms[at];
    size_t len = strlen(cmd);
    if (form.write != nullptr) {
        form.write(cmd, len, english, line);
        return;
    }
    const char *sentence = english ? form.english : form.german;
    if (strchr(sentence, '%') != nullptr)
        LinePrintf(line, sentence, FieldChar(cmd, len, 1));
    else
        LineCopy(line, sentence);
}

/* command: NUL-terminated command, any length; line: DISPLAY_LINE_SIZE
 * bytes; mode: DISPLAY_HEX, DISPLAY_RAW or DISPLAY_INTERPRETED; english:
 * nonzero for English sentences, 0 for German. Writes the display line, or
 * leaves line untouched for any other mode and for commands that mode 2
 * does not know. Returns 0. */
int DescribeCommandIn(const char *command, char *line, int mode, int english) {
    if (command == nullptr || line == nullptr)
        return 0;
    if (mode == DISPLAY_INTERPRETED)
        InterpretCommand(command, english, line);
    else
        DescribeBytes(command, line, mode);
    return 0;
}
