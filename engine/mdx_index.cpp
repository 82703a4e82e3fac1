// Reading, searching and maintaining the tags of an MDX production index.
#include "engine/mdx_index.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>

#include "engine/error.h"
#include "platform/memory.h"
#include "platform/system.h"

namespace engine {

namespace {

// Raised inside SeekInMemory when a block is not kept.
struct NotInMemory
{};

std::uint32_t Get32(const unsigned char* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void Put32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint16_t Get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void Put16(unsigned char* p, std::size_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

// Accessors of a node block; `item` is the tag's item length.
std::uint32_t Count(const unsigned char* b)
{
    return Get32(b);
}
std::uint32_t Pointer(const unsigned char* b, std::size_t i, std::size_t item)
{
    return Get32(b + 8 + i * item);
}
std::string_view KeyAt(const unsigned char* b, std::size_t i, std::size_t item, std::size_t length)
{
    return std::string_view(reinterpret_cast<const char*>(b + 12 + i * item), length);
}
// The trailing pointer of a node: 0 in a leaf, the rightmost child in an inner node.
std::uint32_t Trailing(const unsigned char* b, std::size_t item)
{
    return Get32(b + 8 + Count(b) * item);
}
std::uint32_t Count(const std::vector<unsigned char>& b)
{
    return Count(b.data());
}
std::uint32_t Pointer(const std::vector<unsigned char>& b, std::size_t i, std::size_t item)
{
    return Pointer(b.data(), i, item);
}
std::string_view KeyAt(const std::vector<unsigned char>& b, std::size_t i, std::size_t item,
                       std::size_t length)
{
    return KeyAt(b.data(), i, item, length);
}
std::uint32_t Trailing(const std::vector<unsigned char>& b, std::size_t item)
{
    return Trailing(b.data(), item);
}
void PutItem(std::vector<unsigned char>& b, std::size_t i, std::size_t item, std::uint32_t pointer,
             std::string_view key)
{
    unsigned char* p = b.data() + 8 + i * item;
    std::memset(p, 0, item);
    Put32(p, pointer);
    std::memcpy(p + 4, key.data(), std::min(key.size(), item - 4));
}

void TodayDate(unsigned char* out)
{
    const platform::LocalDate today = platform::Today();
    out[0] = static_cast<unsigned char>(today.year - 1900);
    out[1] = static_cast<unsigned char>(today.month);
    out[2] = static_cast<unsigned char>(today.day);
}

} // namespace

MdxIndex::MdxIndex(platform::LockedFile& file, std::string path) : file_(file), path_(std::move(path)) {}

void MdxIndex::Damaged(std::size_t tag, const std::string& what) const
{
    std::string message = "Uszkodzony indeks " + path_;
    if (tag < tags_.size())
        message += ", znacznik " + tags_[tag].name;
    throw Error(ErrorKind::BadIndex, message + ": " + what);
}

std::int64_t MdxIndex::EndPage() const
{
    return (fileSize_ + static_cast<std::int64_t>(kMdxPage) - 1) / static_cast<std::int64_t>(kMdxPage);
}

bool MdxIndex::TreesReachPast(std::int64_t endPage)
{
    // Read past the cache: no block a caller holds is dropped.
    std::vector<unsigned char> block(blockSize_);
    std::vector<bool> seen(static_cast<std::size_t>(endPage), false);
    for (const TagInfo& t : tags_) {
        std::vector<std::uint32_t> pending{t.rootPage};
        while (!pending.empty()) {
            const std::uint32_t page = pending.back();
            pending.pop_back();
            if (std::int64_t{page} + static_cast<std::int64_t>(pagesPerBlock_) > endPage)
                return true;
            if (page < 4 || seen[page])
                continue; // other damage, told where a walk meets it
            seen[page] = true;
            if (file_.ReadAt(std::int64_t{page} * static_cast<std::int64_t>(kMdxPage), block.data(),
                             block.size()) != static_cast<std::int64_t>(block.size()))
                throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
            const std::size_t n = Count(block.data());
            if (n > t.maxKeys)
                continue;
            const std::uint32_t trailing = Trailing(block.data(), t.itemLength);
            if (trailing == 0)
                continue; // a leaf: what it points at are records
            for (std::size_t i = 0; i < n; ++i)
                pending.push_back(Pointer(block.data(), i, t.itemLength));
            pending.push_back(trailing);
        }
    }
    return false;
}

std::uint32_t MdxIndex::FirstNewPage()
{
    if (std::int64_t{nextPage_} > EndPage())
        fileSize_ = file_.Size(); // another open may have grown the file since it was measured
    const std::int64_t end = EndPage();
    if (std::int64_t{nextPage_} <= end)
        return std::max<std::uint32_t>(nextPage_, static_cast<std::uint32_t>(end));
    // The first unallocated page lies past the end of the file. Either a program stopped between
    // counting a new block and writing it: no tree names a page past the end, and the end is the
    // first free page (a block put at the header's page would make the file grow by that much, or
    // wrap round to page 0). Or the file lost its end (a copy cut short): trees still name the
    // lost blocks, and a block put at the end would be taken for one of them. Told apart here,
    // under the update lock, where no other open is half-way through a change.
    if (TreesReachPast(end))
        Damaged(tags_.size(), "plik kończy się na stronie " + std::to_string(end) +
                                  ", a drzewa znaczników wskazują bloki dalej: koniec pliku został utracony");
    return static_cast<std::uint32_t>(end);
}

void MdxIndex::Load()
{
    fileSize_ = file_.Size();
    if (fileSize_ < static_cast<std::int64_t>(4 * kMdxPage))
        Damaged(tags_.size(), "plik jest krótszy niż nagłówek indeksu");
    std::vector<unsigned char> head(4 * kMdxPage);
    if (file_.ReadAt(0, head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
        throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
    pagesPerBlock_ = Get16(&head[20]);
    blockSize_ = Get16(&head[22]);
    if (blockSize_ != pagesPerBlock_ * kMdxPage)
        Damaged(tags_.size(), "niespójny rozmiar bloku (stron w bloku: " + std::to_string(pagesPerBlock_) +
                                  ", bajtów: " + std::to_string(blockSize_) + ")");
    if (!MdxBlockPagesAllowed(pagesPerBlock_))
        Damaged(tags_.size(), "niedozwolony rozmiar bloku (bajtów: " + std::to_string(blockSize_) + ")");
    if (head[26] != kMdxTagEntrySize)
        Damaged(tags_.size(), "nieznana długość opisu znacznika");
    const std::size_t tagCount = Get16(&head[28]);
    if (tagCount > kMdxMaxTags)
        Damaged(tags_.size(), "zbyt wiele znaczników (" + std::to_string(tagCount) + ")");
    nextPage_ = Get32(&head[32]);

    std::vector<TagInfo> tags;
    for (std::size_t i = 0; i < tagCount; ++i) {
        const unsigned char* entry = &head[kMdxTagTableOffset + i * kMdxTagEntrySize];
        TagInfo t;
        t.headerPage = Get32(entry);
        for (std::size_t c = 4; c < 15 && entry[c] != 0; ++c)
            t.name.push_back(static_cast<char>(entry[c]));
        t.name = AsciiUpper(t.name);
        const std::string label = "znacznik nr " + std::to_string(i + 1) + " (" + t.name + ")";
        if (t.headerPage == 0 || std::int64_t{t.headerPage} * static_cast<std::int64_t>(kMdxPage) +
                                         static_cast<std::int64_t>(blockSize_) >
                                     fileSize_)
            Damaged(tags_.size(), label + ": nagłówek znacznika poza plikiem");
        std::vector<unsigned char> h(blockSize_);
        if (file_.ReadAt(std::int64_t{t.headerPage} * static_cast<std::int64_t>(kMdxPage), h.data(),
                         h.size()) != static_cast<std::int64_t>(h.size()))
            throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
        t.rootPage = Get32(&h[0]);
        t.pagesUsed = Get32(&h[4]);
        t.updateCounter = h[20];
        t.firstLeaf = Get32(&h[248]);
        t.lastLeaf = Get32(&h[252]);
        t.keepsLeaves = t.firstLeaf != 0 || t.lastLeaf != 0;
        t.hasKeys = h[246] != 0;
        t.descending = (h[8] & 0x08) != 0;
        t.unique = (h[8] & 0x40) != 0 || h[23] != 0;
        t.keyType = static_cast<char>(std::toupper(h[9]));
        t.keyLength = Get16(&h[12]);
        t.itemLength = Get16(&h[18]);
        if (t.keyType != 'C' && t.keyType != 'N' && t.keyType != 'D')
            Damaged(tags_.size(), label + ": nieznany typ klucza");
        if (t.keyLength == 0 || (t.keyType == 'N' && t.keyLength != kNumericKeyLength) ||
            (t.keyType == 'D' && t.keyLength != kDateKeyLength))
            Damaged(tags_.size(), label + ": niedozwolona długość klucza " + std::to_string(t.keyLength));
        if (t.itemLength < t.keyLength + 4 || t.itemLength + 12 > blockSize_ / 2)
            Damaged(tags_.size(), label + ": niedozwolona długość pozycji " + std::to_string(t.itemLength));
        t.maxKeys = (blockSize_ - 12) / t.itemLength;
        for (std::size_t c = 24; c < 245 && h[c] != 0; ++c)
            t.expression.push_back(static_cast<char>(h[c]));
        if (h[245] != 0)
            for (std::size_t c = 762; c < blockSize_ && h[c] != 0; ++c)
                t.forExpression.push_back(static_cast<char>(h[c]));
        t.order.type = t.keyType;
        t.order.descending = t.descending;
        tags.push_back(std::move(t));
    }
    tags_ = std::move(tags);
    headerPages_.clear();
    for (const TagInfo& t : tags_)
        headerPages_.push_back(t.headerPage);
    std::sort(headerPages_.begin(), headerPages_.end());
    // Whatever was kept back belongs to the file as it was before; it is read anew.
    dirtyCounters_.assign(tags_.size(), false);
    dirtyPages_.assign(tags_.size(), false);
    stampedDay_ = -1;
    front_.clear();
    blocks_.Reset(blockSize_);
    slotOfPage_.clear();
    held_.assign(tags_.size(), {});
    heldKnown_.assign(tags_.size(), false);
}

int MdxIndex::FindTag(std::string_view name) const
{
    const std::string wanted = AsciiUpper(name);
    for (std::size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i].name == wanted)
            return static_cast<int>(i);
    return -1;
}

const unsigned char* MdxIndex::Cached(std::uint32_t page) const
{
    return page < slotOfPage_.size() && slotOfPage_[page] != 0 ? blocks_.At(slotOfPage_[page] - 1) : nullptr;
}

unsigned char* MdxIndex::CacheSlot(std::uint32_t page)
{
    scratch_.resize(blockSize_);
    if (page >= kCachePages) // far beyond any real index: not kept
        return scratch_.data();
    if (page < slotOfPage_.size() && slotOfPage_[page] != 0)
        return blocks_.At(slotOfPage_[page] - 1);
    if (blocks_.Count() >= cacheLimit_)
        DropBlocks(); // full: what the tags hold is still known
    const std::uint32_t slot = blocks_.Add();
    if (slot == SlotArena::kNone) // no memory to keep it: the block is read each time it is used
        return scratch_.data();
    if (page >= slotOfPage_.size())
        slotOfPage_.resize(std::max<std::size_t>(std::size_t{page} + 1, slotOfPage_.size() * 2));
    slotOfPage_[page] = slot + 1;
    return blocks_.At(slot);
}

void MdxIndex::DropBlocks()
{
    std::fill(slotOfPage_.begin(), slotOfPage_.end(), 0);
    blocks_.Clear();
}

void MdxIndex::DropCache()
{
    DropBlocks();
    std::fill(heldKnown_.begin(), heldKnown_.end(), false);
}

void MdxIndex::NoteHeld(std::size_t tag, std::uint32_t record, bool held)
{
    if (tag >= heldKnown_.size() || !heldKnown_[tag])
        return;
    std::vector<bool>& records = held_[tag];
    if (record >= records.size()) {
        if (!held)
            return;
        records.resize(std::max<std::size_t>(std::size_t{record} + 1, records.size() * 2), false);
    }
    records[record] = held;
}

bool MdxIndex::HoldsRecord(std::size_t tag, std::uint32_t record)
{
    if (heldKnown_.size() < tags_.size()) {
        heldKnown_.resize(tags_.size(), false);
        held_.resize(tags_.size());
    }
    if (!heldKnown_[tag]) {
        std::vector<bool> records;
        TagCursor cursor;
        // The cursor stops a walk of a damaged tree that goes round, however it does.
        for (First(tag, &cursor); cursor.valid_; Next(&cursor)) {
            const std::uint32_t r = cursor.entry_.record;
            if (r >= records.size())
                records.resize(std::max<std::size_t>(std::size_t{r} + 1, records.size() * 2), false);
            records[r] = true;
        }
        held_[tag] = std::move(records);
        heldKnown_[tag] = true;
    }
    const std::vector<bool>& records = held_[tag];
    return record < records.size() && records[record];
}

const unsigned char* MdxIndex::ReadBlock(std::size_t tag, std::uint32_t page)
{
    const std::int64_t offset = std::int64_t{page} * static_cast<std::int64_t>(kMdxPage);
    if (page < 4 || offset + static_cast<std::int64_t>(blockSize_) > fileSize_)
        Damaged(tag, "blok na stronie " + std::to_string(page) + " leży poza plikiem");
    // A node over a tag header block would be written over that header.
    const auto span = static_cast<std::uint32_t>(pagesPerBlock_);
    if (!headerPages_.empty() && page < headerPages_.back() + span) {
        const auto near =
            std::lower_bound(headerPages_.begin(), headerPages_.end(), page >= span ? page - span + 1 : 0);
        if (near != headerPages_.end() && *near < page + span)
            Damaged(tag, "blok na stronie " + std::to_string(page) + " leży na nagłówku znacznika");
    }
    const unsigned char* block = Cached(page);
    if (block != nullptr)
        platform::Prefetch(block, blockSize_);
    if (block == nullptr && memoryOnly_)
        throw NotInMemory{};
    if (block == nullptr) {
        // The blocks that follow it in the file are read with it and kept (those not kept yet,
        // while the cache has room): a tree's blocks mostly lie together, and one read of 8 KB
        // costs hardly more than one of 1 KB.
        const std::int64_t room = (fileSize_ - offset) / static_cast<std::int64_t>(blockSize_);
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(kReadAheadBlocks, room));
        readAhead_.resize(wanted * blockSize_);
        const std::int64_t got = file_.ReadAt(offset, readAhead_.data(), readAhead_.size());
        if (got < static_cast<std::int64_t>(blockSize_))
            throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
        const std::size_t count = static_cast<std::size_t>(got) / blockSize_;
        for (std::size_t k = 1; k < count && blocks_.Count() + 1 < cacheLimit_; ++k) {
            const std::size_t next = std::size_t{page} + k * pagesPerBlock_;
            if (next >= kCachePages || Cached(static_cast<std::uint32_t>(next)) != nullptr)
                continue;
            std::memcpy(CacheSlot(static_cast<std::uint32_t>(next)), readAhead_.data() + k * blockSize_,
                        blockSize_);
        }
        unsigned char* slot = CacheSlot(page); // last: keeping the others cannot drop it
        std::memcpy(slot, readAhead_.data(), blockSize_);
        block = slot;
    }
    // Checked on every use, cached or not: the limits depend on the tag reading the block.
    if (Count(block) > tags_[tag].maxKeys)
        Damaged(tag, "blok na stronie " + std::to_string(page) + " ma " + std::to_string(Count(block)) +
                         " kluczy, więcej niż się w nim mieści");
    return block;
}

bool MdxIndex::Write(std::int64_t offset, const unsigned char* bytes, std::size_t size)
{
    if (!file_.WriteAt(offset, bytes, size)) {
        front_.clear(); // what the file holds there now is unknown
        return false;
    }
    // The mirror of the front takes what was written, unless it was written from the mirror itself.
    if (offset >= 0 && static_cast<std::size_t>(offset) < front_.size() && bytes != front_.data() + offset)
        std::memcpy(front_.data() + offset, bytes,
                    std::min(size, front_.size() - static_cast<std::size_t>(offset)));
    return true;
}

void MdxIndex::WriteBlock(std::uint32_t page, const std::vector<unsigned char>& block)
{
    const std::int64_t offset = std::int64_t{page} * static_cast<std::int64_t>(kMdxPage);
    if (!Write(offset, block.data(), block.size())) {
        DropCache(); // what the file holds there now is unknown
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    }
    fileSize_ = std::max(fileSize_, offset + static_cast<std::int64_t>(block.size()));
    std::memcpy(CacheSlot(page), block.data(), std::min(block.size(), blockSize_));
}

std::uint32_t MdxIndex::Allocate(std::size_t tag)
{
    // Blocks come from the end of the file: the free chain's link format is not documented well
    // enough to take blocks from it safely, and a block left out of every tree harms no reader.
    const std::uint32_t page = FirstNewPage();
    nextPage_ = page + static_cast<std::uint32_t>(pagesPerBlock_);
    unsigned char next[4];
    Put32(next, nextPage_);
    if (!Write(32, next, 4))
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    // The caller writes the block's contents at once: the file grows by that write.
    TagInfo& t = tags_[tag];
    if (t.pagesUsed != 0) { // written with the update counters
        t.pagesUsed += static_cast<std::uint32_t>(pagesPerBlock_);
        dirtyPages_.resize(tags_.size(), false);
        dirtyPages_[tag] = true;
    }
    return page;
}

void MdxIndex::WriteRoot(std::size_t tag, std::uint32_t root)
{
    unsigned char bytes[4];
    Put32(bytes, root);
    if (!Write(std::int64_t{tags_[tag].headerPage} * static_cast<std::int64_t>(kMdxPage), bytes, 4))
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    tags_[tag].rootPage = root;
}

bool MdxIndex::Refresh()
{
    if (deferCounters_)
        FlushCounters(); // what is kept back must not be taken for another open's change
    // One read covers the file header and every tag header's first bytes when they lie close
    // together at the front of the file, as they do in files written by the engine and most others.
    std::uint32_t lastHeader = 0;
    for (const TagInfo& t : tags_)
        lastHeader = std::max(lastHeader, t.headerPage);
    constexpr std::size_t kTagBytes = 256; // up to the first and last leaf
    // At least the file header's first 48 bytes, also when the file has no tags.
    const std::size_t span = std::max<std::size_t>(48, std::size_t{lastHeader} * kMdxPage + kTagBytes);
    std::vector<unsigned char>& front = front_;
    if (span <= kFrontBytes) {
        front.resize(span); // the read fills it whole: no need to clear it first
        if (file_.ReadAt(0, front.data(), front.size()) != static_cast<std::int64_t>(front.size())) {
            front.clear();
            throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
        }
    } else {
        front.clear();
    }
    auto read = [&](std::int64_t offset, unsigned char* out, std::size_t size) {
        if (!front.empty()) {
            std::memcpy(out, front.data() + offset, size);
        } else if (file_.ReadAt(offset, out, size) != static_cast<std::int64_t>(size)) {
            throw Error(ErrorKind::Io, "Błąd odczytu indeksu " + path_);
        }
    };
    unsigned char next[4];
    read(32, next, 4);
    bool changed = Get32(next) != nextPage_;
    nextPage_ = Get32(next);
    for (TagInfo& t : tags_) {
        unsigned char h[kTagBytes];
        read(std::int64_t{t.headerPage} * static_cast<std::int64_t>(kMdxPage), h, sizeof h);
        changed =
            changed || Get32(h) != t.rootPage || Get32(h + 4) != t.pagesUsed || h[20] != t.updateCounter;
        t.rootPage = Get32(h);
        t.pagesUsed = Get32(h + 4);
        t.updateCounter = h[20];
        t.firstLeaf = Get32(h + 248);
        t.lastLeaf = Get32(h + 252);
    }
    if (changed) {
        DropCache();
        fileSize_ = file_.Size();
    }
    return changed;
}

void MdxIndex::FinishUpdate(std::size_t tag)
{
    TagInfo& t = tags_[tag];
    const std::int64_t header = std::int64_t{t.headerPage} * static_cast<std::int64_t>(kMdxPage);
    t.updateCounter = static_cast<unsigned char>(t.updateCounter + 1);
    dirtyCounters_.resize(tags_.size(), false);
    dirtyCounters_[tag] = true;
    if (!t.hasKeys) {
        const unsigned char hasKeys = 1;
        if (!Write(header + 246, &hasKeys, 1))
            throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
        t.hasKeys = true;
    }
}

void MdxIndex::WriteCounters()
{
    if (!deferCounters_)
        FlushCounters();
}

void MdxIndex::FlushCounters()
{
    // The fields to write: each tag's update counter (byte 20 of its header) and page count
    // (bytes 4-7), where changed.
    std::vector<CounterField>& fields = counterFields_;
    fields.clear();
    for (std::size_t tag = 0; tag < tags_.size(); ++tag) {
        const TagInfo& t = tags_[tag];
        const std::int64_t header = std::int64_t{t.headerPage} * static_cast<std::int64_t>(kMdxPage);
        if (tag < dirtyPages_.size() && dirtyPages_[tag]) {
            CounterField f{header + 4, {}, 4};
            Put32(f.bytes, t.pagesUsed);
            fields.push_back(f);
        }
        if (tag < dirtyCounters_.size() && dirtyCounters_[tag]) {
            fields.push_back({header + 20, {t.updateCounter}, 1});
            if (t.keepsLeaves) {
                // A split or a removal may have moved the first or the last leaf: a reader that
                // starts there must not miss the entries of another.
                const auto [first, last] = EdgeLeaves(tag);
                for (const auto& [offset, kept, now] :
                     {std::tuple{header + 248, &tags_[tag].firstLeaf, first},
                      std::tuple{header + 252, &tags_[tag].lastLeaf, last}}) {
                    if (*kept == now)
                        continue;
                    CounterField f{offset, {}, 4};
                    Put32(f.bytes, now);
                    fields.push_back(f);
                    *kept = now;
                }
            }
        }
    }
    if (fields.empty())
        return;
    std::int64_t first = fields.front().offset, last = 0;
    for (const CounterField& f : fields) {
        first = std::min(first, f.offset);
        last = std::max(last, f.offset + static_cast<std::int64_t>(f.size));
    }
    if (last <= static_cast<std::int64_t>(front_.size())) {
        // The fields lie within the front of the file as last read (and as written since): one
        // write carries them all, the bytes between them written back as they are.
        for (const CounterField& f : fields)
            std::memcpy(front_.data() + f.offset, f.bytes, f.size);
        if (!Write(first, front_.data() + first, static_cast<std::size_t>(last - first)))
            throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    } else {
        for (const CounterField& f : fields)
            if (!Write(f.offset, f.bytes, f.size))
                throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    }
    std::fill(dirtyCounters_.begin(), dirtyCounters_.end(), false);
    std::fill(dirtyPages_.begin(), dirtyPages_.end(), false);
}

void MdxIndex::StampFile()
{
    unsigned char date[3];
    TodayDate(date);
    const int day = date[0] * 400 + date[1] * 32 + date[2];
    if (day == stampedDay_)
        return;
    if (!Write(44, date, 3))
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    stampedDay_ = day;
}

// Walks down from the root. With record == 0: towards the first entry whose key is not before
// `key`. Otherwise towards the place of (key, record): the first entry after it when `after`,
// the first entry not before it otherwise. Equal keys are ordered by record number; an inner key
// carries no record number, so where it equals `key` the largest record below decides.
// `walk`: the cursor will walk on from there, and keeps the blocks it may use again; otherwise
// (an insert's path, used before anything else reads the index) it keeps the leaf's alone, and
// the changes that reach an inner node read it again (PathBlock).
void MdxIndex::Descend(std::size_t tag, std::string_view key, std::uint32_t record, bool after,
                       TagCursor* cursor, bool walk)
{
    const TagInfo& t = tags_[tag];
    cursor->tag_ = tag;
    cursor->valid_ = false;
    cursor->reads_ = 0;
    std::uint32_t page = t.rootPage;
    for (std::size_t depth = 0;; ++depth) {
        if (depth >= kMdxMaxDepth)
            Damaged(tag, "drzewo indeksu zapętla się lub jest zbyt głębokie");
        // The cursor's levels are reused from its last walk, so that no block is allocated anew.
        if (depth == cursor->path_.size())
            cursor->path_.emplace_back();
        TagCursor::Level& level = cursor->path_[depth];
        const unsigned char* block = ReadBlock(tag, page);
        level.page = page;
        ++cursor->reads_;
        const std::size_t n = Count(block);
        const bool leaf = Trailing(block, t.itemLength) == 0;
        // The cursor keeps a copy of the blocks it may use again; a search of an exclusive open
        // keeps only its leaf's (SettleCursor reads an inner block again when it climbs to it).
        if (leaf || (walk && (record != 0 || !exclusive_))) {
            level.block.assign(block, block + blockSize_);
            block = level.block.data(); // LastRecord below reads other blocks
        } else {
            level.block.clear();
        }
        // Binary search for the first key not before `key`.
        std::size_t lo = 0, hi = n;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (t.order(KeyAt(block, mid, t.itemLength, t.keyLength), key) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (leaf) {
            if (record != 0) {
                while (lo < n && t.order(KeyAt(block, lo, t.itemLength, t.keyLength), key) == 0) {
                    const std::uint32_t r = Pointer(block, lo, t.itemLength);
                    if (after ? r > record : r >= record)
                        break;
                    ++lo;
                }
            }
            level.index = lo;
            cursor->path_.resize(depth + 1); // levels of a deeper earlier walk
            return;
        }
        if (record != 0) {
            // Children whose largest key equals `key` hold runs of that key in record order: a
            // binary search over their largest record numbers keeps long runs of equal keys cheap.
            std::size_t end = lo;
            while (end < n && t.order(KeyAt(block, end, t.itemLength, t.keyLength), key) == 0)
                ++end;
            if (end > lo && level.block.empty()) { // LastRecord reads other blocks
                level.block.assign(block, block + blockSize_);
                block = level.block.data();
            }
            std::size_t first = lo, last = end;
            while (first < last) {
                const std::size_t mid = (first + last) / 2;
                if (record > LastRecord(tag, Pointer(block, mid, t.itemLength), depth + 1))
                    first = mid + 1;
                else
                    last = mid;
            }
            lo = first;
        }
        const std::uint32_t child = lo < n ? Pointer(block, lo, t.itemLength) : Trailing(block, t.itemLength);
        level.index = lo;
        page = child;
    }
}

std::pair<std::uint32_t, std::uint32_t> MdxIndex::EdgeLeaves(std::size_t tag)
{
    const TagInfo& t = tags_[tag];
    std::pair<std::uint32_t, std::uint32_t> leaves;
    for (const bool leftmost : {true, false}) {
        std::uint32_t page = t.rootPage;
        for (std::size_t depth = 0;; ++depth) {
            if (depth >= kMdxMaxDepth)
                Damaged(tag, "drzewo indeksu zapętla się lub jest zbyt głębokie");
            const unsigned char* block = ReadBlock(tag, page); // used before the next read
            const std::uint32_t trailing = Trailing(block, t.itemLength);
            if (trailing == 0)
                break;
            page = leftmost && Count(block) > 0 ? Pointer(block, 0, t.itemLength) : trailing;
        }
        (leftmost ? leaves.first : leaves.second) = page;
    }
    return leaves;
}

std::uint32_t MdxIndex::LastRecord(std::size_t tag, std::uint32_t page, std::size_t depth)
{
    const TagInfo& t = tags_[tag];
    for (;; ++depth) {
        if (depth >= kMdxMaxDepth)
            Damaged(tag, "drzewo indeksu zapętla się lub jest zbyt głębokie");
        const unsigned char* block = ReadBlock(tag, page); // used before the next read
        const std::uint32_t trailing = Trailing(block, t.itemLength);
        if (trailing == 0) {
            const std::size_t n = Count(block);
            return n == 0 ? 0 : Pointer(block, n - 1, t.itemLength);
        }
        page = trailing;
    }
}

// Moves a cursor whose leaf index may be past the leaf's end onto the next entry, climbing and
// descending as needed; invalid after the last entry.
void MdxIndex::SettleCursor(TagCursor* cursor)
{
    const TagInfo& t = tags_[cursor->tag_];
    const std::uint64_t limit =
        static_cast<std::uint64_t>(fileSize_ / static_cast<std::int64_t>(blockSize_)) + 2;
    for (;;) {
        if (cursor->path_.empty()) {
            cursor->valid_ = false;
            return;
        }
        auto& leaf = cursor->path_.back();
        if (leaf.index < Count(leaf.block)) {
            cursor->entry_.key.assign(KeyAt(leaf.block, leaf.index, t.itemLength, t.keyLength));
            cursor->entry_.record = Pointer(leaf.block, leaf.index, t.itemLength);
            cursor->valid_ = true;
            return;
        }
        // Climb to the first ancestor with a child to the right.
        for (;;) {
            cursor->path_.pop_back();
            if (cursor->path_.empty()) {
                cursor->valid_ = false;
                return;
            }
            auto& up = cursor->path_.back();
            if (up.block.empty()) { // not copied by the search (an exclusive open)
                const unsigned char* block = ReadBlock(cursor->tag_, up.page);
                up.block.assign(block, block + blockSize_);
            }
            ++up.index;
            if (up.index <= Count(up.block))
                break;
        }
        // Descend to the leftmost leaf below that child.
        for (;;) {
            auto& node = cursor->path_.back();
            const std::uint32_t trailing = Trailing(node.block, t.itemLength);
            if (trailing == 0)
                break;
            const std::uint32_t child =
                node.index < Count(node.block) ? Pointer(node.block, node.index, t.itemLength) : trailing;
            if (cursor->path_.size() >= kMdxMaxDepth || ++cursor->reads_ > limit)
                Damaged(cursor->tag_, "drzewo indeksu zapętla się");
            const unsigned char* block = ReadBlock(cursor->tag_, child);
            cursor->path_.push_back({child, std::vector<unsigned char>(block, block + blockSize_), 0});
        }
    }
}

void MdxIndex::First(std::size_t tag, TagCursor* cursor)
{
    const TagInfo& t = tags_[tag];
    cursor->path_.clear();
    cursor->tag_ = tag;
    cursor->reads_ = 0;
    std::uint32_t page = t.rootPage;
    for (;;) {
        if (cursor->path_.size() >= kMdxMaxDepth)
            Damaged(tag, "drzewo indeksu zapętla się lub jest zbyt głębokie");
        const unsigned char* read = ReadBlock(tag, page);
        std::vector<unsigned char> block(read, read + blockSize_);
        ++cursor->reads_;
        const std::uint32_t trailing = Trailing(block, t.itemLength);
        const std::uint32_t child = Count(block) > 0 ? Pointer(block, 0, t.itemLength) : trailing;
        cursor->path_.push_back({page, std::move(block), 0});
        if (trailing == 0)
            break;
        page = child;
    }
    SettleCursor(cursor);
}

void MdxIndex::Seek(std::size_t tag, std::string_view key, TagCursor* cursor)
{
    Descend(tag, key, 0, false, cursor, true);
    SettleCursor(cursor);
}

bool MdxIndex::SeekInMemory(std::size_t tag, std::string_view key, TagCursor* cursor)
{
    struct Reset
    {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{memoryOnly_};
    memoryOnly_ = true;
    try {
        Seek(tag, key, cursor);
    } catch (const NotInMemory&) {
        cursor->valid_ = false;
        return false;
    }
    return true;
}

bool MdxIndex::SeekExact(std::size_t tag, std::string_view key, std::uint32_t record, TagCursor* cursor)
{
    const TagInfo& t = tags_[tag];
    Descend(tag, key, record, false, cursor, true);
    SettleCursor(cursor);
    if (cursor->valid_ && cursor->entry_.record == record && t.order(cursor->entry_.key, key) == 0)
        return true;
    // A tree whose equal keys are not in record order still holds the entry somewhere in the run.
    Seek(tag, key, cursor);
    while (cursor->valid_ && t.order(cursor->entry_.key, key) == 0) {
        if (cursor->entry_.record == record)
            return true;
        Next(cursor);
    }
    cursor->valid_ = false;
    // Some writers store a blank date as 0, others as the blank-date key (which this engine writes):
    // a row's entry made by another program may be the other one.
    if (t.keyType == 'D' && key.size() >= kDateKeyLength && DateKeyValue(key) == kBlankDateKey)
        return SeekExact(tag, std::string(kDateKeyLength, '\0'), record, cursor);
    return false;
}

void MdxIndex::Next(TagCursor* cursor)
{
    if (!cursor->valid_ || cursor->path_.empty())
        return;
    ++cursor->path_.back().index;
    SettleCursor(cursor);
}

std::vector<unsigned char>& MdxIndex::PathBlock(std::size_t tag, TagCursor* path, std::size_t level)
{
    TagCursor::Level& node = path->path_[level];
    if (node.block.empty()) {
        const unsigned char* block = ReadBlock(tag, node.page);
        node.block.assign(block, block + blockSize_);
    }
    return node.block;
}

void MdxIndex::PropagateLargest(std::size_t tag, TagCursor* path, std::size_t level, std::string_view key)
{
    const TagInfo& t = tags_[tag];
    for (std::size_t l = level; l > 0; --l) {
        PathBlock(tag, path, l - 1);
        auto& parent = path->path_[l - 1];
        if (parent.index < Count(parent.block)) {
            if (KeyAt(parent.block, parent.index, t.itemLength, t.keyLength) != key) {
                PutItem(parent.block, parent.index, t.itemLength,
                        Pointer(parent.block, parent.index, t.itemLength), key);
                WriteBlock(parent.page, parent.block);
            }
            return;
        }
        // The node is its parent's trailing child: the parent's largest key changed as well.
    }
}

void MdxIndex::InsertAt(std::size_t tag, TagCursor* path, std::size_t level, std::size_t position,
                        std::uint32_t pointer, std::string_view key)
{
    const TagInfo& t = tags_[tag];
    const std::size_t item = t.itemLength;
    PathBlock(tag, path, level);
    auto& node = path->path_[level];
    const bool leaf = level + 1 == path->path_.size();
    const std::size_t n = Count(node.block);
    const std::size_t total = n + 1;
    if (total <= t.maxKeys) {
        // It fits: the items from `position` on, and the trailing child after them, move up one
        // place in the node itself; what follows them is zeroed, as in every block written.
        unsigned char* b = node.block.data();
        std::memmove(b + 8 + (position + 1) * item, b + 8 + position * item, (n - position) * item + 4);
        PutItem(node.block, position, item, pointer, key);
        Put32(b, static_cast<std::uint32_t>(total));
        std::memset(b + 12 + total * item, 0, blockSize_ - (12 + total * item));
        WriteBlock(node.page, node.block);
        if (leaf && position == n)
            PropagateLargest(tag, path, level, key);
        return;
    }
    // Work in a buffer one item larger than a block, so that the overfull node can be split.
    std::vector<unsigned char>& work = work_;
    work.assign(blockSize_ + item, 0);
    std::memcpy(work.data(), node.block.data(), std::min(blockSize_, 12 + n * item));
    std::memmove(work.data() + 8 + (position + 1) * item, work.data() + 8 + position * item,
                 (n - position) * item + 4);
    PutItem(work, position, item, pointer, key);

    // Split: the left half goes to a new block, the right half stays where the node was, so the
    // parent's entry for this node keeps pointing at the right half with the same largest key.
    const std::size_t half = total / 2;
    std::vector<unsigned char> left(blockSize_, 0), right(blockSize_, 0);
    std::string leftLargest;
    std::size_t rightFirst = 0;
    if (leaf) {
        std::memcpy(left.data() + 8, work.data() + 8, half * item);
        Put32(left.data(), static_cast<std::uint32_t>(half));
        leftLargest.assign(KeyAt(work, half - 1, item, t.keyLength));
        rightFirst = half;
    } else {
        std::memcpy(left.data() + 8, work.data() + 8, half * item);
        Put32(left.data(), static_cast<std::uint32_t>(half));
        Put32(left.data() + 8 + half * item, Pointer(work, half, item)); // trailing child
        leftLargest.assign(KeyAt(work, half, item, t.keyLength));
        rightFirst = half + 1;
    }
    const std::size_t rightCount = total - rightFirst;
    std::memcpy(right.data() + 8, work.data() + 8 + rightFirst * item, rightCount * item + 4);
    Put32(right.data(), static_cast<std::uint32_t>(rightCount));
    const std::uint32_t leftPage = Allocate(tag);
    WriteBlock(leftPage, left);
    WriteBlock(node.page, right);
    const std::uint32_t rightPage = node.page;
    node.block = std::move(right);
    if (leaf && position == n)
        PropagateLargest(tag, path, level, key);

    if (level == 0) {
        std::vector<unsigned char> root(blockSize_, 0);
        Put32(root.data(), 1);
        PutItem(root, 0, item, leftPage, leftLargest);
        Put32(root.data() + 8 + item, rightPage);
        const std::uint32_t rootPage = Allocate(tag);
        WriteBlock(rootPage, root);
        WriteRoot(tag, rootPage);
        return;
    }
    InsertAt(tag, path, level - 1, path->path_[level - 1].index, leftPage, leftLargest);
}

namespace {
std::atomic<std::uint64_t> insertCount{0}, removalCount{0};
} // namespace

IndexUpdateCounts IndexUpdates()
{
    return {insertCount.load(std::memory_order_relaxed), removalCount.load(std::memory_order_relaxed)};
}

void ResetIndexUpdates()
{
    insertCount.store(0, std::memory_order_relaxed);
    removalCount.store(0, std::memory_order_relaxed);
}

void MdxIndex::Insert(std::size_t tag, std::string_view key, std::uint32_t record)
{
    const TagInfo& t = tags_[tag];
    std::string& padded = insertKey_;
    padded.assign(key);
    padded.resize(t.keyLength, t.keyType == 'C' ? ' ' : '\0');
    TagCursor& cursor = insertCursor_;
    if (t.unique) {
        // A unique tag indexes only the first record of each key.
        Seek(tag, padded, &cursor);
        if (cursor.valid_ && t.order(cursor.entry_.key, padded) == 0) {
            if (cursor.entry_.record <= record)
                return;
            const IndexEntry later = cursor.entry_;
            Remove(tag, later.key, later.record);
        }
    }
    insertCount.fetch_add(1, std::memory_order_relaxed);
    Descend(tag, padded, record, true, &cursor, false);
    const std::size_t level = cursor.path_.size() - 1;
    InsertAt(tag, &cursor, level, cursor.path_[level].index, record, padded);
    NoteHeld(tag, record, true);
}

void MdxIndex::RemoveChild(std::size_t tag, TagCursor* path, std::size_t level)
{
    const TagInfo& t = tags_[tag];
    const std::size_t item = t.itemLength;
    PathBlock(tag, path, level);
    auto& node = path->path_[level];
    const std::size_t n = Count(node.block);
    const std::size_t ci = node.index;
    if (ci < n) {
        std::memmove(node.block.data() + 8 + ci * item, node.block.data() + 8 + (ci + 1) * item,
                     (n - ci - 1) * item + 4);
        Put32(node.block.data(), static_cast<std::uint32_t>(n - 1));
        std::memset(node.block.data() + 12 + (n - 1) * item, 0, blockSize_ - 12 - (n - 1) * item);
        WriteBlock(node.page, node.block);
        return;
    }
    if (n > 0) {
        // The trailing child went: the last keyed child becomes the trailing one.
        const std::string largest(KeyAt(node.block, n - 1, item, t.keyLength));
        const std::uint32_t child = Pointer(node.block, n - 1, item);
        Put32(node.block.data(), static_cast<std::uint32_t>(n - 1));
        std::memset(node.block.data() + 8 + (n - 1) * item, 0, blockSize_ - 8 - (n - 1) * item);
        Put32(node.block.data() + 8 + (n - 1) * item, child);
        WriteBlock(node.page, node.block);
        PropagateLargest(tag, path, level, largest);
        return;
    }
    if (level == 0) {
        std::fill(node.block.begin(), node.block.end(), 0); // the tree is empty: an empty root leaf
        WriteBlock(node.page, node.block);
        return;
    }
    RemoveChild(tag, path, level - 1);
}

bool MdxIndex::Find(std::size_t tag, std::string_view key, std::uint32_t record, TagCursor* cursor)
{
    const TagInfo& t = tags_[tag];
    std::string padded(key);
    padded.resize(t.keyLength, t.keyType == 'C' ? ' ' : '\0');
    return SeekExact(tag, padded, record, cursor);
}

bool MdxIndex::HoldsKey(std::size_t tag, std::string_view key)
{
    const TagInfo& t = tags_[tag];
    std::string padded(key);
    padded.resize(t.keyLength, t.keyType == 'C' ? ' ' : '\0');
    TagCursor cursor;
    Seek(tag, padded, &cursor);
    if (cursor.valid_ && t.order(cursor.entry_.key, padded) == 0)
        return true;
    // A blank date stored as 0 by another writer, as SeekExact allows.
    return t.keyType == 'D' && padded.size() >= kDateKeyLength && DateKeyValue(padded) == kBlankDateKey &&
           HoldsKey(tag, std::string(kDateKeyLength, '\0'));
}

bool MdxIndex::Remove(std::size_t tag, std::string_view key, std::uint32_t record)
{
    TagCursor cursor;
    if (!Find(tag, key, record, &cursor))
        return false;
    RemoveFound(tag, &cursor);
    return true;
}

void MdxIndex::RemoveFound(std::size_t tag, TagCursor* cursor)
{
    const TagInfo& t = tags_[tag];
    removalCount.fetch_add(1, std::memory_order_relaxed);
    const std::size_t item = t.itemLength;
    const std::size_t level = cursor->path_.size() - 1;
    auto& leaf = cursor->path_[level];
    const std::size_t n = Count(leaf.block);
    const std::size_t pos = leaf.index;
    NoteHeld(tag, Pointer(leaf.block, pos, item), false);
    std::memmove(leaf.block.data() + 8 + pos * item, leaf.block.data() + 8 + (pos + 1) * item,
                 (n - pos - 1) * item);
    Put32(leaf.block.data(), static_cast<std::uint32_t>(n - 1));
    std::memset(leaf.block.data() + 8 + (n - 1) * item, 0, blockSize_ - 8 - (n - 1) * item);
    if (n - 1 > 0 || level == 0) {
        WriteBlock(leaf.page, leaf.block);
        if (n - 1 > 0 && pos == n - 1)
            PropagateLargest(tag, cursor, level, KeyAt(leaf.block, n - 2, item, t.keyLength));
        return;
    }
    // The leaf is empty: take it out of its parent (its block stays unreferenced).
    WriteBlock(leaf.page, leaf.block);
    RemoveChild(tag, cursor, level - 1);
}

std::vector<IndexEntry> MdxIndex::Check(std::size_t tag, std::vector<std::string>* problems, bool keyOrder,
                                        std::vector<std::uint32_t>* blocks)
{
    const TagInfo& t = tags_[tag];
    std::vector<IndexEntry> entries;
    const std::size_t pages = static_cast<std::size_t>(fileSize_ / static_cast<std::int64_t>(kMdxPage)) + 1;
    std::vector<bool> seen(pages, false);
    int leafDepth = -1;
    const std::string label = "znacznik " + t.name + ": ";
    bool failed = false;
    // Returns the largest key of the subtree; false when the subtree could not be read.
    std::function<bool(std::uint32_t, int, std::string*)> visit = [&](std::uint32_t page, int depth,
                                                                      std::string* largest) -> bool {
        if (failed)
            return false;
        if (page >= pages) {
            problems->push_back(label + "blok na stronie " + std::to_string(page) + " leży poza plikiem");
            failed = true;
            return false;
        }
        if (depth >= static_cast<int>(kMdxMaxDepth) || seen[page]) {
            problems->push_back(label + "blok na stronie " + std::to_string(page) +
                                " wskazany powtórnie lub drzewo się zapętla");
            failed = true;
            return false;
        }
        seen[page] = true;
        if (blocks != nullptr)
            blocks->push_back(page);
        std::vector<unsigned char> block;
        try {
            const unsigned char* read = ReadBlock(tag, page);
            block.assign(read, read + blockSize_);
        } catch (const Error& e) {
            problems->push_back(e.what());
            failed = true;
            return false;
        }
        const std::size_t n = Count(block);
        const std::uint32_t trailing = Trailing(block, t.itemLength);
        if (trailing == 0) {
            if (leafDepth < 0)
                leafDepth = depth;
            else if (leafDepth != depth)
                problems->push_back(label + "liście na różnych głębokościach (strona " +
                                    std::to_string(page) + ")");
            for (std::size_t i = 0; i < n; ++i) {
                IndexEntry e{std::string(KeyAt(block, i, t.itemLength, t.keyLength)),
                             Pointer(block, i, t.itemLength)};
                if (keyOrder && !entries.empty()) {
                    const int c = t.order(entries.back().key, e.key);
                    if (c > 0 || (c == 0 && entries.back().record >= e.record))
                        problems->push_back(label + "klucze nie po kolei przy rekordzie " +
                                            std::to_string(e.record));
                }
                entries.push_back(std::move(e));
            }
            if (n > 0)
                *largest = entries.back().key;
            return true;
        }
        for (std::size_t i = 0; i <= n; ++i) {
            const std::uint32_t child = i < n ? Pointer(block, i, t.itemLength) : trailing;
            std::string below;
            const std::size_t before = entries.size();
            if (!visit(child, depth + 1, &below))
                return false;
            if (keyOrder && i < n && entries.size() > before &&
                t.order(below, KeyAt(block, i, t.itemLength, t.keyLength)) != 0)
                problems->push_back(label + "klucz w bloku " + std::to_string(page) +
                                    " różni się od największego klucza poddrzewa");
            if (!below.empty())
                *largest = below;
        }
        return true;
    };
    std::string largest;
    visit(t.rootPage, 0, &largest);
    return entries;
}

void MdxIndex::CheckOverlaps(const std::vector<std::vector<std::uint32_t>>& blocks,
                             std::vector<std::string>* problems) const
{
    constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    const std::size_t pages = static_cast<std::size_t>(fileSize_ / static_cast<std::int64_t>(kMdxPage)) + 1;
    // For every page: the first page of the block lying on it, and that block's tag.
    std::vector<std::uint32_t> startOf(pages, kFree);
    std::vector<std::uint16_t> tagOf(pages, 0);
    const auto tagLabel = [&](std::size_t a, std::size_t b) {
        return a == b ? "znacznik " + tags_[a].name + ": "
                      : "znaczniki " + tags_[b].name + " i " + tags_[a].name + ": ";
    };
    for (std::size_t tag = 0; tag < blocks.size() && tag < tags_.size(); ++tag) {
        for (const std::uint32_t start : blocks[tag]) {
            for (std::size_t k = 0; k < pagesPerBlock_; ++k) {
                const std::size_t page = std::size_t{start} + k;
                if (page >= pages)
                    break; // beyond the file: Check named it
                if (startOf[page] == kFree) {
                    startOf[page] = start;
                    tagOf[page] = static_cast<std::uint16_t>(tag);
                    continue;
                }
                const std::size_t other = tagOf[page];
                problems->push_back(
                    tagLabel(tag, other) +
                    (startOf[page] == start
                         ? "blok na stronie " + std::to_string(start) + " należy do dwóch drzew"
                         : "blok na stronie " + std::to_string(start) + " zachodzi na blok na stronie " +
                               std::to_string(startOf[page])));
                break; // one problem for each block
            }
        }
    }
}

void MdxIndex::BulkLoad(std::size_t tag, const std::vector<IndexEntry>& sorted)
{
    if (tag < heldKnown_.size())
        heldKnown_[tag] = false;
    const TagInfo& t = tags_[tag];
    const std::size_t item = t.itemLength;
    struct Child
    {
        std::uint32_t page;
        std::string largest;
    };
    // New blocks go one after another from the first unallocated page and are written at once.
    const std::uint32_t firstNew = FirstNewPage();
    std::vector<unsigned char> fresh;
    std::uint32_t nextNew = firstNew;
    auto newBlock = [&]() {
        fresh.resize(fresh.size() + blockSize_, 0);
        const std::uint32_t page = nextNew;
        nextNew += static_cast<std::uint32_t>(pagesPerBlock_);
        return page;
    };
    auto blockAt = [&](std::uint32_t page) {
        return fresh.data() + static_cast<std::size_t>(page - firstNew) * kMdxPage;
    };
    std::vector<unsigned char> rootLeaf(blockSize_, 0);
    std::vector<Child> level;
    // Nodes are filled to three quarters, so that keys added later find room without splitting
    // at once (a tree grown by random inserts is about that full). The first leaf goes into the
    // old root's block.
    const auto fill = [](std::size_t capacity) { return std::max<std::size_t>(1, capacity - capacity / 4); };
    const std::size_t perLeaf = fill(t.maxKeys);
    for (std::size_t at = 0; at < sorted.size(); at += perLeaf) {
        const std::size_t n = std::min(perLeaf, sorted.size() - at);
        const std::uint32_t page = level.empty() ? t.rootPage : newBlock();
        unsigned char* block = level.empty() ? rootLeaf.data() : blockAt(page);
        Put32(block, static_cast<std::uint32_t>(n));
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char* p = block + 8 + i * item;
            Put32(p, sorted[at + i].record);
            std::memcpy(p + 4, sorted[at + i].key.data(), std::min(sorted[at + i].key.size(), item - 4));
        }
        level.push_back({page, sorted[at + n - 1].key});
    }
    // Inner levels until one node is left: the new root.
    while (level.size() > 1) {
        std::vector<Child> up;
        const std::size_t fan = std::max<std::size_t>(2, fill(t.maxKeys + 1));
        for (std::size_t at = 0; at < level.size(); at += fan) {
            const std::size_t n = std::min(fan, level.size() - at);
            const std::uint32_t page = newBlock();
            unsigned char* block = blockAt(page);
            Put32(block, static_cast<std::uint32_t>(n - 1));
            for (std::size_t i = 0; i + 1 < n; ++i) {
                unsigned char* p = block + 8 + i * item;
                Put32(p, level[at + i].page);
                std::memcpy(p + 4, level[at + i].largest.data(),
                            std::min(level[at + i].largest.size(), item - 4));
            }
            Put32(block + 8 + (n - 1) * item, level[at + n - 1].page);
            up.push_back({page, level[at + n - 1].largest});
        }
        level = std::move(up);
    }
    WriteBlock(t.rootPage, rootLeaf);
    if (fresh.empty())
        return;
    const std::int64_t offset = std::int64_t{firstNew} * static_cast<std::int64_t>(kMdxPage);
    if (!Write(offset, fresh.data(), fresh.size()))
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    fileSize_ = std::max(fileSize_, offset + static_cast<std::int64_t>(fresh.size()));
    nextPage_ = nextNew;
    unsigned char bytes[4];
    Put32(bytes, nextPage_);
    if (!Write(32, bytes, 4))
        throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    TagInfo& info = tags_[tag];
    if (info.pagesUsed != 0) {
        info.pagesUsed += nextNew - firstNew;
        Put32(bytes, info.pagesUsed);
        if (!Write(std::int64_t{info.headerPage} * static_cast<std::int64_t>(kMdxPage) + 4, bytes, 4))
            throw Error(ErrorKind::Io, "Błąd zapisu indeksu " + path_);
    }
    WriteRoot(tag, level.front().page);
}

void CreateMdx(platform::LockedFile& file, const std::string& tableName,
               const std::vector<TagDefinition>& tags, std::size_t pagesPerBlock)
{
    if (!MdxBlockPagesAllowed(pagesPerBlock))
        throw Error(ErrorKind::BadValue, "Niedozwolony rozmiar bloku indeksu tabeli " + tableName +
                                             " (stron w bloku: " + std::to_string(pagesPerBlock) + ")");
    // The header's pages hold the entries of 47 tags; a longer expression would be cut short.
    if (tags.size() > kMdxMaxTags)
        throw Error(ErrorKind::BadValue, "Indeks tabeli " + tableName + ": zbyt wiele znaczników (" +
                                             std::to_string(tags.size()) + ")");
    for (const TagDefinition& d : tags)
        if (d.expression.size() > kMdxMaxExpressionLength || d.forExpression.size() > kMdxMaxExpressionLength)
            throw Error(ErrorKind::BadValue, "Indeks tabeli " + tableName + ", znacznik " + d.name +
                                                 ": wyrażenie dłuższe niż " +
                                                 std::to_string(kMdxMaxExpressionLength) + " znaków");
    const std::size_t block = pagesPerBlock * kMdxPage;
    std::vector<unsigned char> head(4 * kMdxPage, 0);
    head[0] = 2;
    TodayDate(&head[1]);
    const std::string name = AsciiUpper(tableName).substr(0, 16);
    std::memcpy(&head[4], name.data(), name.size());
    Put16(&head[20], pagesPerBlock);
    Put16(&head[22], block);
    head[24] = 1;
    head[25] = 48;
    head[26] = kMdxTagEntrySize;
    Put16(&head[28], tags.size());
    head[31] = 0x1B;
    // Each tag takes two blocks after the four pages of the header: its header and its root.
    Put32(&head[32], static_cast<std::uint32_t>(4 + 2 * pagesPerBlock * tags.size()));
    TodayDate(&head[44]);
    head[529] = 0x01; // the tag table's sentinel entry
    // The tag table's binary tree over the tag names, in insertion order.
    std::vector<int> left(tags.size(), 0), right(tags.size(), 0), parent(tags.size(), 0);
    for (std::size_t i = 1; i < tags.size(); ++i) {
        std::size_t at = 0;
        for (;;) {
            auto& next = AsciiUpper(tags[i].name) < AsciiUpper(tags[at].name) ? left[at] : right[at];
            if (next == 0) {
                next = static_cast<int>(i + 1);
                parent[i] = static_cast<int>(at + 1);
                break;
            }
            at = static_cast<std::size_t>(next - 1);
        }
    }
    std::vector<unsigned char> body;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const TagDefinition& d = tags[i];
        const std::uint32_t headerPage = static_cast<std::uint32_t>(4 + 2 * pagesPerBlock * i);
        unsigned char* entry = &head[kMdxTagTableOffset + i * kMdxTagEntrySize];
        Put32(entry, headerPage);
        const std::string tagName = AsciiUpper(d.name).substr(0, 10);
        std::memcpy(entry + 4, tagName.data(), tagName.size());
        entry[15] = 0x10;
        entry[16] = static_cast<unsigned char>(left[i]);
        entry[17] = static_cast<unsigned char>(right[i]);
        entry[18] = static_cast<unsigned char>(parent[i]);
        entry[19] = 0x02;
        entry[20] = static_cast<unsigned char>(d.keyType);

        std::vector<unsigned char> h(block, 0);
        const std::size_t itemLength = (d.keyLength + 4 + 3) / 4 * 4;
        Put32(&h[0], headerPage + static_cast<std::uint32_t>(pagesPerBlock));
        Put32(&h[4], static_cast<std::uint32_t>(pagesPerBlock));
        h[8] = static_cast<unsigned char>(0x10 | (d.descending ? 0x08 : 0) | (d.unique ? 0x40 : 0));
        h[9] = static_cast<unsigned char>(d.keyType);
        h[11] = 0x1B;
        Put16(&h[12], d.keyLength);
        Put16(&h[14], (block - 12) / itemLength);
        Put16(&h[16], d.keyType == 'D' ? 1 : 0);
        Put16(&h[18], itemLength);
        h[23] = d.unique ? 0x40 : 0;
        std::memcpy(&h[24], d.expression.data(), d.expression.size());
        if (!d.forExpression.empty()) { // a conditional tag: the flag, and the clause at 762
            h[245] = 0x01;
            std::memcpy(&h[762], d.forExpression.data(), d.forExpression.size());
        }
        body.insert(body.end(), h.begin(), h.end());
        body.insert(body.end(), block, 0); // the empty root leaf
    }
    if (!file.Resize(0) || !file.WriteAt(0, head.data(), head.size()) ||
        (!body.empty() && !file.WriteAt(static_cast<std::int64_t>(head.size()), body.data(), body.size())))
        throw Error(ErrorKind::Io, "Błąd zapisu nowego indeksu tabeli " + tableName);
}

} // namespace engine
