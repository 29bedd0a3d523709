/*
 * controls.cpp -- builds the widgets of one control from its description
 * and wires the operator's actions to the control's callback:
 *
 *   commit (1)     button click or shortcut; toggle or option click; ring
 *                  or ring slide choice by the operator; numeric changed by
 *                  arrows, wheel or Enter, or left after typing; Enter in a
 *                  string field, or leaving it after a change; double-click
 *                  or Enter on a list box item; Enter in a text box
 *   key press (7)  every key in an operable control, before the control
 *                  sees it; a nonzero callback result swallows the key
 *   timer tick(15) each interval of an enabled timer, unless suspended
 *
 * Only signals that Qt raises for the operator's actions are used (clicked,
 * activated, ...); the library's own changes block the others, so a
 * program's SetCtrlVal never raises an event. Exports UiBuildControl().
 */
#include "listrows.h"
#include "uicore.h"
#include "widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include <cmath>

namespace {

/* The key code a key press event carries (platform.h, VAL_*_VKEY). */
int KeyCode(const QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VAL_ENTER_VKEY;
    case Qt::Key_Escape: return VAL_ESC_VKEY;
    case Qt::Key_Tab: return VAL_TAB_VKEY;
    case Qt::Key_Backspace: return VAL_BACKSPACE_VKEY;
    default: break;
    }
    const QString text = e->text();
    if (text.size() == 1 && text[0].unicode() >= 0x20 && text[0].unicode() <= 0xFF &&
        text[0].unicode() != 0x7F)
        return text[0].unicode();
    return 0x10000 + e->key();
}

/* Watches the keys and the focus of one control. */
class ControlFilter : public QObject {
public:
    ControlFilter(int panel, int control, int kind, QObject *parent)
        : QObject(parent), panel_(panel), control_(control), kind_(kind)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride)
            return OnShortcutOverride(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::KeyPress && swallowNext_) {
            swallowNext_ = false;
            return true;
        }
        if (event->type() == QEvent::KeyPress)
            return OnKey(watched, static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            OnFocusOut(watched, static_cast<QFocusEvent *>(event));
        if (event->type() == QEvent::MouseButtonDblClick)
            OnDoubleClick(watched, static_cast<QMouseEvent *>(event));
        return false;
    }

private:
    bool OnShortcutOverride(QKeyEvent *e);
    bool OnKey(QObject *watched, QKeyEvent *e);
    void OnFocusOut(QObject *watched, QFocusEvent *e);
    void OnDoubleClick(QObject *watched, QMouseEvent *e);
    bool Exists() const;

    int panel_;
    int control_;
    int kind_;
    bool swallowNext_ = false;   /* the key press after an accepted override */
};

/* True while the control's panel is loaded (a key press callback may have
 * discarded it). */
bool ControlFilter::Exists() const
{
    UiControl *c;
    return UiFindControl(panel_, control_, &c) == 0;
}

/* True when code is the shortcut key of a command button of panel. */
bool IsPanelShortcut(int panel, int code)
{
    UiPanel *p = UiFindPanel(panel);
    for (size_t i = 0; p && i < p->controls.size(); i++)
        if (p->controls[i].desc.shortcutKey == code)
            return true;
    return false;
}

/* Qt asks the focused widget before it operates a shortcut. The control
 * hears a panel's shortcut key first, like any key; if its callback
 * swallows it, the shortcut stays unoperated and the key press that Qt
 * then delivers is dropped. */
bool ControlFilter::OnShortcutOverride(QKeyEvent *e)
{
    const int code = KeyCode(e);
    swallowNext_ = false;
    if (!IsPanelShortcut(panel_, code) || UiDispatch(panel_, control_, EVENT_KEYPRESS, code, 0) == 0)
        return false;
    e->accept();
    swallowNext_ = true;
    return true;
}

/* Key press first; then Enter commits a string field, a list box with a
 * current item and a text box, and is used up there. A text box refuses
 * characters outside Latin-1, as a string field's validator does. */
