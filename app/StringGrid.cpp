#include "StringGrid.h"

#include "GridText.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <numeric>
#include <optional>

namespace {

// A dotted IPv4 address as one number; none for any other text.
std::optional<quint32> addressValue(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 value = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint octet = part.toUInt(&ok);
        if (!ok || octet > 255)
            return std::nullopt;
        value = (value << 8) | octet;
    }
    return value;
}

std::optional<qlonglong> numberValue(const QString &text)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok ? std::optional<qlonglong>(value) : std::nullopt;
}

// Negative, zero or positive as `a` sorts before, with or after `b`.
template <class Value>
int compareValues(const std::optional<Value> &a, const std::optional<Value> &b)
{
    if (a && b)
        return *a < *b ? -1 : *a > *b ? 1 : 0;
    return a ? -1 : b ? 1 : 0;
}

int compareCells(TStringGrid::SortKind kind, const QString &a, const QString &b)
{
    int order = 0;
    if (kind == TStringGrid::SortKind::Address)
        order = compareValues(addressValue(a), addressValue(b));
    else if (kind == TStringGrid::SortKind::Number)
        order = compareValues(numberValue(a), numberValue(b));
    if (order == 0)
        order = a.compare(b, Qt::CaseInsensitive);
    return order != 0 ? order : a.compare(b);
}

// Marks a cell to be painted in the warning colour, which is taken from the
// palette when painting so that a palette change recolours it.
constexpr int kWarningRole = Qt::UserRole + 1;

// Paints cells as a string grid does: the text 2 pixels from the left edge,
// clipped rather than shortened with an ellipsis, and the fixed first column
// in the palette's button colours, never highlighted, like the title row.
class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const bool fixed = index.column() == 0;
        if (fixed) {
            cell.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
            cell.backgroundBrush = TStringGrid::fixedColor(cell.palette);
        } else if (index.data(kWarningRole).toBool()) {
            cell.backgroundBrush = TStringGrid::warningColor(cell.palette);
        }
        const QWidget *view = option.widget;
        QStyle *style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);

        const bool selected = cell.state & QStyle::State_Selected;
        painter->save();
        painter->setClipRect(cell.rect);
        painter->setFont(cell.font);
        painter->setPen(fixed      ? TStringGrid::fixedTextColor(cell.palette)
                        : selected ? cell.palette.color(QPalette::HighlightedText)
                                   : cell.palette.color(QPalette::Text));
        painter->drawText(cell.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

} // namespace

TStringGrid::TStringGrid(QWidget *parent)
    : QTableWidget(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setItemDelegate(new CellDelegate(this));

    QHeaderView *top = horizontalHeader();
    top->setSectionsMovable(true);
    top->setSectionResizeMode(QHeaderView::Interactive);
    top->setHighlightSections(false);
    // A click on a title sorts by its column; a drag still moves it.
    top->setSectionsClickable(true);
    top->setDefaultAlignment(Qt::AlignCenter);
    top->setMinimumSectionSize(0);
    applyTitleStyle();
    connect(top, &QHeaderView::sectionMoved, this, [this] { keepFixedColumnFirst(); });
    connect(top, &QHeaderView::sectionClicked, this, &TStringGrid::titleClicked);

    // The first column is the handle for dragging rows (see the mouse
    // handlers), so the row header itself is not shown.
    QHeaderView *side = verticalHeader();
    side->hide();
    side->setSectionResizeMode(QHeaderView::Fixed);
    side->setMinimumSectionSize(0);
}

// The fixed cells take the palette's button colours, which every palette
// (light, dark, high contrast) pairs to be readable together.
QColor TStringGrid::fixedColor(const QPalette &palette)
{
    return palette.color(QPalette::Button);
}

QColor TStringGrid::fixedTextColor(const QPalette &palette)
{
    return palette.color(QPalette::ButtonText);
}

