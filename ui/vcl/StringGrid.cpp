#include "vcl/StringGrid.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QStyleOptionHeader>
#include <algorithm>
#include <vector>

// The cells by absolute column and row. The view shows the non-fixed cells as its table;
// a fixed row or column is shown by the view's own header, so it stays in sight while the
// cells scroll and can never become current. At most one fixed row and one fixed column.
class TStringGridModel : public QAbstractTableModel {
public:
    int cols = 5;
    int rows = 5;
    int fixedColCount = 1;
    int fixedRowCount = 1;

    TStringGridModel() : columns_(5, std::vector<QString>(5)) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : rows - fixedRowCount;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : cols - fixedColCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        if (role == Qt::DisplayRole)
            return Cell(index.column() + fixedColCount, index.row() + fixedRowCount);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        if (role != Qt::DisplayRole)
            return {};
        if (orientation == Qt::Horizontal)
            return fixedRowCount > 0 ? Cell(section + fixedColCount, 0) : QString();
        return fixedColCount > 0 ? Cell(0, section + fixedRowCount) : QString();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    const QString& Cell(int col, int row) const {
        static const QString empty;
        if (col < 0 || row < 0 || col >= cols || row >= rows)
            return empty;
        return columns_[static_cast<std::size_t>(col)][static_cast<std::size_t>(row)];
    }

    void SetCell(int col, int row, const QString& text) {
        if (col < 0 || row < 0 || col >= cols || row >= rows)
            return;
        columns_[static_cast<std::size_t>(col)][static_cast<std::size_t>(row)] = text;
        // A fixed cell's header is repainted by the grid (TStringGrid::SetCells).
        if (row >= fixedRowCount && col >= fixedColCount) {
            const QModelIndex cell = index(row - fixedRowCount, col - fixedColCount);
            emit dataChanged(cell, cell, {Qt::DisplayRole});
        }
    }

    // Cells of removed rows or columns are dropped: a grid that grows again shows them empty.
    void SetColCount(int count) {
        if (count == cols)
            return;
        if (count < cols)
            beginRemoveColumns({}, count - fixedColCount, cols - fixedColCount - 1);
        else
            beginInsertColumns({}, cols - fixedColCount, count - fixedColCount - 1);
        const bool shrinking = count < cols;
        columns_.resize(static_cast<std::size_t>(count),
                        std::vector<QString>(static_cast<std::size_t>(rows)));
        cols = count;
        shrinking ? endRemoveColumns() : endInsertColumns();
    }

    void SetRowCount(int count) {
        if (count == rows)
            return;
        if (count < rows)
            beginRemoveRows({}, count - fixedRowCount, rows - fixedRowCount - 1);
        else
            beginInsertRows({}, rows - fixedRowCount, count - fixedRowCount - 1);
        const bool shrinking = count < rows;
        // A column's strings are null until written: growing allocates no text.
        for (auto& column : columns_)
            column.resize(static_cast<std::size_t>(count));
        rows = count;
        shrinking ? endRemoveRows() : endInsertRows();
    }

    void SetFixed(int fixedCols, int fixedRows) {
        beginResetModel();
        fixedColCount = fixedCols;
        fixedRowCount = fixedRows;
        endResetModel();
    }

private:
    std::vector<std::vector<QString>> columns_; // [column][row]
};

namespace {
// A cell's section includes its 1-pixel grid line.
constexpr int GridLineWidth = 1;

// Sets one section's size. With its updates held back, a header skips working out where
// every section starts at each resize (the view repaints the resized columns afterwards),
// so sizing each column of a wide grid in turn stays linear.
void ResizeSection(QHeaderView* header, int section, int size) {
    if (header->sectionSize(section) == size)
        return;
    const bool updates = header->updatesEnabled();
    header->setUpdatesEnabled(false);
    header->resizeSection(section, size);
    header->setUpdatesEnabled(updates);
}

// The fixed cells as a header draws them, each with its own edges: the style would leave
// the divider off the last section, so the fixed row would run on into the empty area
// beyond the last column. Past the last cell the grid shows its background, as below its
// last row.
class TGridHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        option->position = QStyleOptionHeader::Middle;
    }

    void paintEvent(QPaintEvent* event) override {
        QHeaderView::paintEvent(event);
        const int end = length() - offset();
        QPainter painter(viewport());
        if (orientation() == Qt::Horizontal && end < viewport()->width())
            painter.fillRect(end, 0, viewport()->width() - end, viewport()->height(),
                             palette().base());
        else if (orientation() == Qt::Vertical && end < viewport()->height())
            painter.fillRect(0, end, viewport()->width(), viewport()->height() - end,
                             palette().base());
    }
};
} // namespace

