// The data grid's cell editor and pick list.
#include "grid/inplace_edit.h"

#include <algorithm>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>

#include "grid/data_grid.h"
#include "grid/grid_formats.h"

namespace grid {

namespace {

std::function<void()>& BeepHandler()
{
    static std::function<void()> handler;
    return handler;
}

// The first-letter choice and the date words compare letters without case, Polish letters
// included: a user who types "ł" in a list of towns means "Łódź".
QChar UpperLetter(QChar ch)
{
    return ch.toUpper();
}

qint64 MonotonicMilliseconds()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

} // namespace

void Beep()
{
    if (BeepHandler())
        BeepHandler()();
    else
        QApplication::beep();
}

void SetBeepHandler(std::function<void()> handler)
{
    BeepHandler() = std::move(handler);
}

// ---------------------------------------------------------------------------------------------
// TPopupListbox

TPopupListbox::TPopupListbox(TDataGridInplaceEdit* editor)
    : QListWidget(editor), Clock(MonotonicMilliseconds), Editor_(editor)
{
    // A top-level window of its own that never takes the focus: the keyboard stays with the
    // editor, which hands the list its keys while it is open.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hide();
}

int TPopupListbox::ItemHeight() const
{
    const int hint = count() > 0 ? sizeHintForRow(0) : -1;
    return hint > 0 ? hint : fontMetrics().height();
}

void TPopupListbox::KeyPress(QChar& key)
{
    if (key == QChar(8) || key == QChar(27)) {
        SearchText_.clear();
        return;
    }
    if (key.unicode() < 32)
        return;
    const qint64 now = Clock();
    if (now - SearchTickCount_ > 2000)
        SearchText_.clear();
    SearchTickCount_ = now;
    if (SearchText_.size() < 32)
        SearchText_ += key;
    for (int i = 0; i < count(); ++i) {
        if (item(i)->text().startsWith(SearchText_, Qt::CaseInsensitive)) {
            setCurrentRow(i);
            break;
        }
    }
    key = QChar();
}

void TPopupListbox::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (!text.isEmpty()) {
        QChar ch = text[0];
        KeyPress(ch);
        if (ch.isNull())
            return;
    }
    QListWidget::keyPressEvent(event);
}

void TPopupListbox::mouseReleaseEvent(QMouseEvent* event)
{
    QListWidget::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(event->button(), pos);
}

// ---------------------------------------------------------------------------------------------
// TDataGridInplaceEdit

TDataGridInplaceEdit::TDataGridInplaceEdit(TDataGrid* grid)
    : TInplaceEdit(grid), ButtonWidth_(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this))
{}

TDataGrid* TDataGridInplaceEdit::DataGrid() const
{
    return static_cast<TDataGrid*>(Grid());
}

TColumn* TDataGridInplaceEdit::EditColumn() const
{
    const int col = EditCol();
    TDataGrid* grid = DataGrid();
    if (col < 0 || col >= grid->Columns().Count())
        return nullptr;
    return &grid->Columns().Items(col);
}

QRect TDataGridInplaceEdit::ButtonRect() const
{
    return QRect(width() - ButtonWidth_, 0, ButtonWidth_, height());
}

void TDataGridInplaceEdit::UpdateContents()
{
    // The column is the one of the cell about to be loaded: the grid's current cell.
    TEditButtonKind kind = ebkNone;
    TDataGrid* grid = DataGrid();
    TColumn* column = grid->Col() >= 0 && grid->Col() < grid->Columns().Count()
                          ? &grid->Columns().Items(grid->Col())
                          : nullptr;
    if (column) {
        switch (column->ButtonStyle()) {
        case cbsEllipsis:
            kind = ebkEllipsis;
            break;
        case cbsNone:
            kind = ebkNone;
            break;
        case cbsAuto:
            if (!column->PickList().isEmpty() && !column->ReadOnly())
                kind = ebkPickList;
            break;
        }
    }
    HidePickList(false);
    TInplaceEdit::UpdateContents();
    SetButtonKind(kind);
    if (column && column->MaxLength() > 0)
        setMaxLength(column->MaxLength());
    EntryText_ = displayText();
}

void TDataGridInplaceEdit::SetButtonKind(TEditButtonKind kind)
{
    ButtonKind_ = kind;
    if (kind == ebkPickList) {
        if (!PickListBox_) {
            PickListBox_ = new TPopupListbox(this);
            PickListBox_->OnMouseUp = [this](Qt::MouseButton button, const QPoint& pos) {
                PickListMouseUp(button, pos);
            };
        }
        ActiveList_ = PickListBox_;
    } else {
        ActiveList_ = nullptr;
    }
    const TColumn* column = EditColumn();
    setReadOnly(column ? column->ReadOnly() || (kind == ebkPickList && column->LimitToList()) : false);
    BoundsChanged();
    update();
}

