/*
 * panel.cpp -- panels: LoadPanel reads a panel file (a relative name is
 * taken from the executable's directory), binds the callbacks it names
 * through the registered table and builds the window with its controls;
 * DisplayPanel, InstallPopup and DiscardPanel show and remove it; the panel
 * attributes; and, for tests, the widgets behind handles (platform_qt.h).
 * Tab walks a panel's controls in reading order (TabOrder).
 */
#include "platform_qt.h"
#include "uicore.h"
#include "widgets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

/* Reads the panel file name into *data. Returns 0, UIE_FILE_NOT_FOUND when
 * it cannot be read, or UIE_FILE_MALFORMED when it is too large to be one. */
int ReadPanelFile(const char *fileName, QByteArray *data)
{
    if (!fileName || !*fileName)
        return UIE_FILE_NOT_FOUND;
    QString path = QFile::decodeName(fileName);
    if (QDir::isRelativePath(path))
        path = QDir(QCoreApplication::applicationDirPath()).filePath(path);
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return UIE_FILE_NOT_FOUND;
    *data = file.read(PANELFILE_MAX_BYTES + 1);
    if (file.error() != QFileDevice::NoError)
        return UIE_FILE_NOT_FOUND;
    return data->size() > PANELFILE_MAX_BYTES ? UIE_FILE_MALFORMED : 0;
}

/* Finds the function of every callback d names. Returns 0 and fills *fns
 * (one per control, NULL where none is named) or UIE_CALLBACK_NOT_FOUND. */
int BindCallbacks(const PanelDesc &d, std::vector<CtrlCallbackPtr> *fns)
{
    for (const ControlDesc &c : d.controls) {
        CtrlCallbackPtr fn = nullptr;
        if (!c.callback.empty() && !UiLookupCallback(c.callback, &fn))
            return UIE_CALLBACK_NOT_FOUND;
        fns->push_back(fn);
    }
    return 0;
}

/* Creates the window and controls of d, hidden, as a child of parent
 * (NULL for top level). Returns the new handle. */
int BuildPanel(const PanelDesc &d, const std::vector<CtrlCallbackPtr> &fns, UiPanel *parent)
{
    UiPanel *p = new UiPanel;
    p->parent = parent ? parent->handle : 0;
    p->number = d.number;
    p->constant = d.constant;
    p->closeControl = d.closeControl;
    const int handle = UiAddPanel(p);
    p->window = new PanelWindow(handle, parent ? parent->window : nullptr);
    p->title = d.title;
    p->window->setWindowTitle(QString::fromLatin1(d.title.c_str()));
    p->window->setFixedSize(d.width, d.height);
    p->controls.resize(d.controls.size());
    for (size_t i = 0; i < d.controls.size(); i++) {
        p->controls[i].desc = d.controls[i];
        p->controls[i].callback = fns[i];
        UiBuildControl(p, static_cast<int>(i) + 2);
    }
    const std::vector<int> order = TabOrder(d);
    for (size_t i = 1; i < order.size(); i++)
        QWidget::setTabOrder(p->controls[static_cast<size_t>(order[i - 1] - 2)].widget,
                             p->controls[static_cast<size_t>(order[i] - 2)].widget);
    /* A hidden window keeps the focus widget for when it shows. */
    if (d.activeControl && p->controls[d.activeControl - 2].widget)
        p->controls[d.activeControl - 2].widget->setFocus(Qt::OtherFocusReason);
    return handle;
}

/* Collects handle and, depth first, all its child panels into *out. */
void CollectPanels(int handle, std::vector<int> *out)
{
    out->push_back(handle);
    for (int child : UiChildPanels(handle))
        CollectPanels(child, out);
}

/* Puts window w in the middle of its parent window, if it has one. */
void CenterOnParent(QWidget *w)
{
    QWidget *parent = w->parentWidget();
    if (!parent || !parent->isVisible())
        return;
    const QRect pg = parent->frameGeometry();
    w->move(pg.center() - QPoint(w->width() / 2, w->height() / 2));
}

}  // namespace