TStringGrid::TStringGrid(QWidget* parent)
    : QTableView(parent), model_(std::make_unique<TStringGridModel>()), colWidths_(5, 64) {
    setHorizontalHeader(new TGridHeader(Qt::Horizontal, this));
    setVerticalHeader(new TGridHeader(Qt::Vertical, this));
    setModel(model_.get());
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setCornerButtonEnabled(false);
    // The cell where the fixed row meets the fixed column is a fixed cell like the others.
    corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (corner_)
        corner_->installEventFilter(this);
    setShowGrid(true);
    setFocusPolicy(Qt::StrongFocus);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setMinimumSectionSize(0);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    ApplySizes();
    ResetCurrentCell();
}

TStringGrid::~TStringGrid() {
    // The view lets go of the model before the model goes.
    setModel(nullptr);
}

QString TStringGrid::Cells(int col, int row) const {
    return model_->Cell(col, row);
}

void TStringGrid::SetCells(int col, int row, const QString& text) {
    model_->SetCell(col, row, text);
    // The headers are only repainted: told of a changed section, a header works out again
    // where every section starts, which makes filling a wide grid slow.
    if (row < model_->fixedRowCount)
        horizontalHeader()->viewport()->update();
    if (col < model_->fixedColCount)
        verticalHeader()->viewport()->update();
}

int TStringGrid::ColCount() const {
    return model_->cols;
}
int TStringGrid::RowCount() const {
    return model_->rows;
}
int TStringGrid::FixedCols() const {
    return model_->fixedColCount;
}
int TStringGrid::FixedRows() const {
    return model_->fixedRowCount;
}

void TStringGrid::SetColCount(int count) {
    count = std::max(count, 1);
    if (model_->fixedColCount >= count)
        SetFixedCols(count - 1);
    const int col = Col();
    const int row = Row();
    const bool outside = col >= count;
    if (outside)
        MoveCurrent(count - 1, row); // so that removing the columns leaves it alone
    model_->SetColCount(count);
    colWidths_.resize(static_cast<std::size_t>(count), defaultColWidth_);
    ApplySizes();
    if (outside)
        RaiseSelectCell(count - 1, row); // the cell is in the grid whatever the answer
}

void TStringGrid::SetRowCount(int count) {
    count = std::max(count, 1);
    if (model_->fixedRowCount >= count)
        SetFixedRows(count - 1);
    const int col = Col();
    const int row = Row();
    const bool outside = row >= count;
    if (outside)
        MoveCurrent(col, count - 1);
    model_->SetRowCount(count);
    ApplySizes();
    if (outside)
        RaiseSelectCell(col, count - 1);
}

void TStringGrid::SetFixedCols(int count) {
    count = std::clamp(count, 0, std::min(1, model_->cols - 1));
    if (count == model_->fixedColCount)
        return;
    const int col = std::max(Col(), count);
    const int row = Row();
    model_->SetFixed(count, model_->fixedRowCount);
    ApplySizes();
    MoveCurrent(col, row);
}

void TStringGrid::SetFixedRows(int count) {
    count = std::clamp(count, 0, std::min(1, model_->rows - 1));
    if (count == model_->fixedRowCount)
        return;
    const int col = Col();
    const int row = std::max(Row(), count);
    model_->SetFixed(model_->fixedColCount, count);
    ApplySizes();
    MoveCurrent(col, row);
}

int TStringGrid::DefaultColWidth() const {
    return defaultColWidth_;
}

void TStringGrid::SetDefaultColWidth(int width) {
    // Every column takes the new default, as a fresh grid would.
    defaultColWidth_ = width;
    std::fill(colWidths_.begin(), colWidths_.end(), width);
    ApplySizes();
}

int TStringGrid::DefaultRowHeight() const {
    return defaultRowHeight_;
}

void TStringGrid::SetDefaultRowHeight(int height) {
    defaultRowHeight_ = height;
    ApplySizes();
}

