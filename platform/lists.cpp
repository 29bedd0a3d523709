/*
 * lists.cpp -- the items of rings, ring slides and list boxes (lists.h),
 * and the program's operations on them: GetNumListItems, InsertListItem,
 * DeleteListItem, SetCtrlIndex, GetCtrlIndex, GetLabelFromIndex and
 * GetValueFromIndex. Every kind is served by the same code; only the
 * current item is asked of the kind's widget.
 */
#include "uicore.h"
#include "widgets.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStandardItemModel>

/* ---- The items (lists.h). ---- */

int ItemList::count() const
{
    return model_->rowCount();
}

std::string ItemList::label(int index) const
{
    return model_->index(index, 0).data(Qt::DisplayRole).toString().toLatin1().toStdString();
}

QVariant ItemList::value(int index) const
{
    return model_->index(index, 0).data(Qt::UserRole);
}

/* True when a and b are the same value: bytes by bytes, numbers by number. */
static bool SameValue(const QVariant &a, const QVariant &b)
{
    const bool aBytes = a.typeId() == QMetaType::QByteArray;
    const bool bBytes = b.typeId() == QMetaType::QByteArray;
    if (aBytes || bBytes)
        return aBytes && bBytes && a.toByteArray() == b.toByteArray();
    return a.toDouble() == b.toDouble();
}

int ItemList::find(const QVariant &wanted) const
{
    for (int i = 0; i < count(); i++)
        if (SameValue(value(i), wanted))
            return i;
    return -1;
}

void ItemList::insert(int index, const std::string &label, const QVariant &value)
{
    const QSignalBlocker block(widget_);
    insertRow(index, QString::fromLatin1(label.c_str()), value);
}

void ItemList::remove(int index)
{
    const QSignalBlocker block(widget_);
    model_->removeRow(index);
}

namespace {

/* The items of a ring or a ring slide: rows of a QStandardItemModel. */
class StandardItems : public ItemList {
public:
    StandardItems(QStandardItemModel *model, QWidget *widget) : ItemList(model, widget), model_(model) {}

protected:
    void insertRow(int index, const QString &text, const QVariant &value) override
    {
        QStandardItem *item = new QStandardItem(text);
        item->setData(value, Qt::UserRole);
        model_->insertRow(index, item);
    }

private:
    QStandardItemModel *model_;
};

class RingItems : public StandardItems {
public:
    RingItems(QComboBox *ring, QStandardItemModel *model) : StandardItems(model, ring), ring_(ring) {}
    int current() const override { return ring_->currentIndex(); }
    void setCurrent(int index) override
    {
        const QSignalBlocker block(ring_);
        ring_->setCurrentIndex(index);
    }

private:
    QComboBox *ring_;
};

class SlideItems : public StandardItems {
public:
    explicit SlideItems(RingSlide *slide) : StandardItems(slide->model(), slide), slide_(slide) {}
    int current() const override { return slide_->index(); }
    void setCurrent(int index) override { slide_->setIndex(index); }

private:
    RingSlide *slide_;
};

class ListBoxItems : public ItemList {
public:
    explicit ListBoxItems(QListWidget *list) : ItemList(list->model(), list), list_(list) {}
    int current() const override { return list_->currentRow(); }
    void setCurrent(int index) override
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(index);
    }

protected:
    void insertRow(int index, const QString &text, const QVariant &value) override
    {
        QListWidgetItem *item = new QListWidgetItem(text);
        item->setData(Qt::UserRole, value);
        list_->insertItem(index, item);
    }

private:
    QListWidget *list_;
};

/* Looks up a list control for a library call; returns 0, UIE_TYPE_MISMATCH
 * for a control that is no list, or a code of UiFindControl. */
int FindList(int panel, int control, UiControl **c)
{
    const int rc = UiFindControl(panel, control, c);
    if (rc != 0)
        return rc;
    return (*c)->items ? 0 : UIE_TYPE_MISMATCH;
}

/* As FindList, and out (where the caller's result goes) must not be NULL:
 * UIE_INVALID_VALUE, told before UIE_TYPE_MISMATCH. */
