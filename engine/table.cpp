// The table object: opening with locks, walking, field access, edit/append/post with the
// production index kept, keyed search, rebuild and check.
#include "engine/table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <set>

#include "engine/code_page.h"
#include "engine/dbf_format.h"
#include "engine/expression.h"
#include "engine/mdx_index.h"
#include "engine/record_cache.h"
#include "engine/transaction_file.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace engine {
namespace {

// The first mismatches of a tag found by a check, and how many more there are.
void AddMismatches(std::vector<std::string>& problems, const std::string& label,
                   const std::vector<std::string>& found)
{
    constexpr std::size_t kShown = 5;
    for (std::size_t k = 0; k < found.size() && k < kShown; ++k)
        problems.push_back(label + found[k]);
    if (found.size() > kShown) {
        const std::size_t rest = found.size() - kShown, ones = rest % 10, tens = rest % 100;
        problems.push_back(label + "oraz " + std::to_string(rest) +
                           (rest == 1                                            ? " dalsza niezgodność"
                            : ones >= 2 && ones <= 4 && (tens < 12 || tens > 14) ? " dalsze niezgodności"
                                                                                 : " dalszych niezgodności"));
    }
}

std::string Hex(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

std::string Trim(std::string_view text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

// The significant digits of a number written out in full: from its first digit other than 0 to
// its last ("-0.0120" and "1200" have two).
std::size_t SignificantDigits(std::string_view text)
{
    std::size_t count = 0, upToLastNonZero = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || (c == '0' && count == 0))
            continue;
        ++count;
        if (c != '0')
            upToLastNonZero = count;
    }
    return upToLastNonZero;
}

// Parses a decimal number: optional sign, digits, optional point and digits. False otherwise.
bool ParseDecimal(std::string_view text, bool* negative, std::string* integer, std::string* fraction)
{
    std::size_t i = 0;
    *negative = false;
    integer->clear();
    fraction->clear();
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        *negative = text[i++] == '-';
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            (point ? fraction : integer)->push_back(c);
        else if ((c == '.' || c == ',') && !point)
            point = true;
        else
            return false;
    }
    return !integer->empty() || !fraction->empty();
}

// The field text of a number with `decimals` decimals, right-aligned in `width`; false when it
// does not fit.
bool FormatNumber(bool negative, std::string integer, std::string fraction, std::size_t width, int decimals,
                  std::string* out)
{
    const auto places = static_cast<std::size_t>(decimals);
    // Round half away from zero at the last kept decimal.
    if (fraction.size() > places) {
        const bool up = fraction[places] >= '5';
        fraction.resize(places);
        if (up) {
            std::string digits = integer + fraction;
            int i = static_cast<int>(digits.size()) - 1;
            for (; i >= 0; --i) {
                if (digits[static_cast<std::size_t>(i)] == '9') {
                    digits[static_cast<std::size_t>(i)] = '0';
                } else {
                    ++digits[static_cast<std::size_t>(i)];
                    break;
                }
            }
            if (i < 0)
                digits.insert(digits.begin(), '1');
            integer = digits.substr(0, digits.size() - places);
            fraction = digits.substr(digits.size() - places);
        }
    }
    fraction.resize(places, '0');
    std::size_t lead = 0;
    while (lead + 1 < integer.size() && integer[lead] == '0')
        ++lead;
    integer.erase(0, lead);
    if (integer.empty())
        integer = "0";
    const bool zero = integer.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    std::string text = (negative && !zero ? "-" : "") + integer + (places > 0 ? "." + fraction : "");
    if (text.size() > width)
        return false;
    *out = std::string(width - text.size(), ' ') + text;
    return true;
}

bool ValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

} // namespace

// The lock that serialises changes between shared opens: held by a post while it writes, and by
// an open, a First or a keyed search while it reads the header and descends a tag, so that none
// of them sees another process's post half done (a keyed search served from memory alone needs
// it not: see GotoKeyInMemory). Nested uses take the lock once (a second lock
// of the same open file would not count, and its release would end the first).
class UpdateLock
{
public:
    UpdateLock(platform::LockedFile& file, int* depth, bool needed) : file_(file), depth_(depth)
    {
        if (needed && (*depth_)++ == 0)
            held_ = file_.LockForUpdate();
        counted_ = needed;
    }
    ~UpdateLock()
    {
        if (counted_ && --(*depth_) == 0 && held_)
            file_.UnlockForUpdate();
    }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

private:
    platform::LockedFile& file_;
    int* depth_;
    bool held_ = false;
    bool counted_ = false;
};

struct Table::Impl final : TransactionMember
{
    enum class State
    {
        Browse,
        Edit,
        Insert,
        SetKey,
    };

    std::string path;
    std::unique_ptr<TransactionFile> dbf;
    std::unique_ptr<TransactionFile> mdxFile;
    std::unique_ptr<MdxIndex> mdx;
    DbfHeader header;
    LanguageDriver driver;
    std::vector<std::unique_ptr<Expression>> tagExpressions;
    std::vector<std::unique_ptr<Expression>> forExpressions; // a tag's FOR clause; null when none
    int tag = -1;
    TagCursor cursor;
    TagCursor searchCursor;                         // a keyed search's walk; swapped into `cursor` on a match
    std::uint32_t recno = 0;                        // current row, 0 at the end
    std::vector<unsigned char> row;                 // the current row's bytes
    std::vector<unsigned char> buffer;              // the row being edited, appended, or the search values
    std::vector<unsigned char> original;            // the row as it was when Edit began
    std::vector<unsigned char> onFile;              // the row as the file holds it at Post
    std::vector<unsigned char> candidate;           // a keyed search's row until it matches; then `row`
    std::vector<std::string> postKeys, postOldKeys; // Post's keys, kept to spare their memory
    std::vector<char> postIn, postWasIn;            // Post: whether the row is, and was, in each tag
    std::vector<TagCursor> postFound;               // Post: each tag's entry an edit takes out
    std::string searchKey, checkKey;                // a keyed search's key, and a found row's
    std::vector<unsigned char> appended;            // Post's new row with the end-of-file mark
    State state = State::Browse;
    bool exclusiveOpen = false;
    int lockDepth = 0;                   // nesting of UpdateLock
    RecordCache records;                 // an exclusive open's records in memory
    std::size_t indexMemory = 0;         // blocks of the index kept in memory at most; 0 the default
    std::vector<std::string> upperNames; // field names in upper case, for FieldByName
    Transaction::Impl* transaction = nullptr;
    unsigned char headerDate[3] = {0, 0, 0}; // the header's date of last update, as last read or written

    // Every row in a unique tag's FOR clause by key (in the tag's order) and record number, the
    // rows the tag leaves out included: when the row a unique tag holds for a key leaves that key,
    // the next row with it is found here instead of by reading the whole table. Built at the first
    // such need and kept while nobody else can change the table: in an exclusive open, or in a
    // shared one while its transaction keeps the update lock (one lock generation). Dropped when
    // that is no longer sure, and when a post did not finish.
    struct KeyedRecord
    {
        std::string key;
        std::uint32_t record = 0;
    };
    struct ByKeyThenRecord
    {
        KeyOrderOfTag order;
        bool operator()(const KeyedRecord& a, const KeyedRecord& b) const
        {
            const int c = order(a.key, b.key);
            return c < 0 || (c == 0 && a.record < b.record);
        }
    };
    using RowsByKey = std::set<KeyedRecord, ByKeyThenRecord>;
    std::vector<std::unique_ptr<RowsByKey>> rowsByKey; // per tag; null: not built
    std::uint64_t rowsByKeyGeneration = 0;

    [[noreturn]] void Fail(ErrorKind kind, const std::string& what) const
    {
        throw Error(kind, "Tabela " + path + ": " + what);
    }

    // Re-reads the header's record count (another open may have appended); a count that grew is
    // checked against the file's size before it is used.
    std::uint32_t FileRecordCount()
    {
        unsigned char count[4];
        if (dbf->ReadAt(4, count, 4) != 4)
            Fail(ErrorKind::Io, "błąd odczytu nagłówka");
        const std::uint32_t n = std::uint32_t{count[0]} | std::uint32_t{count[1]} << 8 |
                                std::uint32_t{count[2]} << 16 | std::uint32_t{count[3]} << 24;
        if (n != header.recordCount &&
            std::int64_t(header.headerLength) + std::int64_t{n} * std::int64_t(header.recordLength) >
                dbf->Size())
            Fail(ErrorKind::BadTable,
                 "liczba rekordów w nagłówku (" + std::to_string(n) + ") nie mieści się w pliku");
        header.recordCount = n;
        return n;
    }

    // A record write failed: what the file now holds there is unknown, so nothing kept in memory
    // may stand for it.
    [[noreturn]] void FailWrite(std::uint32_t record)
    {
        DropRowsByKey();
        records.Reset(records.Enabled() ? header.recordLength : 0);
        Fail(ErrorKind::Io, "błąd zapisu rekordu " + std::to_string(record));
    }

    std::int64_t RecordOffset(std::uint32_t record) const
    {
        return static_cast<std::int64_t>(header.headerLength) +
               std::int64_t{record - 1} * static_cast<std::int64_t>(header.recordLength);
    }

    // Whether records are served from memory: always in an exclusive open; in a shared one while it
    // is settled (the transaction keeps the lock and nobody else changed the file), the records
    // then read being the file's until the lock is let go.
    bool KeepsRecords()
    {
        if (exclusiveOpen)
            return true;
        if (!Settled()) {
            if (records.Enabled())
                records.Reset(0);
            return false;
        }
        if (!records.Enabled())
            records.Reset(header.recordLength);
        return true;
    }