int TStringGrid::ColWidths(int col) const {
    if (col < 0 || col >= static_cast<int>(colWidths_.size()))
        return defaultColWidth_;
    return colWidths_[static_cast<std::size_t>(col)];
}

void TStringGrid::SetColWidths(int col, int width) {
    if (col < 0 || col >= static_cast<int>(colWidths_.size()))
        return;
    colWidths_[static_cast<std::size_t>(col)] = width;
    const int section = std::max(width, 0) + GridLineWidth;
    if (col < model_->fixedColCount)
        verticalHeader()->setFixedWidth(section);
    else
        ResizeSection(horizontalHeader(), col - model_->fixedColCount, section);
}

int TStringGrid::Col() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() + model_->fixedColCount : model_->fixedColCount;
}

int TStringGrid::Row() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + model_->fixedRowCount : model_->fixedRowCount;
}

bool TStringGrid::SelectCell(int col, int row) {
    if (col < model_->fixedColCount || row < model_->fixedRowCount || col >= model_->cols ||
        row >= model_->rows)
        return false;
    if (!RaiseSelectCell(col, row))
        return false;
    // The handler may have resized this grid; the cell must still be in it.
    if (col >= model_->cols || row >= model_->rows || col < model_->fixedColCount ||
        row < model_->fixedRowCount)
        return false;
    MoveCurrent(col, row);
    return true;
}

void TStringGrid::ResetCurrentCell() {
    MoveCurrent(model_->fixedColCount, model_->fixedRowCount);
}

bool TStringGrid::RaiseSelectCell(int col, int row) {
    bool canSelect = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, canSelect);
    return canSelect;
}

void TStringGrid::MoveCurrent(int col, int row) {
    const QModelIndex cell =
        model_->index(row - model_->fixedRowCount, col - model_->fixedColCount);
    if (!cell.isValid() || !selectionModel())
        return;
    selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
}

void TStringGrid::ApplySizes() {
    QHeaderView* columnHeader = horizontalHeader();
    QHeaderView* rowHeader = verticalHeader();
    const int rowSection = std::max(defaultRowHeight_, 0) + GridLineWidth;
    rowHeader->setDefaultSectionSize(rowSection);
    columnHeader->setDefaultSectionSize(std::max(defaultColWidth_, 0) + GridLineWidth);

    columnHeader->setVisible(model_->fixedRowCount > 0);
    columnHeader->setFixedHeight(rowSection);
    rowHeader->setVisible(model_->fixedColCount > 0);
    if (model_->fixedColCount > 0)
        rowHeader->setFixedWidth(std::max(colWidths_[0], 0) + GridLineWidth);
    for (int col = model_->fixedColCount; col < model_->cols; ++col)
        ResizeSection(columnHeader, col - model_->fixedColCount,
                      std::max(colWidths_[static_cast<std::size_t>(col)], 0) + GridLineWidth);
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == corner_ && event->type() == QEvent::Paint) {
        QStyleOptionHeader option;
        option.initFrom(corner_);
        option.rect = corner_->rect();
        option.orientation = Qt::Horizontal;
        option.position = QStyleOptionHeader::Beginning;
        QPainter painter(corner_);
        corner_->style()->drawControl(QStyle::CE_Header, &option, &painter, corner_);
        return true;
    }
    return QTableView::eventFilter(watched, event);
}

QModelIndex TStringGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QPersistentModelIndex target = QTableView::moveCursor(cursorAction, modifiers);
    const QModelIndex current = currentIndex();
    if (!target.isValid() || target == current)
        return target;
    if (!RaiseSelectCell(target.column() + model_->fixedColCount,
                         target.row() + model_->fixedRowCount))
        return currentIndex();
    return target; // invalid if the handler shrank the grid past it: then nothing moves
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex cell = indexAt(event->position().toPoint());
    if (!cell.isValid())
        return;
    // Every click on a cell asks, also on the current one.
    SelectCell(cell.column() + model_->fixedColCount, cell.row() + model_->fixedRowCount);
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event) {
    event->ignore();
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        QTableView::keyPressEvent(event);
        return;
    default:
        // No typing search, no select-all: the current cell moves only through OnSelectCell.
        event->ignore();
    }
}