void TDataGridInplaceEdit::BoundsChanged()
{
    // The editor moved (the grid scrolled or a column was sized): an open list would no longer
    // stand under it.
    HidePickList(false);
    // Qt keeps its own 2-pixel margin at the left; the button's width is kept free at the right.
    setTextMargins(0, 0, ButtonKind_ != ebkNone ? ButtonWidth_ : 0, 0);
}

void TDataGridInplaceEdit::paintEvent(QPaintEvent* event)
{
    TInplaceEdit::paintEvent(event);
    if (ButtonKind_ == ebkNone)
        return;
    QPainter painter(this);
    const QRect r = ButtonRect();
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = r;
    option.state &= ~QStyle::State_HasFocus;
    if (ButtonKind_ == ebkPickList) {
        if (!ActiveList_)
            option.state &= ~QStyle::State_Enabled;
        option.state |= Pressed_ ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
        QStyleOption arrow = option;
        arrow.rect = r.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &painter, this);
        return;
    }
    option.state |= Pressed_ ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
    // Three small black squares.
    const int side = std::max(1, height() / 8);
    const int d = r.width() / 2 - 1 + (Pressed_ ? 1 : 0);
    const int top = r.top() + d + 3 > r.bottom() - side ? r.top() + (r.height() - side) / 2 : r.top() + d + 3;
    for (int left : {r.left() + d - 2 * side, r.left() + d, r.left() + d + 2 * side})
        painter.fillRect(QRect(left, top, side, side), Qt::black);
}

void TDataGridInplaceEdit::UpdateButtonPressed(int x, int y)
{
    const bool pressed = ButtonKind_ != ebkNone && ButtonRect().contains(x, y);
    if (pressed != Pressed_) {
        Pressed_ = pressed;
        update(ButtonRect());
    }
}

void TDataGridInplaceEdit::EndButtonTracking()
{
    if (!Tracking_)
        return;
    UpdateButtonPressed(-1, -1);
    Tracking_ = false;
}

void TDataGridInplaceEdit::MouseDown(Qt::MouseButton button, bool doubleClick, const QPoint& pos)
{
    const bool hit = button == Qt::LeftButton && ButtonKind_ != ebkNone &&
                     (ButtonRect().contains(pos) || (doubleClick && isReadOnly()));
    if (!hit)
        return;
    if (ButtonKind_ == ebkEllipsis) {
        DataGrid()->DoEditButtonClick();
        return;
    }
    if (ListVisible_) {
        HidePickList(false);
        return;
    }
    Tracking_ = true;
    UpdateButtonPressed(pos.x(), pos.y());
    if (ActiveList_)
        ShowPickList();
}

void TDataGridInplaceEdit::mousePressEvent(QMouseEvent* event)
{
    TStringGrid::Guarded("TDataGridInplaceEdit::mousePressEvent", [&] {
        const QPoint pos = event->position().toPoint();
        MouseDown(event->button(), false, pos);
        if (ButtonKind_ == ebkNone || !ButtonRect().contains(pos))
            TInplaceEdit::mousePressEvent(event);
    });
}

void TDataGridInplaceEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    TStringGrid::Guarded("TDataGridInplaceEdit::mouseDoubleClickEvent", [&] {
        const QPoint pos = event->position().toPoint();
        MouseDown(event->button(), true, pos);
        // A double click on the button is swallowed.
        if (ButtonKind_ == ebkNone || !ButtonRect().contains(pos))
            TInplaceEdit::mouseDoubleClickEvent(event);
    });
}

void TDataGridInplaceEdit::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    setCursor(ButtonKind_ != ebkNone && ButtonRect().contains(pos) ? Qt::ArrowCursor : Qt::IBeamCursor);
    if (DraggingInList_ && ActiveList_) {
        // The drag that started on the button goes on as a selection in the list.
        const QPoint inList = ActiveList_->viewport()->mapFromGlobal(mapToGlobal(pos));
        QMouseEvent move(QEvent::MouseMove, inList, ActiveList_->viewport()->mapToGlobal(inList),
                         Qt::NoButton, event->buttons(), event->modifiers());
        QApplication::sendEvent(ActiveList_->viewport(), &move);
        return;
    }
    if (Tracking_) {
        UpdateButtonPressed(pos.x(), pos.y());
        if (ListVisible_ && ActiveList_) {
            const QPoint inList = ActiveList_->viewport()->mapFromGlobal(mapToGlobal(pos));
            if (ActiveList_->viewport()->rect().contains(inList)) {
                EndButtonTracking();
                DraggingInList_ = true;
                QMouseEvent press(QEvent::MouseButtonPress, inList,
                                  ActiveList_->viewport()->mapToGlobal(inList), Qt::LeftButton,
                                  Qt::LeftButton, event->modifiers());
                QApplication::sendEvent(ActiveList_->viewport(), &press);
                return;
            }
        }
    }
    TInplaceEdit::mouseMoveEvent(event);
}

