/*
 * ascii_panels_test.cpp -- the program's two panel files as the library
 * reads and loads them: the same panels, controls, IDs, constants
 * (checked against ui/ascii.h), kinds and callbacks in each; every text and
 * default of each language; and the command catalogue item by item. This
 * is the one test to follow an edit of the catalogue.
 */
#include "panelfile.h"
#include "platform.h"
#include "program_panels.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class AsciiPanels : public MainPanelTest {};

std::string CtrlText(int panel, int control, int attribute)
{
    char buf[PLATFORM_LABEL_SIZE];
    EXPECT_EQ(0, GetCtrlAttribute(panel, control, attribute, buf)) << control;
    return buf;
}

int CtrlInt(int panel, int control, int attribute)
{
    int v = -99;
    EXPECT_EQ(0, GetCtrlAttribute(panel, control, attribute, &v)) << control;
    return v;
}

int IntValue(int panel, int control)
{
    int v = -99;
    EXPECT_EQ(0, GetCtrlVal(panel, control, &v)) << control;
    return v;
}

/* ---- The same structure in both files, matching ascii.h. ---- */

struct ControlShape {
    int id;
    const char *constant;
    int kind;
    const char *callback;
};

const ControlShape kMainPanel[] = {
    {TOGGLEBUTTON, "TOGGLEBUTTON", CTRL_TOGGLE_BUTTON, "ON_OFF"},
    {ESC_BUTTON, "ESC_BUTTON", CTRL_COMMAND_BUTTON, "QUIT"},
    {AUSWAHL, "AUSWAHL", CTRL_RING, "COMMAND"},
    {SEND_STRING, "SEND_STRING", CTRL_STRING, "SENDEN"},
    {LED, "LED", CTRL_LED, ""},
    {SCANNER, "SCANNER", CTRL_TIMER, "TIMER"},
    {DECORATION_3, "DECORATION_3", CTRL_DECORATION, ""},
    {DECORATION_4, "DECORATION_4", CTRL_DECORATION, ""},
    {IP, "IP", CTRL_STRING, "IPinput"},
    {DECORATION_5, "DECORATION_5", CTRL_DECORATION, ""},
    {RINGSLIDE, "RINGSLIDE", CTRL_RING_SLIDE, ""},
    {ZEICHEN_EMPFANGEN, "ZEICHEN_EMPFANGEN", CTRL_LIST_BOX, "FullText"},
    {ZEICHEN_GESENDET, "ZEICHEN_GESENDET", CTRL_LIST_BOX, "FullText"},
    {CLOSE_CONN, "CLOSE_CONN", CTRL_BINARY_SWITCH, "ChangeCloseConnection"},
    {RESEND, "RESEND", CTRL_BINARY_SWITCH, ""},
    {UNCONNECTED_SEND, "UNCONNECTED_SEND", CTRL_BINARY_SWITCH, ""},
    {SCANNING, "SCANNING", CTRL_NUMERIC, "ChangeScanning"},
};

struct PanelShape {
    int number;
    const char *constant;
    std::vector<ControlShape> controls;
};

const PanelShape kPanels[] = {
    {FEHLER, "FEHLER", {{TEXTBOX, "TEXTBOX", CTRL_TEXT_BOX, ""}, {TEXTMSG, "TEXTMSG", CTRL_TEXT_MSG, ""}}},
    {PANEL, "PANEL", std::vector<ControlShape>(std::begin(kMainPanel), std::end(kMainPanel))},
    {TXTPANEL, "TXTPANEL", {{TEXTBOX, "TEXTBOX", CTRL_TEXT_BOX, "CloseText"}}},
};

