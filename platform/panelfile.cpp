/*
 * panelfile.cpp -- checks a panel file and turns it into PanelDesc lists
 * (panelfile.h). Qt's JSON parser reads the syntax; everything else is
 * checked here: known fields only, no field twice, the right type and range
 * for each, Latin-1 texts that fit the library's buffers, identifiers for
 * constants and callback names, unique panel numbers and constants.
 *
 * Exports ParsePanelFile(), FindPanelDesc() and ShortcutQtKey().
 */
#include "panelfile.h"
#include "platform.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#define WHY_SIZE 256
/* Sizes of the "where" texts of the reasons: panel, control, item. */
#define WHERE_PANEL_SIZE 96
#define WHERE_CONTROL_SIZE 128
#define WHERE_ITEM_SIZE 160

namespace {

/* The first reason a file was refused; later ones add nothing. */
struct Ctx {
    std::string why;
};

__attribute__((format(printf, 2, 3)))
bool Fail(Ctx *ctx, const char *fmt, ...)
{
    if (ctx->why.empty()) {
        char buf[WHY_SIZE];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        ctx->why = buf;
    }
    return false;
}

/* Fields each kind may carry, besides "constant" and "kind". */
struct KindInfo {
    const char *name;
    int kind;
    bool visible;          /* needs a "rect" */
    const char *fields;    /* blank-separated */
};

const KindInfo kKinds[] = {
    {"toggle", CTRL_TOGGLE_BUTTON, true, "label rect dimmed callback value"},
    {"command", CTRL_COMMAND_BUTTON, true, "label rect dimmed callback shortcut"},
    {"ring", CTRL_RING, true, "label labelSide rect dimmed callback items index"},
    {"string", CTRL_STRING, true, "label labelSide rect dimmed callback value maxLength"},
    {"led", CTRL_LED, true, "label labelSide rect value"},
    {"timer", CTRL_TIMER, false, "label callback interval enabled"},
    {"decoration", CTRL_DECORATION, true, "rect"},
    {"numeric", CTRL_NUMERIC, true,
     "label labelSide rect dimmed callback value min max increment precision"},
    {"ringSlide", CTRL_RING_SLIDE, true, "label labelSide rect dimmed callback items index"},
    {"listBox", CTRL_LIST_BOX, true, "label labelSide rect dimmed callback items index"},
    {"option", CTRL_BINARY_SWITCH, true, "label rect dimmed callback value"},
    {"textBox", CTRL_TEXT_BOX, true, "label labelSide rect dimmed callback value indicator"},
    {"textMessage", CTRL_TEXT_MSG, true, "rect dimmed value"},
};

const KindInfo *FindKind(const QString &name)
{
    for (const KindInfo &k : kKinds)
        if (name == QLatin1String(k.name))
            return &k;
    return nullptr;
}

/* True when word occurs as a blank-separated word of list. */
bool WordIn(const QString &word, const char *list)
{
    const QStringList words = QString::fromLatin1(list).split(QLatin1Char(' '));
    return words.contains(word);
}

/* o: an object; fixed and extra: blank-separated allowed field names.
 * Returns true when o has no other field. */
bool OnlyFields(const QJsonObject &o, const char *fixed, const char *extra, const char *where,
                Ctx *ctx)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!WordIn(it.key(), fixed) && !WordIn(it.key(), extra))
            return Fail(ctx, "%s: unknown field \"%s\"", where, it.key().toUtf8().constData());
    }
    return true;
}

/* Converts s to Latin-1 into *out when every character is Latin-1, none is
 * NUL and the result has at most maxBytes bytes. */
bool ToLatin1(const QString &s, size_t maxBytes, std::string *out, const char *what, Ctx *ctx)
{
    for (QChar c : s) {
        if (c.unicode() > 0xFF)
            return Fail(ctx, "%s: character U+%04X is not Latin-1", what, c.unicode());
        if (c.unicode() == 0)
            return Fail(ctx, "%s: holds a NUL character", what);
    }
    if (static_cast<size_t>(s.size()) > maxBytes)
        return Fail(ctx, "%s: longer than %zu characters", what, maxBytes);
    *out = s.toLatin1().toStdString();
    return true;
}

/* Reads text field key of o into *out. A missing field is an error when
 * required, else leaves *out as it is. */
