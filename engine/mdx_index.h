// The production index (.mdx): several named tags in one file, each a B+-tree of 1024-byte
// blocks. Byte facts: docs/engine-formats.md, "MDX".
//
// File header (page 0): 0 version 2; 4-19 table name; 20-21 pages per block; 22-23 block size;
// 24 production flag; 25 tag slots (48); 26 tag entry length (32); 28-29 tags in use; 32-35 next
// unallocated page; 36-39 first free page; 44-46 date of last update.
// Tag table: entry i at 544 + 32 i: header page (0-3), name (4-14), key format (15), tree links
// (16-18), 0x02 (19), key type (20).
// Tag header (one block): root page (0-3), pages in use (4-7), flags (8: 0x08 descending,
// 0x40 unique), key type (9), key length (12-13), keys per node (14-15), 1 for dates (16-17),
// item length (18-19), update counter (20), unique (23), expression (24-244), FOR present (245),
// has keys (246), FOR expression (762).
// Node (one block): key count (0-3), a page number (4-7), entries of item length (4-byte pointer,
// key, padding), then the trailing pointer; a trailing pointer of 0 marks a leaf, whose pointers
// are 1-based record numbers. Inner entry i carries the largest key of child i; the trailing child
// has no key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/keys.h"
#include "engine/slot_arena.h"
#include "platform/locked_file.h"

namespace engine {

inline constexpr std::size_t kMdxPage = 512;
inline constexpr std::size_t kMdxTagTableOffset = 544;
inline constexpr std::size_t kMdxTagEntrySize = 32;
inline constexpr std::size_t kMdxMaxTags = 47;
// A key expression or FOR clause takes at most this many characters of its tag's header.
inline constexpr std::size_t kMdxMaxExpressionLength = 220;
// A block is 2 pages unless the index was made with another block size: dBase takes 2 to 63 pages
// (1,024 to 32,256 bytes).
inline constexpr std::size_t kMdxDefaultPagesPerBlock = 2;
inline constexpr std::size_t kMdxMaxPagesPerBlock = 63;
inline constexpr bool MdxBlockPagesAllowed(std::size_t pages)
{
    return pages >= kMdxDefaultPagesPerBlock && pages <= kMdxMaxPagesPerBlock;
}
inline constexpr std::size_t kMdxMaxDepth = 24; // far more than any real tree; stops cycles

struct TagInfo
{
    std::string name;             // upper case
    std::uint32_t headerPage = 0; // page of the tag header block
    std::uint32_t rootPage = 0;
    std::uint32_t pagesUsed = 0;     // tag header bytes 4-7; kept only when the writer kept it
    unsigned char updateCounter = 0; // tag header byte 20
    // The first and the last leaf of the tree (tag header bytes 248-251, 252-255), kept up to date
    // only when the writer kept them (not both 0 when the file was opened).
    bool keepsLeaves = false;
    std::uint32_t firstLeaf = 0, lastLeaf = 0;
    bool hasKeys = false; // tag header byte 246
    char keyType = 'C';   // C, N or D
    std::size_t keyLength = 0;
    std::size_t itemLength = 0;
    std::size_t maxKeys = 0; // entries that fit one block
    bool descending = false;
    bool unique = false;
    std::string expression;
    std::string forExpression; // empty when none
    KeyOrderOfTag order;
};

// One entry of a tag: its key bytes and the record number it points at.
struct IndexEntry
{
    std::string key;
    std::uint32_t record = 0;
};

// A position in a tag: the nodes from the root to a leaf and the entry index in each.
class TagCursor
{
public:
    bool Valid() const { return valid_; }
    const IndexEntry& Entry() const { return entry_; }

private:
    friend class MdxIndex;
    struct Level
    {
        std::uint32_t page = 0;
        std::vector<unsigned char> block;
        std::size_t index = 0;
    };
    std::vector<Level> path_;
    IndexEntry entry_;
    bool valid_ = false;
    std::size_t tag_ = 0;
    std::uint64_t reads_ = 0; // blocks read by this walk: bounded, so a damaged tree cannot loop
};

// A new tag for CreateMdx.
struct TagDefinition
{
    std::string name;
    std::string expression;
    char keyType = 'C';
    std::size_t keyLength = 0;
    bool descending = false;
    bool unique = false;
    std::string forExpression = {}; // empty: no FOR clause
};

// Reads, searches and updates the tags of one MDX file. Every block read is checked before use
// (inside the file, key count within the block, tree depth bounded); a fault throws Error with
// ErrorKind::BadIndex naming the file and the tag.
class MdxIndex
{
public:
    MdxIndex(platform::LockedFile& file, std::string path);

    // Reads the file header, the tag table and every tag header.
    void Load();

    const std::vector<TagInfo>& Tags() const { return tags_; }
    std::vector<TagInfo>& MutableTags() { return tags_; }
    const std::string& Path() const { return path_; }
    std::size_t PagesPerBlock() const { return pagesPerBlock_; }

    // Index of the tag of that name (without regard to case), or -1.
    int FindTag(std::string_view name) const;

