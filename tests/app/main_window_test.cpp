// The main window driven as the user drives it: defaults, directory choice, the import run's
// messages in order, a whole run over a sample office, the option that opens the renumbering
// dialog, and the instructions.
#include <filesystem>
#include <fstream>
#include <optional>

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "app/main_window.h"
#include "app/renumbering_dialog.h"
#include "engine/table.h"
#include "grid/data_grid.h"
#include "help/instructions_window.h"
#include "platform/paths.h"
#include "tests/app/app_test_support.h"
#include "tests/support/test_files.h"
#include "tools/sample_office.h"
#include "tools/target_database.h"

using convert::Answer;

namespace {

constexpr char kSep = platform::kSeparator;

QString Q(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

// A folder that plays the program's directory: the program file "kerg-import" lies there (by
// name only), its renumbering file beside it, the sample archive in ARCHIWUM below it.
struct Folder
{
    test_support::TempDir dir;
    std::string program = dir.File("kerg-import");
    std::string target = dir.Path() + kSep;
    std::string archive = dir.Path() + kSep + "ARCHIWUM" + kSep;
    std::string renumbering = dir.File("kerg-import.gm");

    void WriteOffice(int works = 30)
    {
        tools::SampleOfficeOptions options;
        options.works = works;
        QVERIFY(tools::WriteSampleOffice(archive, target, options));
    }
    std::string Kerg() const { return tools::TargetDir(target, "KERG"); }
    std::string Admin() const { return tools::TargetDir(target, "ADMIN"); }
    int CompletedWorks() const
    {
        int completed = 0;
        for (const auto& row : tools::ReadTargetRows(Kerg(), "Roboty.dbf"))
            completed += row.at("WYKON").empty() ? 0 : 1;
        return completed;
    }
};

std::unique_ptr<app::TForm1> ShownWindow(const Folder& folder)
{
    auto window = std::make_unique<app::TForm1>(app::MainWindowSetup{folder.program, [] {
                                                                         return convert::Date{2026, 12, 6};
                                                                     }});
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("main window not active");
    return window;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Types a name into the file dialog's name field and presses Enter there, as the user does.
void TypeFileName(QFileDialog* dialog, const QString& name)
{
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
}

// The widgets that take the keyboard focus, in the order Tab walks them from `first`.
QStringList FocusChain(QWidget* first, int count)
{
    QStringList names;
    QWidget* w = first;
    while (names.size() < count) {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisible() && w->isEnabled())
            names << w->objectName();
        w = w->nextInFocusChain();
        if (w == first)
            break;
    }
    return names;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void captionsAtStart_data();
    void captionsAtStart();
    void defaultsAtStart();
    void directoryChoice_data();
    void directoryChoice();
    void oneDialogReopensWhereItWasLeft();
    void trailingSeparatorsEvenWhenACheckFails();
    void realMessageBoxOverTheWindow();
    void failureMessages_data();
    void failureMessages();
    void engineErrorInTheErrorDisplay();
    void wholeRunFromTheButtonToTheClosedWindow();
    void noSecondRunInsideTheFirst();
    void progressIsPaintedAtOnce();
    void enterStartsEscCloses();
    void communeConversionOption();
    void emptyRowSavedStopsTheNextRun();
    void infoShowsTheInstructions();
};

void MainWindowTest::captionsAtStart_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("caption");
    const auto row = [](const char* widget, const char* caption) {
        QTest::newRow(widget) << QString::fromLatin1(widget) << QString::fromUtf8(caption);
    };
    row("Label1", "Import danych z archiwum KERG");
    row("Label2", "Kartoteka z danymi  wejściowymi (scalone archiwum):");
    row("Button1", "Wybierz");
    row("Label3", "Kartoteka z danymi  wyjściowymi:");
    row("Button2", "Wybierz");
    row("cbgmina", "Konwersja numerów gmin");
    row("cbasor", "Uzupełnij asortymenty robót");
    row("cbdzialki", "Uzupełnij zakresy działkowe");
    row("cbrastry", "Uzupełnij zakresy rastrowe");
    row("Label5", "Import danych:");
    row("BitBtn1", "Importuj");
    row("BitBtn3", "Info");
    row("BitBtn2", "Anuluj");
}

void MainWindowTest::captionsAtStart()
{
    QFETCH(QString, widget);
    QFETCH(QString, caption);
    Folder folder;
    app::TForm1 window(app::MainWindowSetup{folder.program, {}});
    const std::map<QString, QWidget*> widgets{
        {"Label1", window.Label1},  {"Label2", window.Label2},       {"Button1", window.Button1},
        {"Label3", window.Label3},  {"Button2", window.Button2},     {"cbgmina", window.cbgmina},
        {"cbasor", window.cbasor},  {"cbdzialki", window.cbdzialki}, {"cbrastry", window.cbrastry},
        {"Label5", window.Label5},  {"BitBtn1", window.BitBtn1},     {"BitBtn3", window.BitBtn3},
        {"BitBtn2", window.BitBtn2}};
    QWidget* w = widgets.at(widget);
    if (auto* label = qobject_cast<QLabel*>(w))
        QCOMPARE(label->text(), caption);
    else
        QCOMPARE(qobject_cast<QAbstractButton*>(w)->text(), caption);
}

void MainWindowTest::defaultsAtStart()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    QCOMPARE(window->windowTitle(), QStringLiteral("Import KERG"));
    QVERIFY(window->Label1->font().bold());
    QVERIFY(window->Edit1->text().isEmpty());
    QCOMPARE(window->Edit2->text(), Q(folder.target));
    QVERIFY(window->Edit2->text().endsWith(QChar::fromLatin1(kSep)));
    QVERIFY(!window->cbgmina->isChecked());
    QVERIFY(window->cbasor->isChecked());
    QVERIFY(window->cbdzialki->isChecked());
    QVERIFY(window->cbrastry->isChecked());
    QCOMPARE(window->ProgressBar2->minimum(), 0);
    QCOMPARE(window->ProgressBar2->maximum(), 100);
    QCOMPARE(window->ProgressBar2->value(), 0);
    QVERIFY(window->BitBtn1->isDefault());
    // Fixed size, at least the designed client area.
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(window->width() >= 361 && window->height() >= 397);
    QCOMPARE(window->RenumberingFile(), folder.renumbering);
    // The three windows exist from the start; only the main window is shown.
    QVERIFY(window->Form2() && !window->Form2()->isVisible());
    QVERIFY(window->Form3() && !window->Form3()->isVisible());
    // The keyboard starts in Edit1 and walks the window in its own order.
    QCOMPARE(QApplication::focusWidget(), window->Edit1);
    QCOMPARE(FocusChain(window->Edit1, 11),
             (QStringList{"Edit1", "Button1", "Button2", "Edit2", "BitBtn1", "BitBtn2", "cbasor", "cbrastry",
                          "cbdzialki", "cbgmina", "BitBtn3"}));
}

