// The base string grid: cell store, layout, painting of cells and lines, navigation, editor.
#include "grid/string_grid.h"

#include <algorithm>
#include <exception>

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QValidator>
#include <QtDebug>

namespace grid {

namespace {

// Pixels of the line between two cells.
constexpr int kGridLineWidth = 1;
// Distance from a column border that starts column sizing.
constexpr int kSizingReach = 2;

} // namespace

// ---------------------------------------------------------------------------------------------
// TCanvas

void TCanvas::FillRect(const QRect& rect) const
{
    if (!BrushClear)
        Painter->fillRect(rect, BrushColor);
}

int TCanvas::TextWidth(const QString& text) const
{
    return QFontMetrics(Font).horizontalAdvance(text);
}

void TCanvas::TextRect(const QRect& clip, int x, int y, const QString& text, bool opaque) const
{
    Painter->save();
    Painter->setClipRect(clip, Qt::IntersectClip);
    if (opaque)
        Painter->fillRect(clip, BrushColor);
    Painter->setFont(Font);
    Painter->setPen(FontColor);
    Painter->drawText(QPoint(x, y + QFontMetrics(Font).ascent()), text);
    Painter->restore();
}

// ---------------------------------------------------------------------------------------------
// TInplaceEdit

namespace {

qsizetype FirstLineBreak(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n')
            return i;
    }
    return -1;
}

// Keeps the editor single-line: text pasted (keys, context menu) or dropped into it is kept up to
// its first line break, as a single-line Windows edit field keeps it, so that no cell ever holds
// CR or LF. Every change of the text passes here, whatever brought it.
class SingleLineValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override
    {
        if (FirstLineBreak(input) >= 0) {
            // The change inserted what lies between the part the text before it began with and
            // the part it ended with; that text held no line break, so all of them are new.
            const QString& before = Accepted_;
            const qsizetype common = std::min(before.size(), input.size());
            qsizetype head = 0;
            while (head < common && before[head] == input[head])
                ++head;
            qsizetype tail = 0;
            while (tail < common - head && before[before.size() - 1 - tail] == input[input.size() - 1 - tail])
                ++tail;
            QString inserted = input.mid(head, input.size() - head - tail);
            inserted.truncate(FirstLineBreak(inserted));
            input = input.left(head) + inserted + input.right(tail);
            pos = static_cast<int>(head + inserted.size());
        }
        Accepted_ = input;
        return Acceptable;
    }

private:
    // The text as last accepted: the editor's text before the change under validation.
    mutable QString Accepted_;
};

} // namespace

TInplaceEdit::TInplaceEdit(TStringGrid* grid) : QLineEdit(grid->viewport()), Grid_(grid)
{
    setFrame(false);
    setValidator(new SingleLineValidator(this));
    hide();
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        Modified_ = true;
        Grid_->SetEditText(EditCol_, EditRow_, text);
    });
}

void TInplaceEdit::UpdateContents()
{
    EditCol_ = Grid_->Col();
    EditRow_ = Grid_->Row();
    setInputMask(Grid_->GetEditMask(EditCol_, EditRow_));
    setMaxLength(32767);
    setText(Grid_->GetEditText(EditCol_, EditRow_));
    Modified_ = false;
    selectAll();
}

void TInplaceEdit::BoundsChanged() {}

void TInplaceEdit::KeyDown(int& key, Qt::KeyboardModifiers& shift)
{
    // Left and Right leave the text only at its ends; the other navigation keys always go to the
    // grid. Esc is left to KeyPress, which drops its character: what was typed stays.
    bool toGrid = false;
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
        toGrid = true;
        break;
    case Qt::Key_Left:
        toGrid = !hasSelectedText() && cursorPosition() == 0;
        break;
    case Qt::Key_Right:
        toGrid = !hasSelectedText() && cursorPosition() == displayText().size();
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
        toGrid = (shift & Qt::ControlModifier) != 0;
        break;
    default:
        break;
    }
    if (toGrid)
        Grid_->KeyDown(key, shift);
}

