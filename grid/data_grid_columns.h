// The column model of the data grid: TColumnTitle, TColumn and the collection TDataGridColumns.
//
// A column property that was never set explicitly follows the grid: its value is computed from
// the grid's settings each time it is read (the fallback). Setting it records the fact in the
// column's ExplicitValues flags, and from then on the column keeps its own value. The same flags
// decide what the grid's stored description writes (grid/grid_description.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QColor>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace grid {

class TDataGrid;
class TDataGridColumns;
class TColumn;

enum TAlignment : std::uint8_t
{
    taLeftJustify,
    taRightJustify,
    taCenter,
};

enum TColumnButtonStyle : std::uint8_t
{
    cbsAuto,
    cbsEllipsis,
    cbsNone,
};

enum TColumnFormat : std::uint8_t
{
    cfString,
    cfNumber,
    cfDate,
};

// The flags of TColumn::ExplicitValues(): which properties hold a value of their own.
enum TExplicitValue : std::uint16_t
{
    evColor = 0x0001,
    evFont = 0x0004,
    evAlignment = 0x0008,
    evReadOnly = 0x0010,
    evTitleCaption = 0x0040,
    evTitleAlignment = 0x0080,
    evTitleFont = 0x0100,
};
using TExplicitValues = std::uint16_t;
// The title's group of flags, cleared together by TColumnTitle::ResetToFallbacks.
inline constexpr TExplicitValues evTitleGroup = 0x01E0;

// A font with a colour and a change handler, as the grid's columns and titles keep them.
class TFont
{
public:
    TFont() = default;
    TFont(const QFont& font, const QColor& color) : Font_(font), Color_(color) {}

    const QFont& Font() const { return Font_; }
    const QColor& Color() const { return Color_; }
    void SetFont(const QFont& font);
    void SetColor(const QColor& color);
    void SetPointSize(int size);
    void SetBold(bool bold);
    void SetItalic(bool italic);
    // Copies font and colour from source, then reports one change.
    void Assign(const TFont& source);
    // Copies font and colour without reporting (the handler is detached for the copy).
    void AssignQuietly(const TFont& source);
    // The attributes that make a font handle: family, size, style, weight. Colour is excluded.
    bool SameHandle(const TFont& other) const { return Font_ == other.Font_; }
    bool operator==(const TFont& other) const { return Font_ == other.Font_ && Color_ == other.Color_; }

    // Called after every change.
    std::function<void()> OnChange;

private:
    void Changed();

    QFont Font_;
    QColor Color_{Qt::black};
};

class TColumnTitle
{
public:
    explicit TColumnTitle(TColumn* column);
    virtual ~TColumnTitle() = default;
    TColumnTitle(const TColumnTitle&) = delete;
    TColumnTitle& operator=(const TColumnTitle&) = delete;

    TColumn* Column() const { return Column_; }

    TAlignment Alignment() const;
    void SetAlignment(TAlignment value);
    QString Caption() const;
    virtual void SetCaption(const QString& value);
    // The title font: the explicit one, or a copy of the fallback refreshed on every read.
    TFont& Font();
    void SetFont(const TFont& value);

    // Copies the explicit values of the source's title (a source title of another kind would be
    // refused; in C++ the type system already refuses it).
    virtual void Assign(const TColumnTitle& source);
    virtual void ResetToFallbacks();
    void SyncFallbackFont();

    TAlignment FallbackAlignment() const { return taLeftJustify; }
    QString FallbackCaption() const { return {}; }
    TFont FallbackFont() const;

    // What a stored description writes of the title.
    bool IsAlignmentStored() const;
    bool IsCaptionStored() const;
    bool IsFontStored() const;

private:
    void FontEdited();

    TColumn* Column_;
    QString Caption_;
    TFont Font_;
    TAlignment Alignment_ = taLeftJustify;
};

class TColumn
{
public:
    explicit TColumn(TDataGridColumns* collection);
    virtual ~TColumn();
    TColumn(const TColumn&) = delete;
    TColumn& operator=(const TColumn&) = delete;

    // The second step of construction, run by the collection once the item is in it: the
    // defaults, the font, the title; then the grid's column count follows the collection.
    virtual void Create();

    TDataGridColumns* Collection() const { return Collection_; }
    int Index() const;
    // The grid reached through the collection, or none.
    TDataGrid* OwningGrid() const;