bool GetText(const QJsonObject &o, const char *key, bool required, size_t maxBytes,
             std::string *out, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return required ? Fail(ctx, "%s: field \"%s\" is missing", where, key) : true;
    if (!v.isString())
        return Fail(ctx, "%s: field \"%s\" must be a text", where, key);
    char what[WHY_SIZE];
    snprintf(what, sizeof what, "%s: field \"%s\"", where, key);
    return ToLatin1(v.toString(), maxBytes, out, what, ctx);
}

/* Reads a whole number from lo to hi; same rules for missing fields. */
bool GetInt(const QJsonObject &o, const char *key, bool required, int lo, int hi, int *out,
            const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return required ? Fail(ctx, "%s: field \"%s\" is missing", where, key) : true;
    const double d = v.toDouble();
    if (!v.isDouble() || std::floor(d) != d || d < lo || d > hi)
        return Fail(ctx, "%s: field \"%s\" must be a whole number from %d to %d", where, key, lo,
                    hi);
    *out = static_cast<int>(d);
    return true;
}

/* Reads a finite number. */
bool GetNumber(const QJsonObject &o, const char *key, bool required, double *out,
               const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return required ? Fail(ctx, "%s: field \"%s\" is missing", where, key) : true;
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return Fail(ctx, "%s: field \"%s\" must be a number", where, key);
    *out = v.toDouble();
    return true;
}

/* Reads true or false (optional field). */
bool GetBool(const QJsonObject &o, const char *key, bool *out, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (!v.isBool())
        return Fail(ctx, "%s: field \"%s\" must be true or false", where, key);
    *out = v.toBool();
    return true;
}

/* An identifier: an ASCII letter or '_', then ASCII letters, digits or '_'
 * (checked by hand: the C library's classes follow the locale). */
bool IsIdentifier(const std::string &s)
{
    for (size_t i = 0; i < s.size(); i++) {
        const char c = s[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return !s.empty();
}

/* Reads an identifier field (a constant or a callback name). */
bool GetIdentifier(const QJsonObject &o, const char *key, bool required, std::string *out,
                   const char *where, Ctx *ctx)
{
    std::string s;
    if (!GetText(o, key, required, PLATFORM_NAME_SIZE - 1, &s, where, ctx))
        return false;
    if (o.contains(QLatin1String(key)) && !IsIdentifier(s))
        return Fail(ctx, "%s: field \"%s\" must be an identifier", where, key);
    if (o.contains(QLatin1String(key)))
        *out = s;
    return true;
}

/* Reads "rect": [x, y, width, height] in pixels. */
bool GetRect(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String("rect"));
    if (v.isUndefined())
        return Fail(ctx, "%s: field \"rect\" is missing", where);
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 4)
        return Fail(ctx, "%s: field \"rect\" must be [x, y, width, height]", where);
    int n[4];
    for (int i = 0; i < 4; i++) {
        const double d = a.at(i).toDouble(-1);
        if (!a.at(i).isDouble() || std::floor(d) != d || d < (i < 2 ? 0 : 1) || d > PANELFILE_MAX_COORD)
            return Fail(ctx, "%s: \"rect\" needs whole numbers, sizes from 1, all up to %d", where,
                        PANELFILE_MAX_COORD);
        n[i] = static_cast<int>(d);
    }
    c->x = n[0], c->y = n[1], c->width = n[2], c->height = n[3];
    return true;
}

/* Reads "labelSide": "top", "left" or "right" (optional). */
bool GetLabelSide(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String("labelSide"));
    if (v.isUndefined())
        return true;
    const QString s = v.toString();
    if (s == QLatin1String("top"))
        c->labelSide = LABEL_TOP;
    else if (s == QLatin1String("left"))
        c->labelSide = LABEL_LEFT;
    else if (s == QLatin1String("right"))
        c->labelSide = LABEL_RIGHT;
    else
        return Fail(ctx, "%s: \"labelSide\" must be \"top\", \"left\" or \"right\"", where);
    return true;
}

/* Shortcut names a command button may carry, with their key codes. */
struct ShortcutName {
    const char *name;
    int code;
    int qtKey;
};