bool TInplaceEdit::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            (Grid_->Options() & goTabs) != 0) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void TInplaceEdit::keyPressEvent(QKeyEvent* event)
{
    TStringGrid::Guarded("TInplaceEdit::keyPressEvent", [&] {
        int key = event->key();
        Qt::KeyboardModifiers shift = event->modifiers();
        if (key == Qt::Key_Backtab) {
            key = Qt::Key_Tab;
            shift |= Qt::ShiftModifier;
        }
        KeyDown(key, shift);
        if (key == 0)
            return;
        QString text = event->text();
        // Esc types its control character (27), also where the platform's key event carries none;
        // otherwise the edit field would pass the key on and the window would take it.
        if (text.isEmpty() && key == Qt::Key_Escape)
            text = QString(QChar(27));
        if (text.isEmpty()) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        QChar ch = text[0];
        KeyPress(ch);
        if (ch.isNull())
            return;
        if (ch == text[0]) {
            QLineEdit::keyPressEvent(event);
        } else {
            QKeyEvent changed(event->type(), event->key(), event->modifiers(), QString(ch));
            QLineEdit::keyPressEvent(&changed);
        }
    });
}

void TInplaceEdit::KeyPress(QChar& key)
{
    if (key == u'\t' || key == QChar(27))
        key = QChar();
}

void TInplaceEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    QWidget* next = QApplication::focusWidget();
    if (next != Grid_ && !Grid_->isAncestorOf(next))
        TStringGrid::Guarded("TStringGrid::DoExit", [this] { Grid_->DoExit(); });
}

void TInplaceEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    BoundsChanged();
}

void TInplaceEdit::moveEvent(QMoveEvent* event)
{
    QLineEdit::moveEvent(event);
    BoundsChanged();
}

// ---------------------------------------------------------------------------------------------
// TStringGrid

TStringGrid::TStringGrid(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    FixedColor_ = palette().color(QPalette::Button);
    ColWidths_.assign(5, DefaultColWidth_);
    RowHeights_.assign(5, DefaultRowHeight_);
    Cells_.assign(5, std::vector<QString>(5));
    UpdateScrollBars();
}

TStringGrid::~TStringGrid() = default;

void TStringGrid::Guarded(const char* where, const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        qWarning("%s: %s", where, e.what());
    } catch (...) {
        qWarning("%s: unknown exception", where);
    }
}

QString TStringGrid::Cells(int col, int row) const
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount())
        return {};
    return Cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void TStringGrid::SetCells(int col, int row, const QString& text)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount())
        return;
    Cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = text;
    InvalidateCell(col, row);
    if (!InSetEditText_ && Editor_ && EditorMode_ && Editor_->isVisible() && col == Editor_->EditCol_ &&
        row == Editor_->EditRow_)
        Editor_->UpdateContents();
}

