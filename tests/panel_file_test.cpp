/*
 * panel_file_test.cpp -- the panel-file parser on its own, without a
 * display: a small file holding every kind of control is read into the
 * right description, and each way of breaking it (syntax, unknown or
 * repeated fields, wrong types, texts one byte over a buffer, non-Latin-1
 * characters, bad ranges, dangling references) is refused for the reason
 * the table states.
 */
#include "panelfile.h"
#include "platform.h"

#include <QByteArray>

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
    const char *why; /* what the refusal says, after where; nullptr: the file is fine */
};

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

TEST(PanelFile, RefusesEachBrokenVariant)
{
    const BrokenCase cases[] = {
        {"not JSON", "{\"format\": ", R"(JSON error)"},
        {"array document", "[]", R"(the document must be an object)"},
        {"wrong format name", Edit("quenta-panels", "other"), R"(needs "format": "quenta-panels", "version": 1 and "panels")"},
        {"wrong version", Edit("\"version\": 1", "\"version\": 2"), R"(field "version" must be a whole number from 1 to 1)"},
        {"unknown top field", Edit("\"version\": 1", "\"version\": 1, \"extra\": 0"), R"(unknown field "extra")"},
        {"field twice", Edit("\"value\": 1", "\"value\": 1, \"value\": 0"), R"(field "value" occurs twice in one object)"},
        {"field twice, escaped", Edit("\"value\": 1", "\"value\": 1, \"val\\u0075e\": 0"), R"(field "value" occurs twice in one object)"},
        {"same texts in two objects", Edit("\"label\": \"t\"", "\"label\": \"value\""), nullptr},
        {"panel number missing", Edit("\"number\": 4, ", ""), R"(field "number" is missing)"},
        {"panel number not whole", Edit("\"number\": 4", "\"number\": 4.5"), R"(field "number" must be a whole number from 1 to 32767)"},
        {"panel number as text", Edit("\"number\": 4", "\"number\": \"4\""), R"(field "number" must be a whole number from 1 to 32767)"},
        {"two panels, one number", Edit("]}]}", "]}, {\"number\": 4, \"constant\": \"Q\", \"title\": \"\", "
                                                  "\"size\": [1, 1], \"controls\": []}]}"),
         R"(number or constant occurs twice)"},
        {"second panel", Edit("]}]}", "]}, {\"number\": 5, \"constant\": \"Q\", \"title\": \"\", "
                                       "\"size\": [1, 1], \"controls\": []}]}"),
         nullptr},
        {"size missing", Edit("\"size\": [300, 200], ", ""), R"(field "size" must be [width, height])"},
        {"constant twice", Edit("\"constant\": \"TOG\"", "\"constant\": \"QUIT\""), R"(constant QUIT occurs twice)"},
        {"constant not an identifier", Edit("\"constant\": \"TOG\"", "\"constant\": \"TO G\""), R"(field "constant" must be an identifier)"},
        {"constant starts with a digit", Edit("\"constant\": \"TOG\"", "\"constant\": \"9TOG\""), R"(field "constant" must be an identifier)"},
        {"constant 63 characters", Edit("\"constant\": \"TOG\"", "\"constant\": \"" + Repeat('C', 63) + "\""), nullptr},
        {"constant 64 characters", Edit("\"constant\": \"TOG\"", "\"constant\": \"" + Repeat('C', 64) + "\""), R"(field "constant": longer than 63 characters)"},
        {"callback not an identifier", Edit("\"callback\": \"TIMER\"", "\"callback\": \"TI-MER\""), R"(field "callback" must be an identifier)"},
        {"unknown kind", Edit("\"kind\": \"toggle\"", "\"kind\": \"slider\""), R"(field "kind" is missing or unknown)"},
        {"field of another kind", Edit("\"shortcut\": \"Esc\"", "\"shortcut\": \"Esc\", \"maxLength\": 3"), R"(unknown field "maxLength")"},
        {"rect missing", Edit("\"rect\": [0, 0, 10, 10], \"value\": 1", "\"value\": 1"), R"(field "rect" is missing)"},
        {"rect negative", Edit("[0, 0, 10, 10]", "[-1, 0, 10, 10]"), R"("rect" needs whole numbers, sizes from 1, all up to 10000)"},
        {"rect zero width", Edit("[0, 0, 10, 10]", "[0, 0, 0, 10]"), R"("rect" needs whole numbers, sizes from 1, all up to 10000)"},
        {"rect three numbers", Edit("[0, 0, 10, 10]", "[0, 0, 10]"), R"(field "rect" must be [x, y, width, height])"},
        {"title 127 characters", Edit("\"title\": \"T\"", "\"title\": \"" + Repeat('t', 127) + "\""), nullptr},
        {"title 128 characters", Edit("\"title\": \"T\"", "\"title\": \"" + Repeat('t', 128) + "\""), R"(field "title": longer than 127 characters)"},
        {"title with a Latin-1 letter", Edit("\"title\": \"T\"", "\"title\": \"\xc3\xbc\""), nullptr},
        {"title outside Latin-1", Edit("\"title\": \"T\"", "\"title\": \"\xe2\x82\xac\""), R"(field "title": character U+20AC is not Latin-1)"},
        {"label with NUL", Edit("\"label\": \"t\"", "\"label\": \"a\\u0000b\""), R"(field "label": holds a NUL character)"},
        {"label 2559 characters", Edit("\"label\": \"t\"", "\"label\": \"" + Repeat('l', 2559) + "\""), nullptr},
        {"label 2560 characters", Edit("\"label\": \"t\"", "\"label\": \"" + Repeat('l', 2560) + "\""), R"(field "label": longer than 2559 characters)"},
        {"label a number", Edit("\"label\": \"t\"", "\"label\": 5"), R"(field "label" must be a text)"},
        {"toggle value 2", Edit("\"value\": 1", "\"value\": 2"), R"(field "value" must be a whole number from 0 to 1)"},
        {"toggle value true", Edit("\"value\": 1", "\"value\": true"), R"(field "value" must be a whole number from 0 to 1)"},
        {"unknown shortcut", Edit("\"Esc\"", "\"Ctrl+Q\""), R"("shortcut" must be "Esc", "Enter", "Tab" or "F1" to "F12")"},
        {"ring value 511 characters", Edit("\"value\": \"A\"", "\"value\": \"" + Repeat('v', 511) + "\""), nullptr},
        {"ring value 512 characters", Edit("\"value\": \"A\"", "\"value\": \"" + Repeat('v', 512) + "\""), R"(field "value": longer than 511 characters)"},
        {"ring values mixed", Edit("\"value\": \"B\"", "\"value\": 2"), R"(field "value" must be a text)"},
        {"ring index past the end", Edit("\"index\": 1", "\"index\": 2"), R"(field "index" must be a whole number from 0 to 1)"},
        {"ring without items", Edit("\"items\": [{\"label\": \"a \", \"value\": \"A\"}, {\"label\": \"b\", \"value\": \"B\"}]",
                                    "\"items\": []"), R"("items" must be a list of 1 to 5000 items)"},
        {"ring item without value", Edit("{\"label\": \"b\", \"value\": \"B\"}", "{\"label\": \"b\"}"), R"(field "value" is missing)"},
        {"ring item field unknown", Edit("{\"label\": \"b\", \"value\": \"B\"}", "{\"label\": \"b\", \"value\": \"B\", \"x\": 1}"), R"(unknown field "x")"},
        {"string value at its maximum", Edit("\"value\": \"abc\"", "\"value\": \"abcde\""), nullptr},
        {"string value over its maximum", Edit("\"value\": \"abc\"", "\"value\": \"abcdef\""), R"(field "value": longer than 5 characters)"},
        {"string maximum 511", Edit("\"maxLength\": 5", "\"maxLength\": 511"), nullptr},
        {"string maximum 512", Edit("\"maxLength\": 5", "\"maxLength\": 512"), R"(field "maxLength" must be a whole number from 1 to 511)"},
        {"string maximum 0", Edit("\"maxLength\": 5", "\"maxLength\": 0"), R"(field "maxLength" must be a whole number from 1 to 511)"},
        {"timer interval 0", Edit("\"interval\": 0.5", "\"interval\": 0"), R"("interval" must lie from 0.001 to 86400 seconds)"},
        {"timer interval missing", Edit("\"interval\": 0.5, ", ""), R"(field "interval" is missing)"},
        {"timer enabled as number", Edit("\"enabled\": false", "\"enabled\": 0"), R"(field "enabled" must be true or false)"},
        {"numeric value over max", Edit("\"value\": 5, \"min\"", "\"value\": 601, \"min\""), R"(needs min <= value <= max and an increment above 0)"},
        {"numeric min over max", Edit("\"min\": 1", "\"min\": 700"), R"(needs min <= value <= max and an increment above 0)"},
        {"numeric increment 0", Edit("\"increment\": 1", "\"increment\": 0"), R"(needs min <= value <= max and an increment above 0)"},
        {"numeric max missing", Edit("\"max\": 600,", ""), R"(field "max" is missing)"},
        {"ring slide text values", Edit("{\"label\": \"y\", \"value\": 1}", "{\"label\": \"y\", \"value\": \"1\"}"), R"(field "value" must be a whole number from -2147483648 to 2147483647)"},
        {"list box index -1", Edit("\"kind\": \"listBox\",", "\"kind\": \"listBox\", \"index\": -1,"), nullptr},
        {"list box index 0 of none", Edit("\"kind\": \"listBox\",", "\"kind\": \"listBox\", \"index\": 0,"), R"(field "index" must be a whole number from -1 to -1)"},
        {"close control not on panel", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"NONE\""), R"(closeControl NONE is not on the panel)"},
        {"close control an LED", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"LAMP\""), R"(close control must be a command button or operable text box)"},
        {"close control an indicator box", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"BOX\""), R"(close control must be a command button or operable text box)"},
        {"active control takes input", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"QUIT\""), nullptr},
        {"active control not on panel", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"NONE\""), R"(activeControl NONE is not on the panel)"},
        {"active control an LED", Edit("\"closeControl\": \"QUIT\"", "\"closeControl\": \"QUIT\", \"activeControl\": \"LAMP\""), R"(active control LAMP takes no input)"},
        {"decoration with a label", Edit("\"kind\": \"decoration\",", "\"kind\": \"decoration\", \"label\": \"d\","), R"(unknown field "label")"},
        {"label side unknown", Edit("\"labelSide\": \"right\"", "\"labelSide\": \"below\""), R"("labelSide" must be "top", "left" or "right")"},
    };
    for (const BrokenCase &c : cases) {
        std::vector<PanelDesc> panels;
        std::string why;
        const int rc = Parse(c.text, &panels, &why);
        if (c.why == nullptr) {
            EXPECT_EQ(0, rc) << c.name << ": " << why;
        } else {
            EXPECT_EQ(UIE_FILE_MALFORMED, rc) << c.name;
            EXPECT_NE(std::string::npos, why.find(c.why)) << c.name << ": refused for " << why;
            EXPECT_TRUE(panels.empty()) << c.name;
        }
    }
}

}  // namespace
