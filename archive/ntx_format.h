// The Clipper NTX index as the archive reader sees it; see docs/formats.md for the full layout.
#pragma once

#include <cstdint>

namespace archive::ntx {

inline constexpr int kPageSize = 1024; // header and tree pages alike

// Header page.
inline constexpr int kKeptHeaderBytes = 922;    // bytes 0..921 are kept in the handle
inline constexpr int kSignatureOffset = 0;      // 2 bytes
inline constexpr int kRootOffset = 4;           // 4 bytes: file offset of the root page
inline constexpr int kItemSizeOffset = 12;      // 2 bytes: key size + 8
inline constexpr int kKeySizeOffset = 14;       // 2 bytes: bytes in every key
inline constexpr int kMaxItemsOffset = 18;      // 2 bytes
inline constexpr int kKeyExpressionOffset = 22; // NUL-terminated text
inline constexpr int kKeyExpressionLength = 256;
inline constexpr int kUniqueOffset = 278;
inline constexpr int kDescendingOffset = 280;
inline constexpr int kForExpressionOffset = 282; // NUL-terminated text; empty = every record
inline constexpr int kForExpressionLength = 256;
inline constexpr int kMaxKeySize = 255;

// Tree page: item count (2 bytes), then for slot k = 1 .. n + 1 the 2-byte offset of its item
// at byte 2 * k. An item is: child page offset (4 bytes, 0 in a leaf), 1-based record number
// (4 bytes), key bytes. Slot n + 1 only leads to the rightmost child.
inline constexpr int kItemChildOffset = 0;
inline constexpr int kItemRecordOffset = 4;
inline constexpr int kItemKeyOffset = 8;

// The descent path of a handle holds at most this many levels; level 1 is the root.
inline constexpr int kMaxDepth = 30;

} // namespace archive::ntx
