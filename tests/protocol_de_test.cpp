/*
 * protocol_de_test.cpp -- the German sentences of both interpreters, typed
 * in UTF-8 and compared as the Latin-1 bytes the interpreters write.
 */
#include "protocol_test_support.h"

#include <string>

using protocol_test::Answer;
using protocol_test::CheckSentences;
using protocol_test::Command;
using protocol_test::Format;
using protocol_test::kGerman;
using protocol_test::Latin1;
using protocol_test::Outcome;

namespace {

TEST(RequestGerman, EverySentence) {
    CheckSentences({
        {"Aa", "Lesen aller Ist-/Sollwerte"},
        {"A0", "Lesen der Ist-/Sollwerte des Kanal 0."},
        {"A", "Lesen der Ist-/Sollwerte des Kanal "},
        {"C", "Lesen der Software-Versionsstände"},
        {"D001", "Informationen zum laufenden Prüfprogramm auslesen"},
        {"E0", "Lesen des Rampenendwerts des Kanal 0."},
        {"F", "Lese Text des anstehenden Fehlers"},
        {"G0", "Lesen der manualen Grenzwerte (Min/Max) des Kanals 0."},
        {"H01", "H01"},
        {"I0", "I0"},
        {"L", "Lesen des Zustand der Tastaturverriegelung des Bedienteils."},
        {"M01", "M01"},
        {"O", "Lesen aller vorhandenen digitalen Kanäle."},
        {"P", "Programstatus abfragen"},
        {"R0", "R0"},
        {"S", "Lesen des Kammerstatus"},
        {"T", "Uhrzeit der Anlage auslesen"},
        {"U0", "Lesen der Gradienten des Kanal 0."},
        {"a0 030.0", "Sollwert von Kanal 0 auf  30.0 ändern."},
        {"a0", "Sollwert von Kanal 0 auf   0.0 ändern."},
        {"d0 05.48", "Gradient für fallende Rampe des Kanal 0 auf    5.48 ändern."},
        {"g0 -80.0 190.0", "Manuale Grenzwerte von Kanal 0 stellen: Min = -80.0, Max = 190.0."},
        {"i0 Ready", "i0 Ready"},
        {"l0", "Tastatur freigeben"},
        {"l2", "Tastatursperre auf Level 2 setzen."},
        {"m0 230.0", "m0 230.0"},
        {"o10 1", "Setzt Digitalkanal 10 auf 1"},
        {"o5 1", "Setzt Digitalkanal 05 auf "},
        {"p000", "Program beenden"},
        {"p001", "Starte Program Nr.:1"},
        {"s1 0", "Setze digital Kanal 1 auf 0"},
        {"t131009123000", "Uhr der Anlage einstellen auf: Datum:13.10.09  Zeit:12:30:00"},
        {"u0 03.50", "Gradient für steigende Rampe des Kanal 0 auf    3.50 ändern."},
        {"B", nullptr},
        {"\xFC", nullptr},
    }, Command, kGerman);
}

TEST(RequestGerman, LongestSentenceFits) {
    std::string huge = Format("%5.1f", -1e308);
    Outcome out = Command("g0 -1e308 -1e308", DISPLAY_INTERPRETED, kGerman);
    EXPECT_EQ(out.line, Latin1("Manuale Grenzwerte von Kanal 0 stellen: Min = ") + huge +
                            ", Max = " + huge + ".");
    EXPECT_EQ(out.line.size(), 679u);
}

TEST(AnswerGerman, EverySentence) {
    CheckSentences({
        {"A1 023.5 025.0", "Werte das Kanal 1: Istwert =  23.5, Sollwert =  25.0"},
        {"A0 023.5 025.0 A1 045.0 050.0 A2 -10.0 000.5 A3 001.0 002.0 A4 003.0 004.0",
         "Werte das Kanals:  '0': Ist =  23.5, Soll =  25.0 - '1': Ist =  45.0, Soll =  50.0"
         " - '2': Ist = -10.0, Soll =   0.5 - '3': Ist =   1.0, Soll =   2.0"
         " - '4': Ist =   3.0, Soll =   4.0"},
        {"C12 3.19 4711", "Software-Versionsstände: SPS-Version = 12 - Zelo-Version = 3.19"
                          " - SPS-Nummer = 4711"},
        {"D", "Das gewählte Programm läuft nicht"},
        {"D001 002 0 1 00003725 00000061",
         "Laufendes Programm 1: Zeile = 2; Wait = 0; ProgLäuft = 1; LaufzeitProg = 3725 [s]"
         " (01:02:05 [hh:mm:ss]); RestlaufzeitZeile = 61 [s] (00:01:01 [hh:mm:ss])"},
        {"E0 045.0", "Rampenendwert das Kanal 0: =  45.0"},
        {"FT\xFC" "r offen", "Aktueller Fehler: Tür offen"},
        {"G0 -80.0 190.0", "Manuale Grenzwerte das Kanal 0: Min =  -80.0, Max =  190.0"},
        {"H01 0", "H01 0"},
        {"L0", "Tastatur ist freigeben"},
        {"L2", "Tastatur gesperrt auf Level 2."},
        {"L", "Tastatur gesperrt auf Level "},
        {"O1010110", "Digitale Kanäle: Start:1 ,Fehler:0 ,Pause:1, Merker/Softkeys 0110"},
        {"O1000110", "Digitale Kanäle: Start:1 ,Fehler:0 , Merker/Softkeys 0110"},
        {"P0", "kein laufendes Program"},
        {"P12", "Program Nr.:12 läuft"},
        {"S101000005", "Status: Start:1 ,Fehler:0 ,Temper:1, Feuchte:0 ,Zusatzfkt1-4:0000 ,Fehlernr: 5"},
        {"T131009123000", "Aktuelle Uhrzeit der Anlage: Datum:13.10.09  Zeit:12:30:00"},
        {"U0 003.5 005.0", "Gradienten das Kanal 0: steigende Rampe =   3.5, fallende Rampe =   5.0"},
        {"a", "Sollwert geändert"},
        {"d", "Gradient geändert"},
        {"g", "Manuale Grenzwerte (Min/Max) geändert"},
        {"l", "Zustand der Tastaturverriegelung des Bedienteils geändert."},
        {"o05", "Digitalkanal 05 geändert"},
        {"p", "Program gestartet/gestoppt"},
        {"s1", "Digital Kanal 1 geändert"},
        {"t131009123000", "Uhr der Anlage eingestellt auf: Datum:13.10.09  Zeit:12:30:00"},
        {"u", "Gradient geändert"},
        {"z", nullptr},
        {"\xE4", nullptr},
    }, Answer, kGerman);
}

}  // namespace
