// The base string grid of the data grid: a cell store of text with fixed rows and columns, a
// current cell, column widths and row heights, keyboard navigation, column sizing and an in-place
// editor that it moves over the current cell. TDataGrid (grid/data_grid.h) builds on it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QAbstractScrollArea>
#include <QColor>
#include <QLineEdit>
#include <QPoint>
#include <QRect>
#include <QString>

class QPainter;

namespace grid {

class TStringGrid;

enum TGridOption : std::uint32_t
{
    goFixedVertLine = 0x0001,
    goFixedHorzLine = 0x0002,
    goVertLine = 0x0004,
    goHorzLine = 0x0008,
    goColSizing = 0x0010,
    goColMoving = 0x0020,
    goEditing = 0x0040,
    goTabs = 0x0080,
    goRowSelect = 0x0100,
    goAlwaysShowEditor = 0x0200,
};
using TGridOptions = std::uint32_t;

enum TGridDrawStateFlag : std::uint8_t
{
    gdSelected = 0x01,
    gdFocused = 0x02,
    gdFixed = 0x04,
};
using TGridDrawState = std::uint8_t;

// The drawing surface of one paint: the painter and the settings the cell drawing works with.
struct TCanvas
{
    QPainter* Painter = nullptr;
    QFont Font;
    QColor FontColor;
    QColor BrushColor;
    bool BrushClear = false;
    // Fills rect with the brush colour unless the brush is clear.
    void FillRect(const QRect& rect) const;
    int TextWidth(const QString& text) const;
    // Writes text with its top-left corner at (x, y), clipped to clip; fills clip first when
    // opaque.
    void TextRect(const QRect& clip, int x, int y, const QString& text, bool opaque) const;
};

// The grid's in-place editor: a single-line edit field with an input mask (Qt's notation) that
// the grid moves over the current cell. Every change the user makes is stored into the cell at
// once through the grid's SetEditText. Text pasted or dropped into it is kept up to its first line
// break, so a cell the user edits never holds CR or LF.
class TInplaceEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TInplaceEdit(TStringGrid* grid);

    TStringGrid* Grid() const { return Grid_; }
    // The cell the editor was last loaded for.
    int EditCol() const { return EditCol_; }
    int EditRow() const { return EditRow_; }
    // Set by the user's changes; cleared by every load.
    bool Modified() const { return Modified_; }
    void SetModified(bool value) { Modified_ = value; }

    // Loads the editor for the grid's current cell: text, edit mask, length limit.
    virtual void UpdateContents();

protected:
    // The editor was moved or resized.
    virtual void BoundsChanged();
    // The base key handling: navigation keys go to the grid, the rest to the edit field.
    virtual void KeyDown(int& key, Qt::KeyboardModifiers& shift);
    // The base handling of a typed character: Tab and Esc are dropped (Esc thus changes nothing:
    // the text typed stays and the editor stays open). A null key stops it.
    virtual void KeyPress(QChar& key);
    // True when Tab reaches keyPressEvent instead of moving the focus.
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    // When the focus leaves the grid altogether, the grid's exit handling runs.
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class TStringGrid;
    TStringGrid* Grid_;
    int EditCol_ = -1;
    int EditRow_ = -1;
    bool Modified_ = false;
};