bool ControlFilter::OnKey(QObject *watched, QKeyEvent *e)
{
    const int code = KeyCode(e);
    if (kind_ == CTRL_TEXT_BOX && e->text().size() > 0 && e->text()[0].unicode() > 0xFF)
        return true;
    if (UiDispatch(panel_, control_, EVENT_KEYPRESS, code, 0) != 0)
        return true;
    if (code != VAL_ENTER_VKEY || !Exists())
        return false;
    if (kind_ == CTRL_STRING) {
        static_cast<QLineEdit *>(watched)->setModified(false);
    } else if (kind_ == CTRL_LIST_BOX) {
        if (!static_cast<QListWidget *>(watched)->currentItem())
            return true;
    } else if (kind_ != CTRL_TEXT_BOX) {
        return false;
    }
    UiDispatch(panel_, control_, EVENT_COMMIT, 0, 0);
    return true;
}

/* Leaving a string field after changing its text commits it. Switching to
 * another window or opening a menu is not leaving. */
void ControlFilter::OnFocusOut(QObject *watched, QFocusEvent *e)
{
    if (kind_ != CTRL_STRING || e->reason() == Qt::PopupFocusReason ||
        e->reason() == Qt::ActiveWindowFocusReason)
        return;
    QLineEdit *edit = static_cast<QLineEdit *>(watched);
    if (edit->isModified()) {
        edit->setModified(false);
        UiDispatch(panel_, control_, EVENT_COMMIT, 0, 0);
    }
}

/* A double-click on an item of a list box (seen on its viewport) makes
 * that item current and commits. The list's own itemDoubleClicked signal
 * is not used: it needs the press before the double-click to land on the
 * same item, which a synthesized double-click does not bring. */
void ControlFilter::OnDoubleClick(QObject *watched, QMouseEvent *e)
{
    QListWidget *list = qobject_cast<QListWidget *>(watched->parent());
    if (kind_ != CTRL_LIST_BOX || !list || e->button() != Qt::LeftButton || !list->isEnabled())
        return;
    QListWidgetItem *item = list->itemAt(e->position().toPoint());
    if (!item)
        return;
    {
        const QSignalBlocker block(list);
        list->setCurrentItem(item);
    }
    UiDispatch(panel_, control_, EVENT_COMMIT, 0, 0);
}

/* While a popup is open (a ring's list, a context menu) every key is the
 * popup's: Esc closes it and must not operate the panel's Quit as well.
 * A ring's list closes itself on Esc's shortcut override without claiming
 * the key, so Qt would go on to the panel's shortcuts; claiming it here,
 * before anyone else sees it, keeps them out. */
class PopupKeyGuard : public QObject {
public:
    explicit PopupKeyGuard(QObject *parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride && QApplication::activePopupWidget())
            event->accept();
        return false;
    }
};

/* Installs the one PopupKeyGuard of the application, once. */
void GuardPopupKeys()
{
    static PopupKeyGuard *guard = nullptr;
    if (!guard) {
        guard = new PopupKeyGuard(qApp);
        qApp->installEventFilter(guard);
    }
}

