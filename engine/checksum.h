// CRC-32 (the polynomial of zip and PNG), for the journal's records and the office digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace engine {

// The CRC-32 of `size` bytes, continuing from `crc` (0 to start).
std::uint32_t Crc32(const void* bytes, std::size_t size, std::uint32_t crc = 0);

inline std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0)
{
    return Crc32(bytes.data(), bytes.size(), crc);
}

} // namespace engine
