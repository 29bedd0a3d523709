/*
 * panelfile.h -- reading a panel file into a plain description, without
 * creating a single widget, so that it can be checked (and fuzzed) with no
 * display at all.
 *
 * A panel file is a JSON document (docs/panel-format.md). ParsePanelFile()
 * checks the whole document and fills a list of PanelDesc; FindPanelDesc()
 * picks one by its panel number. Every text in a description is Latin-1 and
 * already known to fit the library's buffers (platform.h, PLATFORM_*_SIZE).
 */
#ifndef QUENTA_PANELFILE_H
#define QUENTA_PANELFILE_H

#include <string>
#include <vector>

class QByteArray;

/* Limits that keep a hostile file from eating memory. */
#define PANELFILE_MAX_BYTES (4 * 1024 * 1024)
#define PANELFILE_MAX_PANELS 100
#define PANELFILE_MAX_CONTROLS 500
#define PANELFILE_MAX_ITEMS 5000
#define PANELFILE_MAX_COORD 10000
#define PANELFILE_MAX_PRECISION 6

/* Where a control's label goes relative to its rectangle. */
enum LabelSide { LABEL_TOP, LABEL_LEFT, LABEL_RIGHT };

/* One item of a ring, ring slide or list box. */
struct ItemDesc {
    std::string label;
    std::string text;      /* the value of a ring with string values */
    int number = 0;        /* the value of every other list */
};

/* One control, as the file states it; fields a kind does not use stay at
 * their defaults. */
struct ControlDesc {
    std::string constant;
    int kind = 0;                /* CTRL_* */
    std::string callback;        /* "" when none */
    std::string label;           /* may hold '\n' */
    LabelSide labelSide = LABEL_TOP;
    int x = 0, y = 0, width = 0, height = 0;
    bool dimmed = false;
    int intValue = 0;            /* toggle, LED, option */
    double numValue = 0;         /* numeric */
    std::string text;            /* string field, text box, text message */
    int maxLength = 0;           /* string field */
    double minValue = 0, maxValue = 0, increment = 1;
    int precision = 1;           /* numeric: digits after the point */
    int shortcutKey = 0;         /* command button: VAL_* code, 0 none */
    bool stringItems = false;    /* ring: item values are strings */
    std::vector<ItemDesc> items;
    int index = -1;              /* current item, -1 none */
    bool indicator = false;      /* text box: takes no input */
    double interval = 1.0;       /* timer, seconds */
    bool enabled = true;         /* timer */
};

struct PanelDesc {
    int number = 0;
    std::string constant;
    std::string title;
    int width = 0, height = 0;
    int closeControl = 0;        /* control ID committed on window close, 0 none */
    int activeControl = 0;       /* control ID focused when first shown, 0 none */
    std::vector<ControlDesc> controls;   /* control ID = place + 2 */
};

/* json: the bytes of a panel file. On success fills *panels and returns 0;
 * otherwise returns UIE_FILE_MALFORMED, leaves *panels empty and, when why
 * is not NULL, puts a short reason into *why. */
int ParsePanelFile(const QByteArray &json, std::vector<PanelDesc> *panels, std::string *why);

/* Returns the panel whose number is number, or NULL. */
const PanelDesc *FindPanelDesc(const std::vector<PanelDesc> &panels, int number);

/* Returns the IDs of the controls of d that take the keyboard focus, in
 * the order Tab walks them: from top left to bottom right as the window
 * reads (taborder.cpp), whatever their order in the file. */
std::vector<int> TabOrder(const PanelDesc &d);

/* keyCode: a VAL_* code as stored in ATTR_SHORTCUT_KEY. Returns the Qt key
 * (Qt::Key) it stands for, or 0. */
int ShortcutQtKey(int keyCode);

#endif