void TDataGridInplaceEdit::mouseReleaseEvent(QMouseEvent* event)
{
    TStringGrid::Guarded("TDataGridInplaceEdit::mouseReleaseEvent", [&] {
        if (DraggingInList_ && ActiveList_) {
            // Qt keeps the pointer with the editor until the release: hand it to the list.
            DraggingInList_ = false;
            const QPoint inList =
                ActiveList_->viewport()->mapFromGlobal(mapToGlobal(event->position().toPoint()));
            QMouseEvent release(QEvent::MouseButtonRelease, inList,
                                ActiveList_->viewport()->mapToGlobal(inList), event->button(),
                                event->buttons(), event->modifiers());
            QApplication::sendEvent(ActiveList_->viewport(), &release);
            return;
        }
        EndButtonTracking();
        TInplaceEdit::mouseReleaseEvent(event);
    });
}

void TDataGridInplaceEdit::ShowPickList()
{
    if (ListVisible_ || !ActiveList_)
        return;
    TColumn* column = EditColumn();
    TPopupListbox* list = ActiveList_;
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, this->palette().color(QPalette::Base));
    list->setPalette(palette);
    list->setFont(font());
    list->clear();
    if (column)
        list->addItems(column->PickList());
    const int dropDownRows = column ? static_cast<int>(std::min(column->DropDownRows(), 1000u)) : 7;
    const int rows = std::max(1, std::min(list->count(), dropDownRows));
    const int frame = 2 * list->frameWidth();
    const int height = rows * list->ItemHeight() + frame;
    int found = -1;
    for (int i = 0; i < list->count(); ++i) {
        if (QString::compare(list->item(i)->text(), text(), Qt::CaseInsensitive) == 0) {
            found = i;
            break;
        }
    }
    if (list->count() > 0)
        list->setCurrentRow(found >= 0 ? found : 0);
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
    const int scrollBar = list->count() > rows ? list->verticalScrollBar()->sizeHint().width() : 0;
    const int width = std::max(this->width(), widest + 4 + frame + scrollBar);
    list->setFixedSize(width, height);

    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    int y = topLeft.y() + this->height();
    const QScreen* screen = this->screen();
    const int screenBottom = screen ? screen->geometry().bottom() + 1 : y + height;
    if (y + height > screenBottom)
        y = topLeft.y() - height; // near the bottom the list opens above the editor
    list->move(topLeft.x(), y);
    list->show();
    list->raise();
    ListVisible_ = true;
    qApp->installEventFilter(this);
    update();
    setFocus(Qt::OtherFocusReason);
}

bool TDataGridInplaceEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (ListVisible_ && event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const bool own =
            widget == this || (ActiveList_ && (widget == ActiveList_ || ActiveList_->isAncestorOf(widget)));
        if (!own)
            HidePickList(false);
    }
    return TInplaceEdit::eventFilter(watched, event);
}

void TDataGridInplaceEdit::HidePickList(bool accept)
{
    if (!ListVisible_)
        return;
    TPopupListbox* list = PickListBox_;
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    QString value;
    bool chosen = false;
    if (list && list->currentRow() >= 0 && list->currentItem()->isSelected()) {
        value = list->currentItem()->text();
        chosen = true;
    }
    if (list)
        list->hide();
    ListVisible_ = false;
    qApp->removeEventFilter(this);
    DraggingInList_ = false;
    EndButtonTracking();
    update();
    if (accept && chosen && (Grid()->CanEditModify() || !isReadOnly())) {
        Grid()->SetCells(EditCol(), EditRow(), value);
        SetModified(true);
    }
}

void TDataGridInplaceEdit::PickListMouseUp(Qt::MouseButton button, const QPoint& pos)
{
    if (button == Qt::LeftButton && ActiveList_)
        HidePickList(ActiveList_->viewport()->rect().contains(pos));
}

void TDataGridInplaceEdit::HandlePickListKeys(int& key, Qt::KeyboardModifiers shift)
{
    const bool alt = (shift & Qt::AltModifier) != 0;
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        if (ListVisible_ && !alt) {
            HidePickList(key != Qt::Key_Escape);
            key = 0;
        }
    } else if ((key == Qt::Key_Up || key == Qt::Key_Down) && alt) {
        if (ListVisible_)
            HidePickList(true);
        else
            ShowPickList();
        key = 0;
    }
}

