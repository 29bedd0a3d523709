/*
 * widgets.cpp -- PanelWindow, LedWidget, ToggleButton, RingSlide and
 * Latin1Validator (widgets.h; TextMessage is whole there).
 */
#include "widgets.h"
#include "uicore.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QWindow>

/* ---- PanelWindow ---- */

PanelWindow::PanelWindow(int handle, QWidget *parent)
    : QWidget(parent, parent ? Qt::Dialog : Qt::Window), handle_(handle)
{
}

bool PanelWindow::takeAwaitingScreen()
{
    const bool awaiting = awaitingScreen_;
    awaitingScreen_ = false;
    return awaiting;
}

/* Shown by the program (a spontaneous Show is a restore from minimised):
 * awaiting the screen until its window reports being exposed. */
bool PanelWindow::event(QEvent *event)
{
    if (event->type() == QEvent::Show && !event->spontaneous() && windowHandle()) {
        awaitingScreen_ = !windowHandle()->isExposed();
        windowHandle()->installEventFilter(this);
    }
    return QWidget::event(event);
}

/* Watches the panel's own window: exposed once, it has been on the screen. */
bool PanelWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed())
        awaitingScreen_ = false;
    return QWidget::eventFilter(watched, event);
}

/* The window manager's close never closes the window by itself: it
 * commits the panel's close control, whose callback decides. */
void PanelWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    UiPanel *p = UiFindPanel(handle_);
    if (p && p->closeControl)
        UiDispatch(handle_, p->closeControl, EVENT_COMMIT, 0, 0);
}

/* Esc that no control of a popup (a panel shown modal by InstallPopup)
 * used commits the popup's close control, as the window manager's close
 * does. A panel that is no popup leaves Esc to its shortcuts (Quit). */
void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    UiPanel *p = UiFindPanel(handle_);
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier ||
        !isModal() || !p || !p->closeControl) {
        QWidget::keyPressEvent(event);
        return;
    }
    UiDispatch(handle_, p->closeControl, EVENT_COMMIT, 0, 0);
}

/* ---- Lamps ---- */

namespace {

const QColor kLitFace(150, 230, 125);   /* face of a toggle button that is in */

/* Paints a round lamp of diameter d centred in area: green and glowing
 * when on, dark when off. */
void PaintLamp(QPainter *painter, const QRectF &area, qreal d, bool on)
{
    const QRectF lamp(area.center() - QPointF(d / 2, d / 2), QSizeF(d, d));
    QRadialGradient glow(lamp.center() - QPointF(d / 6, d / 6), d / 1.5);
    glow.setColorAt(0, on ? QColor(190, 255, 160) : QColor(70, 85, 70));
    glow.setColorAt(1, on ? QColor(30, 170, 30) : QColor(20, 35, 20));
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(glow);
    painter->setPen(QPen(QColor(40, 40, 40), 1.2));
    painter->drawEllipse(lamp);
}

}  // namespace

/* ---- LedWidget ---- */

LedWidget::LedWidget(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void LedWidget::setOn(bool on)
{
    if (on != on_) {
        on_ = on;
        update();
    }
}

void LedWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    PaintLamp(&painter, rect(), qMin(width(), height()) - 2.0, on_);
}

/* ---- ToggleButton ---- */

ToggleButton::ToggleButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setCheckable(true);
}

/* The style draws the face (green when in) and the text beside the lamp;
 * the lamp sits in a square at the left end. */
void ToggleButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (isChecked()) {
        option.palette.setColor(QPalette::Button, kLitFace);
        option.palette.setColor(QPalette::ButtonText, Qt::black);
    }
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    const int side = height();
    option.rect.setLeft(option.rect.left() + side);
    painter.drawControl(QStyle::CE_PushButtonLabel, option);
    PaintLamp(&painter, QRectF(0, 0, side, side), side * 0.55, isChecked());
}

/* ---- RingSlide ---- */

