// Clipper NTX index search: opening, exact and next-greater search, in-order stepping.
//
// An NTX file is a B-tree (not a B+-tree) of 1024-byte pages: inner items are entries of their
// own, returned between their left subtree and the next item. Each level of the descent path
// keeps its page in memory, so climbing back needs no read and a search reads one page per level
// below the root. Every page is checked when it is read (docs/formats.md lists the checks), and a
// walk descends into each page at most once, so a damaged tree with a cycle or a shared subtree
// ends with code 4 instead of looping.
#include <cstring>
#include <limits>

#include "archive/reader.h"
#include "platform/memory.h"

namespace archive {
namespace {

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A read-only view of one checked tree page.
struct Page
{
    const std::uint8_t* bytes;
    std::uint16_t keySize;

    int Count() const { return U16(bytes); }
    const std::uint8_t* Item(int slot) const { return bytes + U16(bytes + 2 * slot); }
    std::uint32_t Child(int slot) const { return U32(Item(slot) + ntx::kItemChildOffset); }
    std::uint32_t Record(int slot) const { return U32(Item(slot) + ntx::kItemRecordOffset); }
    const std::uint8_t* Key(int slot) const { return Item(slot) + ntx::kItemKeyOffset; }
};

// True when every slot's item lies inside the page (the offset table of n + 1 entries, the items
// of slots 1..n with their keys, and the first 8 bytes of slot n + 1), and every entry of slots
// 1..n names a record a table can have: 1..2^31 - 1. So the record number - 1 handed to the
// callers is always 0..2^31 - 2, and adding the 1 back never overflows.
bool PageIsSound(const std::uint8_t* bytes, std::uint16_t keySize)
{
    const int n = U16(bytes);
    if (2 + 2 * (n + 1) > ntx::kPageSize)
        return false;
    for (int slot = 1; slot <= n + 1; ++slot) {
        const int offset = U16(bytes + 2 * slot);
        const int need = slot <= n ? ntx::kItemKeyOffset + keySize : ntx::kItemKeyOffset;
        if (offset + need > ntx::kPageSize)
            return false;
        if (slot <= n) {
            const std::uint32_t record = U32(bytes + offset + ntx::kItemRecordOffset);
            if (record == 0 || record > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
                return false;
        }
    }
    return true;
}

// Searches a page for `key` (exactly keySize bytes): the first slot whose key is not less, and
// whether it is equal; slot n + 1 when every key is less.
struct SlotFound
{
    int slot;
    bool equal;
};

// Whether the keys of slots 1..n are in order (a sound page's are).
bool KeysInOrder(const Page& page)
{
    for (int slot = 2; slot <= page.Count(); ++slot)
        if (std::memcmp(page.Key(slot - 1), page.Key(slot), page.keySize) > 0)
            return false;
    return true;
}

// The first slot whose key is not less than `key` (n + 1 when none). A page whose keys are known
// to be in order is searched by halves; any other slot by slot, which on a damaged page gives the
// same answer the walk through its slots would.
SlotFound SearchPage(const Page& page, const std::uint8_t* key, bool inOrder)
{
    const int n = page.Count();
    if (inOrder) {
        int low = 1, high = n + 1;
        while (low < high) {
            const int mid = (low + high) / 2;
            if (std::memcmp(page.Key(mid), key, page.keySize) < 0)
                low = mid + 1;
            else
                high = mid;
        }
        return {low, low <= n && std::memcmp(page.Key(low), key, page.keySize) == 0};
    }
    int slot = 1;
    int cmp = -1;
    while (slot <= n) {
        cmp = std::memcmp(page.Key(slot), key, page.keySize);
        if (cmp >= 0)
            break;
        ++slot;
    }
    return {slot, slot <= n && cmp == 0};
}

// The text of a NUL-terminated header field of `capacity` bytes.
std::string HeaderText(const std::uint8_t* bytes, std::size_t capacity)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    std::size_t length = 0;
    while (length < capacity && text[length] != '\0')
        ++length;
    return std::string(text, length);
}

// What is known of a page of an index image (IndexHandle::pageChecked).
constexpr std::uint8_t kUnchecked = 0, kSound = 1, kDamaged = 2, kSoundInOrder = 3;

} // namespace

std::uint32_t IndexHandle::RootOffset() const
{
    return U32(header.data() + ntx::kRootOffset);
}

std::uint16_t IndexHandle::KeySize() const
{
    return U16(header.data() + ntx::kKeySizeOffset);
}

std::string IndexHandle::KeyExpression() const
{
    return HeaderText(header.data() + ntx::kKeyExpressionOffset, ntx::kKeyExpressionLength);
}

std::string IndexHandle::ForExpression() const
{
    return HeaderText(header.data() + ntx::kForExpressionOffset, ntx::kForExpressionLength);
}

void Reader::ReleaseIndex(IndexHandle& handle)
{
    handle.file.reset();
    handle.pages.clear();
    handle.pages.shrink_to_fit();
    handle.visitMark.clear();
    handle.visitMark.shrink_to_fit();
    handle.image.clear();
    handle.image.shrink_to_fit();
    handle.pageChecked.clear();
    handle.pageChecked.shrink_to_fit();
    handle.levelPages = {};
    handle.levelInOrder = {};
    handle.outOfOrderSeen = false;
    handle.path = {};
    handle.depth = 0;
}

bool Reader::ReadPage(IndexHandle& handle, int level, std::uint32_t offset)
{
    std::uint8_t* buffer = handle.pages.data() + static_cast<std::size_t>(level - 1) * ntx::kPageSize;
    ++handle.pageReads;
    const std::uint8_t* page = buffer;
    bool sound = false;
    if (!handle.image.empty()) {
        // A page of the image is used where it lies, and checked once while the image stands.
        if (offset <= handle.image.size() - ntx::kPageSize) {
            page = handle.image.data() + offset;
            platform::Prefetch(page, ntx::kPageSize); // a large archive's pages are seldom cached
            std::uint8_t& checked = handle.pageChecked[offset / ntx::kPageSize];
            if (checked == kUnchecked)
                checked = !PageIsSound(page, handle.KeySize())        ? kDamaged
                          : KeysInOrder(Page{page, handle.KeySize()}) ? kSoundInOrder
                                                                      : kSound;
            sound = checked != kDamaged;
        }
        if (sound && handle.pageChecked[offset / ntx::kPageSize] != kSoundInOrder)
            handle.outOfOrderSeen = true;
    } else {
        sound = handle.file->ReadAt(offset, buffer, ntx::kPageSize) == ntx::kPageSize &&
                PageIsSound(buffer, handle.KeySize());
        if (sound && !KeysInOrder(Page{buffer, handle.KeySize()}))
            handle.outOfOrderSeen = true;
    }
    if (!sound) {
        indexResult_ = kIndexBadPage;
        return false;
    }
    handle.levelPages[static_cast<std::size_t>(level - 1)] = page;
    handle.levelInOrder[static_cast<std::size_t>(level - 1)] =
        !handle.image.empty() && handle.pageChecked[offset / ntx::kPageSize] == kSoundInOrder;
    handle.path[static_cast<std::size_t>(level - 1)].page = offset;
    return true;
}

// Steps 3, 4, 6 and 7 of opening: the header page, its checks, and the root. On failure the
// file is closed and the code set.
bool Reader::LoadHeaderAndRoot(IndexHandle& handle)
{
    std::array<std::uint8_t, ntx::kPageSize> page{};
    if (!handle.file->Seek(0) || handle.file->Read(page.data(), page.size()) != ntx::kPageSize) {
        indexResult_ = kIndexShort;
        ReleaseIndex(handle);
        return false;
    }
    std::memcpy(handle.header.data(), page.data(), handle.header.size());
    if (handle.KeySize() > ntx::kMaxKeySize) {
        indexResult_ = kIndexKeyTooLong;
        ReleaseIndex(handle);
        return false;
    }
    // A key size of 0 cannot be searched; a root that is not a whole page number cannot be one. An
    // item size other than the key's and the 8 bytes before it says the header is damaged, and its
    // key size cannot be trusted either.
    const std::uint32_t root = handle.RootOffset();
    if (handle.KeySize() == 0 || U16(handle.header.data() + ntx::kItemSizeOffset) != handle.KeySize() + 8u ||
        root == 0 || root % ntx::kPageSize != 0) {
        indexResult_ = kIndexBadPage;
        ReleaseIndex(handle);
        return false;
    }
    handle.path = {};
    handle.pages.assign(static_cast<std::size_t>(ntx::kMaxDepth) * ntx::kPageSize, 0);
    const std::int64_t size = handle.file->Size();
    handle.visitMark.assign(size > 0 ? static_cast<std::size_t>(size / ntx::kPageSize) + 1 : 1, 0);
    handle.walk = 1;
    // The whole file in memory when it is not too large; a short read keeps page reads.
    handle.image.clear();
    if (size >= ntx::kPageSize && size <= IndexImageLimit) {
        handle.image.resize(static_cast<std::size_t>(size));
        if (!handle.file->Seek(0) || handle.file->Read(handle.image.data(), handle.image.size()) != size)
            handle.image.clear();
    }
    handle.image.shrink_to_fit();
    handle.pageChecked.assign(handle.image.size() / ntx::kPageSize + 1, 0);
    if (!ReadPage(handle, 1, root)) {
        ReleaseIndex(handle);
        return false;
    }
    handle.depth = 1;
    indexResult_ = kIndexOk;
    return true;
}

void Reader::OpenIndex(IndexHandle& handle, std::string_view name)
{
    ReleaseIndex(handle);
    handle.file = opener_(std::string(name));
    if (!handle.file) {
        indexResult_ = kIndexCannotOpen;
        return;
    }
    handle.stamp = handle.file->LastWriteStamp();
    handle.stampChecked = std::chrono::steady_clock::now();
    LoadHeaderAndRoot(handle);
}

void Reader::CloseIndex(IndexHandle& handle)
{
    ReleaseIndex(handle);
    indexResult_ = kIndexOk;
}

void Reader::RefreshIndex(IndexHandle& handle)
{
    if (!handle.IsOpen()) {
        indexResult_ = kIndexBadPage;
        return;
    }
    handle.stamp = handle.file->LastWriteStamp();
    handle.stampChecked = std::chrono::steady_clock::now();
    LoadHeaderAndRoot(handle);
}

// Refreshes the handle when its file changed. False when the handle is closed or the refresh
// failed (which closed it); the code is then set.
bool Reader::CheckStamp(IndexHandle& handle)
{
    if (!handle.IsOpen()) {
        indexResult_ = kIndexBadPage;
        return false;
    }
    if (StampChanged(handle)) {
        RefreshIndex(handle);
        return handle.IsOpen();
    }
    return true;
}

bool Reader::StampChanged(IndexHandle& handle)
{
    const auto now = std::chrono::steady_clock::now();
    if (StampCheckInterval.count() > 0 && now - handle.stampChecked < StampCheckInterval)
        return false;
    handle.stampChecked = now;
    return handle.file->LastWriteStamp() != handle.stamp;
}

// Moves one level down into the page at `child`, checking it and the walk's bounds.
bool Reader::Descend(IndexHandle& handle, std::uint32_t child)
{
    if (handle.depth >= ntx::kMaxDepth || child % ntx::kPageSize != 0) {
        indexResult_ = kIndexBadPage;
        return false;
    }
    const std::size_t pageNumber = child / ntx::kPageSize;
    if (pageNumber >= handle.visitMark.size()) {
        // The file grew since it was opened, or the pointer is damaged: a page past the file's end
        // is never marked (a damaged pointer of up to 4 GB must not grow the marks).
        const std::int64_t size = handle.file->Size();
        if (size < 0 || child > static_cast<std::uint64_t>(size) ||
            static_cast<std::uint64_t>(size) - child < ntx::kPageSize) {
            indexResult_ = kIndexBadPage;
            return false;
        }
        handle.visitMark.resize(pageNumber + 1, 0);
    }
    if (handle.visitMark[pageNumber] == handle.walk) {
        indexResult_ = kIndexBadPage; // this walk has been here before: a cycle or a shared subtree
        return false;
    }
    handle.visitMark[pageNumber] = handle.walk;
    if (!ReadPage(handle, handle.depth + 1, child))
        return false;
    ++handle.depth;
    return true;
}

bool Reader::SeekKey(IndexHandle& handle, std::string_view key, std::int32_t& recno)
{
    if (!CheckStamp(handle))
        return false;
    indexResult_ = kIndexOk;

    // The key is filled out with spaces to the key size (a longer one is cut to it).
    const std::uint16_t keySize = handle.KeySize();
    ShortString padded;
    padded.length = static_cast<std::uint8_t>(keySize);
    const std::size_t used = std::min<std::size_t>(key.size(), keySize);
    std::memcpy(padded.bytes.data(), key.data(), used);
    std::memset(padded.bytes.data() + used, ' ', keySize - used);
    handle.currentKey = padded;
    const auto* k = reinterpret_cast<const std::uint8_t*>(padded.bytes.data());

    // A new walk: no page has been entered yet (the root is never entered from below).
    if (++handle.walk == 0) {
        std::fill(handle.visitMark.begin(), handle.visitMark.end(), 0);
        handle.walk = 1;
    }
    const std::size_t rootPage = handle.RootOffset() / ntx::kPageSize;
    if (rootPage < handle.visitMark.size())
        handle.visitMark[rootPage] = handle.walk;

    // Descend to a leaf, always into the subtree left of the first key that is not less. Equal
    // keys may lie in that subtree (also in its rightmost part), so an equal key met on the way
    // is only a candidate: the deepest one met is the first in key order.
    handle.depth = 1;
    int candidate = 0; // level of the deepest equal key met, 0 = none
    SlotFound found{};
    for (;;) {
        const Page page{handle.levelPages[handle.depth - 1u], keySize};
        found = SearchPage(page, k, handle.levelInOrder[handle.depth - 1u]);
        handle.path[handle.depth - 1u].slot = static_cast<std::int16_t>(found.slot);
        if (found.equal)
            candidate = handle.depth;
        const std::uint32_t child = page.Child(found.slot);
        if (child == 0)
            break;
        if (!Descend(handle, child)) {
            handle.depth = 0; // no position until the next search
            return false;
        }
    }

    if (candidate > 0) {
        handle.depth = static_cast<std::uint16_t>(candidate);
        IndexHandle::Level& level = handle.path[handle.depth - 1u];
        const Page page{handle.levelPages[handle.depth - 1u], keySize};
        recno = static_cast<std::int32_t>(page.Record(level.slot) - 1u);
        ++level.slot; // stand after the entry found
        return true;
    }
    // A miss: the leaf's slot is the first greater entry, or slot n + 1 (NextKey climbs).
    const Page leaf{handle.levelPages[handle.depth - 1u], keySize};
    recno = found.slot <= leaf.Count() ? static_cast<std::int32_t>(leaf.Record(found.slot) - 1u) : 0;
    return false;
}

bool Reader::NextKey(IndexHandle& handle, std::int32_t& recno)
{
    recno = 0;
    if (!handle.IsOpen()) {
        indexResult_ = kIndexBadPage;
        return false;
    }
    if (StampChanged(handle)) {
        // The file changed: read it again and find the place by the last key returned.
        const ShortString key = handle.currentKey;
        RefreshIndex(handle);
        if (!handle.IsOpen())
            return false;
        std::int32_t ignored = 0;
        if (!SeekKey(handle, key.View(), ignored)) {
            if (indexResult_ == kIndexOk)
                indexResult_ = kIndexBadPage;
            handle.depth = 0;
            return false;
        }
    }
    indexResult_ = kIndexOk;
    if (handle.depth == 0)
        return false;

    const std::uint16_t keySize = handle.KeySize();
    auto pageAt = [&](int level) {
        return Page{handle.levelPages[static_cast<std::size_t>(level - 1)], keySize};
    };

    int slot = handle.path[handle.depth - 1u].slot;
    Page page = pageAt(handle.depth);
    const std::uint32_t child = slot >= 1 && slot <= page.Count() + 1 ? page.Child(slot) : 0;
    if (child != 0) {
        // Down to the leftmost leaf of the subtree at this slot.
        std::uint32_t next = child;
        while (next != 0) {
            if (!Descend(handle, next)) {
                handle.depth = 0; // no position until the next search
                return false;
            }
            handle.path[handle.depth - 1u].slot = 1;
            next = pageAt(handle.depth).Child(1);
        }
        page = pageAt(handle.depth);
        slot = 1;
    }
    // In a leaf: past its last entry, climb to the first level that still has an item to give.
    while (slot < 1 || slot > page.Count()) {
        if (--handle.depth == 0)
            return false;
        page = pageAt(handle.depth);
        slot = handle.path[handle.depth - 1u].slot;
    }
    recno = static_cast<std::int32_t>(page.Record(slot) - 1u);
    handle.currentKey.length = static_cast<std::uint8_t>(keySize);
    std::memcpy(handle.currentKey.bytes.data(), page.Key(slot), keySize);
    handle.path[handle.depth - 1u].slot = static_cast<std::int16_t>(slot + 1);
    return true;
}

} // namespace archive