void MainWindowTest::directoryChoice_data()
{
    QTest::addColumn<int>("button");   // 1 or 2
    QTest::addColumn<QString>("pick"); // relative to the folder; empty: the dialog is cancelled
    QTest::addColumn<QString>("expected");

    QTest::newRow("a file picked in the archive folder")
        << 1 << QString("DANE/ARCH/kerg.dbf") << QString("DANE/ARCH/");
    QTest::newRow("a name typed that does not exist") << 1 << QString("DANE/nowy.txt") << QString("DANE/");
    // The name field starts with "*.*": opening a folder and pressing Enter chooses the folder.
    QTest::newRow("the initial name in a folder") << 2 << QString("DANE/ARCH/") << QString("DANE/ARCH/");
    QTest::newRow("cancelled") << 1 << QString() << QString("unchanged");
    QTest::newRow("target: a file picked") << 2 << QString("DANE/ARCH/kerg.dbf") << QString("DANE/ARCH/");
}

void MainWindowTest::directoryChoice()
{
    QFETCH(int, button);
    QFETCH(QString, pick);
    QFETCH(QString, expected);
    Folder folder;
    std::filesystem::create_directories(folder.dir.File("DANE/ARCH"));
    WriteBytes(folder.dir.File("DANE/ARCH/kerg.dbf"), "x");
    const auto window = ShownWindow(folder);
    QLineEdit* edit = button == 1 ? window->Edit1 : window->Edit2;
    edit->setText(QStringLiteral("unchanged"));

    const QString base = Q(folder.dir.Path()) + QLatin1Char('/');
    bool shown = false;
    apptest::WhenModal([&](QWidget* modal) {
        shown = modal == window->OpenDialog();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (pick.isEmpty()) {
            dialog->reject();
            return;
        }
        const QString path = base + pick;
        dialog->setDirectory(QFileInfo(path).path());
        if (pick.endsWith(QLatin1Char('/'))) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QCOMPARE(name->text(), QStringLiteral("*.*"));
            QTest::keyClick(name, Qt::Key_Return);
        } else {
            TypeFileName(dialog, QFileInfo(path).fileName());
        }
    });
    QTest::mouseClick(button == 1 ? window->Button1 : window->Button2, Qt::LeftButton);
    QVERIFY(shown);
    const QString wanted =
        expected == QLatin1String("unchanged") ? expected : QDir::toNativeSeparators(base + expected);
    QCOMPARE(edit->text(), wanted);
    QVERIFY(!window->OpenDialog()->isVisible());
}