int LoadPanel(int parentPanel, const char *fileName, int panelNumber)
{
    UiCall call;
    if (!UiReady())
        return UIE_NOT_INITIALIZED;
    UiPanel *parent = nullptr;
    if (parentPanel != 0 && !(parent = UiFindPanel(parentPanel)))
        return UIE_INVALID_PANEL;
    QByteArray data;
    int rc = ReadPanelFile(fileName, &data);
    if (rc != 0)
        return rc;
    std::vector<PanelDesc> panels;
    if (ParsePanelFile(data, &panels, nullptr) != 0)
        return UIE_FILE_MALFORMED;
    const PanelDesc *d = FindPanelDesc(panels, panelNumber);
    if (!d)
        return UIE_PANEL_NOT_FOUND;
    std::vector<CtrlCallbackPtr> fns;
    if ((rc = BindCallbacks(*d, &fns)) != 0)
        return rc;
    return BuildPanel(*d, fns, parent);
}

int DisplayPanel(int panel)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    p->window->show();
    p->window->activateWindow();
    return 0;
}

int InstallPopup(int panel)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    /* Modality takes effect when a window is shown, so show it anew. */
    p->window->hide();
    p->window->setWindowModality(Qt::ApplicationModal);
    CenterOnParent(p->window);
    p->window->show();
    p->window->activateWindow();
    return 0;
}

int DiscardPanel(int panel)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    std::vector<int> handles;
    CollectPanels(panel, &handles);
    /* The widgets may be inside one of their own signals right now (a
     * callback discarding its own panel): delete them from the event loop. */
    QWidget *root = p->window;
    for (int h : handles) {
        UiPanel *q = UiFindPanel(h);
        q->window->hide();
        for (UiControl &c : q->controls)
            if (c.timer)
                c.timer->stop();
        UiRemovePanel(h);
    }
    root->deleteLater();
    return 0;
}

int GetPanelAttribute(int panel, int attribute, char *value)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    if (!value)
        return UIE_INVALID_VALUE;
    if (attribute == ATTR_TITLE)
        UiCopyOut(p->title, PLATFORM_TITLE_SIZE - 1, value);
    else if (attribute == ATTR_CONSTANT_NAME)
        UiCopyOut(p->constant, PLATFORM_NAME_SIZE - 1, value);
    else if (attribute == ATTR_NUM_CTRLS || attribute == ATTR_PANEL_NUMBER ||
             attribute == ATTR_PARENT_PANEL || attribute == ATTR_CLOSE_CTRL)
        return UIE_TYPE_MISMATCH;
    else
        return UIE_INVALID_ATTRIBUTE;
    return 0;
}

int GetPanelAttribute(int panel, int attribute, int *value)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    if (!value)
        return UIE_INVALID_VALUE;
    switch (attribute) {
    case ATTR_NUM_CTRLS: *value = static_cast<int>(p->controls.size()); return 0;
    case ATTR_PANEL_NUMBER: *value = p->number; return 0;
    case ATTR_PARENT_PANEL: *value = p->parent; return 0;
    case ATTR_CLOSE_CTRL: *value = p->closeControl; return 0;
    case ATTR_TITLE:
    case ATTR_CONSTANT_NAME: return UIE_TYPE_MISMATCH;
    default: return UIE_INVALID_ATTRIBUTE;
    }
}

int SetPanelAttribute(int panel, int attribute, const char *value)
{
    UiCall call;
    UiPanel *p;
    const int found = UiGetPanel(panel, &p);
    if (found != 0)
        return found;
    if (attribute != ATTR_TITLE)
        return UIE_INVALID_ATTRIBUTE;
    if (!value)
        return UIE_INVALID_VALUE;
    p->title.assign(value, strnlen(value, PLATFORM_TITLE_SIZE - 1));
    UiTitleSet();
    return 0;
}

/* ---- For tests (platform_qt.h). ---- */

QWidget *GetPanelWidget(int panel)
{
    UiPanel *p = UiFindPanel(panel);
    return p ? p->window : nullptr;
}

QWidget *GetCtrlWidget(int panel, int control)
{
    UiControl *c;
    return UiFindControl(panel, control, &c) == 0 ? c->widget : nullptr;
}
