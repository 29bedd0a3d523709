/*
 * panel_file_test.cpp -- the panel-file parser on its own, without a
 * display: a small file holding every kind of control is read into the
 * right description, and each way of breaking it (syntax, unknown or
 * repeated fields, wrong types, texts one byte over a buffer, non-Latin-1
 * characters, bad ranges, dangling references) is refused. The shipped
 * files parse cleanly.
 */
#include "panelfile.h"
#include "platform.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char *kAllKinds = R"({"format": "quenta-panels", "version": 1, "panels": [
 {"number": 4, "constant": "P", "title": "T", "size": [300, 200], "closeControl": "QUIT", "controls": [
  {"constant": "TOG", "kind": "toggle", "label": "t", "rect": [0, 0, 10, 10], "value": 1},
  {"constant": "QUIT", "kind": "command", "label": "Quit", "rect": [0, 0, 10, 10], "shortcut": "Esc"},
  {"constant": "RING", "kind": "ring", "rect": [0, 0, 10, 10], "index": 1,
   "items": [{"label": "a ", "value": "A"}, {"label": "b", "value": "B"}]},
  {"constant": "STR", "kind": "string", "rect": [0, 0, 10, 10], "maxLength": 5, "value": "abc"},
  {"constant": "LAMP", "kind": "led", "label": "l", "labelSide": "right", "rect": [0, 0, 10, 10], "value": 0},
  {"constant": "TICK", "kind": "timer", "callback": "TIMER", "interval": 0.5, "enabled": false},
  {"constant": "DECO", "kind": "decoration", "rect": [0, 0, 10, 10]},
  {"constant": "NUM", "kind": "numeric", "rect": [0, 0, 10, 10], "value": 5, "min": 1, "max": 600,
   "increment": 1},
  {"constant": "SLIDE", "kind": "ringSlide", "rect": [0, 0, 10, 10],
   "items": [{"label": "x", "value": 0}, {"label": "y", "value": 1}]},
  {"constant": "LIST", "kind": "listBox", "rect": [0, 0, 10, 10]},
  {"constant": "OPT", "kind": "option", "label": "o\np", "rect": [0, 0, 10, 10]},
  {"constant": "BOX", "kind": "textBox", "rect": [0, 0, 10, 10], "indicator": true},
  {"constant": "MSG", "kind": "textMessage", "rect": [0, 0, 10, 10], "value": "m\u00fc"}
 ]}]})";

/* kAllKinds with the first occurrence of from replaced by to. */
std::string Edit(const char *from, const std::string &to)
{
    std::string s = kAllKinds;
    const size_t at = s.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos)
        s.replace(at, strlen(from), to);
    return s;
}

int Parse(const std::string &text, std::vector<PanelDesc> *panels, std::string *why)
{
    return ParsePanelFile(QByteArray::fromStdString(text), panels, why);
}

TEST(PanelFile, ReadsEveryKindWithItsSettings)
{
    std::vector<PanelDesc> panels;
    std::string why;
    ASSERT_EQ(0, Parse(kAllKinds, &panels, &why)) << why;
    ASSERT_EQ(1u, panels.size());
    const PanelDesc &p = panels[0];
    EXPECT_EQ(&p, FindPanelDesc(panels, 4));
    EXPECT_EQ(nullptr, FindPanelDesc(panels, 2));
    EXPECT_EQ(3, p.closeControl);
    const int kinds[] = {CTRL_TOGGLE_BUTTON, CTRL_COMMAND_BUTTON, CTRL_RING, CTRL_STRING, CTRL_LED,
                         CTRL_TIMER, CTRL_DECORATION, CTRL_NUMERIC, CTRL_RING_SLIDE, CTRL_LIST_BOX,
                         CTRL_BINARY_SWITCH, CTRL_TEXT_BOX, CTRL_TEXT_MSG};
    ASSERT_EQ(13u, p.controls.size());
    for (size_t i = 0; i < 13; i++)
        EXPECT_EQ(kinds[i], p.controls[i].kind) << p.controls[i].constant;
    const ControlDesc &ring = p.controls[2];
    EXPECT_TRUE(ring.stringItems);
    EXPECT_EQ(1, ring.index);
    EXPECT_EQ("a ", ring.items[0].label);
    EXPECT_EQ("B", ring.items[1].text);
    EXPECT_EQ(VAL_ESC_VKEY, p.controls[1].shortcutKey);
    EXPECT_EQ(5, p.controls[3].maxLength);
    EXPECT_EQ(LABEL_RIGHT, p.controls[4].labelSide);
    EXPECT_FALSE(p.controls[5].enabled);
    EXPECT_DOUBLE_EQ(0.5, p.controls[5].interval);
    EXPECT_EQ("TIMER", p.controls[5].callback);
    EXPECT_DOUBLE_EQ(600, p.controls[7].maxValue);
    EXPECT_FALSE(p.controls[8].stringItems);
    EXPECT_EQ(0, p.controls[8].index);
    EXPECT_EQ(-1, p.controls[9].index);
    EXPECT_EQ("o\np", p.controls[10].label);
    EXPECT_TRUE(p.controls[11].indicator);
    EXPECT_EQ("m\xfc", p.controls[12].text);
}

