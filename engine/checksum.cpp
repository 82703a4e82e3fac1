// CRC-32 eight bytes at a time ("slicing by 8"): eight tables of 256 entries, made once. It gives
// the same values as the byte-at-a-time loop, several times faster: a commit checks every block it
// writes.
#include "engine/checksum.h"

#include <array>

namespace engine {
namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

Tables MakeTables()
{
    Tables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
        for (std::size_t k = 1; k < 8; ++k)
            t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

} // namespace

std::uint32_t Crc32(const void* bytes, std::size_t size, std::uint32_t crc)
{
    static const Tables t = MakeTables();
    const auto* p = static_cast<const unsigned char*>(bytes);
    crc ^= 0xFFFFFFFFu;
    while (size >= 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace engine
