/*
 * listrows.h -- inside the user-interface library: how a list box paints
 * its rows. A row shows one line, cut with "..." where it is wider than the
 * list, and looks as Qt's own delegate paints it. Its text is laid out once,
 * when the row is first painted, and painted from that layout after; a row
 * that is not selected is kept as a picture too, so rows that merely move
 * down when a line comes in at the top are copied, not drawn anew. Only as
 * much of a long label is laid out as can be seen; the label itself stays
 * whole in the list's model.
 */
#ifndef QUENTA_LISTROWS_H
#define QUENTA_LISTROWS_H

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <memory>

class QListView;

class ListRowDelegate : public QStyledItemDelegate {
public:
    /* view: the list box whose rows this paints; it becomes the parent. */
    explicit ListRowDelegate(QListView *view);
    ~ListRowDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    /* One line of the row's font high; narrow, so that the list never
     * scrolls sideways (a row shows what fits, the popup shows it whole). */
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    /* How many row texts were laid out so far: one for each new label, and
     * every row again after the width, the font or the alignment changed. */
    long layoutsMade() const { return layouts_; }
    /* How many row pictures were drawn so far. */
    long picturesMade() const { return pictures_; }
    /* How many rows are kept now. */
    int rowsKept() const { return static_cast<int>(rows_.size()); }

private:
    /* What a kept row picture shows besides its text. */
    struct Look {
        QSize size;
        int colours = 0; /* QPalette::ColorGroup of its text */
        qint64 palette = 0;
        qreal pixelRatio = 0;
        const void *style = nullptr;
        bool operator==(const Look &o) const;
    };
    struct Row {
        std::shared_ptr<QTextLayout> layout;
        QPixmap picture; /* the row painted, not selected, as pictureLook says */
        Look pictureLook;
        unsigned long used = 0; /* clock_ at its last paint, for eviction */
    };
    Row &rowFor(const QString &text, const QStyleOptionViewItem &opt, int width) const;
    const QPixmap &pictureOf(Row &row, const QStyleOptionViewItem &opt, const QRect &textRect, qreal ratio) const;
    void evictOldRows(int keep) const;

    /* Painting is const to Qt; what is kept here is not what is painted. */
    mutable QHash<QString, Row> rows_; /* by the row's display text */
    mutable QFont font_;               /* what the kept layouts were made for */
    mutable int width_ = -1;
    mutable Qt::Alignment alignment_;
    mutable Qt::LayoutDirection direction_ = Qt::LayoutDirectionAuto;
    mutable unsigned long clock_ = 0;  /* rows painted so far */
    mutable long layouts_ = 0;
    mutable long pictures_ = 0;
    mutable int rowHeight_ = -1;       /* sizeHint's height, for heightFont_ */
    mutable QFont heightFont_;
};

#endif