    bool ReadRecord(std::uint32_t record, std::vector<unsigned char>* bytes)
    {
        const bool kept = KeepsRecords();
        if (record > header.recordCount && !(kept && !exclusiveOpen))
            FileRecordCount(); // another open may have appended since
        if (record == 0 || record > header.recordCount)
            return false;
        bytes->resize(header.recordLength);
        const auto readRun = [&](std::uint32_t first, std::size_t count, unsigned char* out) {
            const std::size_t size = count * header.recordLength;
            return dbf->ReadAt(RecordOffset(first), out, size) == static_cast<std::int64_t>(size);
        };
        if (!(kept ? records.Read(record, header.recordCount, bytes->data(), readRun)
                   : readRun(record, 1, bytes->data())))
            Fail(ErrorKind::Io, "błąd odczytu rekordu " + std::to_string(record));
        return true;
    }

    // A keyed search of a shared open without the update lock, where that is safe: when no post
    // has been finished since the index blocks in memory were read (the update counters tell)
    // and the search needs no other block, those blocks are a consistent picture of the index,
    // whatever another open may be writing meanwhile. A match counts only when the record read
    // then still has the key searched for (another open may have changed it since) and is not
    // deleted. Returns the result, or nothing when the search must be made under the lock.
    std::optional<bool> GotoKeyInMemory(std::size_t t, const std::string& key)
    {
        mdx->Refresh();
        if (!mdx->SeekInMemory(t, key, &searchCursor))
            return std::nullopt;
        const TagInfo& info = mdx->Tags()[t];
        if (!searchCursor.Valid() || info.order(searchCursor.Entry().key, key) != 0)
            return false;
        const std::uint32_t r = searchCursor.Entry().record;
        try {
            if (!ReadRecord(r, &candidate) || Deleted(candidate))
                return std::nullopt;
            KeyInto(t, candidate, &checkKey, r);
            if (info.order(checkKey, key) != 0)
                return std::nullopt;
        } catch (const Error&) {
            return std::nullopt; // the locked search reports what is wrong
        }
        std::swap(cursor, searchCursor);
        std::swap(row, candidate);
        recno = r;
        return true;
    }

    bool Deleted(const std::vector<unsigned char>& bytes) const { return !bytes.empty() && bytes[0] == '*'; }

    // The key of tag `t` for a row's bytes (record number `r`, for RECNO()), into `key` (whose
    // memory is reused). An expression that stops with an error (a division by zero) is the
    // engine's error naming the tag: the row is not stored.
    void KeyInto(std::size_t t, const std::vector<unsigned char>& bytes, std::string* key,
                 std::uint32_t r) const
    {
        const TagInfo& info = mdx->Tags()[t];
        try {
            if (info.keyType == 'N' || info.keyType == 'D') {
                const Value v = tagExpressions[t]->Evaluate(bytes.data(), r);
                key->clear();
                if (info.keyType == 'N' && !EncodeNumericKey(v.text, key))
                    Fail(ErrorKind::BadValue,
                         "wartość „" + v.text + "” nie daje klucza znacznika " + info.name);
                if (info.keyType == 'D' && !EncodeDateKey(v.text, key))
                    Fail(ErrorKind::BadValue, "data „" + v.text + "” nie daje klucza znacznika " + info.name);
                return;
            }
            tagExpressions[t]->EvaluateText(bytes.data(), key, r);
        } catch (const Error& e) {
            if (e.Kind() != ErrorKind::BadValue || std::string(e.what()).rfind("Tabela ", 0) == 0)
                throw;
            Fail(ErrorKind::BadValue,
                 "znacznik " + info.name + " (wyrażenie „" + info.expression + "”): " + e.what());
        }
        key->resize(info.keyLength, ' ');
    }

    std::string KeyOf(std::size_t t, const std::vector<unsigned char>& bytes, std::uint32_t r) const
    {
        std::string key;
        KeyInto(t, bytes, &key, r);
        return key;
    }

    // Whether a row belongs in tag `t`: the tag has no FOR clause, or the row meets it.
    bool InTag(std::size_t t, const std::vector<unsigned char>& bytes, std::uint32_t r) const
    {
        if (!forExpressions[t])
            return true;
        try {
            return forExpressions[t]->EvaluateLogical(bytes.data(), r);
        } catch (const Error& e) {
            const TagInfo& info = mdx->Tags()[t];
            Fail(ErrorKind::BadValue,
                 "znacznik " + info.name + " (warunek FOR „" + info.forExpression + "”): " + e.what());
        }
    }

    // Moves to the first live row at or after the cursor's entry (tag order) or `from` (physical).
    void SettleTag()
    {
        while (cursor.Valid()) {
            const std::uint32_t r = cursor.Entry().record;
            if (r == 0 || r > header.recordCount)
                Fail(ErrorKind::BadIndex, "znacznik " + mdx->Tags()[static_cast<std::size_t>(tag)].name +
                                              " wskazuje rekord " + std::to_string(r) + " spoza tabeli");
            ReadRecord(r, &row);
            if (!Deleted(row)) {
                recno = r;
                return;
            }
            mdx->Next(&cursor);
        }
        recno = 0;
    }

    void SettlePhysical(std::uint32_t from)
    {
        for (std::uint32_t r = from; r <= header.recordCount; ++r) {
            ReadRecord(r, &row);
            if (!Deleted(row)) {
                recno = r;
                return;
            }
        }
        recno = 0;
    }

    void First()
    {
        UpdateLock lock(*dbf, &lockDepth, !exclusiveOpen);
        KeepLockForChange();
        state = State::Browse;
        if (!Settled())
            RefreshShared();
        if (tag >= 0) {
            mdx->First(static_cast<std::size_t>(tag), &cursor);
            SettleTag();
        } else {
            SettlePhysical(1);
        }
    }

    void Next()
    {
        if (recno == 0)
            return;
        state = State::Browse;
        if (tag >= 0) {
            mdx->Next(&cursor);
            SettleTag();
        } else {
            SettlePhysical(recno + 1);
        }
    }

    // Puts the tag cursor on the current row after a change of tag or a post.
    void Reposition()
    {
        if (tag < 0 || recno == 0)
            return;
        const auto t = static_cast<std::size_t>(tag);
        const std::string key = KeyOf(t, row, recno);
        if (mdx->SeekExact(t, key, recno, &cursor))
            return;
        // A unique tag holds only the first record of each key, and a conditional tag only the
        // rows that meet its FOR clause: a row not in the tag stays current, and the walk goes on
        // from the entries after its key.
        if (!mdx->Tags()[t].unique && InTag(t, row, recno))
            Fail(ErrorKind::BadIndex,
                 "znacznik " + mdx->Tags()[t].name + " nie zawiera rekordu " + std::to_string(recno));
        mdx->Seek(t, key, &cursor);
    }

    const std::vector<unsigned char>& Source() const { return state == State::Browse ? row : buffer; }

    void CheckWritable(const FieldInfo& f) const
    {
        if (state == State::Browse)
            Fail(ErrorKind::BadState, "pole " + f.name + " można zmienić tylko w trybie edycji");
    }

    void Store(const FieldInfo& f, const std::string& text)
    {
        std::memcpy(buffer.data() + f.offset, text.data(), f.width);
    }

    // After the entry of `key` left a unique tag: the first other row with that key (and in the
    // tag's FOR clause) takes its place.
    void ReinsertFirstWithKey(std::size_t t, const std::string& key, std::uint32_t except)
    {
        std::uint32_t first = 0;
        const KeyOrderOfTag& order = mdx->Tags()[t].order;
        if (const RowsByKey* rows = KeptRowsByKey(t)) {
            // The edited row is still there under its old key: the map learns the post at its end.
            for (auto at = rows->lower_bound({key, 0}); at != rows->end() && order(at->key, key) == 0; ++at) {
                if (at->record != except) {
                    first = at->record;
                    break;
                }
            }
        } else {
            ForEachRecord([&](std::uint32_t r, const std::vector<unsigned char>& bytes) {
                if (first == 0 && r != except && order(KeyOf(t, bytes, r), key) == 0 && InTag(t, bytes, r))
                    first = r;
            });
        }
        if (first != 0)
            mdx->Insert(t, key, first);
    }

    // Blocks of the index's trees that lie over each other (the pages of each tag's blocks, as its
    // check reached them), each named with the table.
    void AddOverlaps(const std::vector<std::vector<std::uint32_t>>& blocks,
                     std::vector<std::string>* problems)
    {
        std::vector<std::string> overlaps;
        mdx->CheckOverlaps(blocks, &overlaps);
        for (const std::string& p : overlaps)
            problems->push_back(path + ": " + p);
    }

    void DropRowsByKey() { rowsByKey.clear(); }

    // The rows of unique tag `t` by key, built now if need be; nullptr when they cannot be kept
    // (another program may change the table meanwhile, or there is no memory for them).
    const RowsByKey* KeptRowsByKey(std::size_t t)
    {
        std::uint64_t generation = 0;
        if (!exclusiveOpen) {
            if (!dbf->LockKept() || !Settled()) {
                DropRowsByKey();
                return nullptr;
            }
            generation = dbf->LockGeneration();
        }
        if (generation != rowsByKeyGeneration) {
            DropRowsByKey();
            rowsByKeyGeneration = generation;
        }
        rowsByKey.resize(mdx->Tags().size());
        if (!rowsByKey[t]) {
            try {
                auto rows = std::make_unique<RowsByKey>(ByKeyThenRecord{mdx->Tags()[t].order});
                ForEachRecord([&](std::uint32_t r, const std::vector<unsigned char>& bytes) {
                    if (InTag(t, bytes, r))
                        rows->insert(rows->end(), {KeyOf(t, bytes, r), r});
                });
                rowsByKey[t] = std::move(rows);
            } catch (const std::bad_alloc&) {
                return nullptr; // the table is read through for each such edit instead
            }
        }
        return rowsByKey[t].get();
    }