void MainWindowTest::oneDialogReopensWhereItWasLeft()
{
    Folder folder;
    std::filesystem::create_directories(folder.dir.File("ARCH"));
    const auto window = ShownWindow(folder);
    const QString arch = Q(folder.dir.File("ARCH"));
    apptest::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog->setDirectory(arch);
        TypeFileName(dialog, QStringLiteral("a.dbf"));
    });
    QTest::mouseClick(window->Button1, Qt::LeftButton);
    QString reopenedIn;
    apptest::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        reopenedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    QTest::mouseClick(window->Button2, Qt::LeftButton);
    QCOMPARE(reopenedIn, QDir(arch).absolutePath());
    QCOMPARE(window->Edit2->text(), Q(folder.target)); // cancelled: unchanged
}

void MainWindowTest::trailingSeparatorsEvenWhenACheckFails()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    apptest::ScriptedBoxes boxes;
    const std::string archive = folder.dir.File("ARCH");
    const std::string target = folder.dir.File("nowhere");
    window->Edit1->setText(Q(archive));
    window->Edit2->setText(Q(target));
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    QCOMPARE(window->Edit1->text(), Q(archive + kSep));
    QCOMPARE(window->Edit2->text(), Q(target + kSep));
    QCOMPARE(boxes.Captions(), QStringList{"komunikat"});
}

void MainWindowTest::realMessageBoxOverTheWindow()
{
    // No hook: the run's message is a real QMessageBox, modal over the main window.
    Folder folder;
    const auto window = ShownWindow(folder);
    window->Edit1->setText(QStringLiteral("ARCH"));
    window->Edit2->setText(Q(folder.dir.File("nowhere")));
    QString title, text;
    QWidget* parent = nullptr;
    apptest::WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        parent = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("komunikat"));
    QCOMPARE(text, QString::fromUtf8("We wskazanej kartotece brak danych systemu MERKAT WINDOWS."));
    QCOMPARE(parent, window.get());
    QVERIFY(window->isVisible());
}

namespace {

enum class Case
{
    ArchiveEmpty,
    TargetEmpty,
    NoTargetDatabase,
    FaultyRenumberingFile,
    BackupDeclined,
    CountersHeld,
    ArchiveMissing,
    PrecinctStopped,
};

} // namespace

Q_DECLARE_METATYPE(Case)

void MainWindowTest::failureMessages_data()
{
    QTest::addColumn<Case>("situation");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QStringList>("texts"); // "…" at the end: the text starts so

    const QString backup =
        QString::fromUtf8("Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)");
    QTest::newRow("archive directory empty") << Case::ArchiveEmpty << QStringList() << QStringList();
    QTest::newRow("target directory empty") << Case::TargetEmpty << QStringList() << QStringList();
    QTest::newRow("no target database")
        << Case::NoTargetDatabase << QStringList{"komunikat"}
        << QStringList{QString::fromUtf8("We wskazanej kartotece brak danych systemu MERKAT WINDOWS.")};
    QTest::newRow("faulty renumbering file, option not ticked")
        << Case::FaultyRenumberingFile << QStringList{"Komunikat"}
        << QStringList{QString::fromUtf8("Błąd w pliku z przenumerowaniem gmin")};
    QTest::newRow("backup not confirmed")
        << Case::BackupDeclined << QStringList{"Pytanie", "Komunikat"}
        << QStringList{backup, QString::fromUtf8("Przed wykonaniem importu należy utworzyć kopię danych")};
    QTest::newRow("counters held by another program")
        << Case::CountersHeld << QStringList{"Pytanie", "Komunikat"}
        << QStringList{backup, QString::fromUtf8("Nie można otworzyć danych w trybie wyłączności. "
                                                 "Prawdopodobnie ktoś pracuje w systemie MERKAT")};
    QTest::newRow("archive file missing")
        << Case::ArchiveMissing << QStringList{"Pytanie", QString::fromUtf8("Błąd konwersji")}
        << QStringList{backup, QString::fromUtf8("Wystąpił błąd podczas importu:\r\nBłąd podczas otwarcia "
                                                 "pliku: …")};
    QTest::newRow("precinct reconciliation stopped")
        << Case::PrecinctStopped
        << QStringList{"Pytanie", QString::fromUtf8("Błąd"), QString::fromUtf8("Błąd konwersji")}
        << QStringList{backup, QString::fromUtf8("W aktualnej bazie występuje obręb: …"),
                       QString::fromUtf8("Wystąpił błąd podczas importu:\r\nBłąd podczas łączenia "
                                         "obrębów\r\nW karotece wynikowej znajdują się tylko częściowo "
                                         "skonwertowane dane.")};
}

