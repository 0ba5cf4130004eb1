// A grid of text cells in the manner of a string grid: a title row (the
// horizontal header) and a fixed first column, whole-row selection, and rows
// and columns the operator may drag elsewhere.
//
// Rows are numbered as the operator's grid numbers them: row 0 is the title
// row, rows 1.. are the table's rows. Every row and column number here is a
// logical one: dragging changes only where a row or column is shown, never
// which number it has, so readers always find a module's data at the same
// row and a field at the same column, and each title stays over its data.
#pragma once

#include <QColor>
#include <QList>
#include <QStringList>
#include <QTableWidget>

class TStringGrid : public QTableWidget
{
    Q_OBJECT

public:
    explicit TStringGrid(QWidget *parent = nullptr);

    // Number of rows including the title row.
    int RowCount() const;
    void SetRowCount(int rows);

    QString Cells(int column, int row) const;
    void SetCells(int column, int row, const QString &text);
    // A tooltip over every cell of a row (empty: none), and over one cell.
    void SetRowToolTip(int row, const QString &tip);
    void SetCellToolTip(int column, int row, const QString &tip);
    // A cell painted in the warning colour; emptied cells lose it.
    void SetCellWarning(int column, int row, bool warning);
    bool CellWarning(int column, int row) const;

    // The title shown above a column; it follows the column when dragged.
    QString ColumnTitle(int column) const;
    void SetColumnTitle(int column, const QString &title);

    void SetColWidth(int column, int width);
    int ColWidth(int column) const;
    // The width a column needs for its whole title at the grid's font.
    int TitleWidth(int column) const;
    // The height of the rows and the title row: the given one, or taller
    // where the grid's font needs it (it follows later font changes).
    void SetRowHeight(int height);

    // The current (selected) row, 0 when none; selecting a row makes it current.
    int Row() const;
    void SelectRow(int row);

    // Where a row or column is shown, and moving it as a drag would.
    int VisualRow(int row) const;
    int VisualColumn(int column) const;
    void MoveRow(int fromVisual, int toVisual);
    void MoveColumn(int fromVisual, int toVisual);

    // The titles and a row's cells in the order they are shown (titled
    // columns only), the table's
    // rows in that order, and the selected ones among them.
    QStringList DisplayedTitles() const;
    QStringList DisplayedCells(int row) const;
    QList<int> DisplayedRows() const;
    QList<int> SelectedRows() const;
    // The title row and the selected rows that hold anything, tab-separated,
    // as Copy (Ctrl+C) puts them on the clipboard.
    QString SelectionText() const;
    void CopySelection() const;

    // Empties every cell; rows and columns go back to their own positions.
    void ClearCells();

    // How a column's cells compare when the operator sorts by it: as text
    // (case-insensitive), as a decimal number or as a dotted IPv4 address;
    // cells that do not read as the kind sort after those that do.
    enum class SortKind { Text, Number, Address };
    void SetColumnSortKind(int column, SortKind kind);
    // Shows the rows ordered by a column's cells (a click on its title:
    // ascending, again: descending); rows without that cell come last. No
    // row changes its number. -1: the rows' own order.
    void SortRows(int column, Qt::SortOrder order = Qt::AscendingOrder);
    int SortColumn() const { return m_sortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }
    // Shows only the rows of which some cell contains `text`, whatever the
    // case; empty: every row.
    void SetFilter(const QString &text);
    QString Filter() const { return m_filter; }
    // Sorts and filters again after the cells have changed.
    void ApplySortAndFilter();
    // The first row shown on screen, 0 when the filter hides every row.
    int FirstShownRow() const;

    // Background and text of the title row and the fixed column.
    static QColor fixedColor(const QPalette &palette);
    static QColor fixedTextColor(const QPalette &palette);
    // Background of a cell that needs the operator's attention: the base
    // colour tinted red, as light or dark as the base, so text stays readable.
    static QColor warningColor(const QPalette &palette);

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void keepFixedColumnFirst();
    QList<int> titledColumns() const;
    void applyTitleStyle();
    void fitRowHeight();

    void sortShown();
    void filterShown();
    void titleClicked(int column);

    QList<SortKind> m_sortKinds;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_filter;
    int m_rowHeight = 0;     // the designed height, 0 until one is given
    int m_dragRow = -1;      // logical row pressed in the fixed column, -1 when none
    QPoint m_dragStart;
    bool m_dragging = false;
};