    // What a finished post changed, into the rows by key that are kept.
    void PostedIntoRowsByKey(std::uint32_t record, bool edit)
    {
        for (std::size_t t = 0; t < rowsByKey.size(); ++t) {
            RowsByKey* rows = rowsByKey[t].get();
            if (rows == nullptr)
                continue;
            if (edit && postWasIn[t] != 0)
                rows->erase({postOldKeys[t], record});
            if (postIn[t] != 0)
                rows->insert({postKeys[t], record});
        }
    }

    // Calls `visit(record, bytes)` for every record, reading the file in large pieces.
    template <typename Visit>
    void ForEachRecord(Visit visit)
    {
        const std::size_t perChunk = std::max<std::size_t>(1, (1u << 20) / header.recordLength);
        std::vector<unsigned char> chunk;
        std::vector<unsigned char> bytes(header.recordLength);
        for (std::uint32_t first = 1; first <= header.recordCount;) {
            const std::size_t n = std::min<std::size_t>(perChunk, header.recordCount - first + 1);
            chunk.resize(n * header.recordLength);
            if (dbf->ReadAt(RecordOffset(first), chunk.data(), chunk.size()) !=
                static_cast<std::int64_t>(chunk.size()))
                Fail(ErrorKind::Io, "błąd odczytu rekordów od " + std::to_string(first));
            for (std::size_t i = 0; i < n; ++i) {
                std::memcpy(bytes.data(), chunk.data() + i * header.recordLength, header.recordLength);
                visit(static_cast<std::uint32_t>(first + i), bytes);
            }
            first += static_cast<std::uint32_t>(n);
        }
    }

    ~Impl() override
    {
        try {
            if (mdx)
                mdx->FlushCounters();
        } catch (const Error&) {
            // Closing goes on: the counters only tell other programs that the tags changed.
        }
        // Changes not yet committed stay with the transaction, which keeps the files open.
        if (transaction)
            transaction->Leave(this);
    }

    // Joins `joined` (nullptr: leaves the transaction it is in).
    void Join(Transaction::Impl* joined)
    {
        if (joined == transaction)
            return;
        if (state != State::Browse)
            Fail(ErrorKind::BadState, "tabela może dołączyć do transakcji tylko poza edycją wiersza");
        dbf->Join(joined);
        if (mdxFile)
            mdxFile->Join(joined);
        refreshedInTransaction = false;
        if (transaction)
            transaction->Leave(this);
        transaction = joined;
        if (transaction)
            transaction->Join(this);
    }

    // The header's date of last update becomes today's (an append writes it with the count).
    void StampDate()
    {
        const platform::LocalDate today = platform::Today();
        const unsigned char date[3] = {static_cast<unsigned char>(today.year - 1900),
                                       static_cast<unsigned char>(today.month),
                                       static_cast<unsigned char>(today.day)};
        if (std::memcmp(date, headerDate, sizeof date) == 0)
            return;
        if (!dbf->WriteAt(1, date, sizeof date))
            Fail(ErrorKind::Io, "błąd zapisu nagłówka");
        std::memcpy(headerDate, date, sizeof date);
    }

    // Whether what this open holds of its files is certainly theirs: nobody else can have changed
    // them since it last read them. An exclusive open; or a shared open in a transaction that keeps
    // the update lock, read anew since the transaction took the lock, and changed since only by
    // this open. Then headers and index counters need no reading before a post or a search.
    // A transaction whose tables nobody else changes (SetSoleWriter) keeps this true from one
    // commit to the next once the files were read under its lock, as long as the files show no
    // sign of another program: when the lock is taken anew, the record count and the index
    // counters are read again (two reads), and a table another program appended to or posted in
    // against the rule is read anew whole. The records kept are read again in any case.
    std::uint64_t refreshedGeneration = 0;
    bool refreshedInTransaction = false;
    bool held = false; // a reader's hold (TryHold) keeps the update lock
    bool Settled()
    {
        if (exclusiveOpen)
            return true;
        if (!dbf->LockKept() || dbf->WrittenByOthers() || (mdxFile && mdxFile->WrittenByOthers()))
            return false;
        if (refreshedGeneration == dbf->LockGeneration())
            return true;
        if (!refreshedInTransaction || !dbf->SoleWriter())
            return false;
        const std::uint32_t kept = header.recordCount;
        const bool indexChanged = mdx && mdx->Refresh();
        if (FileRecordCount() != kept || indexChanged)
            return false; // the caller reads everything anew
        // An edit of fields no tag covers leaves no trace: the records are read again as needed.
        if (records.Enabled())
            records.Reset(header.recordLength);
        refreshedGeneration = dbf->LockGeneration();
        return true;
    }

    // Reads the record count and the index counters anew (a shared open, under the update lock);
    // records kept in memory may be another open's old ones by now.
    void RefreshShared()
    {
        DropRowsByKey();
        if (!exclusiveOpen && records.Enabled())
            records.Reset(0);
        FileRecordCount();
        if (mdx)
            mdx->Refresh();
        dbf->MarkSeen();
        if (mdxFile)
            mdxFile->MarkSeen();
        if (dbf->LockKept()) {
            refreshedGeneration = dbf->LockGeneration();
            refreshedInTransaction = true;
        }
    }

    // A change is about to be made, or a read that the transaction's later reads may build on, under
    // the update lock: in a transaction the lock stays taken until the transaction ends.
    void KeepLockForChange()
    {
        if (transaction && !exclusiveOpen)
            dbf->KeepLockInTransaction();
    }

    // Reads the header, the index and their counters anew, dropping what is kept in memory: after
    // a rollback the files may hold less than the table remembers.
    void Reload()
    {
        state = State::Browse;
        recno = 0;
        refreshedInTransaction = false;
        DropRowsByKey();
        records.Reset(exclusiveOpen ? header.recordLength : 0);
        FileRecordCount();
        if (mdx) {
            mdx->Load();
            ConfigureIndex();
            CompileTags();
        }
    }

    void BeforeCommit() override
    {
        if (mdx)
            mdx->FlushCounters();
    }

    void AfterRollBack() override { Reload(); }

    void TransactionGone() override
    {
        try {
            dbf->Join(nullptr);
            if (mdxFile)
                mdxFile->Join(nullptr);
        } catch (const Error&) {
            // Only a transaction that could not roll back leaves changes; they are gone with it.
        }
        transaction = nullptr;
    }

    void ConfigureIndex()
    {
        mdx->SetExclusive(exclusiveOpen);
        if (indexMemory != 0)
            mdx->SetCacheLimit(indexMemory);
    }

    void Post();
    // Opens the table; with `joining`, its files join that transaction before anything is read,
    // so that the open reads what the transaction holds and does not wait for the update lock the
    // transaction keeps.
    void Open(const std::string& directory, const std::string& tableName, bool exclusive,
              const std::string& indexName, Transaction::Impl* joining);
    void CompileTags();
};

void Table::Impl::CompileTags()
{
    tagExpressions.clear();
    forExpressions.clear();
    ExpressionSettings settings;
    settings.page = driver.codePage;
    settings.compare = CompareFor(driver.keyOrder);
    settings.dateFormat = CurrentSettings().dateFormat;
    for (TagInfo& t : mdx->MutableTags()) {
        const std::string where = "znacznik " + t.name + " (wyrażenie „" + t.expression + "”)";
        std::string why;
        auto e = Expression::Compile(t.expression, header.fields, settings, &why);
        if (!e)
            Fail(ErrorKind::BadIndex, where + ": nie można obliczyć wyrażenia: " + why);
        // dBase keeps character keys to 100 bytes: a longer one is no tag it made, and which of
        // its bytes dBase would read is not known.
        if (t.keyType == 'C' && t.keyLength > kMaxCharKeyLength)
            Fail(ErrorKind::BadIndex, where + ": klucz ma " + std::to_string(t.keyLength) +
                                          " bajtów, a dBase dopuszcza najwyżej " +
                                          std::to_string(kMaxCharKeyLength));
        const Value::Type type = e->ResultType();
        const bool matches = (t.keyType == 'C' && type == Value::Type::Char) ||
                             (t.keyType == 'N' && type == Value::Type::Num) ||
                             (t.keyType == 'D' && type == Value::Type::Date);
        if (!matches)
            Fail(ErrorKind::BadIndex,
                 where + ": typ wyrażenia nie zgadza się z typem klucza " + std::string(1, t.keyType));
        std::unique_ptr<Expression> condition;
        if (!t.forExpression.empty()) {
            condition = Expression::Compile(t.forExpression, header.fields, settings, &why);
            if (!condition)
                Fail(ErrorKind::BadIndex,
                     where + ": nie można obliczyć warunku FOR „" + t.forExpression + "”: " + why);
            if (condition->ResultType() != Value::Type::Logical)
                Fail(ErrorKind::BadIndex,
                     where + ": warunek FOR „" + t.forExpression + "” nie jest logiczny");
        }
        t.order.compareChars = CompareFor(driver.keyOrder);
        tagExpressions.push_back(std::move(e));
        forExpressions.push_back(std::move(condition));
    }
}

