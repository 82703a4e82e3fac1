// Writes Clipper NTX indexes: balanced trees from sorted entries, and trees of exact shapes
// (also damaged ones) page by page. Used for tests, benchmarks and sample data; it is separate
// from the archive reader and shares no code with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace writers {

inline constexpr int kNtxPage = 1024;

struct NtxOptions
{
    std::string keyExpression;   // stored in the header
    std::uint16_t keySize = 10;  // bytes of every key
    bool permuteOffsets = false; // store items in reverse slot order, as Clipper's updates leave them
    bool staleExtraSlot = false; // copy the first entry into the unused key of slot n + 1
};

// Items per page as Clipper-compatible writers choose it: (1022 / (key size + 10)) - 1, made
// even when it is odd and above 2.
std::uint16_t NtxMaxItems(std::uint16_t keySize);

struct NtxEntry
{
    std::string key;      // padded with spaces (or cut) to the key size
    std::uint32_t record; // 1-based
};

// A balanced B-tree over `entries`, which must already be in key order (duplicates in the order
// given). Leaves and inner pages are filled evenly; the root is the last page of the file.
std::string BuildNtx(const std::vector<NtxEntry>& entries, const NtxOptions& options);

// One page of a tree of exact shape.
struct NtxItem
{
    std::string key;
    std::uint32_t record = 0;
    std::uint32_t child = 0; // file offset of the page of smaller keys; 0 in a leaf
};

struct NtxPage
{
    std::vector<NtxItem> items;
    std::uint32_t rightChild = 0;    // the child of slot n + 1
    std::int32_t countOverride = -1; // when >= 0, stored as the item count instead of the real one
};

// The file offset of the i-th page written by BuildNtxPages (page 0 follows the header).
constexpr std::uint32_t NtxPageOffset(std::size_t i)
{
    return static_cast<std::uint32_t>(kNtxPage * (i + 1));
}

// A file of a header and `pages` in order; the header's root is `rootOffset`.
std::string BuildNtxPages(const std::vector<NtxPage>& pages, std::uint32_t rootOffset,
                          const NtxOptions& options);

// The bytes of one page.
std::string NtxPageBytes(const NtxPage& page, const NtxOptions& options);
// The bytes of the header page.
std::string NtxHeaderBytes(std::uint32_t rootOffset, const NtxOptions& options);

} // namespace writers
