/*
 * ctrlvalues.cpp -- the program's side of the controls: values
 * (Get/SetCtrlVal), attributes (Get/SetCtrlAttribute), text boxes, and the
 * keyboard focus. The items of list boxes, rings and ring slides are in
 * lists.cpp.
 *
 * A value is a number (toggle, option, LED, numeric, ring slide, list box,
 * ring with numbers) or a text (string field, text box, text message, ring
 * with texts). Texts are Latin-1 both ways and every text handed out is cut
 * to the control's bound, so a buffer of bound + 1 bytes always suffices.
 * Changes made here raise no event: widgets are changed with their signals
 * blocked, and commits hang only on signals of the operator's actions.
 */
#include "uicore.h"
#include "widgets.h"

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMetaProperty>
#include <QSignalBlocker>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

bool IsNumberKind(const UiControl *c)
{
    switch (c->desc.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_BINARY_SWITCH:
    case CTRL_LED:
    case CTRL_NUMERIC:
    case CTRL_RING_SLIDE:
    case CTRL_LIST_BOX: return true;
    case CTRL_RING: return !c->desc.stringItems;
    default: return false;
    }
}

bool IsTextKind(const UiControl *c)
{
    const int k = c->desc.kind;
    return k == CTRL_STRING || k == CTRL_TEXT_BOX || k == CTRL_TEXT_MSG ||
           (k == CTRL_RING && c->desc.stringItems);
}

/* The value of a control that is no list is its widget's user property,
 * the property Qt itself takes for a widget's value: checked, value,
 * text, plainText, and on for the LED. */
QVariant ReadValue(const QWidget *w)
{
    return w->metaObject()->userProperty().read(w);
}

/* Sets the user property of w to v without raising an event. */
void WriteValue(QWidget *w, const QVariant &v)
{
    const QSignalBlocker block(w);
    w->metaObject()->userProperty().write(w, v);
}

/* The longest text a text kind hands out. */
size_t TextBound(const UiControl *c)
{
    if (c->desc.kind == CTRL_STRING)
        return static_cast<size_t>(static_cast<QLineEdit *>(c->widget)->maxLength());
    return c->desc.kind == CTRL_RING ? PLATFORM_STRING_SIZE - 1 : PLATFORM_LABEL_SIZE - 1;
}

/* The value of the current item of a list into *out. */
int CurrentItemValue(const UiControl *c, QVariant *out)
{
    const int index = c->items->current();
    if (index < 0)
        return UIE_INVALID_INDEX;
    *out = c->items->value(index);
    return 0;
}

/* Makes the first item of a list holding wanted current, or returns
 * UIE_INVALID_VALUE and keeps the current item. */
int SelectValue(UiControl *c, const QVariant &wanted)
{
    const int index = c->items->find(wanted);
    if (index < 0)
        return UIE_INVALID_VALUE;
    c->items->setCurrent(index);
    return 0;
}

/* The current value of a numeric kind into *out. */
int GetNumber(UiControl *c, double *out)
{
    QVariant v;
    if (!c->items) {
        *out = ReadValue(c->widget).toDouble();
        return 0;
    }
    const int rc = CurrentItemValue(c, &v);
    if (rc == 0)
        *out = v.toDouble();
    return rc;
}

/* Sets a numeric kind to v: buttons and LED take v != 0, a numeric clamps
 * to its range, a list selects its first item holding v. */
int SetNumber(UiControl *c, double v)
{
    if (std::isnan(v))
        return UIE_INVALID_VALUE;
    if (c->items)
        return SelectValue(c, v);
    const bool isFlag = c->widget->metaObject()->userProperty().metaType().id() == QMetaType::Bool;
    WriteValue(c->widget, isFlag ? QVariant(v != 0) : QVariant(v));
    return 0;
}

/* The current value of a text kind into *out, and its bound. */
int GetText(UiControl *c, std::string *out, size_t *bound)
{
    QVariant v;
    *bound = TextBound(c);
    if (c->items) {
        const int rc = CurrentItemValue(c, &v);
        if (rc == 0)
            *out = v.toByteArray().toStdString();
        return rc;
    }
    *out = ReadValue(c->widget).toString().toLatin1().toStdString();
    return 0;
}

/* Sets a text kind to value (cut to its bound); a ring selects its first
 * item holding value. */