void Table::Impl::Open(const std::string& directory, const std::string& tableName, bool exclusive,
                       const std::string& indexName, Transaction::Impl* joining)
{
    path = directory + platform::kSeparator + tableName;
    if (directory.empty() || !platform::IsDirectory(directory))
        throw Error(ErrorKind::NotFound, "Brak katalogu " + directory + " (tabela " + path + ")");
    platform::OpenFailure failure = platform::OpenFailure::None;
    const platform::ShareMode mode = exclusive ? platform::ShareMode::Exclusive : platform::ShareMode::Shared;
    auto dbfFile = platform::OpenLocked(path, mode, &failure);
    if (!dbfFile) {
        if (failure == platform::OpenFailure::NotFound)
            throw Error(ErrorKind::NotFound, "Brak tabeli " + path);
        if (failure == platform::OpenFailure::Locked)
            throw Error(ErrorKind::Locked, exclusive ? "Tabela " + path +
                                                           " jest otwarta przez inny program; "
                                                           "nie można jej otworzyć na wyłączność"
                                                     : "Tabela " + path +
                                                           " jest otwarta na wyłączność przez "
                                                           "inny program");
        throw Error(ErrorKind::Io, "Nie można otworzyć tabeli " + path);
    }
    dbf = std::make_unique<TransactionFile>(std::move(dbfFile), platform::ResolveCaseInsensitive(path));
    if (joining)
        dbf->Join(joining);
    // The header, the index and the first row are read while no post of another open is under way.
    UpdateLock lock(*dbf, &lockDepth, !exclusive);
    const std::int64_t size = dbf->Size();
    std::vector<unsigned char> head(kDbfHeaderSize);
    if (size < static_cast<std::int64_t>(kDbfHeaderSize) ||
        dbf->ReadAt(0, head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
        Fail(ErrorKind::BadTable, "to nie jest tabela dBase: plik krótszy niż nagłówek");
    const std::size_t headerLength = static_cast<std::size_t>(head[8] | head[9] << 8);
    if (headerLength > kDbfHeaderSize && static_cast<std::int64_t>(headerLength) <= size) {
        head.resize(headerLength);
        if (dbf->ReadAt(0, head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
            Fail(ErrorKind::Io, "błąd odczytu nagłówka");
    }
    std::string why;
    if (!ParseDbfHeader(head, size, &header, &why))
        Fail(ErrorKind::BadTable, DbfEncrypted(head) ? why : "to nie jest poprawna tabela dBase: " + why);
    std::memcpy(headerDate, &head[1], sizeof headerDate);
    const auto found = DriverFromId(header.languageDriver);
    if (!found)
        Fail(ErrorKind::BadTable, "nieznany sterownik języka (strona kodowa) " + Hex(header.languageDriver) +
                                      " w bajcie 29 nagłówka");
    driver = *found;
    exclusiveOpen = exclusive;
    records.Reset(exclusive ? header.recordLength : 0);
    for (const FieldInfo& f : header.fields)
        upperNames.push_back(AsciiUpper(f.name));

    if (header.hasProductionIndex) {
        std::string base = tableName;
        const auto dot = base.rfind('.');
        if (dot != std::string::npos)
            base.erase(dot);
        const std::string mdxPath =
            platform::ResolveCaseInsensitive(directory + platform::kSeparator + base + ".mdx");
        auto indexFile = platform::OpenLocked(mdxPath, mode, &failure);
        if (!indexFile) {
            if (failure == platform::OpenFailure::NotFound)
                throw Error(ErrorKind::NotFound, "Tabela " + path + ": brak indeksu " + mdxPath);
            throw Error(failure == platform::OpenFailure::Locked ? ErrorKind::Locked : ErrorKind::Io,
                        "Tabela " + path + ": nie można otworzyć indeksu " + mdxPath);
        }
        mdxFile = std::make_unique<TransactionFile>(std::move(indexFile), mdxPath);
        if (joining)
            mdxFile->Join(joining);
        mdx = std::make_unique<MdxIndex>(*mdxFile, mdxPath);
        mdx->Load();
        ConfigureIndex();
        CompileTags();
    }
    tag = -1;
    if (!indexName.empty()) {
        tag = mdx ? mdx->FindTag(indexName) : -1;
        if (tag < 0)
            throw Error(ErrorKind::NotFound, "Tabela " + path + ": brak znacznika indeksu " + indexName);
    }
    First();
}

void Table::Impl::Post()
{
    if (state != State::Edit && state != State::Insert)
        Fail(ErrorKind::BadState, "brak wiersza w trybie edycji lub dopisywania do zapisania");
    // An exclusive open has nobody to wait for and nothing to re-read.
    UpdateLock lock(*dbf, &lockDepth, !exclusiveOpen);
    KeepLockForChange();
    const bool othersMayHaveWritten = !Settled();
    if (othersMayHaveWritten) // a new row goes after the rows others may have appended, into their trees
        RefreshShared();
    if (state == State::Edit && othersMayHaveWritten) {
        // Another open may have changed the row since Edit read it. Its entries in the tags are
        // those of the row as the file holds it now: the old keys are worked out from that, or the
        // entries of the other change would stay beside this one's.
        onFile.resize(header.recordLength);
        if (dbf->ReadAt(RecordOffset(recno), onFile.data(), onFile.size()) ==
                static_cast<std::int64_t>(onFile.size()) &&
            onFile != original)
            original = onFile;
    }
    const std::size_t tagCount = mdx ? mdx->Tags().size() : 0;
    std::uint32_t record = recno;
    if (state == State::Insert) {
        if (header.recordCount == 0xFFFFFFFFu)
            Fail(ErrorKind::BadTable, "tabela nie pomieści więcej rekordów");
        record = header.recordCount + 1;
    }
    // Every key and FOR clause is worked out before anything is written, so a value that makes
    // no key changes nothing.
    std::vector<std::string>& newKeys = postKeys;
    std::vector<std::string>& oldKeys = postOldKeys;
    newKeys.resize(tagCount);
    oldKeys.resize(tagCount);
    postIn.assign(tagCount, 1);
    postWasIn.assign(tagCount, 0);
    for (std::size_t t = 0; t < tagCount; ++t) {
        KeyInto(t, buffer, &newKeys[t], record);
        postIn[t] = InTag(t, buffer, record) ? 1 : 0;
        if (state == State::Edit) {
            KeyInto(t, original, &oldKeys[t], record);
            postWasIn[t] = InTag(t, original, record) ? 1 : 0;
        }
    }
    // The entry an edit takes out of a tag must be there, and a row an edit brings into a tag
    // (its FOR clause now true) must not be there already, under whatever key. Otherwise the
    // index disagrees with the row (the row was changed by a program that left the index as it
    // was): the new entry would stand beside the old one, and the tag would find the row twice.
    // Nothing is written.
    if (state == State::Edit && postFound.size() < tagCount)
        postFound.resize(tagCount);
    for (std::size_t t = 0; state == State::Edit && t < tagCount; ++t) {
        const TagInfo& info = mdx->Tags()[t];
        static constexpr const char* disagrees = ": indeks nie zgadza się z tabelą i trzeba go odbudować";
        if (postWasIn[t] != 0 && (postIn[t] == 0 || oldKeys[t] != newKeys[t]) &&
            !(info.unique ? mdx->HoldsKey(t, oldKeys[t]) : mdx->Find(t, oldKeys[t], record, &postFound[t])))
            Fail(ErrorKind::BadIndex, "znacznik " + info.name + " nie zawiera klucza rekordu " +
                                          std::to_string(record) + ", który wynika z jego pól" + disagrees);
        if (postWasIn[t] == 0 && postIn[t] != 0 && mdx->HoldsRecord(t, record))
            Fail(ErrorKind::BadIndex, "znacznik " + info.name + " już zawiera rekord " +
                                          std::to_string(record) + ", choć jego pola go z niego wyłączały" +
                                          disagrees);
    }
    // From the first write on, a post that does not finish leaves the rows by key unsure.
    struct DropRowsByKeyUnlessFinished
    {
        Impl& impl;
        bool finished = false;
        ~DropRowsByKeyUnlessFinished()
        {
            if (!finished)
                impl.DropRowsByKey();
        }
    } rowsByKeyGuard{*this};
    if (state == State::Insert) {
        std::vector<unsigned char>& bytes = appended;
        bytes.assign(buffer.begin(), buffer.end());
        bytes.push_back(static_cast<unsigned char>(kDbfFileEnd));
        if (!dbf->WriteAt(RecordOffset(record), bytes.data(), bytes.size()))
            FailWrite(record);
        const platform::LocalDate today = platform::Today();
        unsigned char stamp[7] = {static_cast<unsigned char>(today.year - 1900),
                                  static_cast<unsigned char>(today.month),
                                  static_cast<unsigned char>(today.day)};
        for (int i = 0; i < 4; ++i)
            stamp[3 + i] = static_cast<unsigned char>(record >> (8 * i));
        if (!dbf->WriteAt(1, stamp, sizeof stamp))
            Fail(ErrorKind::Io, "błąd zapisu nagłówka");
        std::memcpy(headerDate, stamp, sizeof headerDate);
        header.recordCount = record;
        records.Written(record, buffer.data());
    } else {
        if (!dbf->WriteAt(RecordOffset(record), buffer.data(), buffer.size()))
            FailWrite(record);
        // Kept as the file now holds it, whether or not the date that follows can be written.
        records.Written(record, buffer.data());
        StampDate();
    }
    bool changed = false;
    try {
        for (std::size_t t = 0; t < tagCount; ++t) {
            // A row enters, stays in, moves within or leaves a tag as its key and the tag's FOR
            // clause say.
            const bool in = postIn[t] != 0;
            if (state == State::Edit) {
                const bool wasIn = postWasIn[t] != 0;
                if (wasIn == in && (!in || oldKeys[t] == newKeys[t]))
                    continue;
                if (wasIn && mdx->Tags()[t].unique) {
                    if (mdx->Remove(t, oldKeys[t], record))
                        ReinsertFirstWithKey(t, oldKeys[t], record);
                } else if (wasIn) { // found before anything was written; the tag unchanged since
                    mdx->RemoveFound(t, &postFound[t]);
                }
            } else if (!in) {
                continue;
            }
            if (in)
                mdx->Insert(t, newKeys[t], record);
            mdx->FinishUpdate(t);
            changed = true;
        }
    } catch (const Error&) {
        // Others must still learn that the tags done so far changed.
        try {
            if (changed)
                mdx->WriteCounters();
        } catch (const Error&) {}
        throw;
    }
    if (changed) {
        mdx->WriteCounters();
        mdx->StampFile();
    }
    PostedIntoRowsByKey(record, state == State::Edit);
    rowsByKeyGuard.finished = true;
    row = buffer;
    recno = record;
    state = State::Browse;
    Reposition();
}

Table::Table(std::string directory, std::string tableName)
    : directory_(std::move(directory)), tableName_(std::move(tableName))
{}

Table::~Table() = default;

void Table::SetExclusive(bool exclusive)
{
    if (impl_)
        impl_->Fail(ErrorKind::BadState, "tryb wyłączności można zmienić tylko przy zamkniętej tabeli");
    exclusive_ = exclusive;
}

void Table::SetTransaction(Transaction* transaction)
{
    if (impl_)
        impl_->Join(transaction ? transaction->impl_.get() : nullptr);
    transaction_ = transaction;
}

void Table::SetIndexMemory(std::size_t blocks)
{
    if (impl_)
        impl_->Fail(ErrorKind::BadState, "pamięć indeksu można zmienić tylko przy zamkniętej tabeli");
    indexMemory_ = blocks;
}

void Table::SetIndexName(const std::string& tag)
{
    if (impl_) {
        int found = -1;
        if (!tag.empty()) {
            found = impl_->mdx ? impl_->mdx->FindTag(tag) : -1;
            if (found < 0)
                impl_->Fail(ErrorKind::NotFound, "brak znacznika indeksu " + tag);
        }
        impl_->state = Impl::State::Browse;
        impl_->tag = found;
        if (impl_->recno != 0 && found >= 0) {
            UpdateLock lock(*impl_->dbf, &impl_->lockDepth, !impl_->exclusiveOpen);
            if (!impl_->Settled())
                impl_->RefreshShared();
            impl_->Reposition();
        }
    }
    indexName_ = tag;
}

void Table::Open()
{
    if (impl_)
        return;
    auto impl = std::make_unique<Impl>();
    impl->indexMemory = indexMemory_;
    Transaction::Impl* joining = transaction_ ? transaction_->impl_.get() : nullptr;
    impl->Open(directory_, tableName_, exclusive_, indexName_, joining);
    impl->transaction = joining;
    if (joining)
        joining->Join(impl.get());
    impl_ = std::move(impl);
}

void Table::Close()
{
    ReleaseHold();
    impl_.reset();
}

bool Table::Active() const
{
    return impl_ != nullptr;
}

// The open table's state; its path is put together only for the error.
static Table::Impl& Require(const std::unique_ptr<Table::Impl>& impl, const Table& table)
{
    if (!impl)
        throw Error(ErrorKind::BadState, "Tabela " + table.Path() + " nie jest otwarta");
    return *impl;
}

void Table::First()
{
    Require(impl_, *this).First();
}

void Table::Next()
{
    Require(impl_, *this).Next();
}

bool Table::Eof() const
{
    return Require(impl_, *this).recno == 0;
}

std::int64_t Table::RecordCount() const
{
    return Require(impl_, *this).FileRecordCount();
}

std::uint32_t Table::RecNo() const
{
    return Require(impl_, *this).recno;
}

Field Table::FieldByName(std::string_view name)
{
    Impl& impl = Require(impl_, *this);
    for (std::size_t i = 0; i < impl.upperNames.size(); ++i) {
        const std::string& candidate = impl.upperNames[i];
        if (candidate.size() == name.size() && std::equal(candidate.begin(), candidate.end(), name.begin(),
                                                          [](char a, char b) { return a == AsciiUpper(b); }))
            return Field(this, i);
    }
    impl.Fail(ErrorKind::BadValue, "brak pola " + std::string(name));
}

std::size_t Table::FieldCount() const
{
    return Require(impl_, *this).header.fields.size();
}

Field Table::FieldAt(std::size_t index)
{
    Impl& impl = Require(impl_, *this);
    if (index >= impl.header.fields.size())
        impl.Fail(ErrorKind::BadValue, "brak pola numer " + std::to_string(index + 1));
    return Field(this, index);
}

void Table::Edit()
{
    Impl& impl = Require(impl_, *this);
    if (impl.recno == 0)
        impl.Fail(ErrorKind::BadState, "brak bieżącego wiersza do edycji");
    impl.ReadRecord(impl.recno, &impl.row); // the row as it is in the file now
    impl.buffer = impl.row;
    impl.original = impl.row;
    impl.state = Impl::State::Edit;
}

void Table::Append()
{
    Impl& impl = Require(impl_, *this);
    impl.buffer.assign(impl.header.recordLength, ' ');
    impl.state = Impl::State::Insert;
}

void Table::Post()
{
    Require(impl_, *this).Post();
}

void Table::MoveTo(std::uint32_t record)
{
    Impl& impl = Require(impl_, *this);
    impl.state = Impl::State::Browse;
    UpdateLock lock(*impl.dbf, &impl.lockDepth, !impl.exclusiveOpen);
    if (!impl.ReadRecord(record, &impl.row))
        impl.Fail(ErrorKind::BadState, "brak rekordu " + std::to_string(record));
    impl.recno = record;
    if (impl.tag >= 0) {
        if (!impl.Settled())
            impl.RefreshShared();
        impl.Reposition();
    }
}

void Table::Delete()
{
    Impl& impl = Require(impl_, *this);
    Edit();
    impl.buffer[0] = '*';
    impl.Post();
}

void Table::Recall()
{
    Impl& impl = Require(impl_, *this);
    Edit();
    impl.buffer[0] = ' ';
    impl.Post();
}

void Table::Cancel()
{
    Require(impl_, *this).state = Impl::State::Browse;
}

void Table::EditKey()
{
    Impl& impl = Require(impl_, *this);
    if (impl.tag < 0)
        impl.Fail(ErrorKind::BadState, "wyszukiwanie według klucza wymaga wybranego znacznika indeksu");
    impl.buffer.assign(impl.header.recordLength, ' ');
    impl.state = Impl::State::SetKey;
}

bool Table::GotoKey()
{
    Impl& impl = Require(impl_, *this);
    if (impl.tag < 0 || impl.state != Impl::State::SetKey)
        impl.Fail(ErrorKind::BadState, "GotoKey wymaga wcześniejszego EditKey przy wybranym znaczniku");
    const auto t = static_cast<std::size_t>(impl.tag);
    std::string& key = impl.searchKey;
    impl.KeyInto(t, impl.buffer, &key, 0);
    impl.state = Impl::State::Browse;
    // In a transaction the update lock is taken once and kept to the commit: then the blocks in
    // memory serve every search without reading the index's counters again.
    const bool inTransaction = impl.transaction != nullptr && !impl.exclusiveOpen;
    if (!inTransaction && !impl.Settled() && impl.lockDepth == 0) {
        if (const std::optional<bool> found = impl.GotoKeyInMemory(t, key))
            return *found;
    }
    UpdateLock lock(*impl.dbf, &impl.lockDepth, !impl.exclusiveOpen);
    impl.KeepLockForChange();
    if (!impl.Settled())
        impl.RefreshShared(); // blocks cached before another open's post must not mix with new ones
    TagCursor& walk = impl.searchCursor;
    impl.mdx->Seek(t, key, &walk);
    const TagInfo& info = impl.mdx->Tags()[t];
    while (walk.Valid() && info.order(walk.Entry().key, key) == 0) {
        const std::uint32_t r = walk.Entry().record;
        if (!impl.ReadRecord(r, &impl.candidate))
            impl.Fail(ErrorKind::BadIndex,
                      "znacznik " + info.name + " wskazuje rekord " + std::to_string(r) + " spoza tabeli");
        if (!impl.Deleted(impl.candidate)) {
            std::swap(impl.cursor, walk);
            std::swap(impl.row, impl.candidate);
            impl.recno = r;
            return true;
        }
        impl.mdx->Next(&walk);
    }
    return false;
}

std::string Table::Path() const
{
    return directory_ + platform::kSeparator + tableName_;
}

void Table::Reindex()
{
    Impl& impl = Require(impl_, *this);
    if (!impl.mdx)
        return;
    UpdateLock lock(*impl.dbf, &impl.lockDepth, !impl.exclusiveOpen);
    impl.KeepLockForChange();
    impl.FileRecordCount();
    std::vector<TagDefinition> definitions;
    for (const TagInfo& t : impl.mdx->Tags())
        definitions.push_back(
            {t.name, t.expression, t.keyType, t.keyLength, t.descending, t.unique, t.forExpression});
    std::vector<std::vector<IndexEntry>> entries(definitions.size());
    for (auto& list : entries)
        list.reserve(impl.header.recordCount);
    impl.ForEachRecord([&](std::uint32_t r, const std::vector<unsigned char>& bytes) {
        for (std::size_t t = 0; t < definitions.size(); ++t)
            if (impl.InTag(t, bytes, r))
                entries[t].push_back({impl.KeyOf(t, bytes, r), r});
    });
    std::string base = tableName_;
    const auto dot = base.rfind('.');
    if (dot != std::string::npos)
        base.erase(dot);
    CreateMdx(*impl.mdxFile, base, definitions, impl.mdx->PagesPerBlock()); // the file keeps its block size
    impl.mdx = std::make_unique<MdxIndex>(*impl.mdxFile, impl.mdx->Path());
    impl.mdx->Load();
    impl.ConfigureIndex();
    impl.CompileTags();
    for (std::size_t t = 0; t < definitions.size(); ++t) {
        const TagInfo& info = impl.mdx->Tags()[t];
        auto& list = entries[t];
        std::stable_sort(list.begin(), list.end(), [&](const IndexEntry& a, const IndexEntry& b) {
            const int c = info.order(a.key, b.key);
            return c < 0 || (c == 0 && a.record < b.record);
        });
        if (info.unique) {
            list.erase(std::unique(list.begin(), list.end(),
                                   [&](const IndexEntry& a, const IndexEntry& b) {
                                       return info.order(a.key, b.key) == 0;
                                   }),
                       list.end());
        }
        impl.mdx->BulkLoad(t, list);
        impl.mdx->FinishUpdate(t);
    }
    impl.mdx->WriteCounters();
    impl.mdx->StampFile();
    impl.First();
}

bool Table::Hold(bool wait)
{
    Impl& impl = Require(impl_, *this);
    if (impl.exclusiveOpen || impl.held)
        return true;
    if (impl.lockDepth == 0 && !(wait ? impl.dbf->LockForUpdate() : impl.dbf->TryLockForUpdate()))
        return false;
    ++impl.lockDepth;
    impl.held = true;
    impl.FileRecordCount();
    if (impl.mdx)
        impl.mdx->Refresh();
    return true;
}

void Table::ReleaseHold()
{
    if (!impl_ || !impl_->held)
        return;
    impl_->held = false;
    if (--impl_->lockDepth == 0)
        impl_->dbf->UnlockForUpdate();
}

// A date key that stands for a blank date: some writers store 0, others the blank-date key.
static bool BlankDateKey(const std::string& key)
{
    const double value = DateKeyValue(key);
    return value == 0 || value == kBlankDateKey;
}

std::vector<std::string> Table::Verify()
{
    Impl& impl = Require(impl_, *this);
    std::vector<std::string> problems;
    if (!impl.mdx)
        return problems;
    UpdateLock lock(*impl.dbf, &impl.lockDepth, !impl.exclusiveOpen);
    impl.FileRecordCount();
    impl.mdx->Refresh();
    std::vector<std::vector<std::uint32_t>> blocks(impl.mdx->Tags().size());
    for (std::size_t t = 0; t < impl.mdx->Tags().size(); ++t) {
        const TagInfo& info = impl.mdx->Tags()[t];
        const std::string label = Path() + ", znacznik " + info.name + ": ";
        std::vector<std::string> structure;
        std::vector<IndexEntry> stored = impl.mdx->Check(t, &structure, true, &blocks[t]);
        for (const std::string& p : structure)
            problems.push_back(Path() + ": " + p);
        std::vector<IndexEntry> expected;
        // A record whose key or FOR clause cannot be evaluated (a division by zero, say) is named,
        // and the check goes on with the next tag: the table's other tags are still checked.
        bool evaluated = true;
        impl.ForEachRecord([&](std::uint32_t r, const std::vector<unsigned char>& record) {
            if (!evaluated)
                return;
            try {
                if (impl.InTag(t, record, r))
                    expected.push_back({impl.KeyOf(t, record, r), r});
            } catch (const Error& e) {
                if (e.Kind() != ErrorKind::BadValue)
                    throw;
                problems.push_back(std::string(e.what()) + " (rekord " + std::to_string(r) + ")");
                evaluated = false;
            }
        });
        if (!evaluated)
            continue;
        auto less = [&](const IndexEntry& a, const IndexEntry& b) {
            const int c = info.order(a.key, b.key);
            return c < 0 || (c == 0 && a.record < b.record);
        };
        std::stable_sort(expected.begin(), expected.end(), less);
        if (info.unique)
            expected.erase(std::unique(expected.begin(), expected.end(),
                                       [&](const IndexEntry& a, const IndexEntry& b) {
                                           return info.order(a.key, b.key) == 0;
                                       }),
                           expected.end());
        // The order was checked above; now each record's entry against the record, by record
        // number, so that one missing entry gives one message. A blank date is stored as 0 by
        // some writers and as the blank-date key by others: both stand for a blank date.
        auto sameKey = [&](const std::string& a, const std::string& b) {
            if (info.order(a, b) == 0)
                return true;
            return info.keyType == 'D' && BlankDateKey(a) && BlankDateKey(b);
        };
        auto byRecord = [](const IndexEntry& a, const IndexEntry& b) { return a.record < b.record; };
        std::sort(stored.begin(), stored.end(), byRecord);
        std::sort(expected.begin(), expected.end(), byRecord);
        std::vector<std::string> found;
        std::size_t i = 0, j = 0;
        while (i < stored.size() || j < expected.size()) {
            if (j == expected.size() || (i < stored.size() && stored[i].record < expected[j].record)) {
                found.push_back(i > 0 && stored[i - 1].record == stored[i].record
                                    ? "rekord " + std::to_string(stored[i].record) +
                                          " występuje więcej niż raz"
                                    : "zbędny wpis rekordu " + std::to_string(stored[i].record));
                ++i;
            } else if (i == stored.size() || expected[j].record < stored[i].record) {
                found.push_back("brak wpisu rekordu " + std::to_string(expected[j].record));
                ++j;
            } else {
                if (!sameKey(stored[i].key, expected[j].key))
                    found.push_back("klucz rekordu " + std::to_string(stored[i].record) +
                                    " nie zgadza się z wartościami w tabeli");
                ++i;
                ++j;
            }
        }
        AddMismatches(problems, label, found);
    }
    impl.AddOverlaps(blocks, &problems);
    return problems;
}

std::vector<std::string> Table::CheckIndexEntries(const std::vector<std::string>& searched)
{
    Impl& impl = Require(impl_, *this);
    std::vector<std::string> problems;
    if (!impl.mdx)
        return problems;
    UpdateLock lock(*impl.dbf, &impl.lockDepth, !impl.exclusiveOpen);
    const std::uint32_t count = impl.FileRecordCount();
    impl.mdx->Refresh();
    std::vector<std::vector<std::uint32_t>> blocks(impl.mdx->Tags().size());
    for (std::size_t t = 0; t < impl.mdx->Tags().size(); ++t) {
        const TagInfo& info = impl.mdx->Tags()[t];
        std::vector<std::string> structure;
        const std::vector<IndexEntry> stored = impl.mdx->Check(t, &structure, false, &blocks[t]);
        for (const std::string& p : structure)
            problems.push_back(Path() + ": " + p);
        if (!structure.empty())
            continue;
        std::vector<bool> seen(std::size_t{count} + 1, false);
        std::vector<std::string> found;
        for (const IndexEntry& e : stored) {
            if (e.record == 0 || e.record > count)
                found.push_back("wpis rekordu " + std::to_string(e.record) +
                                " spoza tabeli (rekordów: " + std::to_string(count) + ")");
            else if (seen[e.record])
                found.push_back("rekord " + std::to_string(e.record) + " występuje więcej niż raz");
            else
                seen[e.record] = true;
        }
        const bool keysChecked =
            std::any_of(searched.begin(), searched.end(), [&info](const std::string& name) {
                return AsciiUpper(name) == AsciiUpper(info.name);
            });
        if (keysChecked && found.empty()) {
            // Each record's key, when the record belongs in the tag, against the entry of the record.
            std::vector<const std::string*> keys(std::size_t{count} + 1, nullptr);
            for (const IndexEntry& e : stored)
                keys[e.record] = &e.key;
            try {
                impl.ForEachRecord([&](std::uint32_t r, const std::vector<unsigned char>& record) {
                    if (r > count)
                        return;
                    if (!impl.InTag(t, record, r)) {
                        if (keys[r] != nullptr)
                            found.push_back("zbędny wpis rekordu " + std::to_string(r));
                    } else if (keys[r] == nullptr) {
                        if (!info.unique) // a unique tag holds one record of each key
                            found.push_back("brak wpisu rekordu " + std::to_string(r));
                    } else if (const std::string key = impl.KeyOf(t, record, r);
                               info.order(*keys[r], key) != 0 &&
                               !(info.keyType == 'D' && BlankDateKey(*keys[r]) && BlankDateKey(key))) {
                        found.push_back("klucz rekordu " + std::to_string(r) +
                                        " nie zgadza się z wartościami w tabeli");
                    }
                });
            } catch (const Error& e) {
                if (e.Kind() != ErrorKind::BadValue)
                    throw;
                found.push_back(e.what());
            }
        } else if (info.forExpression.empty() && !info.unique) {
            for (std::uint32_t r = 1; r <= count; ++r)
                if (!seen[r])
                    found.push_back("brak wpisu rekordu " + std::to_string(r));
        }
        AddMismatches(problems, Path() + ", znacznik " + info.name + ": ", found);
    }
    impl.AddOverlaps(blocks, &problems);
    return problems;
}

// Field access.

const std::string& Field::Name() const
{
    return Require(table_->impl_, *table_).header.fields[index_].name;
}

char Field::Type() const
{
    return Require(table_->impl_, *table_).header.fields[index_].type;
}

std::size_t Field::Width() const
{
    return Require(table_->impl_, *table_).header.fields[index_].width;
}

int Field::Decimals() const
{
    return Require(table_->impl_, *table_).header.fields[index_].decimals;
}

std::string Field::AsString() const
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    const auto& source = impl.Source();
    if (source.size() < impl.header.recordLength)
        return std::string();
    const std::string_view raw(reinterpret_cast<const char*>(source.data() + f.offset), f.width);
    switch (f.type) {
    case 'C': {
        std::size_t end = raw.size();
        while (end > 0 && (raw[end - 1] == ' ' || raw[end - 1] == '\0'))
            --end;
        return ToProgramText(raw.substr(0, end), impl.driver.codePage);
    }
    case 'D': {
        const std::string text = Trim(raw);
        if (text.size() != 8)
            return std::string();
        return text.substr(0, 4) + "." + text.substr(4, 2) + "." + text.substr(6, 2);
    }
    case 'L': {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(raw[0])));
        return c == 'T' || c == 'Y' ? "T" : c == 'F' || c == 'N' ? "F" : "";
    }
    default:
        return Trim(raw);
    }
}

std::int64_t Field::AsInteger() const
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    if (f.type == 'L') {
        return AsString() == "T" ? 1 : 0;
    }
    const std::string text = Trim(AsString());
    if (text.empty())
        return 0;
    bool negative = false;
    std::string integer, fraction;
    if (f.type == 'D' || !ParseDecimal(text, &negative, &integer, &fraction) || integer.size() > 18)
        impl.Fail(ErrorKind::BadValue, "pole " + f.name + " nie zawiera liczby całkowitej („" + text + "”)");
    std::int64_t value = 0;
    for (char c : integer)
        value = value * 10 + (c - '0');
    return negative ? -value : value;
}