const ShortcutName kShortcuts[] = {
    {"Esc", VAL_ESC_VKEY, Qt::Key_Escape},
    {"Enter", VAL_ENTER_VKEY, Qt::Key_Return},
    {"Tab", VAL_TAB_VKEY, Qt::Key_Tab},
    {"F1", 0x10000 + Qt::Key_F1, Qt::Key_F1}, {"F2", 0x10000 + Qt::Key_F2, Qt::Key_F2},
    {"F3", 0x10000 + Qt::Key_F3, Qt::Key_F3}, {"F4", 0x10000 + Qt::Key_F4, Qt::Key_F4},
    {"F5", 0x10000 + Qt::Key_F5, Qt::Key_F5}, {"F6", 0x10000 + Qt::Key_F6, Qt::Key_F6},
    {"F7", 0x10000 + Qt::Key_F7, Qt::Key_F7}, {"F8", 0x10000 + Qt::Key_F8, Qt::Key_F8},
    {"F9", 0x10000 + Qt::Key_F9, Qt::Key_F9}, {"F10", 0x10000 + Qt::Key_F10, Qt::Key_F10},
    {"F11", 0x10000 + Qt::Key_F11, Qt::Key_F11}, {"F12", 0x10000 + Qt::Key_F12, Qt::Key_F12},
};

bool GetShortcut(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String("shortcut"));
    if (v.isUndefined())
        return true;
    for (const ShortcutName &s : kShortcuts) {
        if (v.isString() && v.toString() == QLatin1String(s.name)) {
            c->shortcutKey = s.code;
            return true;
        }
    }
    return Fail(ctx, "%s: \"shortcut\" must be \"Esc\", \"Enter\", \"Tab\" or \"F1\" to \"F12\"",
                where);
}

/* Reads the value of one list item: a text for a ring with string values,
 * else a whole number. */
bool GetItemValue(const QJsonObject &item, ControlDesc *c, ItemDesc *d, const char *where,
                  Ctx *ctx)
{
    if (c->stringItems)
        return GetText(item, "value", true, PLATFORM_STRING_SIZE - 1, &d->text, where, ctx);
    return GetInt(item, "value", c->kind != CTRL_LIST_BOX, INT_MIN, INT_MAX, &d->number,
                  where, ctx);
}

/* Reads "items": [{"label": ..., "value": ...}, ...]. Rings need at least
 * one item; a ring's values are all texts or all numbers. */
bool GetItems(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String("items"));
    if (v.isUndefined() && c->kind == CTRL_LIST_BOX)
        return true;
    const QJsonArray a = v.toArray();
    if (!v.isArray() || (a.isEmpty() && c->kind != CTRL_LIST_BOX) || a.size() > PANELFILE_MAX_ITEMS)
        return Fail(ctx, "%s: \"items\" must be a list of 1 to %d items", where, PANELFILE_MAX_ITEMS);
    c->stringItems = c->kind == CTRL_RING && a.at(0).toObject().value(QLatin1String("value")).isString();
    for (int i = 0; i < a.size(); i++) {
        char at[WHERE_ITEM_SIZE];
        snprintf(at, sizeof at, "%s item %d", where, i);
        const QJsonObject item = a.at(i).toObject();
        ItemDesc d;
        if (!a.at(i).isObject())
            return Fail(ctx, "%s: must be an object", at);
        if (!OnlyFields(item, "label value", "", at, ctx) ||
            !GetText(item, "label", true, PLATFORM_LABEL_SIZE - 1, &d.label, at, ctx) ||
            !GetItemValue(item, c, &d, at, ctx))
            return false;
        c->items.push_back(d);
    }
    return true;
}

/* Reads "index", the current item: -1 (none) only for a list box. */
bool GetIndex(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    const int n = static_cast<int>(c->items.size());
    c->index = (c->kind == CTRL_LIST_BOX || n == 0) ? -1 : 0;
    const int lo = c->kind == CTRL_LIST_BOX ? -1 : 0;
    return GetInt(o, "index", false, lo, n - 1, &c->index, where, ctx);
}