void MainWindowTest::failureMessages()
{
    QFETCH(Case, situation);
    QFETCH(QStringList, captions);
    QFETCH(QStringList, texts);
    Folder folder;
    if (situation != Case::NoTargetDatabase)
        folder.WriteOffice();
    const auto window = ShownWindow(folder);
    window->Edit1->setText(Q(folder.archive));
    apptest::ScriptedBoxes boxes;
    std::optional<engine::Table> other;
    switch (situation) {
    case Case::ArchiveEmpty:
        window->Edit1->clear();
        break;
    case Case::TargetEmpty:
        window->Edit2->clear();
        break;
    case Case::NoTargetDatabase:
        break;
    case Case::FaultyRenumberingFile:
        WriteBytes(folder.renumbering, "12|345\r\n|\r\n");
        break;
    case Case::BackupDeclined:
        boxes.answers = {Answer::No};
        break;
    case Case::CountersHeld:
        other.emplace(folder.Admin(), "Dostep.dbf");
        other->Open();
        break;
    case Case::ArchiveMissing:
        window->Edit1->setText(Q(folder.dir.File("PUSTE")));
        break;
    case Case::PrecinctStopped:
        tools::AppendTargetRow(folder.Kerg(), "obreb.dbf",
                               {{"ID_OBR", "0999"}, {"NR_G", "999"}, {"NR_OBR", "0099"}, {"KOD_OBR", "ZZ"}});
        boxes.answers = {Answer::Yes, Answer::No};
        break;
    }
    const int completedBefore = situation == Case::NoTargetDatabase ? 0 : folder.CompletedWorks();
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);

    QCOMPARE(boxes.Captions(), captions);
    const QStringList shown = boxes.Texts();
    for (int i = 0; i < texts.size(); ++i) {
        if (texts[i].endsWith(QChar(0x2026)))
            QVERIFY2(shown[i].startsWith(texts[i].chopped(1)), qPrintable(shown[i]));
        else
            QCOMPARE(shown[i], texts[i]);
    }
    // The window stays; the cursor and the progress bar are back; no work was completed.
    QVERIFY(window->isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(window->ProgressBar2->value(), 0);
    if (other)
        other->Close();
    if (situation != Case::NoTargetDatabase)
        QCOMPARE(folder.CompletedWorks(), completedBefore);
}

void MainWindowTest::engineErrorInTheErrorDisplay()
{
    // The target's precinct table lacks a field the import reads: the engine refuses.
    Folder folder;
    folder.WriteOffice();
    engine::CreateTable(folder.Kerg(), "obreb.dbf", {{"ID_OBR", 'C', 4, 0}, {"NR_G", 'C', 3, 0}}, {});
    const auto window = ShownWindow(folder);
    window->Edit1->setText(Q(folder.archive));
    apptest::ScriptedBoxes boxes;
    bool busyAtError = true;
    int positionAtError = -1;
    boxes.onShow = [&](const convert::Message& m) {
        if (m.caption != "Błąd")
            return;
        busyAtError = QApplication::overrideCursor() != nullptr;
        positionAtError = window->ProgressBar2->value();
    };
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);

    QCOMPARE(boxes.Captions(), (QStringList{"Pytanie", QString::fromUtf8("Błąd")}));
    const convert::Message& error = boxes.shown.back();
    // Shown over the ordinary cursor and an empty bar, with the run's report under it.
    QVERIFY(!busyAtError);
    QCOMPARE(positionAtError, 0);
    QVERIFY2(Q(error.details).startsWith(QStringLiteral("Raport zapisano w pliku: ")), error.details.c_str());
    QCOMPARE(error.icon, convert::Icon::Stop);
    QCOMPARE(error.buttons, convert::Buttons::Ok);
    QVERIFY2(Q(error.text).contains(QStringLiteral("NR_OBR"), Qt::CaseInsensitive), error.text.c_str());
    QCOMPARE(boxes.parents.back(), window.get());
    QVERIFY(window->isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // The counters table was released.
    engine::Table counters(folder.Admin(), "Dostep.dbf");
    counters.SetExclusive(true);
    counters.Open();
    counters.Close();
}