QColor TStringGrid::warningColor(const QPalette &palette)
{
    const QColor base = palette.color(QPalette::Base);
    const int lightness = base.lightness();
    const QColor tint = QColor::fromHsl(0, 200, lightness < 128 ? std::min(lightness + 50, 110) : 190);
    return QColor((base.red() + tint.red()) / 2, (base.green() + tint.green()) / 2, (base.blue() + tint.blue()) / 2);
}

void TStringGrid::applyTitleStyle()
{
    // A style sheet keeps the colours it was given: it is made again when
    // the palette changes.
    const QPalette &colours = palette();
    horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: %1; color: %2; border: none;"
                       " border-right: 1px solid %3; border-bottom: 1px solid %3; padding: 0px; }")
            .arg(fixedColor(colours).name(), fixedTextColor(colours).name(),
                 colours.color(QPalette::Mid).name()));
}

void TStringGrid::changeEvent(QEvent *event)
{
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTitleStyle();
    if (event->type() == QEvent::FontChange)
        fitRowHeight();
}

int TStringGrid::RowCount() const
{
    return rowCount() + 1;
}

void TStringGrid::SetRowCount(int rows)
{
    setRowCount(rows > 1 ? rows - 1 : 0);
}

void TStringGrid::SetRowToolTip(int row, const QString &tip)
{
    if (row <= 0 || row > rowCount())
        return;
    for (int column = 0; column < columnCount(); ++column)
        if (QTableWidgetItem *it = item(row - 1, column))
            it->setToolTip(tip);
}

void TStringGrid::SetCellToolTip(int column, int row, const QString &tip)
{
    if (row > 0)
        if (QTableWidgetItem *it = item(row - 1, column))
            it->setToolTip(tip);
}

void TStringGrid::SetCellWarning(int column, int row, bool warning)
{
    if (row > 0)
        if (QTableWidgetItem *it = item(row - 1, column))
            it->setData(kWarningRole, warning ? QVariant(true) : QVariant());
}

bool TStringGrid::CellWarning(int column, int row) const
{
    const QTableWidgetItem *it = row > 0 ? item(row - 1, column) : nullptr;
    return it && it->data(kWarningRole).toBool();
}

QList<int> TStringGrid::titledColumns() const
{
    // Columns without a title are the grid's spare ones and hold nothing.
    QList<int> columns;
    for (int visual = 0; visual < columnCount(); ++visual) {
        const int column = horizontalHeader()->logicalIndex(visual);
        if (!ColumnTitle(column).isEmpty())
            columns << column;
    }
    return columns;
}

QStringList TStringGrid::DisplayedTitles() const
{
    QStringList titles;
    for (const int column : titledColumns())
        titles << ColumnTitle(column);
    return titles;
}

QStringList TStringGrid::DisplayedCells(int row) const
{
    QStringList cells;
    for (const int column : titledColumns())
        cells << Cells(column, row);
    return cells;
}

QList<int> TStringGrid::DisplayedRows() const
{
    QList<int> rows;
    for (int visual = 0; visual < rowCount(); ++visual)
        rows << verticalHeader()->logicalIndex(visual) + 1;
    return rows;
}

QList<int> TStringGrid::SelectedRows() const
{
    QList<int> rows;
    const QItemSelectionModel *selection = selectionModel();
    // A range selected across rows the filter hides holds them too.
    for (const int row : DisplayedRows())
        if (selection && selection->isRowSelected(row - 1, QModelIndex()) && !isRowHidden(row - 1))
            rows << row;
    return rows;
}

QString TStringGrid::SelectionText() const
{
    QString text = gridtext::tsvLine(DisplayedTitles());
    for (const int row : SelectedRows()) {
        const QStringList cells = DisplayedCells(row);
        if (!cells.join(QString()).isEmpty())
            text += gridtext::tsvLine(cells);
    }
    return text;
}