TEST_P(AsciiPanels, SameControlsInBothFilesMatchingTheConstantsHeader)
{
    for (const PanelShape &shape : kPanels) {
        SCOPED_TRACE(std::string(File()) + " panel " + shape.constant);
        const int p = Load(File(), shape.number);
        ASSERT_GT(p, 0);
        char name[PLATFORM_NAME_SIZE];
        int n = -1;
        EXPECT_EQ(0, GetPanelAttribute(p, ATTR_CONSTANT_NAME, name));
        EXPECT_STREQ(shape.constant, name);
        EXPECT_EQ(0, GetPanelAttribute(p, ATTR_NUM_CTRLS, &n));
        EXPECT_EQ(static_cast<int>(shape.controls.size()), n);
        for (size_t i = 0; i < shape.controls.size(); i++) {
            const ControlShape &c = shape.controls[i];
            SCOPED_TRACE(c.constant);
            EXPECT_EQ(static_cast<int>(i) + 2, c.id);
            EXPECT_EQ(c.constant, CtrlText(p, c.id, ATTR_CONSTANT_NAME));
            EXPECT_EQ(c.kind, CtrlInt(p, c.id, ATTR_CTRL_KIND));
            EXPECT_EQ(c.callback, CtrlText(p, c.id, ATTR_CALLBACK_NAME));
        }
        EXPECT_EQ(UIE_INVALID_CONTROL, GetCtrlAttribute(p, n + 2, ATTR_CTRL_KIND, &n));
    }
}

/* ---- Texts and defaults of each language. ---- */

struct LabelCase {
    int id;
    const char *english;
    const char *german;
};

const LabelCase kLabels[] = {
    {TOGGLEBUTTON, "cyclic sending On/Off", "Senden An/Aus"},
    {ESC_BUTTON, "Quit", "Quit"},
    {AUSWAHL, "possible commands", "mögliche Befehle:"},
    {SEND_STRING, "Command (editable)", "Befehlscode (editierbar) :"},
    {LED, "Chamber responding", "Kontakt zur Kammer"},
    {SCANNER, "SCANNING", "SCANNING"},
    {IP, "IP-Adresse", "IP-Adresse"},
    {RINGSLIDE, "Display mode", "Anzeigemode"},
    {ZEICHEN_EMPFANGEN, "characters received", "zeichen empfangen"},
    {ZEICHEN_GESENDET, "characters sent", "zeichen gesendet"},
    {CLOSE_CONN, "close connection\nafter each command", "Verbindung nach je-\ndem Befehl schliessen"},
    {RESEND, "Reconnect on\nsend error", "Neuverbindung \nbei Sendefehler"},
    {UNCONNECTED_SEND, "continue sending\nwhen interrupted", "Bei Verbindungs-\nabbruch weiter senden"},
    {SCANNING, "send cycle [sec]", "Abfragetakt [sec]"},
};

TEST_P(AsciiPanels, LabelsAndTitleOfEachLanguage)
{
    const int p = main_;
    char title[PLATFORM_TITLE_SIZE];
    EXPECT_EQ(0, GetPanelAttribute(p, ATTR_TITLE, title));
    EXPECT_EQ(Latin1(English() ? "Testprogramme for Quenta ASCII protocol Version 3.2"
                               : "Testprogram für Quenta ASCII protokoll  über Ethernet Version 3.2"),
              title);
    for (const LabelCase &c : kLabels)
        EXPECT_EQ(Latin1(English() ? c.english : c.german), CtrlText(p, c.id, ATTR_LABEL_TEXT))
            << "control " << c.id;
}

TEST_P(AsciiPanels, DefaultsOfEachLanguage)
{
    const int p = main_;
    EXPECT_EQ(1, IntValue(p, TOGGLEBUTTON));
    EXPECT_EQ(0, IntValue(p, LED));
    EXPECT_EQ(0, IntValue(p, CLOSE_CONN));
    EXPECT_EQ(1, IntValue(p, RESEND));
    EXPECT_EQ(English() ? 0 : 1, IntValue(p, UNCONNECTED_SEND));
    EXPECT_EQ("A0", TextValue(p, SEND_STRING));
    EXPECT_EQ(511, CtrlInt(p, SEND_STRING, ATTR_MAX_ENTRY_LENGTH));
    EXPECT_EQ("127.0.0.1", TextValue(p, IP));
    EXPECT_EQ(30, CtrlInt(p, IP, ATTR_MAX_ENTRY_LENGTH));
    EXPECT_EQ(VAL_ESC_VKEY, CtrlInt(p, ESC_BUTTON, ATTR_SHORTCUT_KEY));
    int closeCtrl = 0;
    EXPECT_EQ(0, GetPanelAttribute(p, ATTR_CLOSE_CTRL, &closeCtrl));
    EXPECT_EQ(ESC_BUTTON, closeCtrl);
}

