// The order of character keys: one replaceable comparison, chosen by the table's language driver.
#pragma once

#include <string_view>

#include "engine/code_page.h"

namespace engine {

// Compares two character keys of equal length: negative, zero or positive.
using CharCompare = int (*)(std::string_view a, std::string_view b);

// Unsigned byte order: for binary drivers (US 437, the Windows 1250 id) and unknown ones.
int CompareBytes(std::string_view a, std::string_view b);

// The Polish order of the db852po0 driver over code page 852 bytes, by the driver's published
// sort table: keys are compared by the primary weights of their characters first (control
// characters < space < digits < letters < punctuation; each Polish letter Ą Ć Ę Ł Ń Ó Ś Ź Ż right
// after its base letter, Ź before Ż), and only where all of those are equal by the secondary
// weights (case and foreign accents: a before A, but Ą before ą, as the table has it). No two
// bytes share both weights, so two different keys never compare equal.
int CompareDb852Po0(std::string_view a, std::string_view b);

CharCompare CompareFor(KeyOrder order);

} // namespace engine