void MainWindowTest::wholeRunFromTheButtonToTheClosedWindow()
{
    Folder folder;
    folder.WriteOffice(40);
    const int completedBefore = folder.CompletedWorks();
    const auto window = ShownWindow(folder);
    QTest::keyClicks(window->Edit1, Q(folder.archive));
    std::vector<int> positions;
    connect(window->ProgressBar2, &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });

    apptest::ScriptedBoxes boxes;
    bool busyAtEnd = false, visibleAtEnd = false;
    int positionAtEnd = -1;
    boxes.onShow = [&](const convert::Message& m) {
        if (m.text != "Import został zakończony.")
            return;
        const QCursor* cursor = QApplication::overrideCursor();
        busyAtEnd = cursor && cursor->shape() == Qt::WaitCursor;
        visibleAtEnd = window->isVisible();
        positionAtEnd = window->ProgressBar2->value();
    };
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);

    QCOMPARE(boxes.Captions().first(), QStringLiteral("Pytanie"));
    QCOMPARE(boxes.shown.back().caption, std::string("Komunikat"));
    QCOMPARE(Q(boxes.shown.back().text), QString::fromUtf8("Import został zakończony."));
    // Its details: where the report went, and the summary.
    const QString details = Q(boxes.shown.back().details);
    QVERIFY2(details.contains(QString::fromUtf8("Prace bazy docelowej przejrzane przez ten import: ")),
             qPrintable(details));
    const QString reportLine = details.section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(reportLine.startsWith(QStringLiteral("Raport zapisano w pliku: ")), qPrintable(reportLine));
    QVERIFY(QFileInfo::exists(reportLine.mid(QStringLiteral("Raport zapisano w pliku: ").size())));
    // The message first, with the hourglass and the bar at its end; then the reset; then closed.
    QVERIFY(busyAtEnd);
    QVERIFY(visibleAtEnd);
    QCOMPARE(positionAtEnd, window->ProgressBar2->maximum());
    QVERIFY(!window->isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(window->ProgressBar2->value(), 0);
    // The bar went forward step by step.
    QVERIFY(positions.size() > 10);
    for (std::size_t i = 1; i + 1 < positions.size(); ++i)
        QVERIFY(positions[i] > positions[i - 1]);
    // The works were completed, with the creator stamp of 6 December 2026.
    QVERIFY(folder.CompletedWorks() > completedBefore);
    bool stamped = false;
    for (const auto& row : tools::ReadTargetRows(tools::TargetDir(folder.target, "OSOBY"), "Osoby.dbf"))
        stamped = stamped || row.at("ID_TWORZ") == "00015D86";
    QVERIFY(stamped);
}

void MainWindowTest::noSecondRunInsideTheFirst()
{
    Folder folder;
    folder.WriteOffice();
    const auto window = ShownWindow(folder);
    window->Edit1->setText(Q(folder.archive));
    apptest::ScriptedBoxes boxes;
    boxes.answers = {Answer::No};
    boxes.onShow = [&](const convert::Message& m) {
        if (m.caption == "Pytanie")
            window->BitBtn1->click(); // a click that reaches the window while the question is open
    };
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    QCOMPARE(boxes.Captions(), (QStringList{"Pytanie", "Komunikat"}));
    QVERIFY(!window->Running());
}

void MainWindowTest::progressIsPaintedAtOnce()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    window->ProgressBar2->installEventFilter(&counter);
    window->SetProgressRange(0, 10);
    window->SetProgressPosition(3);
    // No event loop ran in between: the run blocks it.
    QVERIFY(counter.paints >= 1);
    QCOMPARE(window->ProgressBar2->value(), 3);
}