TEST_P(AsciiPanels, NumericTimerAndListsOfEachLanguage)
{
    const int p = main_;
    double v = 0;
    EXPECT_EQ(0, GetCtrlVal(p, SCANNING, &v));
    EXPECT_DOUBLE_EQ(5.0, v);
    const int attrs[] = {ATTR_MIN_VALUE, ATTR_MAX_VALUE, ATTR_INCR_VALUE, ATTR_INTERVAL};
    const double want[] = {1.0, 600.0, 1.0, English() ? 2.0 : 5.0};
    for (int i = 0; i < 4; i++) {
        const int id = attrs[i] == ATTR_INTERVAL ? SCANNER : SCANNING;
        EXPECT_EQ(0, GetCtrlAttribute(p, id, attrs[i], &v));
        EXPECT_DOUBLE_EQ(want[i], v) << "attribute " << attrs[i];
    }
    EXPECT_EQ(1, CtrlInt(p, SCANNER, ATTR_ENABLED));
    for (int list : {ZEICHEN_EMPFANGEN, ZEICHEN_GESENDET}) {
        int n = -1, index = 0;
        EXPECT_EQ(0, GetNumListItems(p, list, &n));
        EXPECT_EQ(0, GetCtrlIndex(p, list, &index));
        EXPECT_EQ(0, n);
        EXPECT_EQ(-1, index);
    }
}