    QString EditMask() const { return EditMask_; }
    void SetEditMask(const QString& value) { EditMask_ = value; }
    int MaxLength() const { return MaxLength_; }
    void SetMaxLength(int value) { MaxLength_ = value; }
    bool LimitToList() const { return LimitToList_; }
    void SetLimitToList(bool value) { LimitToList_ = value; }
    TAlignment Alignment() const;
    virtual void SetAlignment(TAlignment value);
    TColumnButtonStyle ButtonStyle() const { return ButtonStyle_; }
    void SetButtonStyle(TColumnButtonStyle value);
    TColumnFormat Format() const { return Format_; }
    // A new format clears DisplayMask.
    void SetFormat(TColumnFormat value);
    QColor Color() const;
    void SetColor(const QColor& value);
    unsigned DropDownRows() const { return DropDownRows_; }
    void SetDropDownRows(unsigned value) { DropDownRows_ = value; }
    // The column font: the explicit one, or a copy of the fallback refreshed when the grid's font
    // (not merely its colour) changed.
    TFont& Font();
    void SetFont(const TFont& value);
    // Creates an empty list on first read.
    QStringList& PickList();
    bool HasPickList() const { return PickList_ != nullptr; }
    // Nullptr destroys the list; otherwise the strings are copied into it.
    void SetPickList(const QStringList* value);
    QMenu* PopupMenu() const { return PopupMenu_; }
    // A plain reference: it becomes null by itself when the menu is destroyed first.
    void SetPopupMenu(QMenu* value) { PopupMenu_ = value; }
    bool ReadOnly() const;
    virtual void SetReadOnly(bool value);
    TColumnTitle& Title() { return *Title_; }
    const TColumnTitle& Title() const { return *Title_; }
    void SetTitle(const TColumnTitle& value) { Title_->Assign(value); }
    QString DisplayMask() const { return DisplayMask_; }
    // Reports a change every time, also when the text is the same.
    virtual void SetDisplayMask(const QString& value);
    // The index the column had when it was added to a grid's collection.
    int InternalCol() const { return InternalCol_; }

    TExplicitValues ExplicitValues() const { return ExplicitValues_; }

    // Copies the explicit settings, the title, DropDownRows, ButtonStyle, PickList and PopupMenu.
    // EditMask, MaxLength, LimitToList, Format, DisplayMask and InternalCol are not copied.
    virtual void Assign(const TColumn& source);
    virtual void ResetToFallbacks();

    QColor FallbackColor() const;
    TFont FallbackFont() const;
    bool FallbackReadOnly() const;
    TAlignment FallbackAlignment() const { return taLeftJustify; }

    // What a stored description writes of the column.
    bool IsAlignmentStored() const;
    bool IsColorStored() const;
    bool IsFontStored() const;
    bool IsReadOnlyStored() const;

    // The change report of the item: the collection's update notification unless the collection
    // is inside BeginUpdate/EndUpdate.
    void ColumnChanged(bool allItems);

protected:
    virtual std::unique_ptr<TColumnTitle> NewTitle();

private:
    friend class TColumnTitle;
    friend class TDataGridColumns;
    void FontEdited();
    void SyncFallbackFont();

    TDataGridColumns* Collection_;
    QColor Color_;
    bool LimitToList_ = false;
    QString EditMask_;
    int MaxLength_ = 0;
    TColumnFormat Format_ = cfString;
    QString DisplayMask_;
    std::unique_ptr<TColumnTitle> Title_;
    TFont Font_;
    std::unique_ptr<QStringList> PickList_;
    QPointer<QMenu> PopupMenu_;
    unsigned DropDownRows_ = 7;
    TColumnButtonStyle ButtonStyle_ = cbsAuto;
    TAlignment Alignment_ = taLeftJustify;
    bool ReadOnly_ = false;
    TExplicitValues ExplicitValues_ = 0;
    int InternalCol_ = -1;
};

// The grid's columns: item i describes grid column i, fixed columns included.
class TDataGridColumns
{
public:
    explicit TDataGridColumns(TDataGrid* grid);
    virtual ~TDataGridColumns();
    TDataGridColumns(const TDataGridColumns&) = delete;
    TDataGridColumns& operator=(const TDataGridColumns&) = delete;

    TDataGrid* Grid() const { return Grid_; }
    int Count() const { return static_cast<int>(Items_.size()); }
    // Precondition: 0 <= index < Count().
    TColumn& Items(int index) const { return *Items_.at(static_cast<std::size_t>(index)); }
    TColumn& operator[](int index) const { return Items(index); }
    int IndexOf(const TColumn* column) const;

    // Appends a new column; on a grid, the grid's column count follows.
    TColumn& Add();
    // Destroys the column at index; on a grid, the grid loses its last column.
    void Delete(int index);
    void Clear();
    // Moves the column object from one index to another (the grid moves the cell texts).
    void Move(int from, int to);
    // Clears, then adds one column per source item, each assigned from it.
    void Assign(const TDataGridColumns& source);

    void BeginUpdate() { ++UpdateCount_; }
    // Closing the outermost bracket reports one change of all columns.
    void EndUpdate();
    int UpdateCount() const { return UpdateCount_; }

protected:
    // The item class of the collection.
    virtual std::unique_ptr<TColumn> NewColumn();
    // The update notification: item = null stands for all columns.
    virtual void Update(TColumn* item);

private:
    friend class TColumn;
    TDataGrid* Grid_;
    std::vector<std::unique_ptr<TColumn>> Items_;
    int UpdateCount_ = 0;
};

} // namespace grid