/* A button text shows '&' literally instead of making a mnemonic. */
QString ButtonText(const std::string &label)
{
    return QString::fromLatin1(label.c_str()).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

/* Connects signal of sender so that it commits control id of p. */
template <typename Sender, typename Signal>
void CommitOn(UiPanel *p, int id, Sender *sender, Signal signal)
{
    const int handle = p->handle;
    QObject::connect(sender, signal, sender, [handle, id] {
        UiDispatch(handle, id, EVENT_COMMIT, 0, 0);
    });
}

QWidget *BuildButton(UiPanel *p, UiControl *c, int id)
{
    QPushButton *b = c->desc.kind == CTRL_TOGGLE_BUTTON
                         ? new ToggleButton(ButtonText(c->desc.label), p->window)
                         : new QPushButton(ButtonText(c->desc.label), p->window);
    b->setAutoDefault(false);
    b->setChecked(c->desc.intValue != 0);
    CommitOn(p, id, b, &QPushButton::clicked);
    const int key = ShortcutQtKey(c->desc.shortcutKey);
    if (key) {
        GuardPopupKeys();
        QShortcut *s = new QShortcut(QKeySequence(key), p->window);
        s->setContext(Qt::WindowShortcut);
        const int handle = p->handle;
        QObject::connect(s, &QShortcut::activated, b, [handle, id, b] {
            if (b->isEnabled())
                UiDispatch(handle, id, EVENT_COMMIT, 0, 0);
        });
    }
    return b;
}

/* Gives c its item list and the items of its description, and makes the
 * described item current. */
void FillItems(UiControl *c, ItemList *items)
{
    c->items.reset(items);
    for (size_t i = 0; i < c->desc.items.size(); i++) {
        const ItemDesc &item = c->desc.items[i];
        const QVariant value = c->desc.stringItems ? QVariant(QByteArray::fromStdString(item.text))
                                                   : QVariant(item.number);
        items->insert(static_cast<int>(i), item.label, value);
    }
    items->setCurrent(c->desc.index);
}

QWidget *BuildRing(UiPanel *p, UiControl *c, int id)
{
    QComboBox *box = new QComboBox(p->window);
    FillItems(c, NewItemList(box));
    box->setMaxVisibleItems(24);
    box->view()->setTextElideMode(Qt::ElideNone);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CommitOn(p, id, box, &QComboBox::activated);
    return box;
}

QWidget *BuildString(UiPanel *p, UiControl *c)
{
    QLineEdit *edit = new QLineEdit(p->window);
    edit->setMaxLength(c->desc.maxLength);
    edit->setValidator(new Latin1Validator(edit));
    edit->setText(QString::fromLatin1(c->desc.text.c_str()));
    return edit;
}

QWidget *BuildNumeric(UiPanel *p, UiControl *c, int id)
{
    QDoubleSpinBox *spin = new QDoubleSpinBox(p->window);
    spin->setDecimals(c->desc.precision);
    spin->setRange(c->desc.minValue, c->desc.maxValue);
    spin->setSingleStep(c->desc.increment);
    spin->setValue(c->desc.numValue);
    spin->setKeyboardTracking(false);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    CommitOn(p, id, spin, &QDoubleSpinBox::valueChanged);
    return spin;
}

QWidget *BuildRingSlide(UiPanel *p, UiControl *c, int id)
{
    RingSlide *slide = new RingSlide(p->window, c->desc.width, c->desc.height);
    FillItems(c, NewItemList(slide));
    CommitOn(p, id, slide, &RingSlide::choiceMade);
    return slide;
}

QWidget *BuildListBox(UiPanel *p, UiControl *c)
{
    QListWidget *list = new QListWidget(p->window);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setItemDelegate(new ListRowDelegate(list));
    FillItems(c, NewItemList(list));
    return list;
}

QWidget *BuildTextBox(UiPanel *p, UiControl *c)
{
    QPlainTextEdit *box = new QPlainTextEdit(p->window);
    box->setPlainText(QString::fromLatin1(c->desc.text.c_str()));
    box->setReadOnly(c->desc.indicator);
    box->setTabChangesFocus(true);
    if (c->desc.indicator)
        box->setFocusPolicy(Qt::NoFocus);
    return box;
}

/* The timer belongs to the panel's window and ticks from the event loop. */
void BuildTimer(UiPanel *p, UiControl *c, int id)
{
    c->timer = new QTimer(p->window);
    c->timer->setTimerType(Qt::PreciseTimer);
    c->timer->setInterval(static_cast<int>(std::lround(c->desc.interval * 1000)));
    const int handle = p->handle;
    /* A tick that falls inside a library call (a nested wait) is missed,
     * not queued. */
    QObject::connect(c->timer, &QTimer::timeout, c->timer, [handle, id] {
        if (!UiInCall())
            UiDispatch(handle, id, EVENT_TIMER_TICK, 0, 0);
    });
    UiApplyTimer(c);
}

/* Creates the widget of an option, LED, decoration or text message. */
QWidget *BuildPlain(UiPanel *p, UiControl *c, int id)
{
    if (c->desc.kind == CTRL_BINARY_SWITCH) {
        QCheckBox *box = new QCheckBox(ButtonText(c->desc.label), p->window);
        box->setChecked(c->desc.intValue != 0);
        CommitOn(p, id, box, &QCheckBox::clicked);
        return box;
    }
    if (c->desc.kind == CTRL_LED) {
        LedWidget *led = new LedWidget(p->window);
        led->setOn(c->desc.intValue != 0);
        return led;
    }
    if (c->desc.kind == CTRL_DECORATION) {
        QFrame *frame = new QFrame(p->window);
        frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        return frame;
    }
    TextMessage *text = new TextMessage(QString::fromLatin1(c->desc.text.c_str()), p->window);
    text->setTextFormat(Qt::PlainText);
    return text;
}

/* Creates the widget of c (NULL for a timer). */
QWidget *BuildWidget(UiPanel *p, UiControl *c, int id)
{
    switch (c->desc.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_COMMAND_BUTTON: return BuildButton(p, c, id);
    case CTRL_RING: return BuildRing(p, c, id);
    case CTRL_STRING: return BuildString(p, c);
    case CTRL_NUMERIC: return BuildNumeric(p, c, id);
    case CTRL_RING_SLIDE: return BuildRingSlide(p, c, id);
    case CTRL_LIST_BOX: return BuildListBox(p, c);
    case CTRL_TEXT_BOX: return BuildTextBox(p, c);
    case CTRL_TIMER: BuildTimer(p, c, id); return nullptr;
    default: return BuildPlain(p, c, id);
    }
}

/* True for the kinds whose label is a widget of its own. */
bool HasSeparateLabel(int kind)
{
    return kind == CTRL_RING || kind == CTRL_STRING || kind == CTRL_LED || kind == CTRL_NUMERIC ||
           kind == CTRL_RING_SLIDE || kind == CTRL_LIST_BOX || kind == CTRL_TEXT_BOX;
}

/* Places c's label above, left of or right of its rectangle. */
void BuildLabel(UiPanel *p, UiControl *c)
{
    const ControlDesc &d = c->desc;
    QLabel *label = new QLabel(QString::fromLatin1(d.label.c_str()), p->window);
    label->setTextFormat(Qt::PlainText);
    const QSize hint = label->sizeHint();
    if (d.labelSide == LABEL_TOP)
        label->setGeometry(d.x, d.y - hint.height() - 3, qMax(d.width, hint.width()), hint.height());
    else if (d.labelSide == LABEL_LEFT)
        label->setGeometry(d.x - hint.width() - 6, d.y + (d.height - hint.height()) / 2,
                           hint.width(), hint.height());
    else
        label->setGeometry(d.x + d.width + 6, d.y + (d.height - hint.height()) / 2, hint.width(),
                           hint.height());
    label->setEnabled(!d.dimmed);
    c->label = label;
}

}  // namespace

void UiBuildControl(UiPanel *p, int id)
{
    UiControl *c = &p->controls[static_cast<size_t>(id - 2)];
    QWidget *w = BuildWidget(p, c, id);
    c->widget = w;
    if (!w)
        return;
    w->setGeometry(c->desc.x, c->desc.y, c->desc.width, c->desc.height);
    w->setEnabled(!c->desc.dimmed);
    if (c->desc.kind == CTRL_DECORATION)
        w->lower();
    else
        w->installEventFilter(new ControlFilter(p->handle, id, c->desc.kind, w));
    if (c->desc.kind == CTRL_LIST_BOX)
        static_cast<QListWidget *>(w)->viewport()->installEventFilter(
            new ControlFilter(p->handle, id, c->desc.kind, w));
    if (HasSeparateLabel(c->desc.kind) && !c->desc.label.empty())
        BuildLabel(p, c);
}
