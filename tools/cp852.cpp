// The upper half of code page 852 as Unicode code points.
#include "tools/cp852.h"

#include <array>
#include <cstdint>

#include "convert/text.h"

namespace tools {
namespace {

constexpr std::array<std::uint16_t, 128> kUpper = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x016F, 0x0107, 0x00E7, 0x0142, 0x00EB, 0x0150, 0x0151, 0x00EE,
    0x0179, 0x00C4, 0x0106, 0x00C9, 0x0139, 0x013A, 0x00F4, 0x00F6, 0x013D, 0x013E, 0x015A, 0x015B, 0x00D6,
    0x00DC, 0x0164, 0x0165, 0x0141, 0x00D7, 0x010D, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0104, 0x0105, 0x017D,
    0x017E, 0x0118, 0x0119, 0x00AC, 0x017A, 0x010C, 0x015F, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x011A, 0x015E, 0x2563, 0x2551, 0x2557, 0x255D, 0x017B, 0x017C, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x0102, 0x0103, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x0111, 0x0110, 0x010E, 0x00CB, 0x010F, 0x0147, 0x00CD, 0x00CE, 0x011B, 0x2518, 0x250C,
    0x2588, 0x2584, 0x0162, 0x016E, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x0143, 0x0144, 0x0148, 0x0160, 0x0161,
    0x0154, 0x00DA, 0x0155, 0x0170, 0x00FD, 0x00DD, 0x0163, 0x00B4, 0x00AD, 0x02DD, 0x02DB, 0x02C7, 0x02D8,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x02D9, 0x0171, 0x0158, 0x0159, 0x25A0, 0x00A0,
};

} // namespace

std::string Cp852ToUtf8(std::string_view bytes, bool showControls)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (showControls && (b < 0x20 || b == 0x7F))
            out.push_back('.');
        else if (b < 0x80)
            out.push_back(static_cast<char>(b));
        else
            convert::AppendUtf8(out, kUpper[b - 0x80u]);
    }
    return out;
}

std::optional<std::string> Utf8ToCp852(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        std::uint32_t cp = 0;
        std::size_t length = 0;
        if (b < 0x80) {
            cp = b;
            length = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1Fu;
            length = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0Fu;
            length = 3;
        } else {
            return std::nullopt;
        }
        if (i + length > text.size())
            return std::nullopt;
        for (std::size_t j = 1; j < length; ++j) {
            const auto next = static_cast<std::uint8_t>(text[i + j]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        i += length;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        bool found = false;
        for (std::size_t k = 0; k < kUpper.size(); ++k) {
            if (kUpper[k] == cp) {
                out.push_back(static_cast<char>(0x80 + k));
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return out;
}

} // namespace tools