Variant Field::AsVariant() const
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    const std::string text = AsString();
    if (text.empty())
        return std::monostate{};
    switch (f.type) {
    case 'N':
    case 'F':
        if (f.decimals == 0 && text.find('.') == std::string::npos)
            return AsInteger();
        return std::strtod(text.c_str(), nullptr);
    case 'L':
        return text == "T";
    default:
        return text;
    }
}

void Field::Clear()
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    impl.CheckWritable(f);
    if (f.type == 'M' || f.type == 'B' || f.type == 'G')
        impl.Fail(ErrorKind::BadValue, "pole memo " + f.name + " nie może być zmieniane");
    impl.Store(f, std::string(f.width, ' '));
}

void Field::SetString(std::string_view text1250)
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    impl.CheckWritable(f);
    const auto where = [&f] { return "pole " + f.name + ": "; };
    switch (f.type) {
    case 'C': { // cut to the width, converted and padded in the row itself
        const std::size_t n = std::min(text1250.size(), f.width);
        unsigned char* out = impl.buffer.data() + f.offset;
        std::memcpy(out, text1250.data(), n);
        std::memset(out + n, ' ', f.width - n);
        FromProgramTextInPlace(out, n, impl.driver.codePage);
        return;
    }
    case 'N':
    case 'F': {
        const std::string text = Trim(text1250);
        if (text.empty()) {
            impl.Store(f, std::string(f.width, ' '));
            return;
        }
        bool negative = false;
        std::string integer, fraction, out;
        if (!ParseDecimal(text, &negative, &integer, &fraction))
            impl.Fail(ErrorKind::BadValue, where() + "„" + text + "” nie jest liczbą");
        if (!FormatNumber(negative, integer, fraction, f.width, f.decimals, &out))
            impl.Fail(ErrorKind::BadValue, where() + "liczba " + text + " nie mieści się w polu o długości " +
                                               std::to_string(f.width));
        impl.Store(f, out);
        return;
    }
    case 'D': {
        const std::string text = Trim(text1250);
        if (text.empty()) {
            impl.Store(f, std::string(8, ' '));
            return;
        }
        // Only digits and the separators . - / may appear; any other byte makes the text no date,
        // whatever it holds besides.
        std::string digits;
        bool foreign = false;
        for (char c : text)
            if (c >= '0' && c <= '9')
                digits.push_back(c);
            else if (c != '.' && c != '-' && c != '/')
                foreign = true;
        const auto number = [&digits](std::size_t from, std::size_t count) {
            int value = 0;
            for (std::size_t i = from; i < from + count; ++i)
                value = value * 10 + (digits[i] - '0');
            return value;
        };
        const bool shaped = !foreign && digits.size() == 8 && (text.size() == 8 || text.size() == 10);
        if (!shaped || !ValidDate(number(0, 4), number(4, 2), number(6, 2)))
            impl.Fail(ErrorKind::BadValue, where() + "„" + text + "” nie jest datą");
        impl.Store(f, digits);
        return;
    }
    case 'L': {
        const std::string text = AsciiUpper(Trim(text1250));
        if (text.empty() || text == "?")
            impl.Store(f, " ");
        else if (text == "T" || text == "Y" || text == "TRUE" || text == "1")
            impl.Store(f, "T");
        else if (text == "F" || text == "N" || text == "FALSE" || text == "0")
            impl.Store(f, "F");
        else
            impl.Fail(ErrorKind::BadValue, where() + "„" + text + "” nie jest wartością logiczną");
        return;
    }
    default:
        impl.Fail(ErrorKind::BadValue, "pole memo " + f.name + " nie może być zmieniane");
    }
}