int SetText(UiControl *c, const char *value)
{
    if (c->items)
        return SelectValue(c, UiCutText(value, PLATFORM_STRING_SIZE));
    WriteValue(c->widget, QString::fromLatin1(UiCutText(value, TextBound(c))));
    return 0;
}

/* ---- Attributes. ---- */

/* The text attributes: name, callback and label of every control. */
int AttrText(const UiControl *c, int attribute, std::string *out, size_t *bound)
{
    *bound = attribute == ATTR_LABEL_TEXT ? PLATFORM_LABEL_SIZE - 1 : PLATFORM_NAME_SIZE - 1;
    if (attribute == ATTR_CONSTANT_NAME)
        *out = c->desc.constant;
    else if (attribute == ATTR_CALLBACK_NAME)
        *out = c->desc.callback;
    else if (attribute == ATTR_LABEL_TEXT)
        *out = c->desc.label;
    else
        return UIE_INVALID_ATTRIBUTE;
    return 0;
}

bool IsTextAttr(int attribute)
{
    return attribute == ATTR_CONSTANT_NAME || attribute == ATTR_CALLBACK_NAME ||
           attribute == ATTR_LABEL_TEXT;
}

/* The number attributes; each belongs to some kinds only. */
int AttrNumber(const UiControl *c, int attribute, double *out)
{
    const int k = c->desc.kind;
    if (attribute == ATTR_CTRL_KIND)
        *out = k;
    else if (attribute == ATTR_DIMMED && c->widget)
        *out = !c->widget->isEnabled();
    else if (attribute == ATTR_MAX_ENTRY_LENGTH && k == CTRL_STRING)
        *out = static_cast<QLineEdit *>(c->widget)->maxLength();
    else if (attribute == ATTR_MIN_VALUE && k == CTRL_NUMERIC)
        *out = static_cast<QDoubleSpinBox *>(c->widget)->minimum();
    else if (attribute == ATTR_MAX_VALUE && k == CTRL_NUMERIC)
        *out = static_cast<QDoubleSpinBox *>(c->widget)->maximum();
    else if (attribute == ATTR_INCR_VALUE && k == CTRL_NUMERIC)
        *out = static_cast<QDoubleSpinBox *>(c->widget)->singleStep();
    else if (attribute == ATTR_SHORTCUT_KEY && k == CTRL_COMMAND_BUTTON)
        *out = c->desc.shortcutKey;
    else if (attribute == ATTR_INTERVAL && k == CTRL_TIMER)
        *out = c->timer->interval() / 1000.0;
    else if (attribute == ATTR_ENABLED && k == CTRL_TIMER)
        *out = c->desc.enabled;
    else
        return IsTextAttr(attribute) ? UIE_TYPE_MISMATCH : UIE_INVALID_ATTRIBUTE;
    return 0;
}

int SetNumericRange(UiControl *c, int attribute, double v)
{
    QDoubleSpinBox *spin = static_cast<QDoubleSpinBox *>(c->widget);
    const QSignalBlocker block(spin);
    if (attribute == ATTR_INCR_VALUE) {
        if (!(v > 0))
            return UIE_INVALID_VALUE;
        spin->setSingleStep(v);
    } else if (attribute == ATTR_MIN_VALUE) {
        if (!(v <= spin->maximum()))
            return UIE_INVALID_VALUE;
        spin->setMinimum(v);
    } else {
        if (!(v >= spin->minimum()))
            return UIE_INVALID_VALUE;
        spin->setMaximum(v);
    }
    return 0;
}

int SetTimerAttr(UiControl *c, int attribute, double v)
{
    if (attribute == ATTR_ENABLED) {
        c->desc.enabled = v != 0;
    } else {
        if (!(v >= 0.001 && v <= 86400))
            return UIE_INVALID_VALUE;
        c->desc.interval = v;
        c->timer->setInterval(static_cast<int>(std::lround(v * 1000)));
    }
    UiApplyTimer(c);
    return 0;
}