void TStringGrid::CopySelection() const
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(SelectionText());
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    // Whole rows, not the one current cell the view itself would copy.
    if (event == QKeySequence::Copy) {
        CopySelection();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

QString TStringGrid::Cells(int column, int row) const
{
    if (row <= 0)
        return QString(); // the titles are not cell contents
    const QTableWidgetItem *it = item(row - 1, column);
    return it ? it->text() : QString();
}

void TStringGrid::SetCells(int column, int row, const QString &text)
{
    if (row <= 0 || row > rowCount() || column < 0 || column >= columnCount())
        return;
    if (QTableWidgetItem *it = item(row - 1, column)) {
        it->setText(text);
        return;
    }
    auto *it = new QTableWidgetItem(text);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    setItem(row - 1, column, it);
}

QString TStringGrid::ColumnTitle(int column) const
{
    const QTableWidgetItem *it = horizontalHeaderItem(column);
    return it ? it->text() : QString();
}

void TStringGrid::SetColumnTitle(int column, const QString &title)
{
    setHorizontalHeaderItem(column, new QTableWidgetItem(title));
}

void TStringGrid::SetColWidth(int column, int width)
{
    setColumnWidth(column, width);
}

int TStringGrid::ColWidth(int column) const
{
    return columnWidth(column);
}

int TStringGrid::TitleWidth(int column) const
{
    // The titles' margin at the designed font: a little either side.
    return horizontalHeader()->fontMetrics().horizontalAdvance(ColumnTitle(column)) + 8;
}

void TStringGrid::SetRowHeight(int height)
{
    m_rowHeight = height;
    fitRowHeight();
}

void TStringGrid::fitRowHeight()
{
    if (m_rowHeight <= 0)
        return;
    // A style sheet keeps the title row from inheriting the grid's font (it
    // would take the desktop's own header font): it is given it here.
    QHeaderView *top = horizontalHeader();
    top->setFont(font());
    // A line and a half, as the designed height is at the designed font.
    const int line = fontMetrics().height();
    const int height = std::max(m_rowHeight, line + line / 2);
    verticalHeader()->setDefaultSectionSize(height);
    top->setFixedHeight(height);
}

int TStringGrid::Row() const
{
    const int current = currentRow();
    return current < 0 ? 0 : current + 1;
}

void TStringGrid::SelectRow(int row)
{
    if (row <= 0 || row > rowCount())
        return;
    const int column = currentColumn() > 0 ? currentColumn() : 1;
    setCurrentCell(row - 1, column < columnCount() ? column : 0,
                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TStringGrid::VisualRow(int row) const
{
    return row <= 0 ? 0 : verticalHeader()->visualIndex(row - 1) + 1;
}

int TStringGrid::VisualColumn(int column) const
{
    return horizontalHeader()->visualIndex(column);
}

void TStringGrid::MoveRow(int fromVisual, int toVisual)
{
    if (fromVisual <= 0 || toVisual <= 0 || fromVisual > rowCount() || toVisual > rowCount())
        return;
    verticalHeader()->moveSection(fromVisual - 1, toVisual - 1);
}

void TStringGrid::MoveColumn(int fromVisual, int toVisual)
{
    horizontalHeader()->moveSection(fromVisual, toVisual);
}

void TStringGrid::ClearCells()
{
    clearContents();
    QHeaderView *side = verticalHeader();
    for (int row = 0; row < rowCount(); ++row) {
        if (side->visualIndex(row) != row)
            side->moveSection(side->visualIndex(row), row);
    }
}

void TStringGrid::keepFixedColumnFirst()
{
    // The fixed column cannot be displaced; a drag before it lands after it.
    QHeaderView *top = horizontalHeader();
    if (top->visualIndex(0) != 0) {
        const QSignalBlocker block(top);
        top->moveSection(top->visualIndex(0), 0);
    }
}

void TStringGrid::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() && index.column() == 0) {
        // A press on the fixed column grabs the row for dragging; it does
        // not select anything, as in the title row.
        m_dragRow = index.row();
        m_dragStart = event->position().toPoint();
        m_dragging = false;
        event->accept();
        return;
    }
    QTableWidget::mousePressEvent(event);
}

void TStringGrid::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragRow >= 0) {
        if (!m_dragging
            && (event->position().toPoint() - m_dragStart).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragging = true;
            viewport()->setCursor(Qt::SizeVerCursor);
        }
        event->accept();
        return;
    }
    QTableWidget::mouseMoveEvent(event);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragRow >= 0) {
        if (m_dragging) {
            QHeaderView *side = verticalHeader();
            int to = side->visualIndexAt(event->position().toPoint().y());
            if (to < 0)
                to = event->position().y() < 0 ? 0 : rowCount() - 1;
            side->moveSection(side->visualIndex(m_dragRow), to);
            viewport()->unsetCursor();
            // The operator's own order now, no column's.
            m_sortColumn = -1;
            horizontalHeader()->setSortIndicatorShown(false);
        }
        m_dragRow = -1;
        m_dragging = false;
        event->accept();
        return;
    }
    QTableWidget::mouseReleaseEvent(event);
}