void Field::SetBytes(std::string_view bytes)
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    impl.CheckWritable(f);
    std::string stored(bytes.substr(0, f.width));
    stored.resize(f.width, ' ');
    impl.Store(f, stored);
}

void Field::SetInteger(std::int64_t value)
{
    Table::Impl& impl = Require(table_->impl_, *table_);
    const FieldInfo& f = impl.header.fields[index_];
    if (f.type == 'D')
        impl.Fail(ErrorKind::BadValue, "pole " + f.name + ": liczba nie jest datą");
    SetString(std::to_string(value));
}

void Field::SetVariant(const Variant& value)
{
    if (std::holds_alternative<std::monostate>(value)) {
        Clear();
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        SetString(*text);
    } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        SetInteger(*integer);
    } else if (const auto* number = std::get_if<double>(&value)) {
        if (!std::isfinite(*number)) {
            Table::Impl& impl = Require(table_->impl_, *table_);
            impl.Fail(ErrorKind::BadValue, "pole " + Name() + ": wartość nie jest liczbą");
        }
        // The number's 15 significant digits (as STR and ROUND take them), written out without an
        // exponent; the field then rounds that text once, half away from zero, to its decimals.
        // (Rounding first to two decimals more made 0.12496 into 0.13.) The buffer holds the largest
        // double in full (309 digits), or the smallest to its 15th digit (some 340 decimals).
        // Most numbers (an archive's quantity of two decimals always) have a shortest exact form of
        // at most 15 significant digits, and that form is then their 15-digit rounding itself; only
        // the others take the slower rounding to a given number of digits.
        char buffer[400];
        std::to_chars_result out =
            std::to_chars(buffer, buffer + sizeof buffer, *number, std::chars_format::fixed);
        if (out.ec != std::errc{} ||
            SignificantDigits(std::string_view(buffer, static_cast<std::size_t>(out.ptr - buffer))) > 15) {
            char scientific[32];
            const auto sci = std::to_chars(scientific, scientific + sizeof scientific, *number,
                                           std::chars_format::scientific, 14);
            int exponent = 0;
            if (const char* e = std::find(scientific, sci.ptr, 'e'); sci.ec == std::errc{} && e != sci.ptr)
                std::from_chars(e + (e[1] == '+' ? 2 : 1), sci.ptr, exponent);
            out = std::to_chars(buffer, buffer + sizeof buffer, *number, std::chars_format::fixed,
                                std::max(14 - exponent, 0));
        }
        if (out.ec != std::errc{}) {
            Table::Impl& impl = Require(table_->impl_, *table_);
            impl.Fail(ErrorKind::BadValue, "pole " + Name() + ": liczba nie mieści się w polu");
        }
        SetString(std::string_view(buffer, static_cast<std::size_t>(out.ptr - buffer)));
    } else if (const auto* flag = std::get_if<bool>(&value)) {
        SetString(*flag ? "T" : "F");
    }
}