void TStringGrid::SetColCount(int value)
{
    value = std::max(0, value);
    const int oldCols = ColCount();
    const int oldRows = RowCount();
    if (value == oldCols)
        return;
    ColWidths_.resize(static_cast<std::size_t>(value), DefaultColWidth_);
    for (auto& row : Cells_)
        row.resize(static_cast<std::size_t>(value));
    if (FixedCols_ > 0 && FixedCols_ >= value)
        FixedCols_ = std::max(0, value - 1);
    Col_ = std::clamp(Col_, FixedCols_, std::max(FixedCols_, value - 1));
    LeftCol_ = std::clamp(LeftCol_, FixedCols_, std::max(FixedCols_, value - 1));
    UpdateScrollBars();
    SizeChanged(oldCols, oldRows);
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetRowCount(int value)
{
    value = std::max(0, value);
    const int oldCols = ColCount();
    const int oldRows = RowCount();
    if (value == oldRows)
        return;
    RowHeights_.resize(static_cast<std::size_t>(value), DefaultRowHeight_);
    Cells_.resize(static_cast<std::size_t>(value), std::vector<QString>(static_cast<std::size_t>(oldCols)));
    if (FixedRows_ > 0 && FixedRows_ >= value)
        FixedRows_ = std::max(0, value - 1);
    Row_ = std::clamp(Row_, FixedRows_, std::max(FixedRows_, value - 1));
    TopRow_ = std::clamp(TopRow_, FixedRows_, std::max(FixedRows_, value - 1));
    UpdateScrollBars();
    SizeChanged(oldCols, oldRows);
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetFixedCols(int value)
{
    FixedCols_ = std::clamp(value, 0, std::max(0, ColCount() - 1));
    Col_ = std::max(Col_, FixedCols_);
    LeftCol_ = FixedCols_;
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetFixedRows(int value)
{
    FixedRows_ = std::clamp(value, 0, std::max(0, RowCount() - 1));
    Row_ = std::max(Row_, FixedRows_);
    TopRow_ = FixedRows_;
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetFixedColor(const QColor& value)
{
    FixedColor_ = value;
    viewport()->update();
}

void TStringGrid::FocusCell(int col, int row)
{
    MoveCurrent(col, row, EditorMode_);
}

void TStringGrid::SetLeftCol(int value)
{
    const int last = std::max(FixedCols_, ColCount() - 1);
    value = std::clamp(value, FixedCols_, last);
    if (value == LeftCol_)
        return;
    LeftCol_ = value;
    horizontalScrollBar()->setValue(value);
    UpdateEditor();
    viewport()->update();
    TopLeftChanged();
}

void TStringGrid::SetTopRow(int value)
{
    const int last = std::max(FixedRows_, RowCount() - 1);
    value = std::clamp(value, FixedRows_, last);
    if (value == TopRow_)
        return;
    TopRow_ = value;
    verticalScrollBar()->setValue(value);
    UpdateEditor();
    viewport()->update();
    TopLeftChanged();
}

void TStringGrid::SetDefaultColWidth(int value)
{
    DefaultColWidth_ = std::max(0, value);
    std::fill(ColWidths_.begin(), ColWidths_.end(), DefaultColWidth_);
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetDefaultRowHeight(int value)
{
    DefaultRowHeight_ = std::max(0, value);
    std::fill(RowHeights_.begin(), RowHeights_.end(), DefaultRowHeight_);
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

int TStringGrid::ColWidths(int col) const
{
    if (col < 0 || col >= ColCount())
        return 0;
    return ColWidths_[static_cast<std::size_t>(col)];
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= ColCount())
        return;
    ColWidths_[static_cast<std::size_t>(col)] = std::max(0, width);
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

int TStringGrid::RowHeights(int row) const
{
    if (row < 0 || row >= RowCount())
        return 0;
    return RowHeights_[static_cast<std::size_t>(row)];
}

void TStringGrid::SetRowHeights(int row, int height)
{
    if (row < 0 || row >= RowCount())
        return;
    RowHeights_[static_cast<std::size_t>(row)] = std::max(0, height);
    UpdateScrollBars();
    UpdateEditor();
    viewport()->update();
}

void TStringGrid::SetOptions(TGridOptions value)
{
    Options_ = value;
    if ((Options_ & goEditing) == 0 || (Options_ & goRowSelect) != 0)
        HideEditor();
    else if ((Options_ & goAlwaysShowEditor) != 0)
        ShowEditor();
    viewport()->update();
}

void TStringGrid::SetDefaultDrawing(bool value)
{
    DefaultDrawing_ = value;
    viewport()->update();
}

QColor TStringGrid::Color() const
{
    return palette().color(QPalette::Base);
}

void TStringGrid::SetColor(const QColor& value)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, value);
    setPalette(p);
    viewport()->update();
}

QColor TStringGrid::FontColor() const
{
    return palette().color(QPalette::Text);
}

void TStringGrid::SetFontColor(const QColor& value)
{
    QPalette p = palette();
    p.setColor(QPalette::Text, value);
    setPalette(p);
    viewport()->update();
}

TInplaceEdit* TStringGrid::CreateEditor()
{
    return new TInplaceEdit(this);
}

void TStringGrid::DestroyEditor()
{
    EditorMode_ = false;
    delete Editor_;
    Editor_ = nullptr;
}

void TStringGrid::ShowEditor()
{
    if ((Options_ & goEditing) == 0 || (Options_ & goRowSelect) != 0)
        return;
    if (Col_ < FixedCols_ || Col_ >= ColCount() || Row_ < FixedRows_ || Row_ >= RowCount())
        return;
    if (!Editor_)
        Editor_ = CreateEditor();
    const bool wasVisible = EditorMode_ && Editor_->isVisible();
    EditorMode_ = true;
    if (!wasVisible)
        Editor_->EditCol_ = -1; // load at the next update
    UpdateEditor();
}

void TStringGrid::HideEditor()
{
    EditorMode_ = false;
    if (!Editor_ || !Editor_->isVisible())
        return;
    // The grid takes the focus first, so that the editor sees its focus loss while it still
    // stands on its cell.
    if (Editor_->hasFocus())
        setFocus(Qt::OtherFocusReason);
    Editor_->hide();
    viewport()->update();
}

void TStringGrid::InvalidateEditor()
{
    if (Editor_ && EditorMode_ && Editor_->isVisible())
        Editor_->UpdateContents();
}

void TStringGrid::UpdateEditor()
{
    if (!Editor_ || !EditorMode_)
        return;
    const QRect rect = CellRect(Col_, Row_);
    if (Col_ < FixedCols_ || Row_ < FixedRows_ || rect.isEmpty()) {
        Editor_->hide();
        return;
    }
    Editor_->setGeometry(rect);
    if (Editor_->EditCol_ != Col_ || Editor_->EditRow_ != Row_)
        Editor_->UpdateContents();
    const bool hadFocus = hasFocus() || Editor_->hasFocus();
    Editor_->show();
    if (hadFocus)
        Editor_->setFocus(Qt::OtherFocusReason);
}

void TStringGrid::InvalidateCell(int col, int row)
{
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect);
}

void TStringGrid::InvalidateRow(int row)
{
    const int y = RowY(row);
    if (y >= 0)
        viewport()->update(QRect(0, y, viewport()->width(), RowHeights(row) + kGridLineWidth));
}

void TStringGrid::InvalidateCol(int col)
{
    const int x = ColumnX(col);
    if (x >= 0)
        viewport()->update(QRect(x, 0, ColWidths(col) + kGridLineWidth, viewport()->height()));
}

void TStringGrid::InvalidateGrid()
{
    viewport()->update();
}

int TStringGrid::ColumnX(int col) const
{
    if (col < 0 || col >= ColCount() || (col >= FixedCols_ && col < LeftCol_))
        return -1;
    int x = 0;
    for (int i = 0; i < std::min(col, FixedCols_); ++i)
        x += ColWidths(i) + kGridLineWidth;
    for (int i = LeftCol_; i < col; ++i)
        x += ColWidths(i) + kGridLineWidth;
    return x;
}

int TStringGrid::RowY(int row) const
{
    if (row < 0 || row >= RowCount() || (row >= FixedRows_ && row < TopRow_))
        return -1;
    int y = 0;
    for (int i = 0; i < std::min(row, FixedRows_); ++i)
        y += RowHeights(i) + kGridLineWidth;
    for (int i = TopRow_; i < row; ++i)
        y += RowHeights(i) + kGridLineWidth;
    return y;
}

QRect TStringGrid::CellRect(int col, int row) const
{
    const int x = ColumnX(col);
    const int y = RowY(row);
    if (x < 0 || y < 0 || x >= viewport()->width() || y >= viewport()->height())
        return {};
    return QRect(x, y, ColWidths(col), RowHeights(row));
}

QPoint TStringGrid::MouseCoord(int x, int y) const
{
    auto find = [](int pos, int fixed, int first, int count, auto size) {
        if (pos < 0)
            return -1;
        int edge = 0;
        for (int i = 0; i < count; ++i) {
            if (i >= fixed && i < first)
                continue;
            edge += size(i) + kGridLineWidth;
            if (pos < edge)
                return i;
        }
        return -1;
    };
    const int col = find(x, FixedCols_, LeftCol_, ColCount(), [this](int i) { return ColWidths(i); });
    const int row = find(y, FixedRows_, TopRow_, RowCount(), [this](int i) { return RowHeights(i); });
    return {col, row};
}

void TStringGrid::MoveColumn(int from, int to)
{
    if (from < 0 || from >= ColCount() || to < 0 || to >= ColCount() || from == to)
        return;
    ColumnMoved(from, to);
}

void TStringGrid::ColumnMoved(int from, int to)
{
    for (auto& row : Cells_) {
        QString text = row[static_cast<std::size_t>(from)];
        row.erase(row.begin() + from);
        row.insert(row.begin() + to, text);
    }
    const int width = ColWidths_[static_cast<std::size_t>(from)];
    ColWidths_.erase(ColWidths_.begin() + from);
    ColWidths_.insert(ColWidths_.begin() + to, width);
    InvalidateEditor();
    viewport()->update();
}

void TStringGrid::TopLeftChanged()
{
    if (OnTopLeftChanged)
        OnTopLeftChanged(this);
}

void TStringGrid::SizeChanged(int /*oldColCount*/, int /*oldRowCount*/) {}

bool TStringGrid::SelectCell(int col, int row)
{
    bool allowed = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, allowed);
    return allowed;
}

void TStringGrid::MoveCurrent(int col, int row, bool show)
{
    if (ColCount() <= FixedCols_ || RowCount() <= FixedRows_)
        return;
    col = std::clamp(col, FixedCols_, ColCount() - 1);
    row = std::clamp(row, FixedRows_, RowCount() - 1);
    if (col == Col_ && row == Row_) {
        ScrollIntoView(col, row);
        return;
    }
    if (!SelectCell(col, row))
        return;
    Col_ = col;
    Row_ = row;
    ScrollIntoView(col, row);
    viewport()->update();
    if (show)
        UpdateEditor();
}

int TStringGrid::VisibleRowsFrom(int top) const
{
    int fixedHeight = 0;
    for (int i = 0; i < FixedRows_; ++i)
        fixedHeight += RowHeights(i) + kGridLineWidth;
    int y = fixedHeight;
    int count = 0;
    for (int i = top; i < RowCount(); ++i) {
        y += RowHeights(i) + kGridLineWidth;
        if (y - kGridLineWidth > viewport()->height())
            break;
        ++count;
    }
    return std::max(1, count);
}

int TStringGrid::VisibleColsFrom(int left) const
{
    int fixedWidth = 0;
    for (int i = 0; i < FixedCols_; ++i)
        fixedWidth += ColWidths(i) + kGridLineWidth;
    int x = fixedWidth;
    int count = 0;
    for (int i = left; i < ColCount(); ++i) {
        x += ColWidths(i) + kGridLineWidth;
        if (x - kGridLineWidth > viewport()->width())
            break;
        ++count;
    }
    return std::max(1, count);
}

void TStringGrid::ScrollIntoView(int col, int row)
{
    if (row >= FixedRows_) {
        if (row < TopRow_)
            SetTopRow(row);
        else {
            int top = TopRow_;
            while (top < row && row >= top + VisibleRowsFrom(top))
                ++top;
            SetTopRow(top);
        }
    }
    if (col >= FixedCols_) {
        if (col < LeftCol_)
            SetLeftCol(col);
        else {
            int left = LeftCol_;
            while (left < col && col >= left + VisibleColsFrom(left))
                ++left;
            SetLeftCol(left);
        }
    }
}

void TStringGrid::UpdateScrollBars()
{
    // Scrolling goes by whole rows and columns: a bar's value is TopRow or LeftCol.
    int maxTop = FixedRows_;
    for (int top = std::max(FixedRows_, RowCount() - 1); top >= FixedRows_; --top) {
        if (top + VisibleRowsFrom(top) < RowCount())
            break;
        maxTop = top;
    }
    int maxLeft = FixedCols_;
    for (int left = std::max(FixedCols_, ColCount() - 1); left >= FixedCols_; --left) {
        if (left + VisibleColsFrom(left) < ColCount())
            break;
        maxLeft = left;
    }
    // The scroll area must hear of the new ranges (its rangeChanged slot shows a bar exactly when
    // the bar has something to scroll, and hides it otherwise); only the values the bars take
    // meanwhile must not move the grid.
    SettingScrollBars_ = true;
    verticalScrollBar()->setRange(FixedRows_, maxTop);
    verticalScrollBar()->setPageStep(VisibleRowsFrom(TopRow_));
    verticalScrollBar()->setValue(TopRow_);
    horizontalScrollBar()->setRange(FixedCols_, maxLeft);
    horizontalScrollBar()->setPageStep(VisibleColsFrom(LeftCol_));
    horizontalScrollBar()->setValue(LeftCol_);
    SettingScrollBars_ = false;
}

void TStringGrid::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    if (SettingScrollBars_)
        return;
    SetTopRow(verticalScrollBar()->value());
    SetLeftCol(horizontalScrollBar()->value());
}

void TStringGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    UpdateEditor();
}

