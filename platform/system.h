// Facts of the running process: today's date, whether a stream is a terminal.
#pragma once

namespace platform {

struct LocalDate
{
    int year;
    int month;
    int day;
};

// Today in the local time zone.
LocalDate Today();

// True when the standard stream (1 = output, 2 = error) is a terminal.
bool IsTerminal(int stream);

} // namespace platform
