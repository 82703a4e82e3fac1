// The data grid's cell editor TDataGridInplaceEdit, with its ellipsis or drop-down button, and
// the pick list TPopupListbox with its incremental search.
#pragma once

#include <cstdint>
#include <functional>

#include <QListWidget>

#include "grid/string_grid.h"

namespace grid {

class TDataGrid;
class TColumn;
class TDataGridInplaceEdit;

enum TEditButtonKind : std::uint8_t
{
    ebkNone = 0,
    ebkEllipsis = 1,
    ebkPickList = 2,
};

// The warning sound of the editor (a refused character, a value that fails its check). The
// handler replaces QApplication::beep; an empty handler restores it.
void Beep();
void SetBeepHandler(std::function<void()> handler);

// The pick list: a frameless top-level list shown under (or above) the editor without taking the
// keyboard focus; the editor passes it the keys while it is open.
class TPopupListbox : public QListWidget
{
    Q_OBJECT
public:
    explicit TPopupListbox(TDataGridInplaceEdit* editor);

    // The typed search prefix, at most 32 characters.
    QString SearchText() const { return SearchText_; }
    // The millisecond clock of the search; replaceable for tests.
    std::function<qint64()> Clock;
    // The height of one row.
    int ItemHeight() const;

    // Called after the base handling of a mouse release in the list.
    std::function<void(Qt::MouseButton button, const QPoint& pos)> OnMouseUp;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Typing: a pause of more than 2 seconds starts a new prefix.
    void KeyPress(QChar& key);

    TDataGridInplaceEdit* Editor_;
    QString SearchText_;
    qint64 SearchTickCount_ = 0;
};

class TDataGridInplaceEdit : public TInplaceEdit
{
    Q_OBJECT
public:
    explicit TDataGridInplaceEdit(TDataGrid* grid);

    TDataGrid* DataGrid() const;
    TEditButtonKind ButtonKind() const { return ButtonKind_; }
    int ButtonWidth() const { return ButtonWidth_; }
    // The list created for a pick-list column (none before the first one).
    TPopupListbox* PickListBox() const { return PickListBox_; }
    TPopupListbox* ActiveList() const { return ActiveList_; }
    bool ListVisible() const { return ListVisible_; }
    bool Pressed() const { return Pressed_; }
    // The editor's text as shown right after it was loaded for its cell.
    QString EntryText() const { return EntryText_; }
    // The button's rectangle in the editor's coordinates.
    QRect ButtonRect() const;

    void UpdateContents() override;
    void SetButtonKind(TEditButtonKind kind);
    void ShowPickList();
    // Closes the list; with accept, its selected item becomes the cell's value.
    void HidePickList(bool accept);
    // Enter and Esc close an open list; Alt+Up and Alt+Down open or accept it. A consumed key is
    // set to 0.
    void HandlePickListKeys(int& key, Qt::KeyboardModifiers shift);
    // Checks and normalises a modified value by its column's format, then reports
    // OnUserChanged. Runs before Tab and navigation keys and when the editor loses the focus.
    void CommitCellEdit();

protected:
    void BoundsChanged() override;
    void KeyDown(int& key, Qt::KeyboardModifiers& shift) override;
    void KeyPress(QChar& key) override;

    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // While the list is open: a mouse press on any other control closes it without a choice,
    // as a control that takes over the mouse would.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MouseDown(Qt::MouseButton button, bool doubleClick, const QPoint& pos);
    void UpdateButtonPressed(int x, int y);
    void EndButtonTracking();
    void PickListMouseUp(Qt::MouseButton button, const QPoint& pos);
    // The column the editor stands in, or none.
    TColumn* EditColumn() const;

    int ButtonWidth_;
    TPopupListbox* PickListBox_ = nullptr;
    TPopupListbox* ActiveList_ = nullptr;
    TEditButtonKind ButtonKind_ = ebkNone;
    bool ListVisible_ = false;
    bool Tracking_ = false;
    bool Pressed_ = false;
    // A drag from the button went on in the open list.
    bool DraggingInList_ = false;
    QString EntryText_;
};

} // namespace grid