bool ParseNumeric(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    if (!GetNumber(o, "min", true, &c->minValue, where, ctx) ||
        !GetNumber(o, "max", true, &c->maxValue, where, ctx) ||
        !GetNumber(o, "increment", false, &c->increment, where, ctx) ||
        !GetInt(o, "precision", false, 0, PANELFILE_MAX_PRECISION, &c->precision, where, ctx))
        return false;
    c->numValue = c->minValue;
    if (!GetNumber(o, "value", false, &c->numValue, where, ctx))
        return false;
    if (c->minValue > c->maxValue || c->increment <= 0 || c->numValue < c->minValue ||
        c->numValue > c->maxValue)
        return Fail(ctx, "%s: needs min <= value <= max and an increment above 0", where);
    return true;
}

bool ParseString(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    c->maxLength = PLATFORM_STRING_SIZE - 1;
    if (!GetInt(o, "maxLength", false, 1, PLATFORM_STRING_SIZE - 1, &c->maxLength, where, ctx))
        return false;
    return GetText(o, "value", false, static_cast<size_t>(c->maxLength), &c->text, where, ctx);
}

bool ParseTimer(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    if (!GetNumber(o, "interval", true, &c->interval, where, ctx) ||
        !GetBool(o, "enabled", &c->enabled, where, ctx))
        return false;
    if (c->interval < 0.001 || c->interval > 86400)
        return Fail(ctx, "%s: \"interval\" must lie from 0.001 to 86400 seconds", where);
    return true;
}

/* Reads the fields that belong to c's kind. */
bool ParseKindFields(const QJsonObject &o, ControlDesc *c, const char *where, Ctx *ctx)
{
    switch (c->kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_LED:
    case CTRL_BINARY_SWITCH:
        return GetInt(o, "value", false, 0, 1, &c->intValue, where, ctx);
    case CTRL_COMMAND_BUTTON:
        return GetShortcut(o, c, where, ctx);
    case CTRL_RING:
    case CTRL_RING_SLIDE:
    case CTRL_LIST_BOX:
        return GetItems(o, c, where, ctx) && GetIndex(o, c, where, ctx);
    case CTRL_STRING:
        return ParseString(o, c, where, ctx);
    case CTRL_TIMER:
        return ParseTimer(o, c, where, ctx);
    case CTRL_NUMERIC:
        return ParseNumeric(o, c, where, ctx);
    case CTRL_TEXT_BOX:
        return GetBool(o, "indicator", &c->indicator, where, ctx) &&
               GetText(o, "value", false, PLATFORM_LABEL_SIZE - 1, &c->text, where, ctx);
    case CTRL_TEXT_MSG:
        return GetText(o, "value", false, PLATFORM_LABEL_SIZE - 1, &c->text, where, ctx);
    default:
        return true;
    }
}

/* Reads one control object into *c. */
bool ParseControl(const QJsonValue &v, ControlDesc *c, const char *where, Ctx *ctx)
{
    const QJsonObject o = v.toObject();
    if (!v.isObject())
        return Fail(ctx, "%s: must be an object", where);
    const KindInfo *k = FindKind(o.value(QLatin1String("kind")).toString());
    if (!k)
        return Fail(ctx, "%s: field \"kind\" is missing or unknown", where);
    c->kind = k->kind;
    if (!OnlyFields(o, "constant kind", k->fields, where, ctx) ||
        !GetIdentifier(o, "constant", true, &c->constant, where, ctx) ||
        !GetIdentifier(o, "callback", false, &c->callback, where, ctx) ||
        !GetText(o, "label", false, PLATFORM_LABEL_SIZE - 1, &c->label, where, ctx) ||
        !GetLabelSide(o, c, where, ctx) || !GetBool(o, "dimmed", &c->dimmed, where, ctx))
        return false;
    if (k->visible && !GetRect(o, c, where, ctx))
        return false;
    return ParseKindFields(o, c, where, ctx);
}

/* Reads "controls" of panel object o; constants must be unique. */
bool ParseControls(const QJsonObject &o, PanelDesc *p, const char *where, Ctx *ctx)
{
    const QJsonValue v = o.value(QLatin1String("controls"));
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() > PANELFILE_MAX_CONTROLS)
        return Fail(ctx, "%s: \"controls\" must be a list of at most %d controls", where,
                    PANELFILE_MAX_CONTROLS);
    std::set<std::string> seen;
    for (int i = 0; i < a.size(); i++) {
        char at[WHERE_CONTROL_SIZE];
        snprintf(at, sizeof at, "%s control %d", where, i + 2);
        ControlDesc c;
        if (!ParseControl(a.at(i), &c, at, ctx))
            return false;
        if (!seen.insert(c.constant).second)
            return Fail(ctx, "%s: constant %s occurs twice", at, c.constant.c_str());
        p->controls.push_back(c);
    }
    return true;
}