void TStringGrid::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(viewport());
    Canvas_ = TCanvas{};
    Canvas_.Painter = &painter;
    Guarded("TStringGrid::Paint", [this] { Paint(); });
    Canvas_.Painter = nullptr;
}

void TStringGrid::Paint()
{
    QPainter& p = *Canvas_.Painter;
    const int width = viewport()->width();
    const int height = viewport()->height();
    const QColor fixedLine = palette().color(QPalette::Dark);
    const QColor normalLine = palette().color(QPalette::Mid);
    const bool focused = hasFocus() || (Editor_ && Editor_->hasFocus());

    std::vector<int> rows;
    for (int r = 0; r < std::min(FixedRows_, RowCount()); ++r)
        rows.push_back(r);
    for (int r = TopRow_; r < RowCount() && RowY(r) >= 0 && RowY(r) < height; ++r)
        rows.push_back(r);
    std::vector<int> cols;
    for (int c = 0; c < std::min(FixedCols_, ColCount()); ++c)
        cols.push_back(c);
    for (int c = LeftCol_; c < ColCount() && ColumnX(c) >= 0 && ColumnX(c) < width; ++c)
        cols.push_back(c);

    int right = 0;
    int bottom = 0;
    for (int r : rows) {
        for (int c : cols) {
            const QRect rect(ColumnX(c), RowY(r), ColWidths(c), RowHeights(r));
            if (rect.top() >= height || rect.left() >= width)
                continue;
            right = std::max(right, rect.right() + 1 + kGridLineWidth);
            bottom = std::max(bottom, rect.bottom() + 1 + kGridLineWidth);
            TGridDrawState state = 0;
            const bool fixed = c < FixedCols_ || r < FixedRows_;
            const bool current = r == Row_ && (c == Col_ || (Options_ & goRowSelect) != 0);
            if (fixed)
                state |= gdFixed;
            else if (current) {
                state |= gdSelected;
                if (focused && c == Col_)
                    state |= gdFocused;
            }
            // The canvas as the cell drawing expects it: background filled, brush and font set.
            Canvas_.Font = font();
            Canvas_.BrushClear = false;
            if (fixed) {
                Canvas_.BrushColor = FixedColor_;
                Canvas_.FontColor = palette().color(QPalette::ButtonText);
            } else if ((state & gdSelected) != 0) {
                Canvas_.BrushColor = palette().color(QPalette::Highlight);
                Canvas_.FontColor = palette().color(QPalette::HighlightedText);
            } else {
                Canvas_.BrushColor = Color();
                Canvas_.FontColor = FontColor();
            }
            p.fillRect(rect, Canvas_.BrushColor);
            DrawCell(c, r, rect, state);
            // The line after the cell: right and bottom.
            const bool fixedLines = fixed;
            const TGridOptions vert = fixedLines ? goFixedVertLine : goVertLine;
            const TGridOptions horz = fixedLines ? goFixedHorzLine : goHorzLine;
            const QColor lineColor = fixedLines ? fixedLine : normalLine;
            if ((Options_ & vert) != 0)
                p.fillRect(
                    QRect(rect.right() + 1, rect.top(), kGridLineWidth, rect.height() + kGridLineWidth),
                    lineColor);
            if ((Options_ & horz) != 0)
                p.fillRect(
                    QRect(rect.left(), rect.bottom() + 1, rect.width() + kGridLineWidth, kGridLineWidth),
                    lineColor);
        }
    }
    // The area beside and below the cells keeps the grid's colour.
    if (right < width)
        p.fillRect(QRect(right, 0, width - right, height), Color());
    if (bottom < height)
        p.fillRect(QRect(0, bottom, std::min(right, width), height - bottom), Color());
}

