// The program's message boxes: one place that shows them, so that every window asks and informs
// the same way and tests can answer in the user's place.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QMessageBox>

#include "convert/run_ui.h"

class QWidget;

namespace app {

// Shows a message box in place of QMessageBox (tests answer through it).
using MessageBoxHook = std::function<convert::Answer(QWidget* parent, const convert::Message& message)>;

// Sets the hook; an empty hook means the real box. Returns the hook it replaces.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The box as the user sees it: the caption, the text as plain text (CR LF shown as one line
// break), the buttons, the icon and the default button of the message, and its details (when it
// has any) behind the box's details button. Not yet shown.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const convert::Message& message);

// Shows the message modally (through the hook when one is set) and returns the answer:
// Closed when the box was left without one of its buttons.
convert::Answer ShowMessageBox(QWidget* parent, const convert::Message& message);

// The application's standard error display: the error's own text under the caption "Błąd",
// with the stop icon and an OK button; `details` (UTF-8), when given, under "Pokaż szczegóły...".
void ShowErrorBox(QWidget* parent, const QString& text, const std::string& details = std::string());

} // namespace app