/* Reads the optional field key naming a control of the panel by its
 * constant: *id becomes the control's ID, or stays 0 when the field is not
 * there. Fails when no control has that name. */
bool GetNamedControl(const QJsonObject &o, const char *key, const PanelDesc *p, int *id,
                     const char *where, Ctx *ctx)
{
    std::string name;
    if (!GetIdentifier(o, key, false, &name, where, ctx))
        return false;
    if (name.empty())
        return true;
    for (size_t i = 0; i < p->controls.size(); i++)
        if (p->controls[i].constant == name) {
            *id = static_cast<int>(i) + 2;
            return true;
        }
    return Fail(ctx, "%s: %s %s is not on the panel", where, key, name.c_str());
}

/* Reads "closeControl" (a command button or an operable text box, committed
 * when the window is closed) and "activeControl" (a control that takes
 * input, focused when the panel first shows); both optional. */
bool GetSpecialControls(const QJsonObject &o, PanelDesc *p, const char *where, Ctx *ctx)
{
    if (!GetNamedControl(o, "closeControl", p, &p->closeControl, where, ctx) ||
        !GetNamedControl(o, "activeControl", p, &p->activeControl, where, ctx))
        return false;
    if (p->closeControl) {
        const ControlDesc &c = p->controls[p->closeControl - 2];
        if (c.kind != CTRL_COMMAND_BUTTON && !(c.kind == CTRL_TEXT_BOX && !c.indicator))
            return Fail(ctx, "%s: close control must be a command button or operable text box", where);
    }
    if (p->activeControl) {
        const ControlDesc &c = p->controls[p->activeControl - 2];
        if (c.kind == CTRL_LED || c.kind == CTRL_TIMER || c.kind == CTRL_DECORATION ||
            c.kind == CTRL_TEXT_MSG || c.dimmed)
            return Fail(ctx, "%s: active control %s takes no input", where, c.constant.c_str());
    }
    return true;
}

/* Reads one panel object into *p. */
bool ParsePanel(const QJsonValue &v, PanelDesc *p, int place, Ctx *ctx)
{
    char where[WHERE_PANEL_SIZE];
    snprintf(where, sizeof where, "panel %d", place);
    const QJsonObject o = v.toObject();
    if (!v.isObject())
        return Fail(ctx, "%s: must be an object", where);
    if (!OnlyFields(o, "number constant title size closeControl activeControl controls", "", where, ctx) ||
        !GetInt(o, "number", true, 1, 32767, &p->number, where, ctx) ||
        !GetIdentifier(o, "constant", true, &p->constant, where, ctx) ||
        !GetText(o, "title", true, PLATFORM_TITLE_SIZE - 1, &p->title, where, ctx))
        return false;
    snprintf(where, sizeof where, "panel %s", p->constant.c_str());
    const QJsonArray size = o.value(QLatin1String("size")).toArray();
    if (size.size() != 2 || !size.at(0).isDouble() || !size.at(1).isDouble())
        return Fail(ctx, "%s: field \"size\" must be [width, height]", where);
    p->width = size.at(0).toInt(0);
    p->height = size.at(1).toInt(0);
    if (p->width < 1 || p->height < 1 || p->width > PANELFILE_MAX_COORD || p->height > PANELFILE_MAX_COORD)
        return Fail(ctx, "%s: \"size\" needs whole numbers from 1 to %d", where, PANELFILE_MAX_COORD);
    return ParseControls(o, p, where, ctx) && GetSpecialControls(o, p, where, ctx);
}

/* Skips the JSON string that starts at data[i] (a quote); returns the
 * place of its closing quote. The document is known to be valid JSON. */
qsizetype SkipString(const QByteArray &data, qsizetype i)
{
    for (i++; i < data.size() && data[i] != '"'; i++)
        if (data[i] == '\\')
            i++;
    return i;
}

