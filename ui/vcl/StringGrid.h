#pragma once
// A string grid over Qt's model/view (no widget item per cell, so 100,000 rows list fast):
// cells by absolute column and row, fixed rows and columns drawn as headers and never
// current, cells never written read as empty.

#include <QString>
#include <QTableView>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class TStringGridModel;

class TStringGrid : public QTableView {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    ~TStringGrid() override;

    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    int ColCount() const;
    int RowCount() const;
    // Below 1 gives 1. When FixedCols (FixedRows) is not below the new count, it is first
    // lowered to the new count minus 1 and stays lowered. A current cell left outside the grid
    // moves to the last remaining column (row), and OnSelectCell is raised for it first.
    void SetColCount(int count);
    void SetRowCount(int count);
    int FixedCols() const;
    int FixedRows() const;
    void SetFixedCols(int count);
    void SetFixedRows(int count);

    int DefaultColWidth() const;
    void SetDefaultColWidth(int width); // 64 unless set
    int DefaultRowHeight() const;
    void SetDefaultRowHeight(int height); // 24 unless set
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);

    // The current cell.
    int Col() const;
    int Row() const;
    // Moves the current cell as a click would: OnSelectCell first; the move happens when the
    // handler leaves CanSelect true. Fixed cells are never selected. Returns whether it moved.
    bool SelectCell(int col, int row);
    // Puts the current cell on the first cell below and right of the fixed ones, without
    // OnSelectCell (the layout's starting state).
    void ResetCurrentCell();

    // Raised before the current cell moves, by mouse, keyboard or a shrinking count.
    std::function<void(QObject* sender, int col, int row, bool& canSelect)> OnSelectCell;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Dragging does not move the current cell.
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool RaiseSelectCell(int col, int row);
    // Makes (col, row), a non-fixed cell, current without raising OnSelectCell.
    void MoveCurrent(int col, int row);
    // Header visibility and every section size from the stored widths and heights.
    void ApplySizes();

    std::unique_ptr<TStringGridModel> model_;
    QAbstractButton* corner_ = nullptr; // the view's top-left corner, drawn as a fixed cell
    std::vector<int> colWidths_;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 24;
};