// Creation.

void CreateTable(const std::string& directory, const std::string& tableName,
                 const std::vector<FieldDefinition>& fields,
                 const std::vector<TagDefinitionByExpression>& tags, std::uint8_t languageDriver,
                 std::size_t indexPagesPerBlock)
{
    const std::string path = directory + platform::kSeparator + tableName;
    if (!MdxBlockPagesAllowed(indexPagesPerBlock))
        throw Error(ErrorKind::BadValue, "Tabela " + path +
                                             ": niedozwolony rozmiar bloku indeksu (stron w bloku: " +
                                             std::to_string(indexPagesPerBlock) + ")");
    DbfHeader header;
    header.languageDriver = languageDriver != 0 ? languageDriver : CurrentSettings().languageDriver;
    const auto driver = DriverFromId(header.languageDriver);
    if (!driver)
        throw Error(ErrorKind::BadValue,
                    "Tabela " + path + ": nieznany sterownik języka " + Hex(header.languageDriver));
    std::size_t offset = 1;
    bool memo = false;
    for (const FieldDefinition& d : fields) {
        FieldInfo f;
        f.name = AsciiUpper(d.name).substr(0, 10);
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(d.type)));
        f.width = f.type == 'D' ? 8 : f.type == 'L' ? 1 : f.type == 'M' ? 10 : d.width;
        f.decimals = d.decimals;
        f.offset = offset;
        memo = memo || f.type == 'M';
        offset += f.width;
        for (const auto& t : tags)
            if (AsciiUpper(t.expression) == f.name)
                f.ownTag = true;
        header.fields.push_back(f);
    }
    header.recordLength = offset;
    header.hasProductionIndex = !tags.empty();
    header.version = memo ? 0x8B : 0x03;
    header.headerLength = kDbfHeaderSize + kDbfFieldSize * header.fields.size() + 1;
    // Check the layout the way Open will.
    std::vector<unsigned char> bytes = BuildDbfHeader(header, 2000, 1, 1);
    DbfHeader check;
    std::string why;
    if (!ParseDbfHeader(bytes, static_cast<std::int64_t>(bytes.size()), &check, &why))
        throw Error(ErrorKind::BadValue, "Tabela " + path + ": niepoprawny układ pól: " + why);
    const platform::LocalDate today = platform::Today();
    bytes = BuildDbfHeader(header, today.year, today.month, today.day);
    bytes.push_back(static_cast<unsigned char>(kDbfFileEnd));

    // What the index can hold, before anything is written: dBase's own limits on tags.
    if (tags.size() > kMdxMaxTags)
        throw Error(ErrorKind::BadValue, "Tabela " + path + ": indeks może mieć najwyżej " +
                                             std::to_string(kMdxMaxTags) + " znaczników, podano " +
                                             std::to_string(tags.size()));
    std::set<std::string> tagNames;
    for (const auto& t : tags) {
        const std::string where = "Tabela " + path + ", znacznik „" + t.name + "”";
        const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
        const bool nameAllowed = !t.name.empty() && t.name.size() <= 10 && letter(t.name[0]) &&
                                 std::all_of(t.name.begin(), t.name.end(), [&](char c) {
                                     return letter(c) || (c >= '0' && c <= '9') || c == '_';
                                 });
        if (!nameAllowed)
            throw Error(ErrorKind::BadValue, where + ": nazwa znacznika to do 10 liter, cyfr i znaków _, "
                                                     "na początku litera");
        if (!tagNames.insert(AsciiUpper(t.name)).second)
            throw Error(ErrorKind::BadValue, where + ": dwa znaczniki o tej samej nazwie");
        if (t.expression.size() > kMdxMaxExpressionLength || t.forExpression.size() > kMdxMaxExpressionLength)
            throw Error(ErrorKind::BadValue, where + ": wyrażenie lub warunek FOR dłuższe niż " +
                                                 std::to_string(kMdxMaxExpressionLength) + " znaków");
    }
    std::vector<TagDefinition> definitions;
    ExpressionSettings settings;
    settings.page = driver->codePage;
    settings.compare = CompareFor(driver->keyOrder);
    settings.dateFormat = CurrentSettings().dateFormat;
    for (const auto& t : tags) {
        const std::string where = "Tabela " + path + ", znacznik " + t.name;
        std::string reason;
        auto e = Expression::Compile(t.expression, header.fields, settings, &reason);
        if (!e)
            throw Error(ErrorKind::BadValue, where + " (wyrażenie „" + t.expression + "”): " + reason);
        if (!t.forExpression.empty()) {
            auto condition = Expression::Compile(t.forExpression, header.fields, settings, &reason);
            if (!condition || condition->ResultType() != Value::Type::Logical)
                throw Error(ErrorKind::BadValue, where + " (warunek FOR „" + t.forExpression + "”): " +
                                                     (condition ? "warunek nie jest logiczny" : reason));
        }
        TagDefinition d{t.name, t.expression, 'C', 0, t.descending, t.unique, t.forExpression};
        switch (e->ResultType()) {
        case Value::Type::Num:
            d.keyType = 'N';
            d.keyLength = kNumericKeyLength;
            break;
        case Value::Type::Date:
            d.keyType = 'D';
            d.keyLength = kDateKeyLength;
            break;
        case Value::Type::Char:
            d.keyLength = e->ResultWidth();
            if (d.keyLength == 0 || d.keyLength > kMaxCharKeyLength)
                throw Error(ErrorKind::BadValue,
                            where + ": niedozwolona długość klucza " + std::to_string(d.keyLength));
            break;
        case Value::Type::Logical:
            throw Error(ErrorKind::BadValue, where + ": klucz indeksu nie może być wartością logiczną");
        }
        definitions.push_back(d);
    }

    platform::OpenFailure failure = platform::OpenFailure::None;
    auto file = platform::CreateLocked(path, &failure);
    if (!file || !file->WriteAt(0, bytes.data(), bytes.size()))
        throw WriteFailure("Nie można utworzyć tabeli " + path);
    if (!definitions.empty()) {
        std::string base = tableName;
        const auto dot = base.rfind('.');
        if (dot != std::string::npos)
            base.erase(dot);
        const bool lower = !tableName.empty() && dot != std::string::npos &&
                           std::islower(static_cast<unsigned char>(tableName[dot + 1]));
        const std::string mdxPath = directory + platform::kSeparator + base + (lower ? ".mdx" : ".MDX");
        auto index = platform::CreateLocked(mdxPath, &failure);
        if (!index)
            throw WriteFailure("Nie można utworzyć indeksu " + mdxPath);
        CreateMdx(*index, base, definitions, indexPagesPerBlock);
    }
}