/* Decodes the string token data[from..to] (quotes included) to its text. */
QString DecodeKey(const QByteArray &data, qsizetype from, qsizetype to)
{
    const QByteArray token = data.mid(from, to - from + 1);
    if (!token.contains('\\'))
        return QString::fromUtf8(token.mid(1, token.size() - 2));
    return QJsonDocument::fromJson("[" + token + "]").array().at(0).toString();
}

/* Qt's parser keeps only one of two equal keys of an object; a panel
 * designer who wrote a field twice gets an error instead of a silent pick.
 * Returns true when some object of the (valid) document repeats a key. */
bool HasDuplicateKey(const QByteArray &data, Ctx *ctx)
{
    std::vector<std::set<QString>> objects;
    std::vector<bool> isObject;
    for (qsizetype i = 0; i < data.size(); i++) {
        const char c = data[i];
        if (c == '{' || c == '[') {
            isObject.push_back(c == '{');
            objects.emplace_back();
        } else if ((c == '}' || c == ']') && !objects.empty()) {
            objects.pop_back();
            isObject.pop_back();
        } else if (c == '"') {
            const qsizetype end = SkipString(data, i);
            qsizetype next = end + 1;
            while (next < data.size() && data[next] != '\0' && strchr(" \t\r\n", data[next]))
                next++;
            if (next < data.size() && data[next] == ':' && !isObject.empty() && isObject.back() &&
                !objects.back().insert(DecodeKey(data, i, end)).second)
                return !Fail(ctx, "field \"%s\" occurs twice in one object",
                             DecodeKey(data, i, end).toUtf8().constData());
            i = end;
        }
    }
    return false;
}

/* Checks the document's frame: {"format": "quenta-panels", "version": 1,
 * "panels": [...]} and returns the panel list in *panels. */
bool ParseDocument(const QByteArray &json, QJsonArray *panels, Ctx *ctx)
{
    if (json.size() > PANELFILE_MAX_BYTES)
        return Fail(ctx, "file larger than %d bytes", PANELFILE_MAX_BYTES);
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError)
        return Fail(ctx, "JSON error at byte %d: %s", static_cast<int>(err.offset),
                    err.errorString().toUtf8().constData());
    if (!doc.isObject())
        return Fail(ctx, "the document must be an object");
    if (HasDuplicateKey(json, ctx))
        return false;
    const QJsonObject o = doc.object();
    int version = 0;
    if (!OnlyFields(o, "format version panels", "", "file", ctx) ||
        o.value(QLatin1String("format")).toString() != QLatin1String("quenta-panels") ||
        !GetInt(o, "version", true, 1, 1, &version, "file", ctx) ||
        !o.value(QLatin1String("panels")).isArray())
        return Fail(ctx, "file: needs \"format\": \"quenta-panels\", \"version\": 1 and \"panels\"");
    *panels = o.value(QLatin1String("panels")).toArray();
    if (panels->size() > PANELFILE_MAX_PANELS)
        return Fail(ctx, "file: more than %d panels", PANELFILE_MAX_PANELS);
    return true;
}

}  // namespace

int ParsePanelFile(const QByteArray &json, std::vector<PanelDesc> *panels, std::string *why)
{
    Ctx ctx;
    QJsonArray list;
    std::set<int> numbers;
    std::set<std::string> constants;
    panels->clear();
    bool ok = ParseDocument(json, &list, &ctx);
    for (int i = 0; ok && i < list.size(); i++) {
        PanelDesc p;
        ok = ParsePanel(list.at(i), &p, i, &ctx);
        if (ok && (!numbers.insert(p.number).second || !constants.insert(p.constant).second))
            ok = Fail(&ctx, "panel %s: number or constant occurs twice", p.constant.c_str());
        if (ok)
            panels->push_back(p);
    }
    if (ok)
        return 0;
    panels->clear();
    if (why)
        *why = ctx.why;
    return UIE_FILE_MALFORMED;
}

const PanelDesc *FindPanelDesc(const std::vector<PanelDesc> &panels, int number)
{
    for (const PanelDesc &p : panels)
        if (p.number == number)
            return &p;
    return nullptr;
}

int ShortcutQtKey(int keyCode)
{
    for (const ShortcutName &s : kShortcuts)
        if (s.code == keyCode)
            return s.qtKey;
    return 0;
}