    // Positions on the first entry of the tag (cursor invalid when the tag is empty).
    void First(std::size_t tag, TagCursor* cursor);
    // Positions on the first entry whose key is not before `key` in the tag's order.
    void Seek(std::size_t tag, std::string_view key, TagCursor* cursor);
    // Seek from the blocks kept in memory alone, reading nothing from the file: false (cursor
    // invalid) when a block it needs is not kept.
    bool SeekInMemory(std::size_t tag, std::string_view key, TagCursor* cursor);
    // Positions on the entry (key, record); false when the tag holds no such entry.
    bool SeekExact(std::size_t tag, std::string_view key, std::uint32_t record, TagCursor* cursor);
    // Moves to the next entry; the cursor becomes invalid after the last.
    void Next(TagCursor* cursor);

    // Adds an entry in its place (after equal keys of smaller record numbers); splits full nodes.
    void Insert(std::size_t tag, std::string_view key, std::uint32_t record);
    // Removes the entry (key, record); false when it is not there.
    bool Remove(std::size_t tag, std::string_view key, std::uint32_t record);
    // Positions `cursor` on the entry (key, record) as Remove finds it; false when the tag does not
    // hold it. RemoveFound then takes it out, while the tag has not changed since.
    bool Find(std::size_t tag, std::string_view key, std::uint32_t record, TagCursor* cursor);
    void RemoveFound(std::size_t tag, TagCursor* cursor);
    // Whether the tag holds an entry of `key` for any record (a unique tag holds a key for the
    // first of its rows only).
    bool HoldsKey(std::size_t tag, std::string_view key);
    // Whether the tag holds an entry for `record`, under whatever key. The first question about a
    // tag walks the whole tag once; this object's own changes keep the answer from then on, and a
    // change it did not make (another open's, a failed write, the file read anew) forgets it.
    bool HoldsRecord(std::size_t tag, std::uint32_t record);

    // Re-reads the file header's next free page and each tag's root, page count and update
    // counter. When any of them changed (another process posted: every post bumps the counters),
    // the block cache is dropped, and the result is true.
    bool Refresh();
    // Bumps the tag's update counter (in memory) and sets its "has keys" flag; call once per tag
    // a post changed, then WriteCounters. StampFile writes the file header's date of last update
    // (once a day per open).
    void FinishUpdate(std::size_t tag);
    void StampFile();
    // Writes the counters FinishUpdate bumped (and the page counts that splits grew), in one
    // write when they lie in the front of the file that Refresh read (the bytes between them
    // written back as read, and as this object wrote them since; valid while the update lock is
    // held from that Refresh on), one by one otherwise. Nothing when the counters are deferred.
    void WriteCounters();

    // An exclusive open: nobody else reads the counters while the file is held, so they are kept
    // in memory and written by FlushCounters (on close), one write fewer per post; and nobody
    // else changes a block, so a search's cursor need not copy the inner blocks it passed (a
    // walk onwards reads them again when it climbs back, and this open's own posts put the
    // cursor anew).
    void SetExclusive(bool exclusive)
    {
        deferCounters_ = exclusive;
        exclusive_ = exclusive;
    }

    // Blocks kept in memory at most (the cache is dropped whole when full): 128 MB worth of
    // 1024-byte blocks, the whole index of a table of a few million rows. A shared open's cache
    // is dropped when another open posts; until then it serves searches without the lock.
    static constexpr std::size_t kDefaultCacheBlocks = 131072;
    void SetCacheLimit(std::size_t blocks) { cacheLimit_ = blocks; }
    // Writes every counter bumped and not yet written, deferred or not.
    void FlushCounters();

    // Checks one tag completely: every block inside the file and reached once, all leaves at one
    // depth, keys in order, each inner key equal to the largest key below it. Returns the
    // entries in tag order; appends problems in plain words to `problems`. `keyOrder` false leaves
    // out what depends on the order of keys (the collation). `blocks` receives the first page of
    // every block reached.
    std::vector<IndexEntry> Check(std::size_t tag, std::vector<std::string>* problems, bool keyOrder = true,
                                  std::vector<std::uint32_t>* blocks = nullptr);
    // With the pages of the blocks Check reached in each tag (`blocks[tag]`, empty for a tag left
    // out): whether any two blocks lie over each other, wholly (one block in two trees) or in part.
    // A post to one would change the other. Appends problems in plain words.
    void CheckOverlaps(const std::vector<std::vector<std::uint32_t>>& blocks,
                       std::vector<std::string>* problems) const;

