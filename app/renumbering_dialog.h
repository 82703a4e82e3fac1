// TForm2: the renumbering dialog. Edits the commune renumbering table (old and new commune
// numbers) in a data grid and keeps it in the renumbering file beside the program.
#pragma once

#include <string>

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace grid {
class TDataGrid;
}

namespace app {

// The renumbering grid's stored description (two columns "Stary numer" and "Nowy numer").
extern const char* const kRenumberingGridDescription;

class TForm2 : public QDialog
{
    Q_OBJECT
public:
    // `renumberingFile` is the file the dialog reads when shown and writes on OK (UTF-8 path).
    explicit TForm2(std::string renumberingFile, QWidget* parent = nullptr);

    const std::string& RenumberingFile() const { return renumberingFile_; }

    // Leaving without OK asks first; on No the dialog stays open.
    void done(int result) override;

    QLabel* Label1 = nullptr;
    grid::TDataGrid* DataGrid = nullptr;
    QToolButton* SpeedButton1 = nullptr; // "Dodaj nowy wiersz"
    QToolButton* SpeedButton2 = nullptr; // "Usuń wiersz"
    QLabel* Label2 = nullptr;
    QCheckBox* cboe = nullptr;
    QCheckBox* cbob = nullptr;
    QCheckBox* cbop = nullptr;
    QCheckBox* cbos = nullptr;
    QCheckBox* cbz = nullptr;
    QCheckBox* cbk = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK: save and confirm
    QPushButton* BitBtn2 = nullptr; // "Anuluj"

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void BitBtn1Click();
    void cboeClick();

    std::string renumberingFile_;
    bool FirstSegmentWarningShown = false;
    // The file is there but could not be read when the dialog was shown: OK does not write over
    // a table the user has not seen.
    bool fileUnread_ = false;
};

} // namespace app