void TStringGrid::SetColumnSortKind(int column, SortKind kind)
{
    if (column < 0)
        return;
    while (m_sortKinds.size() <= column)
        m_sortKinds << SortKind::Text;
    m_sortKinds[column] = kind;
}

void TStringGrid::titleClicked(int column)
{
    if (ColumnTitle(column).isEmpty())
        return; // the spare columns hold nothing to sort by
    const bool again = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder;
    SortRows(column, again ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TStringGrid::SortRows(int column, Qt::SortOrder order)
{
    m_sortColumn = column >= 0 && column < columnCount() ? column : -1;
    m_sortOrder = order;
    QHeaderView *top = horizontalHeader();
    top->setSortIndicatorShown(m_sortColumn >= 0);
    if (m_sortColumn >= 0)
        top->setSortIndicator(m_sortColumn, m_sortOrder);
    sortShown();
}

void TStringGrid::sortShown()
{
    QList<int> rows(rowCount());
    std::iota(rows.begin(), rows.end(), 0);
    if (m_sortColumn >= 0) {
        const SortKind kind = m_sortKinds.value(m_sortColumn, SortKind::Text);
        QStringList keys;
        for (int row = 0; row < rowCount(); ++row)
            keys << Cells(m_sortColumn, row + 1);
        const bool descending = m_sortOrder == Qt::DescendingOrder;
        // Ties keep the rows' own order, so the same click gives the same list.
        std::sort(rows.begin(), rows.end(), [&](int a, int b) {
            const QString &ka = keys[a];
            const QString &kb = keys[b];
            if (ka.isEmpty() != kb.isEmpty())
                return kb.isEmpty();
            const int order = ka.isEmpty() ? 0 : compareCells(kind, ka, kb);
            if (order == 0)
                return a < b;
            return descending ? order > 0 : order < 0;
        });
    }
    QHeaderView *side = verticalHeader();
    for (int visual = 0; visual < int(rows.size()); ++visual)
        if (side->visualIndex(rows[visual]) != visual)
            side->moveSection(side->visualIndex(rows[visual]), visual);
}

void TStringGrid::SetFilter(const QString &text)
{
    m_filter = text;
    filterShown();
}

void TStringGrid::filterShown()
{
    for (int row = 0; row < rowCount(); ++row) {
        bool shown = m_filter.isEmpty();
        for (int column = 0; column < columnCount() && !shown; ++column)
            shown = Cells(column, row + 1).contains(m_filter, Qt::CaseInsensitive);
        setRowHidden(row, !shown);
    }
}

void TStringGrid::ApplySortAndFilter()
{
    sortShown();
    filterShown();
}

int TStringGrid::FirstShownRow() const
{
    for (const int row : DisplayedRows())
        if (!isRowHidden(row - 1))
            return row;
    return 0;
}
