/*
 * request.cpp -- the request interpreter: turns one command sent to the
 * chamber into the line of the sent-history list. Exports DescribeCommand
 * (display.h).
 *
 * Command layout: the letter at 0 (upper case reads, lower case sets), the
 * channel at 1, a blank at 2 where values follow, the values from 3.
 * German sentences are Latin-1; a literal is split after each "\xE4" so
 * that the escape cannot take in the letters after it.
 */
#include "display.h"
#include "fields.h"

#include <string.h>

enum SentenceKind {
    SENTENCE_FIXED,    /* the sentence alone */
    SENTENCE_CHANNEL,  /* one "%c", the channel at position 1 */
    SENTENCE_VERBATIM  /* the command itself */
};

struct CommandSentence {
    char letter;
    SentenceKind kind;
    const char *english;
    const char *german;
};

static const CommandSentence kSentences[] = {
    {'C', SENTENCE_FIXED, "Read Software version information",
     "Lesen der Software-Versionsst\xE4" "nde"},
    {'D', SENTENCE_FIXED, "Read information about the current test program",
     "Informationen zum laufenden Pr\xFC" "fprogramm auslesen"},
    {'F', SENTENCE_FIXED, "Read errortext of pending error",
     "Lese Text des anstehenden Fehlers"},
    {'L', SENTENCE_FIXED, "Read state of keyboard locking.",
     "Lesen des Zustand der Tastaturverriegelung des Bedienteils."},
    {'O', SENTENCE_FIXED, "Read all digital channels.",
     "Lesen aller vorhandenen digitalen Kan\xE4" "le."},
    {'P', SENTENCE_FIXED, "Read Programme status", "Programstatus abfragen"},
    {'S', SENTENCE_FIXED, "Read chamber status", "Lesen des Kammerstatus"},
    {'T', SENTENCE_FIXED, "Read actual time of chamber clock.",
     "Uhrzeit der Anlage auslesen"},
    {'E', SENTENCE_CHANNEL, "Read ramps terminal value of channel %c.",
     "Lesen des Rampenendwerts des Kanal %c."},
    {'G', SENTENCE_CHANNEL, "Read manual limits (min/max) of channel %c.",
     "Lesen der manualen Grenzwerte (Min/Max) des Kanals %c."},
    {'U', SENTENCE_CHANNEL, "Read ramprate of channel %c.",
     "Lesen der Gradienten des Kanal %c."},
    {'H', SENTENCE_VERBATIM, nullptr, nullptr},
    {'I', SENTENCE_VERBATIM, nullptr, nullptr},
    {'M', SENTENCE_VERBATIM, nullptr, nullptr},
    {'R', SENTENCE_VERBATIM, nullptr, nullptr},
    {'i', SENTENCE_VERBATIM, nullptr, nullptr},
    {'m', SENTENCE_VERBATIM, nullptr, nullptr},
};

/* "A": position 1 "a" reads all analogue channels, anything else is the
 * channel read. */
static void ReadValues(const char *cmd, size_t len, char *line) {
    char channel = FieldChar(cmd, len, 1);
    if (channel == 'a') {
        LinePrintf(line, "%s", englishUI ? "Read all actual/set values"
                                         : "Lesen aller Ist-/Sollwerte");
        return;
    }
    LinePrintf(line, englishUI ? "Read actual value of channel %c."
                               : "Lesen der Ist-/Sollwerte des Kanal %c.",
               channel);
}

/* "a0 030.0": channel at 1, set value from 3. */
static void SetValue(const char *cmd, size_t len, char *line) {
    LinePrintf(line, englishUI ? "Adjust setvalue of channel %c to %5.1f."
                               : "Sollwert von Kanal %c auf %5.1f \xE4" "ndern.",
               FieldChar(cmd, len, 1), FieldReal(cmd, len, 3));
}

/* "d0 05.48" (falling) and "u0 03.50" (rising): channel at 1, rate from 3. */
static void SetRamprate(const char *cmd, size_t len, char *line, int up) {
    const char *format;
    if (up)
        format = englishUI ? "Adjust ramprate for ramp up of channel %c to %7.2f."
                           : "Gradient f\xFC" "r steigende Rampe des Kanal %c auf %7.2f \xE4" "ndern.";
    else
        format = englishUI ? "Adjust ramprate for ramp down of channel %c to %7.2f."
                           : "Gradient f\xFC" "r fallende Rampe des Kanal %c auf %7.2f \xE4" "ndern.";
    LinePrintf(line, format, FieldChar(cmd, len, 1), FieldReal(cmd, len, 3));
}

/* "g0 -80.0 190.0": channel at 1, minimum from 3, maximum from 9. */
static void SetLimits(const char *cmd, size_t len, char *line) {
    LinePrintf(line, englishUI
                   ? "Set manual limits of channel %c: min = %5.1f, max = %5.1f."
                   : "Manuale Grenzwerte von Kanal %c stellen: Min = %5.1f, Max = %5.1f.",
               FieldChar(cmd, len, 1), FieldReal(cmd, len, 3), FieldReal(cmd, len, 9));
}