int SetAttrNumber(UiControl *c, int attribute, double v)
{
    const int k = c->desc.kind;
    if (attribute == ATTR_DIMMED && c->widget) {
        c->widget->setEnabled(v == 0);
        if (c->label)
            c->label->setEnabled(v == 0);
        return 0;
    }
    if (attribute == ATTR_MAX_ENTRY_LENGTH && k == CTRL_STRING) {
        if (!(v >= 1 && v <= PLATFORM_STRING_SIZE - 1))
            return UIE_INVALID_VALUE;
        const QSignalBlocker block(c->widget);
        static_cast<QLineEdit *>(c->widget)->setMaxLength(static_cast<int>(v));
        return 0;
    }
    if ((attribute == ATTR_MIN_VALUE || attribute == ATTR_MAX_VALUE || attribute == ATTR_INCR_VALUE) &&
        k == CTRL_NUMERIC)
        return SetNumericRange(c, attribute, v);
    if ((attribute == ATTR_INTERVAL || attribute == ATTR_ENABLED) && k == CTRL_TIMER)
        return SetTimerAttr(c, attribute, v);
    double ignored;
    const int rc = AttrNumber(c, attribute, &ignored);
    return rc != 0 ? rc : UIE_INVALID_ATTRIBUTE;  /* readable, but not settable */
}

/* A double as an int, rounded and kept inside the int range. */
int ToInt(double d)
{
    if (d >= INT_MAX)
        return INT_MAX;
    if (d <= INT_MIN)
        return INT_MIN;
    return static_cast<int>(std::lround(d));
}

}  // namespace

/* ---- Values. ---- */

int GetCtrlVal(int panel, int control, int *value)
{
    double d;
    const int rc = GetCtrlVal(panel, control, &d);
    if (rc == 0)
        *value = ToInt(d);
    return rc;
}

int GetCtrlVal(int panel, int control, double *value)
{
    UiCall call;
    UiControl *c;
    int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    return IsNumberKind(c) ? GetNumber(c, value) : UIE_TYPE_MISMATCH;
}

int GetCtrlVal(int panel, int control, char *value)
{
    UiCall call;
    UiControl *c;
    int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    if (!IsTextKind(c))
        return UIE_TYPE_MISMATCH;
    std::string text;
    size_t bound;
    if ((rc = GetText(c, &text, &bound)) == 0)
        UiCopyOut(text, bound, value);
    return rc;
}

int SetCtrlVal(int panel, int control, int value)
{
    return SetCtrlVal(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, double value)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    return IsNumberKind(c) ? SetNumber(c, value) : UIE_TYPE_MISMATCH;
}

int SetCtrlVal(int panel, int control, const char *value)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    return IsTextKind(c) ? SetText(c, value) : UIE_TYPE_MISMATCH;
}

/* ---- Attributes. ---- */

int GetCtrlAttribute(int panel, int control, int attribute, int *value)
{
    double d;
    const int rc = GetCtrlAttribute(panel, control, attribute, &d);
    if (rc == 0)
        *value = ToInt(d);
    return rc;
}

int GetCtrlAttribute(int panel, int control, int attribute, double *value)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    return value ? AttrNumber(c, attribute, value) : UIE_INVALID_VALUE;
}

int GetCtrlAttribute(int panel, int control, int attribute, char *value)
{
    UiCall call;
    UiControl *c;
    int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    std::string text;
    size_t bound;
    double ignored;
    if ((rc = AttrText(c, attribute, &text, &bound)) != 0)
        return AttrNumber(c, attribute, &ignored) == 0 ? UIE_TYPE_MISMATCH : rc;
    UiCopyOut(text, bound, value);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value)
{
    return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
}

int SetCtrlAttribute(int panel, int control, int attribute, double value)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    return SetAttrNumber(c, attribute, value);
}

/* ---- Focus. ---- */

int SetActiveCtrl(int panel, int control)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!c->widget)
        return UIE_INVALID_CONTROL;
    c->widget->setFocus(Qt::OtherFocusReason);
    return 0;
}

int GetActiveCtrl(int panel)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    for (QWidget *w = p->window->focusWidget(); w && w != p->window; w = w->parentWidget())
        for (size_t i = 0; i < p->controls.size(); i++)
            if (p->controls[i].widget == w)
                return static_cast<int>(i) + 2;
    return 0;
}

/* ---- Text boxes. ---- */

int ResetTextBox(int panel, int control, const char *text)
{
    UiCall call;
    UiControl *c;
    const int rc = UiFindControl(panel, control, &c);
    if (rc != 0)
        return rc;
    if (c->desc.kind != CTRL_TEXT_BOX)
        return UIE_TYPE_MISMATCH;
    if (!text)
        return UIE_INVALID_VALUE;
    return SetText(c, text);
}
