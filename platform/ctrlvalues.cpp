/*
 * ctrlvalues.cpp -- the program's side of the controls: values
 * (Get/SetCtrlVal), attributes (Get/SetCtrlAttribute), the items of list
 * boxes, rings and ring slides, text boxes, and the keyboard focus.
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

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTimer>

#include <climits>
#include <cmath>
#include <cstring>

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

/* Bytes of value, at most bound of them (value need not be terminated
 * beyond that). */
QByteArray CutText(const char *value, size_t bound)
{
    return QByteArray(value, static_cast<qsizetype>(strnlen(value, bound)));
}

/* Looks up panel and control for a library call; returns 0 or a UIE code. */
int Find(int panel, int control, UiControl **c)
{
    UiPanel *p;
    return UiFindControl(panel, control, &p, c);
}

/* The current value of a numeric kind into *out. */
int GetNumber(UiControl *c, double *out)
{
    QWidget *w = c->widget;
    switch (c->desc.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_BINARY_SWITCH: *out = static_cast<QAbstractButton *>(w)->isChecked(); return 0;
    case CTRL_LED: *out = static_cast<LedWidget *>(w)->isOn(); return 0;
    case CTRL_NUMERIC: *out = static_cast<QDoubleSpinBox *>(w)->value(); return 0;
    default: break;
    }
    int index;
    if (c->desc.kind == CTRL_RING_SLIDE) {
        RingSlide *slide = static_cast<RingSlide *>(w);
        if ((index = slide->index()) >= 0)
            *out = slide->value(index);
    } else if (c->desc.kind == CTRL_LIST_BOX) {
        QListWidget *list = static_cast<QListWidget *>(w);
        if ((index = list->currentRow()) >= 0)
            *out = list->item(index)->data(Qt::UserRole).toInt();
    } else {
        QComboBox *box = static_cast<QComboBox *>(w);
        if ((index = box->currentIndex()) >= 0)
            *out = box->currentData().toInt();
    }
    return index >= 0 ? 0 : UIE_INVALID_INDEX;
}

/* Returns the first index of a list whose number is v, or -1. */
int FindNumber(UiControl *c, double v)
{
    const int n = c->desc.kind == CTRL_RING_SLIDE ? static_cast<RingSlide *>(c->widget)->count()
                  : c->desc.kind == CTRL_LIST_BOX ? static_cast<QListWidget *>(c->widget)->count()
                                                  : static_cast<QComboBox *>(c->widget)->count();
    for (int i = 0; i < n; i++) {
        int value;
        if (c->desc.kind == CTRL_RING_SLIDE)
            value = static_cast<RingSlide *>(c->widget)->value(i);
        else if (c->desc.kind == CTRL_LIST_BOX)
            value = static_cast<QListWidget *>(c->widget)->item(i)->data(Qt::UserRole).toInt();
        else
            value = static_cast<QComboBox *>(c->widget)->itemData(i).toInt();
        if (value == v)
            return i;
    }
    return -1;
}

/* Sets the list's current item without raising an event. */
void SelectIndex(UiControl *c, int index)
{
    const QSignalBlocker block(c->widget);
    if (c->desc.kind == CTRL_RING_SLIDE)
        static_cast<RingSlide *>(c->widget)->setIndex(index);
    else if (c->desc.kind == CTRL_LIST_BOX)
        static_cast<QListWidget *>(c->widget)->setCurrentRow(index);
    else
        static_cast<QComboBox *>(c->widget)->setCurrentIndex(index);
}

/* Sets a numeric kind to v: buttons and LED take v != 0, a numeric clamps
 * to its range, a list selects its first item holding v. */
int SetNumber(UiControl *c, double v)
{
    QWidget *w = c->widget;
    const QSignalBlocker block(w);
    if (std::isnan(v))
        return UIE_INVALID_VALUE;
    switch (c->desc.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_BINARY_SWITCH: static_cast<QAbstractButton *>(w)->setChecked(v != 0); return 0;
    case CTRL_LED: static_cast<LedWidget *>(w)->setOn(v != 0); return 0;
    case CTRL_NUMERIC: static_cast<QDoubleSpinBox *>(w)->setValue(v); return 0;
    default: break;
    }
    const int index = FindNumber(c, v);
    if (index < 0)
        return UIE_INVALID_VALUE;
    SelectIndex(c, index);
    return 0;
}