/* "l0" unlocks the keyboard, "l2" locks it at level 2. */
static void SetLock(const char *cmd, size_t len, char *line) {
    char level = FieldChar(cmd, len, 1);
    if (level == '0') {
        LinePrintf(line, "%s", englishUI ? "Enable Keyboard" : "Tastatur freigeben");
        return;
    }
    LinePrintf(line, englishUI ? "Disable Keyboard level:%c"
                               : "Tastatursperre auf Level %c setzen.",
               level);
}

/* "o10 1": index in positions 1 and 2 only, state at 4. */
static void SetFurtherDigital(const char *cmd, size_t len, char *line) {
    LinePrintf(line, englishUI ? "Adjust digital channel %02d to %c"
                               : "Setzt Digitalkanal %02d auf %c",
               FieldIntBefore(cmd, len, 1, 3), FieldChar(cmd, len, 4));
}

/* "p001" starts program 1, "p000" stops; the number is read from 1, so
 * that "p012" starts program 12. */
static void StartProgram(const char *cmd, size_t len, char *line) {
    int program = FieldInt(cmd, len, 1);
    if (program == 0) {
        LinePrintf(line, "%s", englishUI ? "Stop Programme" : "Program beenden");
        return;
    }
    LinePrintf(line, englishUI ? "Start Programme No.:%d" : "Starte Program Nr.:%d",
               program);
}

/* "s1 0": digital channel at 1, state at 3. */
static void SetDigital(const char *cmd, size_t len, char *line) {
    LinePrintf(line, englishUI ? "Adjust digital channel %c to %c"
                               : "Setze digital Kanal %c auf %c",
               FieldChar(cmd, len, 1), FieldChar(cmd, len, 3));
}

/* Writes the sentence of a letter that reads values from the command.
 * Returns 1 if letter is one of them, else 0 (line untouched). */
static int WriteWithValues(unsigned char letter, const char *cmd, size_t len,
                           char *line) {
    switch (letter) {
    case 'A': ReadValues(cmd, len, line); return 1;
    case 'a': SetValue(cmd, len, line); return 1;
    case 'd': SetRamprate(cmd, len, line, 0); return 1;
    case 'u': SetRamprate(cmd, len, line, 1); return 1;
    case 'g': SetLimits(cmd, len, line); return 1;
    case 'l': SetLock(cmd, len, line); return 1;
    case 'o': SetFurtherDigital(cmd, len, line); return 1;
    case 'p': StartProgram(cmd, len, line); return 1;
    case 's': SetDigital(cmd, len, line); return 1;
    case 't':
        LineClock(line, englishUI
                      ? "Adjust clock of chamber: date:%c%c.%c%c.%c%c  time:%c%c:%c%c:%c%c"
                      : "Uhr der Anlage einstellen auf: Datum:%c%c.%c%c.%c%c  Zeit:%c%c:%c%c:%c%c",
                  cmd, len);
        return 1;
    }
    return 0;
}

/* Writes the sentence of a letter from the table. Returns 1 if the letter
 * has an entry there, else 0 (line untouched). */
static int WriteFromTable(unsigned char letter, const char *cmd, size_t len,
                          char *line) {
    for (const CommandSentence &s : kSentences) {
        if (static_cast<unsigned char>(s.letter) != letter)
            continue;
        if (s.kind == SENTENCE_VERBATIM)
            DescribeBytes(cmd, line, DISPLAY_RAW);
        else if (s.kind == SENTENCE_CHANNEL)
            LinePrintf(line, englishUI ? s.english : s.german, FieldChar(cmd, len, 1));
        else
            LinePrintf(line, "%s", englishUI ? s.english : s.german);
        return 1;
    }
    return 0;
}

/* Mode 2: the sentence for cmd, in the language of englishUI. Letters
 * outside "A" to "u" and letters without a sentence leave line as it was. */
static void InterpretCommand(const char *cmd, char *line) {
    unsigned char letter = static_cast<unsigned char>(cmd[0]);
    if (letter < 'A' || letter > 'u')
        return;
    size_t len = strlen(cmd);
    locale_t saved = NumericLocaleEnter();
    if (!WriteFromTable(letter, cmd, len, line))
        WriteWithValues(letter, cmd, len, line);
    NumericLocaleLeave(saved);
}

/* command: NUL-terminated command, any length; line: DISPLAY_LINE_SIZE
 * bytes; mode: DISPLAY_HEX, DISPLAY_RAW or DISPLAY_INTERPRETED. Writes the
 * display line, or leaves line untouched for any other mode and for
 * commands that mode 2 does not know. Returns 0. */
int DescribeCommand(const char *command, char *line, int mode) {
    if (command == nullptr || line == nullptr)
        return 0;
    if (mode == DISPLAY_INTERPRETED)
        InterpretCommand(command, line);
    else
        DescribeBytes(command, line, mode);
    return 0;
}