class TStringGrid : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    ~TStringGrid() override;

    // Cells. Reading outside the grid gives empty text; writing outside it is ignored. Writing
    // the cell the editor shows reloads the editor.
    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString& text);

    int ColCount() const { return static_cast<int>(ColWidths_.size()); }
    void SetColCount(int value);
    int RowCount() const { return static_cast<int>(RowHeights_.size()); }
    void SetRowCount(int value);
    int FixedCols() const { return FixedCols_; }
    void SetFixedCols(int value);
    int FixedRows() const { return FixedRows_; }
    void SetFixedRows(int value);
    QColor FixedColor() const { return FixedColor_; }
    void SetFixedColor(const QColor& value);

    int Col() const { return Col_; }
    void SetCol(int value) { FocusCell(value, Row_); }
    int Row() const { return Row_; }
    void SetRow(int value) { FocusCell(Col_, value); }
    // Makes (col, row) the current cell when it is a data cell that SelectCell allows.
    void FocusCell(int col, int row);
    int LeftCol() const { return LeftCol_; }
    void SetLeftCol(int value);
    int TopRow() const { return TopRow_; }
    void SetTopRow(int value);

    int DefaultColWidth() const { return DefaultColWidth_; }
    void SetDefaultColWidth(int value);
    int DefaultRowHeight() const { return DefaultRowHeight_; }
    // Resets all row heights.
    void SetDefaultRowHeight(int value);
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int RowHeights(int row) const;
    void SetRowHeights(int row, int height);

    TGridOptions Options() const { return Options_; }
    void SetOptions(TGridOptions value);
    bool DefaultDrawing() const { return DefaultDrawing_; }
    void SetDefaultDrawing(bool value);
    // The background colour of normal cells and the grid's text colour (the palette's Base and
    // Text roles).
    QColor Color() const;
    void SetColor(const QColor& value);
    QColor FontColor() const;
    void SetFontColor(const QColor& value);

    // The editor, when it was created.
    TInplaceEdit* InplaceEditor() const { return Editor_; }
    bool EditorMode() const { return EditorMode_; }
    void ShowEditor();
    void HideEditor();
    // Reloads the editor from the current cell.
    void InvalidateEditor();
    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);
    void InvalidateCol(int col);
    void InvalidateGrid();

    // The grid column and row under a point of the viewport; -1 outside the cells.
    QPoint MouseCoord(int x, int y) const;
    // The cell's rectangle in viewport coordinates (grid line excluded); empty when not visible.
    QRect CellRect(int col, int row) const;
    // Moves a column as the user's drag would: ColumnMoved, then the texts move.
    void MoveColumn(int from, int to);

    // The painting surface; valid only while the grid paints.
    TCanvas& Canvas() { return Canvas_; }

    // The base's key handling: row and column navigation, Tab with goTabs, F2 and Enter.
    virtual void KeyDown(int& key, Qt::KeyboardModifiers& shift);
    // The grid's answer whether the editor may take a typed character, and whether the current
    // cell may be changed.
    virtual bool CanEditAcceptKey(QChar key) const;
    virtual bool CanEditModify() const;
    virtual QString GetEditText(int col, int row) const;
    // The editor's path for storing its text (does not reload the editor).
    virtual void SetEditText(int col, int row, const QString& text);
    virtual QString GetEditMask(int col, int row) const;

    // Runs an action of an event handler; an exception is reported as a warning and stops there,
    // since nothing may leave a Qt event handler.
    static void Guarded(const char* where, const std::function<void()>& action);

    // Events of the base grid.
    std::function<void(TStringGrid* sender, int col, int row, const QRect& rect, TGridDrawState state)>
        OnDrawCell;
    // May set allowed to false to keep the current cell.
    std::function<void(TStringGrid* sender, int col, int row, bool& allowed)> OnSelectCell;
    std::function<void(TStringGrid* sender)> OnTopLeftChanged;
    // The grid's key-press handling of a typed character; may set key to a null character.
    std::function<void(TStringGrid* sender, QChar& key)> OnKeyPress;

protected:
    virtual TInplaceEdit* CreateEditor();
    // Destroys the editor; a derived grid does it before the editor's data goes.
    void DestroyEditor();
    virtual void Paint();
    virtual void DrawCell(int col, int row, const QRect& rect, TGridDrawState state);
    virtual bool SelectCell(int col, int row);
    // After any change of ColCount or RowCount.
    virtual void SizeChanged(int oldColCount, int oldRowCount);
    virtual void ColumnMoved(int from, int to);
    virtual void TopLeftChanged();
    virtual void DoEnter();
    virtual void DoExit();

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    friend class TInplaceEdit;
    void MoveCurrent(int col, int row, bool show);
    void ScrollIntoView(int col, int row);
    void UpdateScrollBars();
    void UpdateEditor();
    int ColumnX(int col) const;
    int RowY(int row) const;
    int VisibleRowsFrom(int top) const;
    int VisibleColsFrom(int left) const;
    int SizingBorderAt(int x, int y) const;

    std::vector<std::vector<QString>> Cells_; // [row][col]
    std::vector<int> ColWidths_;
    std::vector<int> RowHeights_;
    int FixedCols_ = 1;
    int FixedRows_ = 1;
    QColor FixedColor_;
    int Col_ = 1;
    int Row_ = 1;
    int LeftCol_ = 1;
    int TopRow_ = 1;
    int DefaultColWidth_ = 64;
    int DefaultRowHeight_ = 24;
    TGridOptions Options_ = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine;
    bool DefaultDrawing_ = true;
    TInplaceEdit* Editor_ = nullptr;
    bool EditorMode_ = false;
    bool InSetEditText_ = false;
    bool SettingScrollBars_ = false; // UpdateScrollBars sets the bars: their values move nothing
    TCanvas Canvas_;
    int SizingCol_ = -1;
    int MovingCol_ = -1; // the column whose title is dragged (goColMoving)
    int SizingStartX_ = 0;
    int SizingStartWidth_ = 0;
};

} // namespace grid