/* The current value of a text kind into *out, and its bound. */
int GetText(UiControl *c, std::string *out, size_t *bound)
{
    QWidget *w = c->widget;
    *bound = PLATFORM_LABEL_SIZE - 1;
    switch (c->desc.kind) {
    case CTRL_STRING:
        *bound = static_cast<size_t>(static_cast<QLineEdit *>(w)->maxLength());
        *out = static_cast<QLineEdit *>(w)->text().toLatin1().toStdString();
        return 0;
    case CTRL_TEXT_BOX:
        *out = static_cast<QPlainTextEdit *>(w)->toPlainText().toLatin1().toStdString();
        return 0;
    case CTRL_TEXT_MSG: *out = static_cast<QLabel *>(w)->text().toLatin1().toStdString(); return 0;
    default: break;
    }
    QComboBox *box = static_cast<QComboBox *>(w);
    *bound = PLATFORM_STRING_SIZE - 1;
    if (box->currentIndex() < 0)
        return UIE_INVALID_INDEX;
    *out = box->currentData().toByteArray().toStdString();
    return 0;
}

/* Sets a text kind to value (cut to its bound); a ring selects its first
 * item holding value. */
int SetText(UiControl *c, const char *value)
{
    QWidget *w = c->widget;
    const QSignalBlocker block(w);
    switch (c->desc.kind) {
    case CTRL_STRING: {
        QLineEdit *edit = static_cast<QLineEdit *>(w);
        edit->setText(QString::fromLatin1(CutText(value, static_cast<size_t>(edit->maxLength()))));
        return 0;
    }
    case CTRL_TEXT_BOX:
        static_cast<QPlainTextEdit *>(w)->setPlainText(QString::fromLatin1(CutText(value, PLATFORM_LABEL_SIZE - 1)));
        return 0;
    case CTRL_TEXT_MSG:
        static_cast<QLabel *>(w)->setText(QString::fromLatin1(CutText(value, PLATFORM_LABEL_SIZE - 1)));
        return 0;
    default: break;
    }
    QComboBox *box = static_cast<QComboBox *>(w);
    const QByteArray wanted = CutText(value, PLATFORM_STRING_SIZE);
    for (int i = 0; i < box->count(); i++) {
        if (box->itemData(i).toByteArray() == wanted) {
            box->setCurrentIndex(i);
            return 0;
        }
    }
    return UIE_INVALID_VALUE;
}

/* Number of items of a list kind, or -1 for other kinds. */
int ItemCount(const UiControl *c)
{
    switch (c->desc.kind) {
    case CTRL_RING: return static_cast<QComboBox *>(c->widget)->count();
    case CTRL_RING_SLIDE: return static_cast<RingSlide *>(c->widget)->count();
    case CTRL_LIST_BOX: return static_cast<QListWidget *>(c->widget)->count();
    default: return -1;
    }
}

/* Looks up a list control and checks that index names one of its items. */
int FindItem(int panel, int control, int index, UiControl **c)
{
    const int rc = Find(panel, control, c);
    if (rc != 0)
        return rc;
    const int n = ItemCount(*c);
    if (n < 0)
        return UIE_TYPE_MISMATCH;
    return index >= 0 && index < n ? 0 : UIE_INVALID_INDEX;
}

std::string ItemLabel(const UiControl *c, int index)
{
    if (c->desc.kind == CTRL_RING)
        return static_cast<QComboBox *>(c->widget)->itemText(index).toLatin1().toStdString();
    if (c->desc.kind == CTRL_RING_SLIDE)
        return static_cast<RingSlide *>(c->widget)->label(index);
    return static_cast<QListWidget *>(c->widget)->item(index)->text().toLatin1().toStdString();
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
    int rc = Find(panel, control, &c);
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
    int rc = Find(panel, control, &c);
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
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    return IsNumberKind(c) ? SetNumber(c, value) : UIE_TYPE_MISMATCH;
}

int SetCtrlVal(int panel, int control, const char *value)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
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
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    return value ? AttrNumber(c, attribute, value) : UIE_INVALID_VALUE;
}

int GetCtrlAttribute(int panel, int control, int attribute, char *value)
{
    UiCall call;
    UiControl *c;
    int rc = Find(panel, control, &c);
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
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    return SetAttrNumber(c, attribute, value);
}

/* ---- Focus. ---- */

int SetActiveCtrl(int panel, int control)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
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

/* ---- Lists. ---- */

