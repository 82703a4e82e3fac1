// Program start: the table engine's driver settings, the application object and the main window
// with the two windows it shows.
#pragma once

namespace app {

// Runs the program until its main window closes; returns the exit code.
int RunProgram(int argc, char** argv);

} // namespace app
