// The archive reader: read-only access to the DOS archive's dBase III tables through 100 work
// areas, field binding by kind letter, Clipper NTX index search and the Polish code pages.
//
// The reader never throws for a condition it knows and never shows anything: every operation
// leaves a result code (TableResult for tables, IndexResult for indexes) that the caller tests.
// A damaged file gives code 3 (tables) or 4 (indexes) instead of a crash; see docs/formats.md.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ntx_format.h"
#include "archive/short_string.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace archive {

// TableResult codes.
enum TableCode : std::int32_t
{
    kTableOk = 0,
    kTableBadArea = 1,       // area outside 1..100, or no free area left
    kTableCannotOpen = 2,    // the table file cannot be opened
    kTableShort = 3,         // shorter than its header, a damaged header, or less than a record read
    kTableSeekFailed = 4,    // positioning in the file failed
    kTableEnd = 5,           // a move to or a read at a record number >= the record count
    kTableBadNumber = 6,     // a bound numeric field is not a number; see ConversionErrorPos()
    kTableNoSuchField = 7,   // binding: no field of that name in the current area
    kTableNegativeRecord = 8 // a move to a negative record number
};

// IndexResult codes.
enum IndexCode : std::int16_t
{
    kIndexOk = 0,
    kIndexCannotOpen = 1,  // the index file cannot be opened
    kIndexShort = 2,       // shorter than its 1024-byte header page
    kIndexCloseFailed = 3, // closing the file failed
    kIndexBadPage = 4,     // a tree page could not be read or is damaged; position lost after a change
    kIndexKeyTooLong = 5   // the header's key size exceeds 255
};

// Kind letters of the binding operations.
enum class FieldKind : char
{
    Byte = 'b',
    Word = 'w',
    Long = 'l',
    Real = 'r',
    String = 'a',
    RawString = 'c',
    Bin2 = 'n',
    Bin4 = 'm',
    Logical = 'k',
};

inline constexpr std::uint8_t kUnbound = 255; // binding group of a field that is not bound
inline constexpr int kAreaCount = 100;

struct FieldDescriptor
{
    std::string name;                 // as stored, at most 10 characters
    char type = ' ';                  // dBase type letter, kept only
    std::uint8_t width = 0;           // bytes in the record
    std::uint8_t decimals = 0;        // kept only
    FieldKind kind = FieldKind::Byte; // meaningless while unbound
    std::uint8_t group = kUnbound;    // binding group; 255 = unbound
    std::uint8_t spare = 0;           // the reserved byte of the binding, never read
    std::uint16_t offset = 0;         // first byte within the record; the deletion mark is byte 0
    std::uint8_t capacity = 0;        // string kinds: longest text the caller's variable takes
    void* target = nullptr;           // the caller's variable
};

// Blanks after a table's image: the longest window, a read budget (16 bits) or one record (a
// record length is 16 bits too).
inline constexpr std::size_t kImagePadding = 65535;

struct WorkArea
{
    std::array<std::uint8_t, 12> header = {}; // the first 12 bytes of the file
    std::int64_t recordPosition = 0;          // file offset of the current record
    std::int32_t currentRecord = 0;           // 0-based
    bool free = true;                         // no open table
    std::unique_ptr<platform::File> file;
    std::vector<FieldDescriptor> descriptors; // in file order
    std::uint16_t fieldCount = 0;
    std::vector<char> window;          // windowCapacity * recordLength bytes
    std::uint16_t windowCapacity = 1;  // records per window
    std::int32_t windowIndex = -1;     // current record inside the window; -1 = none loaded
    const char* windowBytes = nullptr; // the loaded window: `window`, or the image where it lies whole
    bool eof = false;                  // a move to or past the end was made, or the table is empty
    // The whole file, read at open when it is not too large (Reader::TableImageLimit): windows are
    // then loaded from memory, and read anew when the file's last-write stamp changed. The file's
    // `imageSize` bytes are followed by kImagePadding blanks, so that a window reaching past the end
    // lies in the image too (records past the end read as spaces).
    std::vector<char, platform::LargePageAllocator<char>> image;
    std::int64_t imageSize = 0;
    std::int64_t stamp = 0;
    std::chrono::steady_clock::time_point stampChecked;

    std::int32_t RecordCount() const;   // header bytes 4..7, signed
    std::uint16_t HeaderLength() const; // header bytes 8..9
    std::uint16_t RecordLength() const; // header bytes 10..11
};

