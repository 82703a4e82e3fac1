// The order of character keys: one replaceable comparison, chosen by the table's language driver.
#pragma once

#include <string_view>

#include "engine/code_page.h"

namespace engine {

// Compares two character keys of equal length: negative, zero or positive.
using CharCompare = int (*)(std::string_view a, std::string_view b);

// Unsigned byte order: for binary drivers (US 437, the Windows 1250 id) and unknown ones.
int CompareBytes(std::string_view a, std::string_view b);

// The Polish order of the db852po0 driver over code page 852 bytes. Built from the driver's
// documented rules, not from a copied table: control characters < space < digits < letters <
// everything else; letters by their Latin base letter, each Polish letter (Ą Ć Ę Ł Ń Ó Ś Ź Ż)
// right after its base letter (Ź before Ż), other accented letters with their base letter and
// case only as a secondary difference. Keys equal under these weights are ordered by their bytes,
// so the order stays total and two different keys never compare equal.
int CompareDb852Po0(std::string_view a, std::string_view b);

CharCompare CompareFor(KeyOrder order);

} // namespace engine
