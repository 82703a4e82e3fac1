// Character-key orders: byte order and the Polish order of the db852po0 language driver.
#include "engine/collation.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace engine {

namespace {

// The db852po0 driver's sort table over code page 852, as its data is published (the Borland
// language-driver tables carried in Firebird's international sources, collation db852po0):
// each byte's primary weight, and its secondary weight plus one (0 where it has none; only
// letters have one). Space and control characters come first, then digits, then letters, each
// Polish letter right after its base letter (and Czech and Slovak letters such as Č Ň Ř Š Ž as
// letters of their own), then punctuation and symbols in the driver's own order. Case and most
// foreign accents differ only in the secondary weight.
// clang-format off
constexpr unsigned char kPrimary[256] = {
      1,   0,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,  15, // 0x00
     16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31, // 0x10
     32, 103, 112, 109, 110,  96, 108, 114,  85,  86,  97,  94,  99,  95,  98, 104, // 0x20
     33,  34,  35,  36,  37,  38,  39,  40,  41,  42, 101, 100,  91,  93,  92, 102, // 0x30
    107,  43,  45,  46,  50,  51,  53,  54,  55,  56,  57,  58,  59,  61,  62,  65, // 0x40
     68,  69,  70,  72,  75,  76,  77,  78,  79,  80,  81,  87, 105,  88, 115, 117, // 0x50
    113,  43,  45,  46,  50,  51,  53,  54,  55,  56,  57,  58,  59,  61,  62,  65, // 0x60
     68,  69,  70,  72,  75,  76,  77,  78,  79,  80,  81,  89, 106,  90, 116, 118, // 0x70
     48,  76,  51,  43,  43,  76,  47,  48,  60,  51,  67,  67,  56,  82,  43,  47, // 0x80
     51,  59,  59,  67,  67,  59,  59,  73,  73,  67,  76,  75,  75,  60, 111,  49, // 0x90
     43,  56,  66,  76,  44,  44,  84,  84,  52,  52, 119,  82,  49,  72, 120, 121, // 0xA0
    122, 123, 124, 125, 126,  43,  43,  51,  72, 127, 128, 129, 130,  83,  83, 131, // 0xB0
    132, 133, 134, 135, 136, 137,  43,  43, 138, 139, 140, 141, 142, 143, 144, 145, // 0xC0
     50,  50,  50,  51,  50,  64,  56,  56,  51, 146, 147, 148, 149,  75,  76, 150, // 0xD0
     66,  72,  67,  63,  63,  64,  74,  74,  70,  76,  70,  76,  80,  80,  75, 151, // 0xE0
    152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162,  76,  71,  71, 163, 164, // 0xF0
};
constexpr unsigned char kSecondary[256] = {
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0, // 0x00
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0, // 0x10
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0, // 0x20
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0, // 0x30
      0,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2, // 0x40
      2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   2,   0,   0,   0,   0,   0, // 0x50
      0,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1, // 0x60
      1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   1,   0,   0,   0,   0,   0, // 0x70
      2,   7,   3,   5,   9,   5,   1,   1,   1,   7,   6,   5,   5,   2,  10,   2, // 0x80
      4,   4,   3,   1,   3,   6,   5,   2,   1,   4,   8,   4,   3,   2,   0,   1, // 0x90
      3,   3,   1,   3,   1,   2,   2,   1,   2,   1,   0,   1,   2,   3,   0,   0, // 0xA0
      0,   0,   0,   0,   0,   4,   8,   6,   4,   0,   0,   0,   0,   2,   1,   0, // 0xB0
      0,   0,   0,   0,   0,   0,   7,   6,   0,   0,   0,   0,   0,   0,   0,   0, // 0xC0
      5,   6,   4,   8,   3,   2,   4,   6,   5,   0,   0,   0,   0,   6,   6,   0, // 0xD0
      2,   5,   2,   2,   1,   1,   2,   1,   4,   4,   3,  10,   3,   4,   5,   0, // 0xE0
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   9,   2,   1,   0,   0, // 0xF0
};
// clang-format on

} // namespace

int CompareBytes(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    if (c != 0)
        return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int CompareDb852Po0(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    // Keys met in one search share long beginnings; equal bytes have equal weights, so the
    // weights are compared from the first byte that differs.
    std::size_t from = 0;
    for (std::uint64_t x = 0, y = 0; from + 8 <= n; from += 8) {
        std::memcpy(&x, a.data() + from, 8);
        std::memcpy(&y, b.data() + from, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                from += static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8; // the first byte that differs
            break;
        }
    }
    while (from < n && a[from] == b[from])
        ++from;
    for (std::size_t i = from; i < n; ++i) {
        const int wa = kPrimary[static_cast<unsigned char>(a[i])];
        const int wb = kPrimary[static_cast<unsigned char>(b[i])];
        if (wa != wb)
            return wa - wb;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = from; i < n; ++i) {
        const int wa = kSecondary[static_cast<unsigned char>(a[i])];
        const int wb = kSecondary[static_cast<unsigned char>(b[i])];
        if (wa != wb)
            return wa - wb;
    }
    return CompareBytes(a, b); // no two bytes share both weights: reached only by equal keys
}

CharCompare CompareFor(KeyOrder order)
{
    return order == KeyOrder::Db852Po0 ? &CompareDb852Po0 : &CompareBytes;
}

} // namespace engine