// One open NTX index. Owned by the caller; the reader owns the page buffers inside it.
struct IndexHandle
{
    struct Level
    {
        std::uint32_t page = 0; // file offset of the page at this level
        std::int16_t slot = 0;  // the slot to visit next at this level
    };

    std::unique_ptr<platform::File> file;
    std::array<std::uint8_t, ntx::kKeptHeaderBytes> header = {};
    std::uint16_t depth = 0;                     // levels on the descent path; 0 = no position
    std::array<Level, ntx::kMaxDepth> path = {}; // level 1 is path[0], the root
    std::vector<std::uint8_t> pages; // the page of every level: level L at (L - 1) * 1024; level 1 = root
    std::int64_t stamp = 0;          // last-write stamp of the file at open or refresh
    ShortString currentKey;          // the padded key of the last search, then the last key returned
    std::vector<std::uint32_t> visitMark; // per page: the walk that last descended into it
    std::uint32_t walk = 0;               // the current walk, advanced by every search
    // The whole file as read at open or refresh; empty = read pages.
    std::vector<std::uint8_t, platform::LargePageAllocator<std::uint8_t>> image;
    // Per page of the image: unchecked, sound, damaged, or sound with its keys in order.
    std::vector<std::uint8_t> pageChecked;
    std::array<const std::uint8_t*, ntx::kMaxDepth> levelPages =
        {};                                             // each level's page: in `pages` or the image
    std::array<bool, ntx::kMaxDepth> levelInOrder = {}; // that page's keys are known to be in order
    std::int64_t pageReads = 0;                         // tree pages read so far (from the image or the file)
    // A page read since the open or refresh held its keys out of byte order: the index was built
    // in another order (a national sort module) or is damaged, so a search may miss keys it holds.
    bool outOfOrderSeen = false;
    std::chrono::steady_clock::time_point stampChecked; // when the stamp was last compared

    bool IsOpen() const { return file != nullptr; }
    std::uint32_t RootOffset() const;
    std::uint16_t KeySize() const;
    std::string KeyExpression() const; // as stored, up to its NUL
    std::string ForExpression() const; // as stored, up to its NUL; empty = every record
    bool Unique() const { return header[ntx::kUniqueOffset] != 0; }
    bool Descending() const { return header[ntx::kDescendingOffset] != 0; }
};

class Reader
{
public:
    explicit Reader(platform::FileOpener opener = platform::OpenForReading);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // How the reader opens its files: others who read the same archive open them alike.
    const platform::FileOpener& Opener() const { return opener_; }

    // Settings of the text-field step (kind "a"), written directly by their users.
    std::int32_t SourceCodePage = -1; // row archive text is coded in; -1 = do not recode
    std::int32_t TargetCodePage = 4;  // row text is recoded into
    bool TrimTextFields = true;       // remove trailing spaces

    // How often an open index's last-write stamp is compared with its file's. A file stamp has a
    // resolution of a second or two on the file systems the archives come from, so comparing more
    // often than this tells nothing more; 0 compares at every search and step.
    std::chrono::milliseconds StampCheckInterval{50};
    // Index files up to this size are read whole at open and refresh, so that searches and steps
    // need no file access; larger ones are read page by page.
    std::int64_t IndexImageLimit = 256 * 1024 * 1024;
    // Tables up to this size are read whole at open (and again, at a window load, when their file's
    // stamp changed), so that moving between records needs no file access; larger ones are read
    // window by window. 0 (the default): every window load reads the file, and sees at once what
    // another program changed. The import, whose archive nobody changes meanwhile, sets it.
    std::int64_t TableImageLimit = 0;

    // Results of the last operation.
    std::int32_t TableResult() const { return tableResult_; }
    std::int32_t ConversionErrorPos() const { return conversionErrorPos_; }
    // The name of the field whose number did not convert (TableResult 6), as stored; empty otherwise.
    const std::string& ConversionErrorField() const { return conversionErrorField_; }
    std::int16_t IndexResult() const { return indexResult_; }
    std::uint16_t CurrentArea() const { return currentArea_; }

    // --- Work areas and tables ---

    // Marks all areas free. (Their files are released too, so that no handle is left open.)
    void ResetWorkAreas();
    // Opens a table (".dbf" is appended when the name has no dot anywhere). `area` 0 takes the
    // first free area; 1..100 closes that area first. On success `area` is the area used, it
    // becomes the current area and the table stands on record 0.
    void OpenTable(std::string_view name, std::uint8_t& area);
    void CloseTable(int area);
    void CloseAllTables();
    // The window becomes `bytes` div record length records; a budget below one record changes
    // nothing and leaves TableResult as it was.
    void SetReadBuffer(int area, std::uint16_t bytes);
    void GotoRecord(int area, std::int32_t recno); // 0-based
    void SkipRecords(int area, std::int32_t n);
    void NextRecord(int area);
    // Converts the current record's fields bound in `group` into their variables. Group 255 (kUnbound)
    // is that of the fields nobody bound: it converts nothing.
    void ReadRecord(int area, std::uint8_t group);
    bool IsEof(int area);