std::vector<std::string> VerifyDirectory(const std::string& directory, std::size_t* tablesChecked)
{
    std::vector<std::string> problems;
    std::error_code ec;
    const std::filesystem::path root = platform::NativePath(platform::ResolveCaseInsensitive(directory));
    if (!std::filesystem::is_directory(root, ec)) {
        problems.push_back("Brak katalogu " + directory);
        return problems;
    }
    std::vector<std::filesystem::path> tables;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && AsciiUpper(platform::Utf8Path(it->path().extension())) == ".DBF")
            tables.push_back(it->path());
    }
    std::sort(tables.begin(), tables.end());
    if (tablesChecked != nullptr)
        *tablesChecked = tables.size();
    for (const auto& p : tables) {
        Table table(platform::Utf8Path(p.parent_path()), platform::Utf8Path(p.filename()));
        try {
            table.Open();
            for (std::string& problem : table.Verify())
                problems.push_back(std::move(problem));
        } catch (const Error& e) {
            problems.push_back(e.what());
        }
    }
    return problems;
}

Recovery RecoverJournal(const std::string& directory, const std::vector<Table*>& held, bool checkContents)
{
    std::vector<HeldFile> files;
    for (Table* table : held) {
        if (!table->impl_)
            continue;
        Table::Impl& impl = *table->impl_;
        if (impl.dbf->HasPendingChanges() || (impl.mdxFile && impl.mdxFile->HasPendingChanges()))
            impl.Fail(ErrorKind::BadState, "tabela ma niezatwierdzone zmiany; nie można wycofywać dziennika");
        files.push_back({impl.dbf->Path(), &impl.dbf->Own()});
        if (impl.mdxFile)
            files.push_back({impl.mdxFile->Path(), &impl.mdxFile->Own()});
    }
    Recovery recovery = RecoverJournalWith(directory, files, checkContents);
    if (recovery.rolledBack) {
        for (Table* table : held)
            if (table->impl_)
                table->impl_->Reload();
    }
    return recovery;
}

std::vector<TagDescription> DescribeTags(const std::string& directory, const std::string& tableName)
{
    const std::string path = directory + platform::kSeparator + tableName;
    platform::OpenFailure failure = platform::OpenFailure::None;
    auto dbf = platform::OpenLocked(path, platform::ShareMode::ReadOnly, &failure);
    if (!dbf)
        throw Error(ErrorKind::NotFound, "Brak tabeli " + path);
    const std::int64_t size = dbf->Size();
    std::vector<unsigned char> head(kDbfHeaderSize);
    if (size < static_cast<std::int64_t>(kDbfHeaderSize) ||
        dbf->ReadAt(0, head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
        throw Error(ErrorKind::BadTable, "Tabela " + path + ": to nie jest tabela dBase");
    const std::size_t headerLength = static_cast<std::size_t>(head[8] | head[9] << 8);
    if (headerLength > kDbfHeaderSize && static_cast<std::int64_t>(headerLength) <= size) {
        head.resize(headerLength);
        dbf->ReadAt(0, head.data(), head.size());
    }
    DbfHeader header;
    std::string why;
    if (!ParseDbfHeader(head, size, &header, &why))
        throw Error(ErrorKind::BadTable, "Tabela " + path + ": " + why);
    std::vector<TagDescription> tags;
    if (!header.hasProductionIndex)
        return tags;
    const auto driver = DriverFromId(header.languageDriver);
    if (!driver)
        throw Error(ErrorKind::BadTable,
                    "Tabela " + path + ": nieznany sterownik języka " + Hex(header.languageDriver));
    std::string base = tableName;
    if (const auto dot = base.rfind('.'); dot != std::string::npos)
        base.erase(dot);
    const std::string mdxPath =
        platform::ResolveCaseInsensitive(directory + platform::kSeparator + base + ".mdx");
    auto file = platform::OpenLocked(mdxPath, platform::ShareMode::ReadOnly, &failure);
    if (!file)
        throw Error(ErrorKind::NotFound, "Tabela " + path + ": brak indeksu " + mdxPath);
    MdxIndex index(*file, mdxPath);
    index.Load();
    ExpressionSettings settings;
    settings.page = driver->codePage;
    settings.compare = CompareFor(driver->keyOrder);
    settings.dateFormat = CurrentSettings().dateFormat;
    for (const TagInfo& t : index.Tags()) {
        TagDescription d{t.name,       t.expression, t.forExpression, t.keyType, t.keyLength,
                         t.descending, t.unique,     false,           "",        {}};
        auto e = Expression::Compile(t.expression, header.fields, settings, &why);
        if (!e) {
            d.problem = "nie można obliczyć wyrażenia: " + why;
        } else if (!((t.keyType == 'C' && e->ResultType() == Value::Type::Char) ||
                     (t.keyType == 'N' && e->ResultType() == Value::Type::Num) ||
                     (t.keyType == 'D' && e->ResultType() == Value::Type::Date))) {
            d.problem = "typ wyrażenia nie zgadza się z typem klucza " + std::string(1, t.keyType);
        } else if (!t.forExpression.empty()) {
            auto condition = Expression::Compile(t.forExpression, header.fields, settings, &why);
            if (!condition)
                d.problem = "nie można obliczyć warunku FOR: " + why;
            else if (condition->ResultType() != Value::Type::Logical)
                d.problem = "warunek FOR nie jest logiczny";
        }
        d.maintained = d.problem.empty();
        if (d.maintained)
            for (const std::size_t f : e->FieldsUsed())
                d.keyFields.push_back(header.fields[f].name);
        tags.push_back(std::move(d));
    }
    return tags;
}

} // namespace engine
