// Texts of failures for the user.
#include "engine/error.h"

#include <new>
#include <system_error>

namespace engine {

std::string FailureText(const std::exception& failure)
{
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return "Za mało pamięci operacyjnej, by dokończyć tę czynność";
    if (const auto* system = dynamic_cast<const std::system_error*>(&failure))
        return "Błąd systemu operacyjnego (kod " + std::to_string(system->code().value()) + ")";
    if (dynamic_cast<const std::runtime_error*>(&failure) != nullptr)
        return failure.what(); // the program's own errors, in Polish
    return std::string("Błąd wewnętrzny programu (") + failure.what() + ")";
}

} // namespace engine
