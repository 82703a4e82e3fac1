// TDataGrid: column synchronisation, row commands, popup menus, pixel density and drawing.
#include "grid/data_grid.h"

#include <cmath>

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "grid/grid_formats.h"
#include "grid/inplace_edit.h"

namespace grid {

namespace {

// Raises a counter for the lifetime of the object.
class DepthGuard
{
public:
    explicit DepthGuard(int& depth) : Depth_(depth) { ++Depth_; }
    ~DepthGuard() { --Depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& Depth_;
};

// value * numerator / denominator, rounded to the nearest whole number.
int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    return static_cast<int>(std::llround(static_cast<double>(product) / denominator));
}

} // namespace

TDataGrid::TDataGrid(QWidget* parent) : TStringGrid(parent)
{
    SetDefaultRowHeight(20);
    PixelsPerInch_ = 120;
    ColumnSyncDepth_ = 2;
    SetOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goColSizing | goEditing);
    // A virtual call from a constructor reaches this class's version: a derived grid that wants
    // its own collection replaces it with SetColumns or by overriding before columns exist.
    Columns_ = CreateColumnCollection();
    HideEditor();
    ColumnSyncDepth_ = 0;
    SizeChanged(ColCount(), RowCount());
}

TDataGrid::~TDataGrid()
{
    // The editor goes first: its last focus loss still reads the columns.
    DestroyEditor();
    ColumnSyncDepth_ = 2;
    Columns_.reset();
}

std::unique_ptr<TDataGridColumns> TDataGrid::CreateColumnCollection()
{
    return std::make_unique<TDataGridColumns>(this);
}

TInplaceEdit* TDataGrid::CreateEditor()
{
    return new TDataGridInplaceEdit(this);
}

void TDataGrid::SetColumns(const TDataGridColumns& value)
{
    Columns_->Assign(value);
}

void TDataGrid::SyncColCount(int count)
{
    if (ColumnSyncDepth_ > 0 || Loading_)
        return;
    const DepthGuard guard(ColumnSyncDepth_);
    SetColCount(count);
}

void TDataGrid::SizeChanged(int oldColCount, int oldRowCount)
{
    TStringGrid::SizeChanged(oldColCount, oldRowCount);
    if (Loading_ || ColumnSyncDepth_ != 0 || !Columns_)
        return;
    const DepthGuard guard(ColumnSyncDepth_);
    while (Columns_->Count() > ColCount())
        Columns_->Delete(ColCount());
    while (Columns_->Count() < ColCount())
        Columns_->Add();
}

void TDataGrid::BeginLoading()
{
    Loading_ = true;
}

void TDataGrid::EndLoading()
{
    Loading_ = false;
    // A description whose column list and column count disagree still leaves them equal.
    SizeChanged(ColCount(), RowCount());
    // The loaded sizes are scaled like designed ones: now when the grid is shown, else when it
    // is.
    DensityApplied_ = false;
    if (isVisible())
        ApplyScreenDensity();
    InvalidateGrid();
}

void TDataGrid::ApplyScreenDensity()
{
    if (DensityApplied_)
        return;
    DensityApplied_ = true;
    // Qt's device-independent pixels already follow the screen's scaling: the density they stand
    // for is the logical density divided by the device pixel ratio (96 on a plain screen).
    if (const QScreen* s = screen()) {
        const double ratio = s->devicePixelRatio() > 0 ? s->devicePixelRatio() : 1.0;
        ApplyPixelDensity(static_cast<int>(std::lround(s->logicalDotsPerInchY() / ratio)));
    }
}

void TDataGrid::SetRowCountMin(int value)
{
    RowCountMin_ = std::max(0, value);
    if (RowCountMin_ > 0 && RowCount() < RowCountMin_)
        SetRowCount(RowCountMin_);
    RowCountMinChanged();
}

void TDataGrid::SetBGImage(const QImage& image)
{
    BGImage_ = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGB32);
    InvertedBGImage_ = BGImage_;
    if (!InvertedBGImage_.isNull())
        InvertedBGImage_.invertPixels();
    InvalidateGrid();
}

void TDataGrid::AppendRow()
{
    if (BeforeInsert)
        BeforeInsert(this);
    SetRowCount(RowCount() + 1);
    InvalidateRow(RowCount() - 1);
    SelectCell(Col(), RowCount() - 1);
    if (AfterInsert)
        AfterInsert(this, RowCount() - 1);
}

void TDataGrid::InsertRow(int row)
{
    // A row among the fixed ones would push the titles into the data: refused.
    if (row < FixedRows() || row > RowCount())
        return;
    if (BeforeInsert)
        BeforeInsert(this);
    SetRowCount(RowCount() + 1);
    for (int r = RowCount() - 1; r > row; --r) {
        for (int c = 0; c < ColCount(); ++c)
            SetCells(c, r, Cells(c, r - 1));
    }
    for (int c = 0; c < ColCount(); ++c)
        SetCells(c, row, QString());
    if (AfterInsert)
        AfterInsert(this, row);
}