int GetNumListItems(int panel, int control, int *count)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!count)
        return UIE_INVALID_VALUE;
    const int n = ItemCount(c);
    if (n < 0)
        return UIE_TYPE_MISMATCH;
    *count = n;
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    const int n = ItemCount(c);
    if (n < 0 || (c->desc.kind == CTRL_RING && c->desc.stringItems))
        return UIE_TYPE_MISMATCH;
    if (!label)
        return UIE_INVALID_VALUE;
    if (index < -1 || index > n)
        return UIE_INVALID_INDEX;
    const int at = index == -1 ? n : index;
    const QString text = QString::fromLatin1(CutText(label, PLATFORM_LABEL_SIZE - 1));
    const QSignalBlocker block(c->widget);
    if (c->desc.kind == CTRL_RING) {
        static_cast<QComboBox *>(c->widget)->insertItem(at, text, value);
    } else if (c->desc.kind == CTRL_RING_SLIDE) {
        static_cast<RingSlide *>(c->widget)->insertItem(at, text.toLatin1().toStdString(), value);
    } else {
        QListWidgetItem *item = new QListWidgetItem(text);
        item->setData(Qt::UserRole, value);
        static_cast<QListWidget *>(c->widget)->insertItem(at, item);
    }
    return 0;
}

int DeleteListItem(int panel, int control, int index, int count)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    if (count < -1)
        return UIE_INVALID_VALUE;
    const int left = ItemCount(c) - index;
    const int n = (count == -1 || count > left) ? left : count;
    const QSignalBlocker block(c->widget);
    for (int i = 0; i < n; i++) {
        if (c->desc.kind == CTRL_RING)
            static_cast<QComboBox *>(c->widget)->removeItem(index);
        else if (c->desc.kind == CTRL_RING_SLIDE)
            static_cast<RingSlide *>(c->widget)->removeItem(index);
        else
            delete static_cast<QListWidget *>(c->widget)->takeItem(index);
    }
    return 0;
}

int SetCtrlIndex(int panel, int control, int index)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    SelectIndex(c, index);
    return 0;
}

int GetCtrlIndex(int panel, int control, int *index)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    if (!index)
        return UIE_INVALID_VALUE;
    if (c->desc.kind == CTRL_RING)
        *index = static_cast<QComboBox *>(c->widget)->currentIndex();
    else if (c->desc.kind == CTRL_RING_SLIDE)
        *index = static_cast<RingSlide *>(c->widget)->index();
    else if (c->desc.kind == CTRL_LIST_BOX)
        *index = static_cast<QListWidget *>(c->widget)->currentRow();
    else
        return UIE_TYPE_MISMATCH;
    return 0;
}

int GetLabelFromIndex(int panel, int control, int index, char *label)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    if (!label)
        return UIE_INVALID_VALUE;
    UiCopyOut(ItemLabel(c, index), PLATFORM_LABEL_SIZE - 1, label);
    return 0;
}

int GetValueFromIndex(int panel, int control, int index, int *value)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    if (c->desc.kind == CTRL_RING && c->desc.stringItems)
        return UIE_TYPE_MISMATCH;
    if (c->desc.kind == CTRL_RING)
        *value = static_cast<QComboBox *>(c->widget)->itemData(index).toInt();
    else if (c->desc.kind == CTRL_RING_SLIDE)
        *value = static_cast<RingSlide *>(c->widget)->value(index);
    else
        *value = static_cast<QListWidget *>(c->widget)->item(index)->data(Qt::UserRole).toInt();
    return 0;
}

int GetValueFromIndex(int panel, int control, int index, char *value)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    if (!value)
        return UIE_INVALID_VALUE;
    if (c->desc.kind != CTRL_RING || !c->desc.stringItems)
        return UIE_TYPE_MISMATCH;
    const QByteArray text = static_cast<QComboBox *>(c->widget)->itemData(index).toByteArray();
    UiCopyOut(text.toStdString(), PLATFORM_STRING_SIZE - 1, value);
    return 0;
}

int ResetTextBox(int panel, int control, const char *text)
{
    UiCall call;
    UiControl *c;
    const int rc = Find(panel, control, &c);
    if (rc != 0)
        return rc;
    if (c->desc.kind != CTRL_TEXT_BOX)
        return UIE_TYPE_MISMATCH;
    if (!text)
        return UIE_INVALID_VALUE;
    const QSignalBlocker block(c->widget);
    static_cast<QPlainTextEdit *>(c->widget)->setPlainText(QString::fromLatin1(CutText(text, PLATFORM_LABEL_SIZE - 1)));
    return 0;
}
