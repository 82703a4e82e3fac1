// TForm3: the instructions window. Shows the program's built-in instructions, a rich-text
// document carried inside the program, loaded once when the window is created.
#pragma once

#include <QDialog>

class QFrame;
class QPushButton;
class QTextBrowser;

namespace help {

// The instruction document as carried by the program (HTML, UTF-8); empty when it is missing.
QString InstructionDocument();

class TForm3 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    QTextBrowser* RichEdit1 = nullptr; // the read-only document viewer
    QFrame* Panel1 = nullptr;          // the strip along the bottom edge
    QPushButton* BitBtn1 = nullptr;    // OK: closes the window

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();

    bool OuterSizeSet_ = false;
};

} // namespace help