TEST_P(AsciiPanels, DisplayModeRingSlide)
{
    const char *items[2][3] = {{"All bytes in hex", "without framing", "interpreted"},
                               {"Alle übertragenen Bytes", "Ohne Rahmen", "Interpretiert"}};
    const int p = main_;
    int n = 0, index = -1;
    EXPECT_EQ(0, GetNumListItems(p, RINGSLIDE, &n));
    EXPECT_EQ(3, n);
    EXPECT_EQ(0, GetCtrlIndex(p, RINGSLIDE, &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(1, IntValue(p, RINGSLIDE));
    for (int i = 0; i < 3; i++) {
        char label[PLATFORM_LABEL_SIZE];
        int value = -1;
        EXPECT_EQ(0, GetLabelFromIndex(p, RINGSLIDE, i, label));
        EXPECT_EQ(0, GetValueFromIndex(p, RINGSLIDE, i, &value));
        EXPECT_EQ(Latin1(items[English() ? 0 : 1][i]), label);
        EXPECT_EQ(i, value);
    }
}

TEST_P(AsciiPanels, TextPopupAndErrorPanel)
{
    const int main = main_;
    const int text = Load(File(), TXTPANEL, main);
    const int error = Load(File(), FEHLER);
    ASSERT_GT(text, 0);
    ASSERT_GT(error, 0);
    char title[PLATFORM_TITLE_SIZE];
    int parent = -1, closeCtrl = -1;
    EXPECT_EQ(0, GetPanelAttribute(text, ATTR_TITLE, title));
    EXPECT_STREQ("Text", title);
    EXPECT_EQ(0, GetPanelAttribute(text, ATTR_PARENT_PANEL, &parent));
    EXPECT_EQ(main, parent);
    EXPECT_EQ(0, GetPanelAttribute(text, ATTR_CLOSE_CTRL, &closeCtrl));
    EXPECT_EQ(TEXTBOX, closeCtrl);
    EXPECT_EQ("", TextValue(text, TEXTBOX));
    EXPECT_EQ(0, GetPanelAttribute(error, ATTR_TITLE, title));
    EXPECT_STREQ("Fehler !", title);
    EXPECT_EQ("Kammer:", TextValue(error, TEXTMSG));
    EXPECT_EQ("", TextValue(error, TEXTBOX));
    EXPECT_EQ(0, GetPanelAttribute(error, ATTR_CLOSE_CTRL, &closeCtrl));
    EXPECT_EQ(0, closeCtrl);
}

/* ---- The catalogue of commands. ---- */

struct CatalogueRow {
    const char *value;
    int englishIndex;   /* -1: not in the English list */
    const char *englishLabel;
    int germanIndex;    /* -1: not in the German list */
    const char *germanLabel;
};

const CatalogueRow kCatalogue[] = {
    {"t131009123000", 0, "set clock (13.10.2009 12:30:00)",
     0, "Uhrzeit stellen (13.10.2009 12:30:00)"},
    {"T", 1, "read clock",
     1, "Uhrzeit lesen"},
    {"a0 030.0", 2, "adjust analogue channel 0 (Temper) ",
     2, "Analogkanal 0 (Temper) stellen (30°C)"},
    {"A0", 3, "read actual/set value of analogue channel 0 (Temper)",
     3, "Analogkanal 0 (Temper) Ist-/Sollwert lesen"},
    {"Aa", 4, "read actual/set value of all analogue channels (from Zelo version 3.19)",
     -1, nullptr},
    {"u0 03.50", 5, "adjust ramprate for ramp up of channel 0 (Temper) ",
     4, "Gradient für steigende Rampen Kanal 0 (Temper) einstellen (3.5 K/min)"},
    {"u0 999.9", 6, "reset ramprate for ramp up of channel 0 (Temper) ",
     5, "Gradient für steigende Rampen Kanal 0 (Temper) zurücksetzen "},
    {"d0 05.48", 7, "adjust ramprate for ramp down of channel 0 (Temper) ",
     6, "Gradient für fallende Rampen Kanal 0 (Temper) einstellen (5.48 K/min)"},
    {"d0 999.9", 8, "reset ramprate for ramp down of channel 0 (Temper) ",
     7, "Gradient für fallende Rampen Kanal 0 (Temper) zurücksetzen "},
    {"U0", 9, "read ramprates for channel 0 (Temper) ",
     8, "Eingestellte Gradienten für Kanal 0 (Temper) auslesen (steigen/sinken)"},
    {"E0", 10, "Read ramps terminal value of channel 0 (Temper)",
     9, "Eingestellter Endwert für Rampen Kanal 0 (Temper) auslesen"},
    {"S", 11, "read status",
     10, "Status lesen"},
    {"s1 1", 12, "start chamber",
     11, "Kammer starten"},
    {"s1 0", 13, "stop chamber",
     12, "Kammer stoppen"},
    {"s2 0", 14, "confirm error",
     13, "Fehler quittieren"},
    {"s3 0", 15, "interrupt chamber (Pause)",
     14, "Kammer unterbrechen (Pause)"},
    {"s3 1", 16, "continue chamber",
     15, "Kammer fortsetzen"},
    {"P", 17, "read testcycle state",
     16, "Programmstatus lesen"},
    {"p001", 18, "start testcycle 1",
     17, "Programm 1 starten"},
    {"p000", 19, "terminate testcycle",
     18, "Programm  beenden"},
    {"D001", 20, "read information about the current test program (from Zelo version 3.19)",
     -1, nullptr},
    {"F", 21, "read error text",
     19, "Fehlertext auslesen"},
    {"O", 22, "read further digital channels (start,error,unused,flag0..n,softkey0..m)",
     20, "weitere Digitalkanäle lesen (Start,Fehler,Unbenutzt,Merker0..n,Softkey0..m)"},
    {"o10 1", 23, "adjust further digital channels (e.g.: Index 10 means second softkey for a chamber with 5 flag channels)",
     21, "weitere Digitalkanäle stellen (Bsp.: Index 10 enstpricht bei Kammer mit 5 Merkerkanälen dem 2.Softkey"},
    {"L", 24, "read keyboard locking ('0':unlocked, '1': locked level 1, '2': locked level 2)",
     22, "Tastaturverriegelung lesen ('0':frei, '1': gesperrt Stufe 1, '2': gesperrt Stufe 2)"},
    {"l2", 25, "lock keyboard (level2)",
     23, "Tastatur sperren (Stufe2)"},
    {"l0", 26, "unlock keyboard",
     24, "Tastatur freigeben"},
    {"R0", 27, "Addons with  V2.06: read ramp parameters for channel  0 (Temper)  (activated,running,ramp up,ramp down)",
     25, "Zusätze ab V2.06: Rampenparameter für Kanal 0 (Temper) zurücklesen (aktiviert,läuft,steigen,sinken)"},
    {"H01", 28, "Addons with  V2.06: read number of pending errors",
     26, "Zusätze ab V2.06: Anzahl anstehenden Fehler zurücklesen"},
    {"H02", 29, "Addons with  V2.06: read number and text of pending errors (number;text1;...;textn;)",
     27, "Zusätze ab V2.06: Anzahl und Text anstehender Fehler zurücklesen (Anzahl;Text1;...;Textn;)"},
    {"M01", 30, "Addons with  V2.06: read quantity and numbers of testcycles in the chamber (quantity;No1;...;Non;)",
     28, "Zusätze ab V2.06: Anzahl und Nummern der vorhandenen Prüfprogramme auslesen (Anzahl;Nr1;...;Nrn;)"},
    {"M02 001", 31, "Addons with  V2.06: read information on testcycle No. (No;Name;number of lines;runtime in min.;)",
     29, "Zusätze ab V2.06: Infos zu Prüfprogramm Nr. auslesen (Nr;Name;Anzahl Zeilen;Laufzeit in Min;)"},
    {"m0 230.0", -1, nullptr,
     30, "Zusätze ab V2.06: Vorgabe externer Analogwert (0..2) nur für Sonderkammern"},
    {"i0 Ready", -1, nullptr,
     31, "Zusätze ab V2.06: Vorgabe externer Infotext (0: Status, 1:Typ) nur für Sonderkammern"},
    {"I0", -1, nullptr,
     32, "Zusätze ab V2.06: Ausgabe Infotext (0: Remote dis-/enable) nur für Sonderkammern"},
    {"Aa", 32, "Addons with  V3.19: read actual/set value of all analogue channels",
     33, "Zusätze ab V3.19: Alle Analogkanäle Ist-/Sollwert lesen"},
    {"D001", 33, "Addons with  V3.19: read information about the current test program",
     34, "Zusätze ab V3.19: Informationen zum laufenden Prüfprogramm auslesen"},
    {"C", 34, "Addons with  V3.19: read software version information",
     35, "Zusätze ab V3.19: Software Versionsstände abfragen"},
    {"G0", 35, "Addons with  V3.23: read manual limits (min/max)",
     36, "Zusätze ab V3.23: Manuale Grenzwerte (Min/Max) lesen"},
    {"g0 -80.0 190.0", 36, "Addons with  V3.23: set manual limits (min/max)",
     37, "Zusätze ab V3.23: Manuale Grenzwerte (Min/Max) stellen"},
};

TEST_P(AsciiPanels, CatalogueItemsLabelsAndValues)
{
    const int p = main_;
    int n = 0;
    EXPECT_EQ(0, GetNumListItems(p, AUSWAHL, &n));
    EXPECT_EQ(English() ? 37 : 38, n);
    int checked = 0;
    for (const CatalogueRow &row : kCatalogue) {
        const int index = English() ? row.englishIndex : row.germanIndex;
        if (index < 0)
            continue;
        SCOPED_TRACE(std::string("item ") + std::to_string(index) + " " + row.value);
        char label[PLATFORM_LABEL_SIZE];
        char value[PLATFORM_STRING_SIZE];
        ASSERT_EQ(0, GetLabelFromIndex(p, AUSWAHL, index, label));
        ASSERT_EQ(0, GetValueFromIndex(p, AUSWAHL, index, value));
        EXPECT_EQ(Latin1(English() ? row.englishLabel : row.germanLabel), label);
        EXPECT_STREQ(row.value, value);
        checked++;
    }
    EXPECT_EQ(n, checked);
    int index = -1;
    EXPECT_EQ(0, GetCtrlIndex(p, AUSWAHL, &index));
    EXPECT_EQ(3, index);
    EXPECT_EQ("A0", TextValue(p, AUSWAHL));
    char label[PLATFORM_LABEL_SIZE] = "untouched";
    EXPECT_EQ(UIE_INVALID_INDEX, GetLabelFromIndex(p, AUSWAHL, n, label));
    EXPECT_STREQ("untouched", label);
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, AsciiPanels, ::testing::ValuesIn(kLanguageFiles), LanguageOf);

/* ---- The files read without a display. ---- */

TEST(AsciiPanelFiles, ShippedFilesParseWithTheThreePanels)
{
    for (const char *name : {"ascii_e.uir", "ascii.uir"}) {
        QFile file(QStringLiteral(QUENTA_UI_DIR "/") + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        std::vector<PanelDesc> panels;
        std::string why;
        ASSERT_EQ(0, ParsePanelFile(file.readAll(), &panels, &why)) << name << ": " << why;
        ASSERT_EQ(3u, panels.size()) << name;
        EXPECT_EQ(17u, FindPanelDesc(panels, 2)->controls.size()) << name;
        EXPECT_EQ(1u, FindPanelDesc(panels, 3)->controls.size()) << name;
        EXPECT_EQ(2u, FindPanelDesc(panels, 1)->controls.size()) << name;
    }
}

}  // namespace
