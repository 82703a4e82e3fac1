// Character-key orders: byte order and the db852po0 Polish order.
#include "engine/collation.h"

#include <array>
#include <cstring>

namespace engine {

unsigned char LetterBase852(unsigned char byte); // code_page.cpp

namespace {

// Primary weight of each byte of code page 852 under db852po0.
std::array<unsigned short, 256> BuildWeights()
{
    std::array<unsigned short, 256> weights{};
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        unsigned short weight = 0;
        if (byte < 0x20) {
            weight = static_cast<unsigned short>(1 + byte);
        } else if (byte == 0x20) {
            weight = 40;
        } else if (byte >= '0' && byte <= '9') {
            weight = static_cast<unsigned short>(50 + (byte - '0'));
        } else if (const unsigned char base = LetterBase852(byte); base != 0) {
            int rank = 0; // 0 base letter and foreign accents, 1 the Polish letter after it, 2 for Ż
            switch (byte) {
            case 0xA4:
            case 0xA5: // Ą ą
            case 0x8F:
            case 0x86: // Ć ć
            case 0xA8:
            case 0xA9: // Ę ę
            case 0x9D:
            case 0x88: // Ł ł
            case 0xE3:
            case 0xE4: // Ń ń
            case 0xE0:
            case 0xA2: // Ó ó
            case 0x97:
            case 0x98: // Ś ś
            case 0x8D:
            case 0xAB: // Ź ź
                rank = 1;
                break;
            case 0xBD:
            case 0xBE: // Ż ż
                rank = 2;
                break;
            default:
                break;
            }
            weight = static_cast<unsigned short>(100 + (base - 'A') * 3 + rank);
        } else {
            weight = static_cast<unsigned short>(200 + byte); // punctuation and symbols after letters
        }
        weights[static_cast<std::size_t>(b)] = weight;
    }
    return weights;
}

const std::array<unsigned short, 256>& Weights()
{
    static const std::array<unsigned short, 256> weights = BuildWeights();
    return weights;
}

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
    const auto& weights = Weights();
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const int wa = weights[static_cast<unsigned char>(a[i])];
        const int wb = weights[static_cast<unsigned char>(b[i])];
        if (wa != wb)
            return wa - wb;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return CompareBytes(a, b);
}

CharCompare CompareFor(KeyOrder order)
{
    return order == KeyOrder::Db852Po0 ? &CompareDb852Po0 : &CompareBytes;
}

} // namespace engine
