// The code page table and its byte maps, built once at compile time.
#include "archive/code_page.h"

namespace archive {

const std::array<std::array<std::uint8_t, 18>, kCodePageRows> CodePageTable = {{
    // Row 0: the letters numbered consecutively from 0x80.
    {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90,
     0x91},
    // Row 1: plain ASCII, the diacritics stripped (Ź and Ż both Z, ź and ż both z).
    {0x41, 0x43, 0x45, 0x4C, 0x4E, 0x4F, 0x53, 0x5A, 0x5A, 0x61, 0x63, 0x65, 0x6C, 0x6E, 0x6F, 0x73, 0x7A,
     0x7A},
    // Row 2: Mazovia.
    {0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA0, 0xA1, 0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA6,
     0xA7},
    // Row 3: code page 852.
    {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD, 0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB,
     0xBE},
    // Row 4: code page 1250.
    {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF, 0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F,
     0xBF},
    // Row 5: capitals from 0x80, small letters from 0xA0.
    {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
     0xA8},
    // Row 6: capitals from 0x80, small letters from 0x90.
    {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98},
}};

namespace {

using ByteMap = std::array<std::uint8_t, 256>;

ByteMap Identity()
{
    ByteMap map{};
    for (int b = 0; b < 256; ++b)
        map[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
    return map;
}

// maps[from][to]; a byte keeps its first position in row `from` (first-occurrence rule), so
// the map is filled from the last position backwards.
struct AllMaps
{
    std::array<std::array<ByteMap, kCodePageRows>, kCodePageRows> maps;
    ByteMap identity;

    AllMaps() : identity(Identity())
    {
        for (int from = 0; from < kCodePageRows; ++from) {
            for (int to = 0; to < kCodePageRows; ++to) {
                ByteMap& map = maps[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)];
                map = identity;
                if (from == kRowAscii)
                    continue; // recoding from ASCII never replaces anything
                const auto& src = CodePageTable[static_cast<std::size_t>(from)];
                const auto& dst = CodePageTable[static_cast<std::size_t>(to)];
                for (int p = 17; p >= 0; --p)
                    map[src[static_cast<std::size_t>(p)]] = dst[static_cast<std::size_t>(p)];
            }
        }
    }
};

const AllMaps& Maps()
{
    static const AllMaps maps;
    return maps;
}

} // namespace

const std::array<std::uint8_t, 256>& RecodeMap(std::uint16_t from, std::uint16_t to)
{
    const AllMaps& all = Maps();
    if (from >= kCodePageRows || to >= kCodePageRows)
        return all.identity;
    return all.maps[from][to];
}

void ConvertBuffer(char* buffer, std::uint16_t length, std::uint16_t from, std::uint16_t to)
{
    const ByteMap& map = RecodeMap(from, to);
    for (std::uint16_t i = 0; i < length; ++i)
        buffer[i] = static_cast<char>(map[static_cast<std::uint8_t>(buffer[i])]);
}

std::string ConvertText(std::string_view text, std::uint16_t from, std::uint16_t to)
{
    std::string out(text);
    const ByteMap& map = RecodeMap(from, to);
    for (char& c : out)
        c = static_cast<char>(map[static_cast<std::uint8_t>(c)]);
    return out;
}

} // namespace archive
