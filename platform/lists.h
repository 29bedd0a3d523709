/*
 * lists.h -- inside the user-interface library: the items of a list
 * control (ring, ring slide, list box) through one interface. Every kind
 * keeps its items as the rows of a Qt item model, the label in the display
 * role and the value in the user role (a number, or the bytes of a ring
 * with text values); only the current item is the kind's own business.
 */
#ifndef QUENTA_LISTS_H
#define QUENTA_LISTS_H

#include <QString>
#include <QVariant>

#include <string>

class QAbstractItemModel;
class QComboBox;
class QListWidget;
class QWidget;
class RingSlide;

class ItemList {
public:
    /* model: the items of widget. Changes made here block widget's signals. */
    ItemList(QAbstractItemModel *model, QWidget *widget) : model_(model), widget_(widget) {}
    virtual ~ItemList() = default;
    ItemList(const ItemList &) = delete;
    ItemList &operator=(const ItemList &) = delete;

    int count() const;
    /* index: 0..count()-1 throughout. The label as Latin-1 bytes. */
    std::string label(int index) const;
    QVariant value(int index) const;
    /* The first index whose value equals wanted (numbers by number), or -1. */
    int find(const QVariant &wanted) const;
    /* index: 0..count(); label: Latin-1 bytes. The new row comes with its
     * label and value, so whoever watches the model sees it whole. Raises
     * no event. */
    void insert(int index, const std::string &label, const QVariant &value);
    /* Removes the item at index. Raises no event. */
    void remove(int index);
    /* The current item, or -1 when there is none. */
    virtual int current() const = 0;
    /* index: 0..count()-1, or -1 for none (a ring slide with items keeps
     * one). Makes it the current item without raising an event. */
    virtual void setCurrent(int index) = 0;

protected:
    /* Puts a row holding text and value in at index, in one step. */
    virtual void insertRow(int index, const QString &text, const QVariant &value) = 0;

private:
    QAbstractItemModel *model_;
    QWidget *widget_;
};

/* The items of a ring, a ring slide and a list box. */
ItemList *NewItemList(QComboBox *ring);
ItemList *NewItemList(RingSlide *slide);
ItemList *NewItemList(QListWidget *list);

#endif
