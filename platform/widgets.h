/*
 * widgets.h -- the few widgets Qt does not have ready: the panel window
 * (which turns a window-manager close, and Esc in a popup, into a commit
 * of its close control, and knows whether it has reached the screen since
 * it was shown), the LED lamp, the toggle button that lights up when on,
 * the ring slide (a slider with a label at each position), the text
 * message and the validator that keeps text fields to Latin-1.
 */
#ifndef QUENTA_WIDGETS_H
#define QUENTA_WIDGETS_H

#include <QLabel>
#include <QPushButton>
#include <QValidator>
#include <QWidget>

#include <vector>

class QSlider;
class QStandardItemModel;

/* A panel's window. handle is the panel handle it belongs to. */
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    PanelWindow(int handle, QWidget *parent);
    /* True once after the program showed the window (DisplayPanel,
     * InstallPopup) while the window system has not yet shown it: the one
     * moment worth waiting for before a blocking call (onscreen.cpp).
     * False for a window that has been on the screen since, and is off it
     * now (minimised, unmapped by the window manager). */
    bool takeAwaitingScreen();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int handle_;
    bool awaitingScreen_ = false;
};

/* A round lamp: green when on, dark when off. Takes no input. Its value
 * (the user property) is whether it is on. */
class LedWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn WRITE setOn USER true)
public:
    explicit LedWidget(QWidget *parent);
    void setOn(bool on);
    bool isOn() const { return on_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool on_ = false;
};

/* A push button that stays in or out. In, it is lit: a green lamp at its
 * left and a green face; out, the lamp is dark and the face plain, so the
 * state shows at a glance in any style and language. */
class ToggleButton : public QPushButton {
    Q_OBJECT
public:
    ToggleButton(const QString &text, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

/* A vertical slider with one position per item, the first at the top, and
 * each item's label beside its position. A click on a label moves there.
 * The items are the rows of model(): label in the display role, value in
 * the user role. choiceMade() is emitted only for the operator's moves. */
class RingSlide : public QWidget {
    Q_OBJECT
public:
    RingSlide(QWidget *parent, int width, int height);
    QStandardItemModel *model() const;
    int count() const { return static_cast<int>(labels_.size()); }
    int index() const;
    void setIndex(int index);
    QSlider *slider() const { return slider_; }

signals:
    void choiceMade();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rowsInserted(int first, int last);
    void rowsRemoved(int first, int last);
    void labelsChanged(int first, int last);
    void relayout();

    QStandardItemModel *model_;
    QSlider *slider_;
    std::vector<QLabel *> labels_;
};

/* A text message: a label whose text is its value (its user property). */
class TextMessage : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText USER true)
public:
    explicit TextMessage(const QString &text, QWidget *parent) : QLabel(text, parent) {}
};

/* Accepts text made of Latin-1 characters only. */
class Latin1Validator : public QValidator {
    Q_OBJECT
public:
    explicit Latin1Validator(QObject *parent) : QValidator(parent) {}
    State validate(QString &input, int &pos) const override;
};

#endif