int FindListFor(int panel, int control, const void *out, UiControl **c)
{
    const int rc = UiFindControl(panel, control, c);
    if (rc != 0)
        return rc;
    if (!out)
        return UIE_INVALID_VALUE;
    return (*c)->items ? 0 : UIE_TYPE_MISMATCH;
}

/* As FindList, and index must name one of the items: UIE_INVALID_INDEX. */
int FindItem(int panel, int control, int index, UiControl **c)
{
    const int rc = FindList(panel, control, c);
    if (rc != 0)
        return rc;
    return index >= 0 && index < (*c)->items->count() ? 0 : UIE_INVALID_INDEX;
}

/* As FindItem, and out must not be NULL: UIE_INVALID_VALUE, told last. */
int FindItemFor(int panel, int control, int index, const void *out, UiControl **c)
{
    const int rc = FindItem(panel, control, index, c);
    if (rc != 0)
        return rc;
    return out ? 0 : UIE_INVALID_VALUE;
}

/* True for a ring whose items hold texts. */
bool HasTextValues(const UiControl *c)
{
    return c->desc.kind == CTRL_RING && c->desc.stringItems;
}

}  // namespace

ItemList *NewItemList(QComboBox *ring)
{
    /* A combo box keeps its items in a QStandardItemModel of its own. */
    return new RingItems(ring, qobject_cast<QStandardItemModel *>(ring->model()));
}

ItemList *NewItemList(RingSlide *slide)
{
    return new SlideItems(slide);
}

ItemList *NewItemList(QListWidget *list)
{
    return new ListBoxItems(list);
}

/* ---- The program's list operations (platform.h). ---- */

int GetNumListItems(int panel, int control, int *count)
{
    UiCall call;
    UiControl *c;
    const int rc = FindListFor(panel, control, count, &c);
    if (rc == 0)
        *count = c->items->count();
    return rc;
}

int InsertListItem(int panel, int control, int index, const char *label, int value)
{
    UiCall call;
    UiControl *c;
    const int rc = FindList(panel, control, &c);
    if (rc != 0)
        return rc;
    if (HasTextValues(c))
        return UIE_TYPE_MISMATCH;
    if (!label)
        return UIE_INVALID_VALUE;
    const int n = c->items->count();
    if (index < -1 || index > n)
        return UIE_INVALID_INDEX;
    c->items->insert(index == -1 ? n : index, UiCutText(label, PLATFORM_LABEL_SIZE - 1).toStdString(),
                     value);
    return 0;
}

/* The items go one at a time, so that each kind moves its current item
 * as it does when the operator's list loses one item. */
int DeleteListItem(int panel, int control, int index, int count)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    if (count < -1)
        return UIE_INVALID_VALUE;
    const int left = c->items->count() - index;
    const int n = (count == -1 || count > left) ? left : count;
    for (int i = 0; i < n; i++)
        c->items->remove(index);
    return 0;
}

int SetCtrlIndex(int panel, int control, int index)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItem(panel, control, index, &c);
    if (rc != 0)
        return rc;
    c->items->setCurrent(index);
    return 0;
}

int GetCtrlIndex(int panel, int control, int *index)
{
    UiCall call;
    UiControl *c;
    const int rc = FindListFor(panel, control, index, &c);
    if (rc == 0)
        *index = c->items->current();
    return rc;
}

int GetLabelFromIndex(int panel, int control, int index, char *label)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItemFor(panel, control, index, label, &c);
    if (rc == 0)
        UiCopyOut(c->items->label(index), PLATFORM_LABEL_SIZE - 1, label);
    return rc;
}

int GetValueFromIndex(int panel, int control, int index, int *value)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItemFor(panel, control, index, value, &c);
    if (rc != 0)
        return rc;
    if (HasTextValues(c))
        return UIE_TYPE_MISMATCH;
    *value = c->items->value(index).toInt();
    return 0;
}

int GetValueFromIndex(int panel, int control, int index, char *value)
{
    UiCall call;
    UiControl *c;
    const int rc = FindItemFor(panel, control, index, value, &c);
    if (rc != 0)
        return rc;
    if (!HasTextValues(c))
        return UIE_TYPE_MISMATCH;
    UiCopyOut(c->items->value(index).toByteArray().toStdString(), PLATFORM_STRING_SIZE - 1, value);
    return 0;
}
