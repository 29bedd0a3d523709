/*
 * platform_qt.h -- the Qt side of the user-interface library, for tests
 * only: the widgets behind a panel handle and a control ID, so that a test
 * can drive them with QTest as an operator would.
 */
#ifndef QUENTA_PLATFORM_QT_H
#define QUENTA_PLATFORM_QT_H

class QWidget;

/* Returns the window of panel, or NULL for an unknown handle. */
QWidget *GetPanelWidget(int panel);

/* Returns the widget of control of panel (the spin box of a numeric, the
 * list widget of a list box, ...), or NULL for an unknown control or a
 * timer. */
QWidget *GetCtrlWidget(int panel, int control);

#endif
