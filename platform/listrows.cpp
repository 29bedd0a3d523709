/*
 * listrows.cpp -- the painting of list box rows (listrows.h). A row looks
 * as Qt's own item delegate paints it (the style's background, text colour,
 * margins, "..." at the right and focus frame), but its text is laid out
 * once and kept, by its display text, as long as it is painted now and
 * then, and so is the picture of the row when it is not selected. Qt's
 * delegate shapes every row again at every repaint, and a long label whole
 * three times; right after each send, and at a few hundred lines a second,
 * that was most of the program's work.
 */
#include "listrows.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QListView>
#include <QPainter>
#include <QStyle>
#include <QTextOption>

namespace {

const int kSpareRows = 4;         /* rows kept beyond those the list can show */
const QChar kEllipsis(0x2026);
const int kNarrowCharPixels = 4;  /* the first guess of how narrow a character is */

/* The first line of text (which a row shows), with "..." after it when more
 * lines follow: as the style shows a row that is one line high. */
QString FirstLine(const QString &text)
{
    const qsizetype end = text.indexOf(QChar::LineSeparator);
    return end < 0 ? text : text.left(end) + kEllipsis;
}

/*
 * The start of text that decides how it is cut to width pixels in font:
 * text itself when it is short, else a prefix wider than width by at least
 * two of the font's widest characters, so that cutting the prefix gives the
 * same characters as cutting all of text. Never splits a surrogate pair.
 */
QString DecidingPrefix(const QString &text, const QFont &font, int width)
{
    const QFontMetricsF metrics(font);
    const qreal enough = width + 2 * metrics.maxWidth();
    qsizetype n = qMax<qsizetype>(16, static_cast<qsizetype>(enough) / kNarrowCharPixels);
    while (n < text.size()) {
        if (text.at(n - 1).isHighSurrogate())
            n++;
        if (metrics.horizontalAdvance(text.left(n)) > enough)
            return text.left(n);
        n *= 2;
    }
    return text;
}

/* Lays text out on one line of width pixels as the style does, keeping the
 * glyphs for painting. */
void LayOut(QTextLayout *layout, const QString &text, const QFont &font, const QTextOption &option, int width)
{
    layout->setText(text);
    layout->setFont(font);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
    }
    layout->endLayout();
}

/* The layout of a row that shows text in width pixels: its first line, cut
 * with "..." when it is wider, laid out from no more of text than decides
 * the cut. */
std::shared_ptr<QTextLayout> RowLayout(const QString &text, const QFont &font, const QTextOption &option,
                                       int width)
{
    auto layout = std::make_shared<QTextLayout>();
    const QString line = FirstLine(text);
    const QString start = DecidingPrefix(line, font, width);
    LayOut(layout.get(), start, font, option, width);
    if (start.size() < line.size() || layout->lineAt(0).naturalTextWidth() > width)
        LayOut(layout.get(), QFontMetrics(font).elidedText(start, Qt::ElideRight, width), font, option, width);
    return layout;
}

/* The text option of a row, as the style sets it: no wrapping, the row's
 * direction and alignment. */
QTextOption RowTextOption(const QStyleOptionViewItem &opt)
{
    QTextOption option;
    option.setWrapMode(QTextOption::ManualWrap);
    option.setTextDirection(opt.direction);
    option.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    return option;
}

/* The colour group of the row: disabled, inactive window, or normal. */
QPalette::ColorGroup RowGroup(const QStyleOptionViewItem &opt)
{
    if (!(opt.state & QStyle::State_Enabled))
        return QPalette::Disabled;
    return (opt.state & QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
}

/* The style of the row's widget. */
QStyle *RowStyle(const QStyleOptionViewItem &opt)
{
    return opt.widget ? opt.widget->style() : QApplication::style();
}

/* Where the style puts the text of a row of no icon: opt.text must be empty
 * (the rectangle does not hang on it, and measuring it would shape it). */
QRect TextRect(const QStyleOptionViewItem &opt)
{
    QStyle *style = RowStyle(opt);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    return style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget).adjusted(margin, 0, -margin, 0);
}

/* Where the style puts a line lineHeight pixels high in textRect, by the
 * row's vertical alignment. */
QPointF TextPosition(const QStyleOptionViewItem &opt, const QRect &textRect, qreal lineHeight)
{
    qreal y = textRect.top();
    if (opt.displayAlignment & Qt::AlignVCenter)
        y += (textRect.height() - lineHeight) / 2;
    else if (opt.displayAlignment & Qt::AlignBottom)
        y = textRect.bottom() + 1 - lineHeight;
    return QPointF(textRect.left(), y);
}

/* Draws the focus frame of a current row as the style does. */
void DrawFocus(QPainter *painter, const QStyleOptionViewItem &opt)
{
    QStyle *style = RowStyle(opt);
    QStyleOptionFocusRect o;
    o.QStyleOption::operator=(opt);
    o.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &opt, opt.widget);
    o.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
    o.backgroundColor = opt.palette.color(RowGroup(opt), (opt.state & QStyle::State_Selected)
                                                             ? QPalette::Highlight
                                                             : QPalette::Window);
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &o, painter, opt.widget);
}

/* Paints a row as the style does: background, text from layout (none for
 * an empty row), focus frame. opt.text is empty; textRect from TextRect. */
void PaintRow(QPainter *painter, const QStyleOptionViewItem &opt, const QRect &textRect, const QTextLayout *layout)
{
    painter->save();
    painter->setClipRect(opt.rect);
    RowStyle(opt)->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, opt.widget);
    if (layout) {
        const QPalette::ColorRole role =
            (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
        painter->setPen(opt.palette.color(RowGroup(opt), role));
        layout->draw(painter, TextPosition(opt, textRect, layout->lineAt(0).height()));
    }
    if (opt.state & QStyle::State_HasFocus)
        DrawFocus(painter, opt);
    painter->restore();
}