void TDataGridInplaceEdit::keyPressEvent(QKeyEvent* event)
{
    bool done = false;
    TStringGrid::Guarded("TDataGridInplaceEdit::keyPressEvent", [&] {
        if (ButtonKind_ != ebkPickList)
            return;
        int key = event->key();
        HandlePickListKeys(key, event->modifiers());
        if (key == 0) {
            done = true;
        } else if (ListVisible_ && ActiveList_) {
            // While the list is open the arrow keys, page keys and typed characters act on it.
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
            QApplication::sendEvent(ActiveList_, &copy);
            done = true;
        }
    });
    if (!done)
        TInplaceEdit::keyPressEvent(event);
}

void TDataGridInplaceEdit::KeyDown(int& key, Qt::KeyboardModifiers& shift)
{
    TDataGrid* grid = DataGrid();
    if (ButtonKind_ == ebkEllipsis && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (shift & ~Qt::KeypadModifier) == Qt::ControlModifier) {
        // One Qt key event carries the character too: consuming it inserts nothing.
        grid->DoEditButtonClick();
        key = 0;
        return;
    }
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        CommitCellEdit();
        break;
    default:
        break;
    }
    if (grid->IsRowCommandKey(key, shift)) {
        grid->KeyDown(key, shift);
        key = 0;
        shift = Qt::NoModifier;
    }
    TInplaceEdit::KeyDown(key, shift);
}

void TDataGridInplaceEdit::KeyPress(QChar& key)
{
    TDataGrid* grid = DataGrid();
    if (grid->OnKeyPress)
        grid->OnKeyPress(grid, key);
    if (key.isNull())
        return;
    const char16_t code = key.unicode();
    if (code >= 32 && !grid->CanEditAcceptKey(key)) {
        key = QChar();
        Beep();
        return;
    }
    if (code == 8 || code == 22 || code == 24 || code >= 32) {
        if (!grid->CanEditModify()) {
            key = QChar();
            return;
        }
    } else if (code == 9 || code == 27) {
        key = QChar();
        return;
    } else if (code == 13) {
        if (selectionStart() == 0 && selectedText().size() == text().size() && hasSelectedText())
            deselect();
        else
            selectAll();
        key = QChar();
        return;
    }
    if (ButtonKind_ == ebkPickList && isReadOnly()) {
        // A LimitToList column: the first item beginning with the typed letter becomes the value.
        TColumn* column = EditColumn();
        if (!ListVisible_ && ActiveList_ && column) {
            ActiveList_->clear();
            ActiveList_->addItems(column->PickList());
        }
        if (ActiveList_) {
            for (int i = 0; i < ActiveList_->count(); ++i) {
                const QString item = ActiveList_->item(i)->text();
                if (!item.isEmpty() && UpperLetter(item[0]) == UpperLetter(key)) {
                    setText(item);
                    grid->SetEditText(EditCol(), EditRow(), item);
                    SetModified(true);
                    key = QChar();
                    break;
                }
            }
        }
    }
}

void TDataGridInplaceEdit::CommitCellEdit()
{
    if (!Modified())
        return;
    TDataGrid* grid = DataGrid();
    const int col = EditCol();
    const int row = EditRow();
    TColumn* column = EditColumn();
    const QString text = grid->Cells(col, row);
    if (column && !text.isEmpty()) {
        bool ok = true;
        QString value = text;
        switch (column->Format()) {
        case cfString:
            break;
        case cfNumber:
            ok = IsStrictNumber(text);
            break;
        case cfDate: {
            // N, T, H, J or D (nowy, today, heute, ...) stand for today's date.
            if (QStringLiteral("NTHJD").contains(UpperLetter(text[0]))) {
                value = DateToStr(QDate::currentDate());
            } else if (const auto date = StrToDate(text)) {
                value = DateToStr(*date);
            } else {
                ok = false;
            }
            break;
        }
        }
        if (ok) {
            grid->SetCells(col, row, value);
        } else {
            Beep();
            grid->SetEditText(col, row, EntryText_);
            grid->SetCells(col, row, EntryText_);
            SetModified(false);
        }
    }
    if (grid->OnUserChanged)
        grid->OnUserChanged(this);
}

void TDataGridInplaceEdit::focusOutEvent(QFocusEvent* event)
{
    TInplaceEdit::focusOutEvent(event);
    TStringGrid::Guarded("TDataGridInplaceEdit::focusOutEvent", [this] {
        HidePickList(false);
        CommitCellEdit();
    });
}

void TDataGridInplaceEdit::hideEvent(QHideEvent* event)
{
    TInplaceEdit::hideEvent(event);
    HidePickList(false);
}

} // namespace grid