struct BrokenCase {
    const char *name;
    std::string text;
    bool ok;
};

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

TEST(PanelFile, RefusesEachBrokenVariant)
{
    const BrokenCase cases[] = {
        {"not JSON", "{\"format\": ", false},
        {"array document", "[]", false},
        {"wrong format name", Edit("quenta-panels", "other"), false},
        {"wrong version", Edit("\"version\": 1", "\"version\": 2"), false},
        {"unknown top field", Edit("\"version\": 1", "\"version\": 1, \"extra\": 0"), false},
        {"field twice", Edit("\"value\": 1", "\"value\": 1, \"value\": 0"), false},
        {"field twice, escaped", Edit("\"value\": 1", "\"value\": 1, \"val\\u0075e\": 0"), false},
        {"same texts in two objects", Edit("\"label\": \"t\"", "\"label\": \"value\""), true},
        {"panel number missing", Edit("\"number\": 4, ", ""), false},
        {"panel number not whole", Edit("\"number\": 4", "\"number\": 4.5"), false},
        {"panel number as text", Edit("\"number\": 4", "\"number\": \"4\""), false},
        {"two panels, one number", Edit("]}]}", "]}, {\"number\": 4, \"constant\": \"Q\", \"title\": \"\", "
                                                  "\"size\": [1, 1], \"controls\": []}]}"),
         false},
        {"second panel", Edit("]}]}", "]}, {\"number\": 5, \"constant\": \"Q\", \"title\": \"\", "
                                       "\"size\": [1, 1], \"controls\": []}]}"),
         true},
        {"size missing", Edit("\"size\": [300, 200], ", ""), false},
        {"constant twice", Edit("\"constant\": \"TOG\"", "\"constant\": \"QUIT\""), false},
        {"constant not an identifier", Edit("\"constant\": \"TOG\"", "\"constant\": \"TO G\""), false},
        {"constant starts with a digit", Edit("\"constant\": \"TOG\"", "\"constant\": \"9TOG\""), false},
        {"constant 63 characters", Edit("\"constant\": \"TOG\"", "\"constant\": \"" + Repeat('C', 63) + "\""), true},
        {"constant 64 characters", Edit("\"constant\": \"TOG\"", "\"constant\": \"" + Repeat('C', 64) + "\""), false},
        {"callback not an identifier", Edit("\"callback\": \"TIMER\"", "\"callback\": \"TI-MER\""), false},
        {"unknown kind", Edit("\"kind\": \"toggle\"", "\"kind\": \"slider\""), false},
        {"field of another kind", Edit("\"shortcut\": \"Esc\"", "\"shortcut\": \"Esc\", \"maxLength\": 3"), false},
        {"rect missing", Edit("\"rect\": [0, 0, 10, 10], \"value\": 1", "\"value\": 1"), false},
        {"rect negative", Edit("[0, 0, 10, 10]", "[-1, 0, 10, 10]"), false},
        {"rect zero width", Edit("[0, 0, 10, 10]", "[0, 0, 0, 10]"), false},
        {"rect three numbers", Edit("[0, 0, 10, 10]", "[0, 0, 10]"), false},
        {"title 127 characters", Edit("\"title\": \"T\"", "\"title\": \"" + Repeat('t', 127) + "\""), true},
        {"title 128 characters", Edit("\"title\": \"T\"", "\"title\": \"" + Repeat('t', 128) + "\""), false},
        {"title with a Latin-1 letter", Edit("\"title\": \"T\"", "\"title\": \"\xc3\xbc\""), true},
        {"title outside Latin-1", Edit("\"title\": \"T\"", "\"title\": \"\xe2\x82\xac\""), false},
        {"label with NUL", Edit("\"label\": \"t\"", "\"label\": \"a\\u0000b\""), false},
        {"label 2559 characters", Edit("\"label\": \"t\"", "\"label\": \"" + Repeat('l', 2559) + "\""), true},
        {"label 2560 characters", Edit("\"label\": \"t\"", "\"label\": \"" + Repeat('l', 2560) + "\""), false},
        {"label a number", Edit("\"label\": \"t\"", "\"label\": 5"), false},
        {"toggle value 2", Edit("\"value\": 1", "\"value\": 2"), false},
        {"toggle value true", Edit("\"value\": 1", "\"value\": true"), false},
        {"unknown shortcut", Edit("\"Esc\"", "\"Ctrl+Q\""), false},
        {"ring value 511 characters", Edit("\"value\": \"A\"", "\"value\": \"" + Repeat('v', 511) + "\""), true},
        {"ring value 512 characters", Edit("\"value\": \"A\"", "\"value\": \"" + Repeat('v', 512) + "\""), false},
        {"ring values mixed", Edit("\"value\": \"B\"", "\"value\": 2"), false},
        {"ring index past the end", Edit("\"index\": 1", "\"index\": 2"), false},
        {"ring without items", Edit("\"items\": [{\"label\": \"a \", \"value\": \"A\"}, {\"label\": \"b\", \"value\": \"B\"}]",
                                    "\"items\": []"), false},
        {"ring item without value", Edit("{\"label\": \"b\", \"value\": \"B\"}", "{\"label\": \"b\"}"), false},
        {"ring item field unknown", Edit("{\"label\": \"b\", \"value\": \"B\"}", "{\"label\": \"b\", \"value\": \"B\", \"x\": 1}"), false},
        {"string value at its maximum", Edit("\"value\": \"abc\"", "\"value\": \"abcde\""), true},
        {"string value over its maximum", Edit("\"value\": \"abc\"", "\"value\": \"abcdef\""), false},
        {"string maximum 511", Edit("\"maxLength\": 5", "\"maxLength\": 511"), true},
        {"string maximum 512", Edit("\"maxLength\": 5", "\"maxLength\": 512"), false},
        {"string maximum 0", Edit("\"maxLength\": 5", "\"maxLength\": 0"), false},
        {"timer interval 0", Edit("\"interval\": 0.5", "\"interval\": 0"), false},
        {"timer interval missing", Edit("\"interval\": 0.5, ", ""), false},
        {"timer enabled as number", Edit("\"enabled\": false", "\"enabled\": 0"), false},
        {"numeric value over max", Edit("\"value\": 5, \"min\"", "\"value\": 601, \"min\""), false},
        {"numeric min over max", Edit("\"min\": 1", "\"min\": 700"), false},
        {"numeric increment 0", Edit("\"increment\": 1", "\"increment\": 0"), false},
        {"numeric max missing", Edit("\"max\": 600,", ""), false},
        {"ring slide text values", Edit("{\"label\": \"y\", \"value\": 1}", "{\"label\": \"y\", \"value\": \"1\"}"), false},
        {"list box index -1", Edit("\"kind\": \"listBox\",", "\"kind\": \"listBox\", \"index\": -1,"), true},
        {"list box index 0 of none", Edit("\"kind\": \"listBox\",", "\"kind\": \"listBox\", \"index\": 0,"), false},
        {"close control not on panel", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"NONE\""), false},
        {"close control an LED", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"LAMP\""), false},
        {"close control an indicator box", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"BOX\""), false},
        {"active control takes input", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"QUIT\""), true},
        {"active control not on panel", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"NONE\""), false},
        {"active control an LED", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"LAMP\""), false},
        {"decoration with a label", Edit("\"kind\": \"decoration\",", "\"kind\": \"decoration\", \"label\": \"d\","), false},
        {"label side unknown", Edit("\"labelSide\": \"right\"", "\"labelSide\": \"below\""), false},
    };
    for (const BrokenCase &c : cases) {
        std::vector<PanelDesc> panels;
        std::string why;
        const int rc = Parse(c.text, &panels, &why);
        if (c.ok) {
            EXPECT_EQ(0, rc) << c.name << ": " << why;
        } else {
            EXPECT_EQ(UIE_FILE_MALFORMED, rc) << c.name;
            EXPECT_FALSE(why.empty()) << c.name;
            EXPECT_TRUE(panels.empty()) << c.name;
        }
    }
}

TEST(PanelFile, ShippedFilesParseWithTheThreePanels)
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
