// The table engine's one exception type: its message, in Polish, names the table's path and the
// field or tag concerned, and is shown to the user as it stands.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace engine {

// What went wrong, for callers and tests that need to tell cases apart; the text is for people.
enum class ErrorKind
{
    NotFound, // directory, table file or tag missing
    Locked,   // another open keeps the table from being opened this way
    BadTable, // the table file is damaged or not a dBase table
    BadIndex, // the production index is damaged or holds what the engine cannot handle
    BadValue, // a value does not fit its field, or an unknown field
    BadState, // an operation out of place (Post without Edit, no table open)
    Io,       // the operating system refused a read or write
};

class Error : public std::runtime_error
{
public:
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    ErrorKind Kind() const { return kind_; }

private:
    ErrorKind kind_;
};

// A write, flush or creation of a file has just failed: an Io error of the text and the system's
// reason ("…: brak miejsca na dysku"). Called at once, before another call can change the reason.
Error WriteFailure(const std::string& text);

// What a failure says to the user. The program's own errors carry their Polish text; the standard
// library's carry English texts meant for programmers, so the ones a run can meet get a Polish
// sentence (a lack of memory, a refusal of the system), and any other names itself as an internal
// fault of the program. Like the engine's own texts, it ends without a full stop.
std::string FailureText(const std::exception& failure);

} // namespace engine