    // --- Field binding on the current area (the one opened last) ---
    // Each gives TableResult 0, or 7 when the area has no field of that name. `name` is
    // compared after upper-casing its ASCII letters. The variable must outlive the binding.
    void BindByte(std::string_view name, std::uint8_t& variable, std::uint8_t reserved = 0,
                  std::uint8_t group = 0);
    void BindWord(std::string_view name, std::uint16_t& variable, std::uint8_t reserved = 0,
                  std::uint8_t group = 0);
    void BindLong(std::string_view name, std::int32_t& variable, std::uint8_t reserved = 0,
                  std::uint8_t group = 0);
    void BindReal(std::string_view name, double& variable, std::uint8_t reserved = 0, std::uint8_t group = 0);
    void BindString(std::string_view name, ShortString& variable, std::uint8_t capacity,
                    std::uint8_t reserved = 0, std::uint8_t group = 0);
    void BindRawString(std::string_view name, ShortString& variable, std::uint8_t capacity,
                       std::uint8_t reserved = 0, std::uint8_t group = 0);
    void BindBin2(std::string_view name, std::int16_t& variable, std::uint8_t reserved = 0,
                  std::uint8_t group = 0);
    void BindBin4(std::string_view name, std::int32_t& variable, std::uint8_t reserved = 0,
                  std::uint8_t group = 0);
    void BindLogical(std::string_view name, bool& variable, std::uint8_t reserved = 0,
                     std::uint8_t group = 0);

    // The kind "a" step: right-trims (when TrimTextFields) and recodes (unless SourceCodePage
    // is -1) a field's text.
    std::string FinishTextField(std::string_view text) const;

    // --- NTX indexes ---

    // Opens the index file `name` as given. IndexResult 0 on success.
    void OpenIndex(IndexHandle& handle, std::string_view name);
    void CloseIndex(IndexHandle& handle);
    // Re-reads the header and root of an open index whose file changed.
    void RefreshIndex(IndexHandle& handle);
    // True when an entry equal to `key` (padded with spaces to the key size) exists; `recno`
    // is then the first such entry's record number - 1 in key order, and the handle stands
    // after it. On a miss the handle stands on the first greater entry.
    bool SeekKey(IndexHandle& handle, std::string_view key, std::int32_t& recno);
    // The following entry in key order: true with its record number - 1, or false with 0 at
    // the end of the index.
    bool NextKey(IndexHandle& handle, std::int32_t& recno);

    // --- Inspection, for tools and tests ---

    // The area, or nullptr when the number is outside 1..100.
    const WorkArea* Area(int area) const;
    // The current record's bytes (deletion mark first), or empty when none is loaded.
    std::string_view CurrentRecordBytes(int area) const;

private:
    WorkArea* AreaForCall(int area); // the entry rule of the per-area operations
    void GotoCurrent(std::int64_t recno);
    void ReadCurrent(std::uint8_t group);
    bool LoadWindow(WorkArea& a);
    void LoadImage(WorkArea& a);
    void Bind(std::string_view name, FieldKind kind, void* variable, std::uint8_t capacity,
              std::uint8_t reserved, std::uint8_t group);
    bool ConvertNumber(const FieldDescriptor& field, const char* text);
    void FinishInto(const char* text, std::size_t length, ShortString& out, std::uint8_t capacity) const;

    bool ReadPage(IndexHandle& handle, int level, std::uint32_t offset);
    bool LoadHeaderAndRoot(IndexHandle& handle);
    bool Descend(IndexHandle& handle, std::uint32_t child);
    bool CheckStamp(IndexHandle& handle);
    bool StampChanged(IndexHandle& handle);
    void ReleaseIndex(IndexHandle& handle);

    platform::FileOpener opener_;
    std::array<WorkArea, kAreaCount> areas_;
    std::uint16_t currentArea_ = 0;
    std::int32_t tableResult_ = 0;
    std::int32_t conversionErrorPos_ = 0;
    std::string conversionErrorField_;
    std::int16_t indexResult_ = 0;
};

} // namespace archive