void TStringGrid::DrawCell(int col, int row, const QRect& rect, TGridDrawState state)
{
    Canvas_.TextRect(rect, rect.left() + 2, rect.top() + 2, Cells(col, row), !Canvas_.BrushClear);
    if (OnDrawCell)
        OnDrawCell(this, col, row, rect, state);
}

bool TStringGrid::CanEditAcceptKey(QChar /*key*/) const
{
    return true;
}

bool TStringGrid::CanEditModify() const
{
    return (Options_ & goEditing) != 0;
}

QString TStringGrid::GetEditText(int col, int row) const
{
    return Cells(col, row);
}

void TStringGrid::SetEditText(int col, int row, const QString& text)
{
    InSetEditText_ = true;
    SetCells(col, row, text);
    InSetEditText_ = false;
}

QString TStringGrid::GetEditMask(int /*col*/, int /*row*/) const
{
    return {};
}

void TStringGrid::KeyDown(int& key, Qt::KeyboardModifiers& shift)
{
    const bool ctrl = (shift & Qt::ControlModifier) != 0;
    const int page = VisibleRowsFrom(TopRow_);
    int col = Col_;
    int row = Row_;
    switch (key) {
    case Qt::Key_Up:
        --row;
        break;
    case Qt::Key_Down:
        ++row;
        break;
    case Qt::Key_Left:
        --col;
        break;
    case Qt::Key_Right:
        ++col;
        break;
    case Qt::Key_PageUp:
        row -= page;
        break;
    case Qt::Key_PageDown:
        row += page;
        break;
    case Qt::Key_Home:
        if (ctrl)
            row = FixedRows_;
        col = FixedCols_;
        break;
    case Qt::Key_End:
        if (ctrl)
            row = RowCount() - 1;
        col = ColCount() - 1;
        break;
    case Qt::Key_Tab:
        if ((Options_ & goTabs) == 0)
            return;
        if ((shift & Qt::ShiftModifier) != 0) {
            if (col > FixedCols_)
                --col;
            else if (row > FixedRows_) {
                --row;
                col = ColCount() - 1;
            }
        } else if (col < ColCount() - 1) {
            ++col;
        } else if (row < RowCount() - 1) {
            ++row;
            col = FixedCols_;
        }
        break;
    case Qt::Key_F2:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!EditorMode_ || !Editor_ || !Editor_->isVisible()) {
            ShowEditor();
            key = 0;
        }
        return;
    default:
        return;
    }
    key = 0;
    MoveCurrent(col, row, EditorMode_);
}

