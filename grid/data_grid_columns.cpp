// The column model of the data grid.
#include "grid/data_grid_columns.h"

#include <algorithm>

#include <QApplication>
#include <QPalette>

#include "grid/data_grid.h"

namespace grid {

namespace {

// Detaches a font's change handler for its lifetime, so that a copy neither sets a flag nor
// reports a change; the handler is back afterwards whatever happened.
class DetachedHandler
{
public:
    explicit DetachedHandler(TFont& font) : Font_(font), Handler_(std::move(font.OnChange))
    {
        Font_.OnChange = nullptr;
    }
    ~DetachedHandler() { Font_.OnChange = std::move(Handler_); }
    DetachedHandler(const DetachedHandler&) = delete;
    DetachedHandler& operator=(const DetachedHandler&) = delete;

private:
    TFont& Font_;
    std::function<void()> Handler_;
};

TFont GridFont(const TDataGrid* grid)
{
    return TFont(grid->font(), grid->FontColor());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TFont

void TFont::Changed()
{
    if (OnChange)
        OnChange();
}

void TFont::SetFont(const QFont& font)
{
    Font_ = font;
    Changed();
}

void TFont::SetColor(const QColor& color)
{
    Color_ = color;
    Changed();
}

void TFont::SetPointSize(int size)
{
    Font_.setPointSize(size);
    Changed();
}

void TFont::SetBold(bool bold)
{
    Font_.setBold(bold);
    Changed();
}

void TFont::SetItalic(bool italic)
{
    Font_.setItalic(italic);
    Changed();
}

void TFont::Assign(const TFont& source)
{
    Font_ = source.Font_;
    Color_ = source.Color_;
    Changed();
}

void TFont::AssignQuietly(const TFont& source)
{
    Font_ = source.Font_;
    Color_ = source.Color_;
}

// ---------------------------------------------------------------------------------------------
// TColumnTitle

TColumnTitle::TColumnTitle(TColumn* column) : Column_(column)
{
    Font_.AssignQuietly(FallbackFont());
    Font_.OnChange = [this] { FontEdited(); };
}

void TColumnTitle::FontEdited()
{
    Column_->ExplicitValues_ |= evTitleFont;
    Column_->ColumnChanged(true);
}

TAlignment TColumnTitle::Alignment() const
{
    return (Column_->ExplicitValues_ & evTitleAlignment) != 0 ? Alignment_ : FallbackAlignment();
}

void TColumnTitle::SetAlignment(TAlignment value)
{
    if ((Column_->ExplicitValues_ & evTitleAlignment) != 0 && value == Alignment_)
        return;
    Alignment_ = value;
    Column_->ExplicitValues_ |= evTitleAlignment;
    Column_->ColumnChanged(false);
}

QString TColumnTitle::Caption() const
{
    return (Column_->ExplicitValues_ & evTitleCaption) != 0 ? Caption_ : FallbackCaption();
}

void TColumnTitle::SetCaption(const QString& value)
{
    if ((Column_->ExplicitValues_ & evTitleCaption) != 0 && value == Caption_)
        return;
    Caption_ = value;
    Column_->ExplicitValues_ |= evTitleCaption;
    Column_->ColumnChanged(false);
}

TFont TColumnTitle::FallbackFont() const
{
    if (const TDataGrid* grid = Column_->OwningGrid())
        return GridFont(grid);
    return Column_->Font();
}

TFont& TColumnTitle::Font()
{
    if ((Column_->ExplicitValues_ & evTitleFont) == 0) {
        const TFont fallback = FallbackFont();
        if (!Font_.SameHandle(fallback) || Font_.Color() != fallback.Color()) {
            DetachedHandler detached(Font_);
            Font_.AssignQuietly(fallback);
        }
    }
    return Font_;
}

void TColumnTitle::SetFont(const TFont& value)
{
    Font_.Assign(value);
}

void TColumnTitle::Assign(const TColumnTitle& source)
{
    const TExplicitValues flags = source.Column_->ExplicitValues_;
    if ((flags & evTitleAlignment) != 0)
        SetAlignment(source.Alignment_);
    if ((flags & evTitleCaption) != 0)
        SetCaption(source.Caption_);
    if ((flags & evTitleFont) != 0)
        SetFont(source.Font_);
}

void TColumnTitle::ResetToFallbacks()
{
    const bool hadFont = (Column_->ExplicitValues_ & evTitleFont) != 0;
    Column_->ExplicitValues_ &= static_cast<TExplicitValues>(~evTitleGroup);
    Caption_.clear();
    SyncFallbackFont();
    Column_->ColumnChanged(hadFont);
}

void TColumnTitle::SyncFallbackFont()
{
    if ((Column_->ExplicitValues_ & evTitleFont) != 0)
        return;
    DetachedHandler detached(Font_);
    Font_.AssignQuietly(FallbackFont());
}

bool TColumnTitle::IsAlignmentStored() const
{
    return (Column_->ExplicitValues_ & evTitleAlignment) != 0 && Alignment_ != taLeftJustify;
}

bool TColumnTitle::IsCaptionStored() const
{
    return (Column_->ExplicitValues_ & evTitleCaption) != 0 && !Caption_.isEmpty();
}

bool TColumnTitle::IsFontStored() const
{
    return (Column_->ExplicitValues_ & evTitleFont) != 0;
}

// ---------------------------------------------------------------------------------------------
// TColumn

TColumn::TColumn(TDataGridColumns* collection) : Collection_(collection) {}

TColumn::~TColumn() = default;

void TColumn::Create()
{
    TDataGrid* grid = OwningGrid();
    struct SyncAtEnd
    {
        TColumn* column;
        TDataGrid* grid;
        ~SyncAtEnd()
        {
            // Only the grid's own collection drives its column count.
            if (!grid || grid->Columns_.get() != column->Collection_)
                return;
            const int count = column->Collection_->Count();
            grid->SyncColCount(count);
            column->InternalCol_ = count - 1;
        }
    } syncAtEnd{this, grid};

    DropDownRows_ = 7;
    ButtonStyle_ = cbsAuto;
    Font_.AssignQuietly(FallbackFont());
    Font_.OnChange = [this] { FontEdited(); };
    ReadOnly_ = false;
    Title_ = NewTitle();
}

std::unique_ptr<TColumnTitle> TColumn::NewTitle()
{
    return std::make_unique<TColumnTitle>(this);
}

int TColumn::Index() const
{
    return Collection_ ? Collection_->IndexOf(this) : -1;
}

TDataGrid* TColumn::OwningGrid() const
{
    return Collection_ ? Collection_->Grid() : nullptr;
}

void TColumn::ColumnChanged(bool allItems)
{
    if (Collection_ && Collection_->UpdateCount() == 0)
        Collection_->Update(allItems ? nullptr : this);
}

TAlignment TColumn::Alignment() const
{
    return (ExplicitValues_ & evAlignment) != 0 ? Alignment_ : FallbackAlignment();
}

void TColumn::SetAlignment(TAlignment value)
{
    if ((ExplicitValues_ & evAlignment) != 0 && value == Alignment_)
        return;
    Alignment_ = value;
    ExplicitValues_ |= evAlignment;
    ColumnChanged(false);
}

void TColumn::SetButtonStyle(TColumnButtonStyle value)
{
    if (value == ButtonStyle_)
        return;
    ButtonStyle_ = value;
    ColumnChanged(false);
}

void TColumn::SetFormat(TColumnFormat value)
{
    if (value == Format_)
        return;
    Format_ = value;
    DisplayMask_.clear();
    ColumnChanged(false);
}

QColor TColumn::FallbackColor() const
{
    if (const TDataGrid* grid = OwningGrid())
        return grid->Color();
    return QApplication::palette().color(QPalette::Base);
}

QColor TColumn::Color() const
{
    return (ExplicitValues_ & evColor) != 0 ? Color_ : FallbackColor();
}

void TColumn::SetColor(const QColor& value)
{
    if ((ExplicitValues_ & evColor) != 0 && value == Color_)
        return;
    Color_ = value;
    ExplicitValues_ |= evColor;
    ColumnChanged(false);
}

TFont TColumn::FallbackFont() const
{
    if (const TDataGrid* grid = OwningGrid())
        return GridFont(grid);
    return Font_;
}

TFont& TColumn::Font()
{
    if ((ExplicitValues_ & evFont) == 0) {
        const TFont fallback = FallbackFont();
        // Only a change of the font itself is followed, not a change of its colour alone.
        if (!Font_.SameHandle(fallback)) {
            DetachedHandler detached(Font_);
            Font_.AssignQuietly(fallback);
        }
    }
    return Font_;
}

void TColumn::SetFont(const TFont& value)
{
    Font_.Assign(value);
    ExplicitValues_ |= evFont;
    ColumnChanged(false);
}

void TColumn::FontEdited()
{
    ExplicitValues_ |= evFont;
    if (Title_)
        Title_->SyncFallbackFont();
    ColumnChanged(false);
}

void TColumn::SyncFallbackFont()
{
    if ((ExplicitValues_ & evFont) != 0)
        return;
    DetachedHandler detached(Font_);
    Font_.AssignQuietly(FallbackFont());
}

QStringList& TColumn::PickList()
{
    if (!PickList_)
        PickList_ = std::make_unique<QStringList>();
    return *PickList_;
}

void TColumn::SetPickList(const QStringList* value)
{
    if (!value) {
        PickList_.reset();
        return;
    }
    PickList() = *value;
}

bool TColumn::FallbackReadOnly() const
{
    const TDataGrid* grid = OwningGrid();
    return !grid || (grid->Options() & goEditing) == 0;
}

bool TColumn::ReadOnly() const
{
    return (ExplicitValues_ & evReadOnly) != 0 ? ReadOnly_ : FallbackReadOnly();
}

void TColumn::SetReadOnly(bool value)
{
    if ((ExplicitValues_ & evReadOnly) != 0 && value == ReadOnly_)
        return;
    ReadOnly_ = value;
    ExplicitValues_ |= evReadOnly;
    ColumnChanged(false);
}

void TColumn::SetDisplayMask(const QString& value)
{
    DisplayMask_ = value;
    ColumnChanged(false);
}

void TColumn::Assign(const TColumn& source)
{
    if (&source == this)
        return;
    if (Collection_)
        Collection_->BeginUpdate();
    struct EndAtExit
    {
        TDataGridColumns* collection;
        ~EndAtExit()
        {
            if (collection)
                collection->EndUpdate();
        }
    } endAtExit{Collection_};

    ResetToFallbacks();
    const TExplicitValues flags = source.ExplicitValues_;
    if ((flags & evColor) != 0)
        SetColor(source.Color_);
    if ((flags & evFont) != 0)
        SetFont(source.Font_);
    if ((flags & evAlignment) != 0)
        SetAlignment(source.Alignment_);
    if ((flags & evReadOnly) != 0)
        SetReadOnly(source.ReadOnly_);
    Title_->Assign(*source.Title_);
    DropDownRows_ = source.DropDownRows_;
    SetButtonStyle(source.ButtonStyle_);
    // Reading the source's list creates an empty one there when it had none.
    SetPickList(&const_cast<TColumn&>(source).PickList());
    SetPopupMenu(source.PopupMenu());
}

void TColumn::ResetToFallbacks()
{
    const bool hadFont = (ExplicitValues_ & evFont) != 0;
    Title_->ResetToFallbacks();
    ExplicitValues_ = 0;
    SyncFallbackFont();
    PickList_.reset();
    SetButtonStyle(cbsAuto);
    ColumnChanged(hadFont);
}

bool TColumn::IsAlignmentStored() const
{
    return (ExplicitValues_ & evAlignment) != 0 && Alignment_ != taLeftJustify;
}

bool TColumn::IsColorStored() const
{
    return (ExplicitValues_ & evColor) != 0 && Color_ != FallbackColor();
}

bool TColumn::IsFontStored() const
{
    return (ExplicitValues_ & evFont) != 0;
}

bool TColumn::IsReadOnlyStored() const
{
    return (ExplicitValues_ & evReadOnly) != 0 && ReadOnly_ != FallbackReadOnly();
}

// ---------------------------------------------------------------------------------------------
// TDataGridColumns

TDataGridColumns::TDataGridColumns(TDataGrid* grid) : Grid_(grid) {}

TDataGridColumns::~TDataGridColumns() = default;

int TDataGridColumns::IndexOf(const TColumn* column) const
{
    for (std::size_t i = 0; i < Items_.size(); ++i) {
        if (Items_[i].get() == column)
            return static_cast<int>(i);
    }
    return -1;
}

std::unique_ptr<TColumn> TDataGridColumns::NewColumn()
{
    return std::make_unique<TColumn>(this);
}

TColumn& TDataGridColumns::Add()
{
    Items_.push_back(NewColumn());
    TColumn& column = *Items_.back();
    column.Create();
    return column;
}

void TDataGridColumns::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    // The grid loses its last column first; the item then leaves the collection.
    if (Grid_ && Grid_->Columns_.get() == this && Grid_->ColumnSyncDepth() == 0)
        Grid_->SyncColCount(Grid_->ColCount() - 1);
    Items_.erase(Items_.begin() + index);
    if (UpdateCount_ == 0)
        Update(nullptr);
}

void TDataGridColumns::Clear()
{
    BeginUpdate();
    while (Count() > 0)
        Delete(Count() - 1);
    EndUpdate();
}

void TDataGridColumns::Move(int from, int to)
{
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to)
        return;
    auto column = std::move(Items_[static_cast<std::size_t>(from)]);
    Items_.erase(Items_.begin() + from);
    Items_.insert(Items_.begin() + to, std::move(column));
    if (UpdateCount_ == 0)
        Update(nullptr);
}

void TDataGridColumns::Assign(const TDataGridColumns& source)
{
    if (&source == this)
        return;
    BeginUpdate();
    struct EndAtExit
    {
        TDataGridColumns* collection;
        ~EndAtExit() { collection->EndUpdate(); }
    } endAtExit{this};
    Clear();
    for (int i = 0; i < source.Count(); ++i)
        Add().Assign(source.Items(i));
}

void TDataGridColumns::EndUpdate()
{
    if (UpdateCount_ > 0 && --UpdateCount_ == 0)
        Update(nullptr);
}

void TDataGridColumns::Update(TColumn* item)
{
    if (!Grid_ || Grid_->IsLoading())
        return;
    // The changed column is repainted (all of the grid for a change of every column), not merely
    // the current column.
    if (item) {
        const int index = IndexOf(item);
        if (index >= 0)
            Grid_->InvalidateCol(index);
    } else {
        Grid_->InvalidateGrid();
    }
}

} // namespace grid
