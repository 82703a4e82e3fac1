// TDataGrid: the editable string grid with a column model, row commands, a minimum row count, a
// per-column popup menu, value checks in its own in-place editor and a tiled background picture.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QImage>

#include "grid/data_grid_columns.h"
#include "grid/string_grid.h"

namespace grid {

enum TDataGridOption : std::uint8_t
{
    dgoAppendRow = 0x01,
    dgoInsertRow = 0x02,
    dgoDeleteRow = 0x04,
};
using TDataGridOptions = std::uint8_t;

using TNotifyEvent = std::function<void(QObject* sender)>;
using TAfterInsertEvent = std::function<void(QObject* sender, int row)>;
using TGetEditEvent = std::function<void(QObject* sender, int col, int row, QString& value)>;

class TDataGrid : public TStringGrid
{
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr);
    ~TDataGrid() override;

    // Events.
    TNotifyEvent OnEditButtonClick;
    // May change the edit mask the column gives.
    TGetEditEvent OnGetEditMask;
    // First step of AppendRow and InsertRow.
    TNotifyEvent BeforeInsert;
    // First step of RemoveRow, also when the row is only emptied.
    TNotifyEvent BeforeDelete;
    // Last step of AppendRow and InsertRow, with the new row's index.
    TAfterInsertEvent AfterInsert;
    // After the editor's check of a modified cell; the sender is the editor.
    TNotifyEvent OnUserChanged;

    TDataGridColumns& Columns() { return *Columns_; }
    const TDataGridColumns& Columns() const { return *Columns_; }
    // The collection takes over the given collection's columns (each assigned from its source).
    void SetColumns(const TDataGridColumns& value);

    TDataGridOptions DataGridOptions() const { return DataGridOptions_; }
    void SetDataGridOptions(TDataGridOptions value) { DataGridOptions_ = value; }
    int RowCountMin() const { return RowCountMin_; }
    // Negative values store 0; a larger minimum grows the grid.
    void SetRowCountMin(int value);
    // The current column.
    int SelectedIndex() const { return Col(); }
    void SetSelectedIndex(int value) { SetCol(value); }
    QString Version() const { return QStringLiteral("2.0"); }
    void SetVersion(const QString& /*value*/) {}
    // The pixel density the sizes were designed at.
    int PixelsPerInch() const { return PixelsPerInch_; }
    void SetPixelsPerInch(int value) { PixelsPerInch_ = value; }

    // The background picture, tiled from the viewport's origin under the data cells and the empty
    // area beside and below them. A null image means none.
    const QImage& BGImage() const { return BGImage_; }
    void SetBGImage(const QImage& image);
    bool HasBGImage() const { return BGImage_.width() > 0 && BGImage_.height() > 0; }

    // Row commands.
    void AppendRow();
    // Inserts an empty row at row (a data row, or RowCount to append).
    void InsertRow(int row);
    // Removes a data row, or empties it when the grid may not shrink.
    void RemoveRow(int row);
    bool IsRowCommandKey(int key, Qt::KeyboardModifiers shift) const;

    // Sets ColCount unless synchronisation is suspended.
    void SyncColCount(int count);
    int ColumnSyncDepth() const { return ColumnSyncDepth_; }
    // True while the grid is loaded from its stored description.
    bool IsLoading() const { return Loading_; }
    void BeginLoading();
    // Ends loading: ColCount and the column count become equal.
    void EndLoading();

    // Scales DefaultRowHeight and the column widths from PixelsPerInch to the given density.
    // The grid does it when it is first shown and after a description was loaded.
    void ApplyPixelDensity(int screenPixelsPerInch);
    // Applies the screen's density once; a description loaded later is scaled again.
    void ApplyScreenDensity();

    virtual void DoEditButtonClick();
    QString GetEditMask(int col, int row) const override;
    void KeyDown(int& key, Qt::KeyboardModifiers& shift) override;

    // Draws one text into a cell rectangle: left-aligned text starts dx pixels right of the left
    // edge, right-aligned text ends 3 pixels left of the right edge, centred text is centred;
    // the text's top is dy pixels below the top.
    static void DrawCellText(TCanvas& canvas, const QRect& rect, int dx, int dy, const QString& text,
                             TAlignment alignment, bool transparent);
    // Tiles the background picture into rect (viewport coordinates), inverted for a selected
    // cell.
    void DrawBackground(const QRect& rect, TGridDrawState state);

protected:
    virtual std::unique_ptr<TDataGridColumns> CreateColumnCollection();
    virtual void RowCountMinChanged() {}

    TInplaceEdit* CreateEditor() override;
    void Paint() override;
    void DrawCell(int col, int row, const QRect& rect, TGridDrawState state) override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void ColumnMoved(int from, int to) override;
    void TopLeftChanged() override;
    void DoEnter() override;
    void DoExit() override;

    void showEvent(QShowEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    friend class TColumn;
    friend class TDataGridColumns;
    std::unique_ptr<TDataGridColumns> Columns_;
    int RowCountMin_ = 0;
    TDataGridOptions DataGridOptions_ = 0;
    int ColumnSyncDepth_ = 0;
    QImage BGImage_;
    QImage InvertedBGImage_;
    int PixelsPerInch_ = 120;
    bool Loading_ = false;
    bool DensityApplied_ = false;
};

} // namespace grid
