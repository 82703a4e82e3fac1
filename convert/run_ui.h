// What the import run needs of the window that starts it: the two directory texts, the options
// read at the moment of use, message boxes, the progress bar, the busy cursor and closing. The
// main window implements it; tests script it.
#pragma once

#include <string>

namespace convert {

enum class Buttons
{
    Ok,
    YesNo,
};

enum class Icon
{
    None,
    Question,
    Stop,
};

enum class Answer
{
    Ok,
    Yes,
    No,
    Closed, // the box was closed without a button
};

struct Message
{
    std::string text;    // UTF-8
    std::string caption; // UTF-8
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    Answer defaultButton = Answer::Ok;
    // More for whoever wants it (UTF-8, lines separated by "\n"): shown on request under the
    // text (the box's "Szczegóły" part). Empty: none.
    std::string details;
    // The details are shown at once, not only on request: what the user should read.
    bool detailsShown = false;
};

class RunUi
{
public:
    virtual ~RunUi() = default;

    // The archive and target directory texts as typed (UTF-8), and their rewriting.
    virtual std::string ArchiveDirText() = 0;
    virtual void SetArchiveDirText(const std::string& text) = 0;
    virtual std::string TargetDirText() = 0;
    virtual void SetTargetDirText(const std::string& text) = 0;

    // The options, read each time they matter.
    virtual bool CommuneConversionTicked() = 0; // "Konwersja numerów gmin"
    virtual bool AssortmentsTicked() = 0;       // "Uzupełnij asortymenty robót"
    virtual bool ParcelsTicked() = 0;           // "Uzupełnij zakresy działkowe"
    virtual bool RastersTicked() = 0;           // "Uzupełnij zakresy rastrowe"

    // Shows a modal message box and returns the answer.
    virtual Answer ShowMessage(const Message& message) = 0;
    // The application's standard error display, for errors of the table engine (UTF-8 text).
    virtual void ShowError(const std::string& text) = 0;
    // The same display with details under the text (what the run did up to the error). Without
    // its own way to show them, a window shows the text alone.
    virtual void ShowErrorWithDetails(const std::string& text, const std::string& details)
    {
        (void)details;
        ShowError(text);
    }

    virtual void SetProgressRange(int minimum, int maximum) = 0;
    // Must show the new position at once: the run does not return to the event loop.
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // After a successful run: closes the main window, which ends the program.
    virtual void CloseAfterSuccess() = 0;
};

} // namespace convert
