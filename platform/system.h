// Facts of the running process: today's date, whether a stream is a terminal.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct LocalDate
{
    int year;
    int month;
    int day;
};

// Today in the local time zone.
LocalDate Today();

struct LocalTime
{
    int year, month, day;
    int hour, minute, second;
};

// The moment now in the local time zone, to the second.
LocalTime Now();

// True when the standard stream (1 = output, 2 = error) is a terminal.
bool IsTerminal(int stream);

// The program's arguments in UTF-8, without the program name. On Windows they are taken from
// the wide-character command line, since `argv` carries them in the ANSI code page, which
// loses letters it lacks; elsewhere they are `argv` as it stands.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes a Windows console show the UTF-8 the command-line tools write; nothing elsewhere.
void UseUtf8Console();

} // namespace platform