RingSlide::RingSlide(QWidget *parent, int width, int height) : QWidget(parent)
{
    resize(width, height);
    model_ = new QStandardItemModel(0, 1, this);
    slider_ = new QSlider(Qt::Vertical, this);
    slider_->setInvertedAppearance(true);
    slider_->setInvertedControls(true);
    slider_->setTickPosition(QSlider::TicksRight);
    slider_->setTickInterval(1);
    slider_->setPageStep(1);
    slider_->setTracking(false);
    slider_->setRange(0, 0);
    setFocusProxy(slider_);
    connect(slider_, &QSlider::valueChanged, this, &RingSlide::choiceMade);
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { rowsInserted(first, last); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { rowsRemoved(first, last); });
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) { labelsChanged(from.row(), to.row()); });
}

QStandardItemModel *RingSlide::model() const
{
    return model_;
}

int RingSlide::index() const
{
    return labels_.empty() ? -1 : slider_->value();
}

/* Moves to index without telling anyone (a program's change). */
void RingSlide::setIndex(int index)
{
    const QSignalBlocker block(slider_);
    slider_->setValue(index);
}

/* Rows first..last are new: a label for each, and the current position
 * stays on its item. */
void RingSlide::rowsInserted(int first, int last)
{
    const int n = last - first + 1;
    for (int i = first; i <= last; i++) {
        QLabel *l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->installEventFilter(this);
        l->show();
        labels_.insert(labels_.begin() + i, l);
    }
    const QSignalBlocker block(slider_);
    const int current = slider_->value();
    slider_->setRange(0, qMax(0, count() - 1));
    slider_->setValue(count() > n && first <= current ? current + n : current);
    labelsChanged(first, last);
}

/* Rows first..last are gone: the current position stays on its item, or,
 * when that went, on the item that took its place (the last one at the
 * end). */
void RingSlide::rowsRemoved(int first, int last)
{
    const int n = last - first + 1;
    for (int i = first; i <= last; i++)
        delete labels_[static_cast<size_t>(i)];
    labels_.erase(labels_.begin() + first, labels_.begin() + last + 1);
    const QSignalBlocker block(slider_);
    const int current = slider_->value();
    slider_->setRange(0, qMax(0, count() - 1));
    if (current > last)
        slider_->setValue(current - n);
    else
        slider_->setValue(qMin(qMin(current, first), qMax(0, count() - 1)));
    relayout();
}

/* The labels of rows first..last show the display role anew. */
void RingSlide::labelsChanged(int first, int last)
{
    for (int i = qMax(first, 0); i <= last && i < count(); i++)
        labels_[static_cast<size_t>(i)]->setText(model_->index(i, 0).data(Qt::DisplayRole).toString());
    relayout();
}

/* A click on a label is the operator choosing that position. */
bool RingSlide::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress || !isEnabled())
        return QWidget::eventFilter(watched, event);
    for (size_t i = 0; i < labels_.size(); i++) {
        if (labels_[i] == watched) {
            slider_->setFocus(Qt::MouseFocusReason);
            slider_->setValue(static_cast<int>(i));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RingSlide::resizeEvent(QResizeEvent *)
{
    relayout();
}

/* Puts the slider along the left edge and each label level with its
 * position (the handle's centre runs from half a handle below the top to
 * half a handle above the bottom). */
void RingSlide::relayout()
{
    const int sw = slider_->sizeHint().width();
    slider_->setGeometry(0, 0, sw, height());
    const int half = slider_->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider_) / 2;
    const int n = count();
    for (int i = 0; i < n; i++) {
        QLabel *l = labels_[static_cast<size_t>(i)];
        const int lh = l->sizeHint().height();
        const int centre = n == 1 ? height() / 2 : half + i * (height() - 2 * half) / (n - 1);
        l->setGeometry(sw + 6, qBound(0, centre - lh / 2, qMax(0, height() - lh)), width() - sw - 6, lh);
    }
}

/* ---- Latin1Validator ---- */

QValidator::State Latin1Validator::validate(QString &input, int &) const
{
    for (QChar c : input)
        if (c.unicode() > 0xFF)
            return Invalid;
    return Acceptable;
}