void TDataGrid::RemoveRow(int row)
{
    // Only data rows can go; a fixed row or a row outside the grid is left alone.
    if (row < FixedRows() || row >= RowCount())
        return;
    if (BeforeDelete)
        BeforeDelete(this);
    if (FixedRows() + 1 >= RowCount() || (RowCountMin_ != 0 && RowCountMin_ >= RowCount())) {
        for (int c = FixedCols(); c < ColCount(); ++c)
            SetCells(c, row, QString());
    } else {
        for (int r = row; r < RowCount(); ++r) {
            for (int c = 0; c < ColCount(); ++c)
                SetCells(c, r, Cells(c, r + 1));
        }
        SetRowCount(RowCount() - 1);
    }
    InvalidateEditor();
}

bool TDataGrid::IsRowCommandKey(int key, Qt::KeyboardModifiers shift) const
{
    const bool ctrl = (shift & Qt::ControlModifier) != 0;
    switch (key) {
    case Qt::Key_Tab:
        return (shift & Qt::ShiftModifier) == 0 && Row() == RowCount() - 1 && Col() == ColCount() - 1 &&
               (DataGridOptions_ & dgoAppendRow) != 0;
    case Qt::Key_Down:
        return Row() == RowCount() - 1 && (DataGridOptions_ & dgoAppendRow) != 0;
    case Qt::Key_Insert:
        return ctrl && (DataGridOptions_ & dgoInsertRow) != 0;
    case Qt::Key_Delete:
        return ctrl && (DataGridOptions_ & dgoDeleteRow) != 0;
    default:
        return false;
    }
}

void TDataGrid::KeyDown(int& key, Qt::KeyboardModifiers& shift)
{
    if (IsRowCommandKey(key, shift)) {
        switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Down:
            AppendRow();
            break;
        case Qt::Key_Insert:
            InsertRow(Row());
            key = 0;
            break;
        case Qt::Key_Delete:
            RemoveRow(Row());
            key = 0;
            break;
        default:
            break;
        }
    }
    if (key != 0)
        TStringGrid::KeyDown(key, shift);
}

void TDataGrid::DoEditButtonClick()
{
    if (OnEditButtonClick)
        OnEditButtonClick(this);
}

QString TDataGrid::GetEditMask(int col, int row) const
{
    QString value;
    if (col >= 0 && col < Columns_->Count())
        value = Columns_->Items(col).EditMask();
    if (OnGetEditMask)
        OnGetEditMask(const_cast<TDataGrid*>(this), col, row, value);
    return value;
}

void TDataGrid::ColumnMoved(int from, int to)
{
    Columns_->Move(from, to);
    TStringGrid::ColumnMoved(from, to);
}

void TDataGrid::DoEnter()
{
    if ((Options() & goEditing) != 0 && (Options() & goAlwaysShowEditor) != 0)
        ShowEditor();
    TStringGrid::DoEnter();
}

void TDataGrid::DoExit()
{
    if ((Options() & goEditing) != 0 && (Options() & goAlwaysShowEditor) != 0)
        HideEditor();
    TStringGrid::DoExit();
}

void TDataGrid::ApplyPixelDensity(int screenPixelsPerInch)
{
    if (PixelsPerInch_ <= 0 || screenPixelsPerInch <= 0)
        return;
    const std::vector<int> widths = [this] {
        std::vector<int> w;
        for (int i = 0; i < ColCount(); ++i)
            w.push_back(ColWidths(i));
        return w;
    }();
    SetDefaultRowHeight(MulDiv(DefaultRowHeight(), screenPixelsPerInch, PixelsPerInch_));
    for (int i = 0; i < ColCount(); ++i)
        SetColWidths(i, MulDiv(widths[static_cast<std::size_t>(i)], screenPixelsPerInch, PixelsPerInch_));
}

void TDataGrid::showEvent(QShowEvent* event)
{
    TStringGrid::showEvent(event);
    ApplyScreenDensity();
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    TStringGrid::mouseReleaseEvent(event);
    if (event->button() != Qt::RightButton)
        return;
    Guarded("TDataGrid::mouseReleaseEvent", [&] {
        const QPoint pos = event->position().toPoint();
        const QPoint cell = MouseCoord(pos.x(), pos.y());
        if (cell.x() < 0 || cell.y() < 0 || cell.x() >= Columns_->Count())
            return;
        QMenu* menu = Columns_->Items(cell.x()).PopupMenu();
        if (!menu)
            return;
        menu->setProperty("PopupComponent", QVariant::fromValue<QObject*>(this));
        menu->popup(viewport()->mapToGlobal(pos));
        event->accept();
    });
}