/* True for a row that this delegate paints: text only, not being edited. */
bool PaintsItself(const QStyleOptionViewItem &opt)
{
    const auto foreign = QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator;
    return !(opt.features & foreign) && !(opt.state & QStyle::State_Editing);
}

/* True when a picture of the row, drawn on the list's plain background,
 * looks as the row painted in place: the row is neither selected nor
 * current, and the list fills its background with one colour. */
bool PictureFits(const QStyleOptionViewItem &opt)
{
    const auto *view = qobject_cast<const QAbstractItemView *>(opt.widget);
    if (!view || (opt.state & (QStyle::State_Selected | QStyle::State_HasFocus)))
        return false;
    const QWidget *viewport = view->viewport();
    return viewport->autoFillBackground() && viewport->backgroundRole() == QPalette::Base &&
           opt.palette.brush(RowGroup(opt), QPalette::Base).style() == Qt::SolidPattern;
}

/* How many rows the list of opt can show at once, at least 1. */
int RowsShown(const QStyleOptionViewItem &opt, const QModelIndex &index)
{
    const auto *view = qobject_cast<const QAbstractItemView *>(opt.widget);
    const int fit = view ? view->viewport()->height() / qMax(1, opt.rect.height()) + 1 : 1;
    return qMax(1, qMin(fit, index.model()->rowCount(index.parent())));
}

}  // namespace

bool ListRowDelegate::Look::operator==(const Look &o) const
{
    return size == o.size && colours == o.colours && palette == o.palette && pixelRatio == o.pixelRatio &&
           style == o.style;
}

ListRowDelegate::ListRowDelegate(QListView *view) : QStyledItemDelegate(view) {}

ListRowDelegate::~ListRowDelegate() = default;

/*
 * Returns the kept row whose display text is text, made and laid out to
 * width pixels in opt's font when there is none. The layouts hang on the
 * font, the alignment and direction, and width: a change of any drops every
 * kept row. The reference holds until the next call.
 */
ListRowDelegate::Row &ListRowDelegate::rowFor(const QString &text, const QStyleOptionViewItem &opt, int width) const
{
    const QTextOption option = RowTextOption(opt);
    if (width != width_ || opt.font != font_ || option.alignment() != alignment_ ||
        option.textDirection() != direction_) {
        rows_.clear();
        width_ = width;
        font_ = opt.font;
        alignment_ = option.alignment();
        direction_ = option.textDirection();
    }
    Row &row = rows_[text];
    row.used = ++clock_;
    if (!row.layout) {
        row.layout = RowLayout(text, opt.font, option, width);
        layouts_++;
    }
    return row;
}

/* Drops the rows not painted in the last keep paints of a row, once twice
 * as many are kept: a list repaint paints each row it shows once, so the
 * rows it shows stay. */
void ListRowDelegate::evictOldRows(int keep) const
{
    if (rows_.size() <= 2 * keep)
        return;
    for (auto it = rows_.begin(); it != rows_.end();)
        it = clock_ - it->used >= static_cast<unsigned long>(keep) ? rows_.erase(it) : std::next(it);
}

/* Returns the picture of row painted as opt says (neither selected nor
 * current), drawing it when the kept one has another look. opt.text is
 * empty; textRect from TextRect; ratio: the device's pixel ratio. */
const QPixmap &ListRowDelegate::pictureOf(Row &row, const QStyleOptionViewItem &opt, const QRect &textRect,
                                          qreal ratio) const
{
    const Look look{opt.rect.size(), RowGroup(opt), opt.palette.cacheKey(), ratio, RowStyle(opt)};
    if (!row.picture.isNull() && row.pictureLook == look)
        return row.picture;
    row.picture = QPixmap(opt.rect.size() * ratio);
    row.picture.setDevicePixelRatio(ratio);
    row.picture.fill(opt.palette.color(RowGroup(opt), QPalette::Base));
    QPainter p(&row.picture);
    p.translate(-opt.rect.topLeft());
    PaintRow(&p, opt, textRect, row.layout.get());
    row.pictureLook = look;
    pictures_++;
    return row.picture;
}

/*
 * Paints one row as Qt's delegate would, from its kept layout; a row that
 * is neither selected nor current is copied from its kept picture. Rows
 * with an icon or a check box are left to Qt's delegate.
 */
void ListRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (!PaintsItself(opt)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString text = opt.text;
    opt.text.clear();
    const QRect textRect = TextRect(opt);
    if (text.isEmpty()) {
        PaintRow(painter, opt, textRect, nullptr);
        return;
    }
    evictOldRows(RowsShown(opt, index) + kSpareRows);
    Row &row = rowFor(text, opt, textRect.width());
    if (PictureFits(opt)) {
        const qreal ratio = painter->device()->devicePixelRatioF();
        painter->drawPixmap(opt.rect.topLeft(), pictureOf(row, opt, textRect, ratio));
    } else {
        PaintRow(painter, opt, textRect, row.layout.get());
    }
}

/* One line high, as the style measures a row of one line in the row's font;
 * 1 pixel wide, since a row is as wide as the list anyway. */
QSize ListRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (!PaintsItself(opt))
        return QStyledItemDelegate::sizeHint(option, index);
    if (rowHeight_ < 0 || opt.font != heightFont_) {
        opt.text = QStringLiteral("0");
        rowHeight_ = RowStyle(opt)->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget).height();
        heightFont_ = opt.font;
    }
    return QSize(1, rowHeight_);
}