    // Appends sorted entries to an empty tag by building full leaves and the levels above.
    void BulkLoad(std::size_t tag, const std::vector<IndexEntry>& sorted);

private:
    // The block at `page` (blockSize_ bytes), checked; the pointer holds until the next read or
    // write of a block.
    const unsigned char* ReadBlock(std::size_t tag, std::uint32_t page);
    // Every write to the file goes through here, so that `front_` stays what the file holds.
    bool Write(std::int64_t offset, const unsigned char* bytes, std::size_t size);
    const unsigned char* Cached(std::uint32_t page) const;
    // Where the block at `page` is to be kept (a scratch block when it cannot be).
    unsigned char* CacheSlot(std::uint32_t page);
    // Forgets every block kept, and what the tags hold: the file changed, or may have.
    void DropCache();
    // Forgets the blocks alone (the cache is full).
    void DropBlocks();
    // Keeps the records a tag holds (HoldsRecord) as an entry goes in or out.
    void NoteHeld(std::size_t tag, std::uint32_t record, bool held);
    void WriteBlock(std::uint32_t page, const std::vector<unsigned char>& block);
    std::uint32_t Allocate(std::size_t tag);
    void Descend(std::size_t tag, std::string_view key, std::uint32_t record, bool after, TagCursor* cursor,
                 bool walk);
    std::vector<unsigned char>& PathBlock(std::size_t tag, TagCursor* path, std::size_t level);
    void SettleCursor(TagCursor* cursor);
    std::uint32_t LastRecord(std::size_t tag, std::uint32_t page, std::size_t depth);
    // The tree's leftmost and rightmost leaves, by descents from the root.
    std::pair<std::uint32_t, std::uint32_t> EdgeLeaves(std::size_t tag);
    void InsertAt(std::size_t tag, TagCursor* path, std::size_t level, std::size_t position,
                  std::uint32_t pointer, std::string_view key);
    void PropagateLargest(std::size_t tag, TagCursor* path, std::size_t level, std::string_view key);
    void RemoveChild(std::size_t tag, TagCursor* path, std::size_t level);
    void WriteRoot(std::size_t tag, std::uint32_t root);
    [[noreturn]] void Damaged(std::size_t tag, const std::string& what) const;
    // The page where the next new block goes: the first unallocated page, or the end of the file
    // when the file is longer than that, or when that lies past the end and no tree names a block
    // there. Damaged when one does (the file lost its end). Called under the update lock.
    std::uint32_t FirstNewPage();
    std::int64_t EndPage() const; // the file's pages, a partial last one counted
    // Whether any tag's tree names a block at or past `endPage`; reads past the block cache.
    bool TreesReachPast(std::int64_t endPage);

    platform::LockedFile& file_;
    std::string path_;
    std::vector<TagInfo> tags_;
    std::size_t blockSize_ = 1024;
    std::size_t pagesPerBlock_ = 2;
    std::uint32_t nextPage_ = 0;
    // Pages of the tag header blocks, sorted: a tree node never lies over one of them.
    std::vector<std::uint32_t> headerPages_;
    std::int64_t fileSize_ = 0;
    int stampedDay_ = -1;
    bool deferCounters_ = false;
    bool exclusive_ = false;
    std::vector<bool> dirtyCounters_; // per tag: counter bumped in memory, not yet written
    std::vector<bool> dirtyPages_;    // per tag: page count grown in memory, not yet written
    // The file's first bytes up to the last tag header's counters, as Refresh read them and this
    // object wrote them since; empty when they span more than kFrontBytes or a write failed.
    static constexpr std::size_t kFrontBytes = 64 * 1024;
    std::vector<unsigned char> front_;
    // Insert's walk, key and node buffer, kept so that their memory is not allocated anew.
    TagCursor insertCursor_;
    std::string insertKey_;
    std::vector<unsigned char> work_;
    struct CounterField // a header field FlushCounters writes
    {
        std::int64_t offset;
        unsigned char bytes[4];
        std::size_t size;
    };
    std::vector<CounterField> counterFields_;
    // Blocks read or written since the last detected change: `slotOfPage_[page]` is the block's
    // slot in `blocks_` plus one, 0 for a block not kept. Bounded; dropped whole. Pages past
    // kCachePages are read into `scratch_` and not kept.
    static constexpr std::uint32_t kCachePages = 1u << 22;
    std::vector<std::uint32_t> slotOfPage_;
    SlotArena blocks_;
    std::vector<unsigned char> scratch_;
    static constexpr std::int64_t kReadAheadBlocks = 8;
    std::vector<unsigned char> readAhead_; // a read of a block and the ones after it
    bool memoryOnly_ = false;              // SeekInMemory: a block not kept ends the search
    std::size_t cacheLimit_ = kDefaultCacheBlocks;
    // Per tag, by record number, the records it holds; known only where `heldKnown_` says so.
    std::vector<std::vector<bool>> held_;
    std::vector<bool> heldKnown_;
};

// Entries put into tags and taken out of them by Insert and Remove in this process, since it started
// or since the last reset: what the posts cost in tree updates, for benchmarks.
struct IndexUpdateCounts
{
    std::uint64_t inserts = 0;
    std::uint64_t removals = 0;
};
IndexUpdateCounts IndexUpdates();
void ResetIndexUpdates();

// Writes a new MDX file for a table: header, tag table and for each tag a header block and an
// empty root leaf, in blocks of `pagesPerBlock` pages.
void CreateMdx(platform::LockedFile& file, const std::string& tableName,
               const std::vector<TagDefinition>& tags, std::size_t pagesPerBlock = kMdxDefaultPagesPerBlock);

} // namespace engine