void TDataGrid::TopLeftChanged()
{
    TStringGrid::TopLeftChanged();
    if (HasBGImage())
        InvalidateGrid();
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TDataGrid::DrawCellText(TCanvas& canvas, const QRect& rect, int dx, int dy, const QString& text,
                             TAlignment alignment, bool transparent)
{
    // Every colour is exact on the devices Qt paints on: there is no palette device to refuse it.
    const int right = rect.left() + rect.width();
    int x = rect.left() + dx;
    if (alignment == taRightJustify)
        x = right - canvas.TextWidth(text) - 3;
    else if (alignment == taCenter)
        x = rect.left() + rect.width() / 2 - canvas.TextWidth(text) / 2;
    canvas.TextRect(rect, x, rect.top() + dy, text, !transparent);
}

void TDataGrid::DrawBackground(const QRect& rect, TGridDrawState state)
{
    if (!HasBGImage() || !Canvas().Painter)
        return;
    const QImage& image = (state & gdSelected) != 0 ? InvertedBGImage_ : BGImage_;
    const int w = image.width();
    const int h = image.height();
    const int nx = viewport()->width() / w;
    const int ny = viewport()->height() / h;
    for (int i = 0; i <= nx; ++i) {
        for (int j = 0; j <= ny; ++j) {
            const QRect tile(i * w, j * h, w, h);
            const QRect d = tile.intersected(rect);
            if (d.isEmpty())
                continue;
            Canvas().Painter->drawImage(d, image, d.translated(-i * w, -j * h));
        }
    }
}

void TDataGrid::DrawCell(int col, int row, const QRect& rect, TGridDrawState state)
{
    TCanvas& canvas = Canvas();
    QString text = Cells(col, row);
    TAlignment align = taLeftJustify;
    const bool hasImage = HasBGImage();
    TColumn* column = col < Columns_->Count() ? &Columns_->Items(col) : nullptr;
    if (column) {
        align = column->Alignment();
        const TFont& font = column->Font();
        if ((state & gdFocused) != 0 || ((Options() & goRowSelect) != 0 && (state & gdSelected) != 0)) {
            canvas.Font = font.Font(); // the highlight colours stay
        } else {
            canvas.Font = font.Font();
            canvas.FontColor = font.Color();
            canvas.BrushColor = column->Color();
        }
        const QString mask = column->DisplayMask();
        if (!mask.isEmpty()) {
            // A text that does not convert is shown as it is.
            if (column->Format() == cfNumber) {
                if (const auto value = StrToFloat(text))
                    text = FormatFloat(mask, *value);
            } else if (column->Format() == cfDate) {
                if (const auto value = StrToDateTime(text))
                    text = FormatDateTime(mask, *value);
            }
        }
    }
    if (row < FixedRows() && column) {
        if (!column->Title().Caption().isEmpty())
            text = column->Title().Caption();
        align = column->Title().Alignment();
        const TFont& font = column->Title().Font();
        canvas.Font = font.Font();
        canvas.FontColor = font.Color();
    }
    if (col < FixedCols() || row < FixedRows())
        canvas.BrushColor = FixedColor();
    if (!DefaultDrawing()) {
        TStringGrid::DrawCell(col, row, rect, state);
        return;
    }
    if (hasImage && col >= FixedCols() && row >= FixedRows()) {
        DrawBackground(rect, state);
        canvas.BrushClear = true;
        if ((state & (gdFocused | gdSelected)) != 0)
            canvas.FontColor = palette().color(QPalette::HighlightedText);
    }
    DrawCellText(canvas, rect, 2, 2, text, align, hasImage);
    canvas.BrushClear = false;
    if (OnDrawCell)
        OnDrawCell(this, col, row, rect, state);
}

void TDataGrid::Paint()
{
    TStringGrid::Paint();
    if (!HasBGImage())
        return;
    int x = 0;
    for (int i = 0; i < ColCount(); ++i) {
        if (i < FixedCols() || i >= LeftCol())
            x += ColWidths(i) + 1;
    }
    int y = 0;
    for (int j = 0; j < RowCount(); ++j) {
        if (j < FixedRows() || j >= TopRow())
            y += RowHeights(j) + 1;
    }
    const int width = viewport()->width();
    const int height = viewport()->height();
    if (x < width)
        DrawBackground(QRect(QPoint(x, 0), QPoint(width - 1, std::min(y, height) - 1)), 0);
    if (y < height)
        DrawBackground(QRect(QPoint(0, y), QPoint(width - 1, height - 1)), 0);
}

} // namespace grid
