// A length-prefixed byte string of at most 255 bytes: the form in which the archive reader
// hands text to its callers and takes index keys.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace archive {

struct ShortString
{
    static constexpr std::size_t kCapacity = 255;

    std::uint8_t length = 0;                // bytes in use
    std::array<char, kCapacity> bytes = {}; // the text; bytes past `length` are meaningless

    ShortString() = default;
    // Takes at most the first 255 bytes of `text`.
    ShortString(std::string_view text) { Assign(text); } // NOLINT(google-explicit-constructor)

    void Assign(std::string_view text)
    {
        length = static_cast<std::uint8_t>(std::min(text.size(), kCapacity));
        std::copy_n(text.data(), length, bytes.data());
    }

    std::string_view View() const { return std::string_view(bytes.data(), length); }
    std::string Str() const { return std::string(View()); }
    bool Empty() const { return length == 0; }

    friend bool operator==(const ShortString& a, const ShortString& b) { return a.View() == b.View(); }
    friend bool operator==(const ShortString& a, std::string_view b) { return a.View() == b; }
};

} // namespace archive
