// TForm1: the main window. The user names the archive and target directories, sets the four
// options and starts the import; the window is what the import run sees of the user.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QDialog>

#include "convert/import_run.h"
#include "convert/run_ui.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace help {
class TForm3;
}

namespace app {

class TForm2;

// What the main window takes from the process.
struct MainWindowSetup
{
    // The full path of the program file (UTF-8): its directory is the default target directory,
    // and the renumbering file lies beside it.
    std::string programFile;
    // Today's date, for the creator stamp of the rows the import adds (the system's date when
    // empty).
    std::function<convert::Date()> today;
};

class TForm1 : public QDialog, public convert::RunUi
{
    Q_OBJECT
public:
    // Creates the main window, then the renumbering dialog and the instructions window it shows.
    explicit TForm1(MainWindowSetup setup, QWidget* parent = nullptr);
    ~TForm1() override;

    TForm2* Form2() const { return Form2_; }
    help::TForm3* Form3() const { return Form3_; }
    // The one file dialog both "Wybierz" buttons use.
    QFileDialog* OpenDialog() const { return OpenDialog_; }
    const std::string& RenumberingFile() const { return renumberingFile_; }
    bool Running() const { return running_; }

    // convert::RunUi
    std::string ArchiveDirText() override;
    void SetArchiveDirText(const std::string& text) override;
    std::string TargetDirText() override;
    void SetTargetDirText(const std::string& text) override;
    bool CommuneConversionTicked() override;
    bool AssortmentsTicked() override;
    bool ParcelsTicked() override;
    bool RastersTicked() override;
    convert::Answer ShowMessage(const convert::Message& message) override;
    void ShowError(const std::string& text) override;
    void ShowErrorWithDetails(const std::string& text, const std::string& details) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void SetBusyCursor(bool busy) override;
    void CloseAfterSuccess() override;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr; // the archive directory
    QPushButton* Button1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit2 = nullptr; // the target directory
    QPushButton* Button2 = nullptr;
    QCheckBox* cbgmina = nullptr;
    QCheckBox* cbasor = nullptr;
    QCheckBox* cbdzialki = nullptr;
    QCheckBox* cbrastry = nullptr;
    QLabel* Label5 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QPushButton* BitBtn1 = nullptr; // "Importuj"
    QPushButton* BitBtn3 = nullptr; // "Info"
    QPushButton* BitBtn2 = nullptr; // "Anuluj"

private:
    void FormCreate();
    void ChooseDirectory(QLineEdit* edit);
    void cbgminaClick(bool ticked);
    void BitBtn1Click();
    void BitBtn3Click();

    std::string programFile_;
    std::string renumberingFile_;
    QFileDialog* OpenDialog_ = nullptr;
    TForm2* Form2_ = nullptr;
    help::TForm3* Form3_ = nullptr;
    std::unique_ptr<convert::ImportRun> run_;
    bool running_ = false;
    bool busy_ = false;
};

} // namespace app