void TStringGrid::keyPressEvent(QKeyEvent* event)
{
    if (Editor_ && Editor_->isVisible() && Editor_->hasFocus()) {
        // A key the editor left alone: it already had its chance at the grid's keys.
        event->ignore();
        return;
    }
    Guarded("TStringGrid::keyPressEvent", [&] {
        int key = event->key();
        Qt::KeyboardModifiers shift = event->modifiers();
        if (key == Qt::Key_Backtab) {
            key = Qt::Key_Tab;
            shift |= Qt::ShiftModifier;
        }
        KeyDown(key, shift);
        if (key == 0)
            return;
        // A typed character opens the editor and goes to it.
        const QString text = event->text();
        if (!text.isEmpty() && text[0].isPrint() && (shift & (Qt::ControlModifier | Qt::AltModifier)) == 0 &&
            (Options_ & goEditing) != 0) {
            ShowEditor();
            if (Editor_ && Editor_->isVisible()) {
                Editor_->setFocus(Qt::OtherFocusReason);
                QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
                QApplication::sendEvent(Editor_, &copy);
                return;
            }
        }
        QAbstractScrollArea::keyPressEvent(event);
    });
}

int TStringGrid::SizingBorderAt(int x, int y) const
{
    if ((Options_ & goColSizing) == 0)
        return -1;
    int fixedHeight = 0;
    for (int i = 0; i < FixedRows_; ++i)
        fixedHeight += RowHeights(i) + kGridLineWidth;
    if (y >= fixedHeight)
        return -1;
    for (int c = 0; c < ColCount(); ++c) {
        const int left = ColumnX(c);
        if (left < 0)
            continue;
        const int border = left + ColWidths(c);
        if (std::abs(x - border) <= kSizingReach)
            return c;
    }
    return -1;
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    Guarded("TStringGrid::mousePressEvent", [&] {
        if (event->button() != Qt::LeftButton)
            return;
        const QPoint pos = event->position().toPoint();
        SizingCol_ = SizingBorderAt(pos.x(), pos.y());
        if (SizingCol_ >= 0) {
            SizingStartX_ = pos.x();
            SizingStartWidth_ = ColWidths(SizingCol_);
            return;
        }
        const QPoint cell = MouseCoord(pos.x(), pos.y());
        if ((Options_ & goColMoving) != 0 && cell.y() >= 0 && cell.y() < FixedRows_ &&
            cell.x() >= FixedCols_) {
            MovingCol_ = cell.x();
            return;
        }
        if (cell.x() < FixedCols_ || cell.y() < FixedRows_)
            return;
        if (cell.x() == Col_ && cell.y() == Row_) {
            ShowEditor();
            return;
        }
        if ((Options_ & goAlwaysShowEditor) == 0)
            HideEditor();
        MoveCurrent(cell.x(), cell.y(), EditorMode_);
    });
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (SizingCol_ >= 0) {
        SetColWidths(SizingCol_, std::max(1, SizingStartWidth_ + pos.x() - SizingStartX_));
        return;
    }
    viewport()->setCursor(SizingBorderAt(pos.x(), pos.y()) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent* event)
{
    SizingCol_ = -1;
    const int from = MovingCol_;
    MovingCol_ = -1;
    if (from < 0 || event->button() != Qt::LeftButton)
        return;
    // A title dropped on another non-fixed column moves its column there.
    const QPoint pos = event->position().toPoint();
    const int to = MouseCoord(pos.x(), pos.y()).x();
    if (to >= FixedCols_ && to != from)
        Guarded("TStringGrid::MoveColumn", [&] { MoveColumn(from, to); });
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QPoint cell = MouseCoord(pos.x(), pos.y());
    if (event->button() == Qt::LeftButton && cell.x() == Col_ && cell.y() == Row_)
        Guarded("TStringGrid::mouseDoubleClickEvent", [this] { ShowEditor(); });
}

void TStringGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    Guarded("TStringGrid::DoEnter", [this] { DoEnter(); });
    viewport()->update();
}

void TStringGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    QWidget* next = QApplication::focusWidget();
    if (!next || (next != Editor_ && !isAncestorOf(next)))
        Guarded("TStringGrid::DoExit", [this] { DoExit(); });
    viewport()->update();
}

void TStringGrid::DoEnter() {}

void TStringGrid::DoExit() {}

bool TStringGrid::focusNextPrevChild(bool next)
{
    if ((Options_ & goTabs) != 0)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

} // namespace grid