void MainWindowTest::enterStartsEscCloses()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    apptest::ScriptedBoxes boxes;
    window->Edit1->setFocus();
    QTest::keyClicks(window->Edit1, QStringLiteral("ARCH"));
    QTest::keyClick(window->Edit1, Qt::Key_Return);
    QCOMPARE(boxes.Captions(), QStringList{"komunikat"}); // the run started
    QVERIFY(window->isVisible());
    QTest::keyClick(window->Edit1, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
}

void MainWindowTest::communeConversionOption()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    apptest::ScriptedBoxes boxes; // answers Yes: leave without saving

    // Ticked, then "Anuluj": the box is unticked again and no file is written.
    bool dialogShown = false;
    apptest::WhenModal([&](QWidget* modal) {
        dialogShown = modal == window->Form2();
        window->Form2()->BitBtn2->click();
    });
    QTest::mouseClick(window->cbgmina, Qt::LeftButton, {}, QPoint(8, window->cbgmina->height() / 2));
    QVERIFY(dialogShown);
    QVERIFY(!window->cbgmina->isChecked());
    QVERIFY(!window->Form2()->isVisible());
    QCOMPARE(boxes.Captions(), QStringList{"Potwierdzenie"});
    QVERIFY(!std::filesystem::exists(folder.renumbering));

    // Ticked, then OK: it stays ticked and the dialog's table is written.
    apptest::WhenModal([&](QWidget*) {
        window->Form2()->DataGrid->SetCells(0, 1, QStringLiteral("12"));
        window->Form2()->DataGrid->SetCells(1, 1, QStringLiteral("345"));
        window->Form2()->BitBtn1->click();
    });
    QTest::mouseClick(window->cbgmina, Qt::LeftButton, {}, QPoint(8, window->cbgmina->height() / 2));
    QVERIFY(window->cbgmina->isChecked());
    QCOMPARE(test_support::ReadWholeFile(folder.renumbering), std::string("12|345\r\n"));

    // Unticked: no dialog, the file as it was.
    WriteBytes(folder.renumbering, "7|8\r\n");
    int shows = 0;
    const QPointer<QTimer> guard = apptest::WhenModal([&](QWidget* modal) {
        ++shows;
        modal->close();
    });
    QTest::mouseClick(window->cbgmina, Qt::LeftButton, {}, QPoint(8, window->cbgmina->height() / 2));
    QTest::qWait(50);
    delete guard.data();
    QVERIFY(!window->cbgmina->isChecked());
    QCOMPARE(shows, 0);
    QCOMPARE(test_support::ReadWholeFile(folder.renumbering), std::string("7|8\r\n"));
}

void MainWindowTest::emptyRowSavedStopsTheNextRun()
{
    // The dialog's first showing holds one empty row; OK at once keeps it as a bar alone.
    Folder folder;
    folder.WriteOffice();
    const auto window = ShownWindow(folder);
    window->Edit1->setText(Q(folder.archive));
    apptest::WhenModal([&](QWidget*) { window->Form2()->BitBtn1->click(); });
    QTest::mouseClick(window->cbgmina, Qt::LeftButton, {}, QPoint(8, window->cbgmina->height() / 2));
    QVERIFY(window->cbgmina->isChecked());
    QCOMPARE(test_support::ReadWholeFile(folder.renumbering), std::string("|\r\n"));
    apptest::ScriptedBoxes boxes;
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    QCOMPARE(boxes.Texts(), QStringList{QString::fromUtf8("Błąd w pliku z przenumerowaniem gmin")});
}

void MainWindowTest::infoShowsTheInstructions()
{
    Folder folder;
    const auto window = ShownWindow(folder);
    QTextBrowser* text = window->Form3()->RichEdit1;
    const QString loaded = text->toPlainText();
    QVERIFY(loaded.contains(QString::fromUtf8("Import danych z archiwum KERG")));
    const int revision = text->document()->revision();
    for (int i = 0; i < 2; ++i) {
        QString seen;
        apptest::WhenModal([&](QWidget* modal) {
            if (modal == window->Form3())
                seen = text->toPlainText();
            window->Form3()->BitBtn1->click();
        });
        QTest::mouseClick(window->BitBtn3, Qt::LeftButton);
        QCOMPARE(seen, loaded);
        QVERIFY(!window->Form3()->isVisible());
    }
    QCOMPARE(text->document()->revision(), revision); // loaded once, at the start
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
