// A dBase table with its production index, reached by directory and file name: the operations
// the import uses (open, walk in tag order, fields by name, edit, append, post, keyed search).
// Text passes in and out in code page 1250; the table keeps its own code page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/error.h"
#include "engine/settings.h"
#include "engine/transaction.h"

namespace engine {

// A field value as a variant: empty (blank field), text (1250), integer, number or logical.
// Dates travel as text "YYYY.MM.DD".
using Variant = std::variant<std::monostate, std::string, std::int64_t, double, bool>;

class Table;

// A handle on one field of an open table. Reads give the value of the current row (of the row
// being edited in Edit or Append state, of the search values in EditKey state); writes need one
// of these states. Valid while the table stays open.
class Field
{
public:
    const std::string& Name() const;
    char Type() const;
    std::size_t Width() const;
    int Decimals() const;

    // Text without trailing blanks (leading blanks of numbers removed too); an all-blank field
    // gives "". Dates as "YYYY.MM.DD", logicals as "T" or "F".
    std::string AsString() const;
    // The value as an integer: numbers rounded towards zero, blank = 0; text that is no number
    // is an error naming the field.
    std::int64_t AsInteger() const;
    Variant AsVariant() const;

    // Text is cut to a character field's width; a number that does not fit its width, or text
    // that is no valid value for the field's type, is an error naming field and table.
    void SetString(std::string_view text1250);
    void SetInteger(std::int64_t value);
    void SetVariant(const Variant& value);
    void Clear();
    // The field's bytes exactly as stored (its width, in the table's own code page), without any
    // conversion or check: for tools that copy rows between tables of one layout, and for tests.
    void SetBytes(std::string_view bytes);

private:
    friend class Table;
    Field(Table* table, std::size_t index) : table_(table), index_(index) {}
    Table* table_;
    std::size_t index_;
};

// Field layout for CreateTable.
struct FieldDefinition
{
    std::string name;
    char type = 'C';
    std::size_t width = 0;
    int decimals = 0;
};

// Tag layout for CreateTable: the key type and length follow from the expression (a character
// key as long as the longest text the expression can give, at most 100 bytes).
struct TagDefinitionByExpression
{
    std::string name;
    std::string expression;
    bool descending = false;
    bool unique = false;
    std::string forExpression = {}; // a FOR clause: the tag holds only the rows that meet it
};

inline constexpr std::size_t kMaxCharKeyLength = 100;

class Table
{
public:
    Table(std::string directory, std::string tableName);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Set before Open.
    void SetExclusive(bool exclusive);
    bool Exclusive() const { return exclusive_; }

    // Set before Open: at most this many blocks of the index kept in memory (0: the engine's
    // default, 128 MB worth). For machines short of memory, and for checks of the engine.
    void SetIndexMemory(std::size_t blocks);

    // Joins a transaction (nullptr: none); before Open or while open and not editing. In a
    // transaction the table's changes wait in memory and reach its files at the commit; a shared
    // open keeps the update lock from its first change to the end of the commit, so that no other
    // program changes the table in between. The transaction must outlive the table's part in it.
    void SetTransaction(Transaction* transaction);

    // The current tag ("" for physical order). While open, the current row stays current.
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return indexName_; }

    // Opens the table and its production index and positions on the first row. Errors: missing
    // directory, file or tag; not a dBase table; unknown code page; a tag whose expression the
    // engine cannot evaluate; the table open elsewhere (Exclusive) or held exclusively elsewhere.
    void Open();
    void Close();
    bool Active() const;

    void First();
    void Next();
    bool Eof() const;
    // Makes row `record` (1-based, deleted or not) the current one, as a walk in the current tag
    // would reach it. Error when the table has no such row.
    void MoveTo(std::uint32_t record);
    // Rows in the file, deleted ones included.
    std::int64_t RecordCount() const;
    // 1-based number of the current row, 0 when none.
    std::uint32_t RecNo() const;

    Field FieldByName(std::string_view name);
    std::size_t FieldCount() const;
    Field FieldAt(std::size_t index);

    void Edit();
    void Append();
    // Marks the current row deleted, or takes the mark away, and stores it at once (its tags follow,
    // those whose FOR clause asks DELETED() included). The row stays current.
    void Delete();
    void Recall();
    // Stores the row: it and the header's record count are in the file when Post returns.
    void Post();
    void Cancel();

    // Keyed search in the current tag: EditKey, then assign the tag's fields, then GotoKey.
    void EditKey();
    // True and positioned on the first matching row in tag order; false (position unchanged)
    // when none matches.
    bool GotoKey();

    // Rebuilds every tag of the production index from the records.
    void Reindex();
    // Checks every tag against the records: each holds exactly its records' keys, in order.
    // Returns the problems in plain words (empty when sound).
    std::vector<std::string> Verify();
    // What Verify checks that no collation or key evaluation decides, quickly, without reading the
    // records: each tag's tree (inside the file, no loops, leaves at one depth, no node over a tag
    // header) and the record numbers it holds (none beyond the table's count, none twice, and
    // every record in a tag with neither FOR clause nor unique flag). A table failing it must not
    // be written: its index would send a new row onto a live one or find a row twice.
    // The tags named in `searched` (a program finds rows by them) are also checked against the
    // records' keys, as Verify does, but not for their order: an entry that a row's change left
    // under its old key would send a search past the row, or onto another.
    std::vector<std::string> CheckIndexEntries(const std::vector<std::string>& searched = {});

    // A reader's hold on a shared open: the update lock, kept until ReleaseHold (or Close), with the
    // header and the index counters read anew under it. A writer in a transaction keeps the locks
    // of all its tables from its first change to the end of the commit, so a reader holding every
    // table it reads sees the state of one commit, whole. With `wait` it waits for the lock;
    // without, it is false at once (nothing held) when another open holds it. A reader that holds
    // one table and cannot get the next must let go of the first before it waits again. An
    // exclusive open holds it always.
    bool Hold(bool wait);
    void ReleaseHold();

    // "directory/name" with the native separator.
    std::string Path() const;

    struct Impl;

private:
    friend class Field;
    friend Recovery RecoverJournal(const std::string& directory, const std::vector<Table*>& held,
                                   bool checkContents);
    std::string directory_;
    std::string tableName_;
    std::string indexName_;
    bool exclusive_ = false;
    std::size_t indexMemory_ = 0;
    Transaction* transaction_ = nullptr;
    std::unique_ptr<Impl> impl_;
};

// Creates a table (and, with tags, its production index) in `directory`, replacing a file of
// the same name. `languageDriver` 0 takes the configured driver's id. The index is made of blocks
// of `indexPagesPerBlock` pages of 512 bytes (2 to 63), as dBase's block size setting makes them.
void CreateTable(const std::string& directory, const std::string& tableName,
                 const std::vector<FieldDefinition>& fields,
                 const std::vector<TagDefinitionByExpression>& tags, std::uint8_t languageDriver = 0,
                 std::size_t indexPagesPerBlock = 2);

// One tag of a table's production index, as `DescribeTags` finds it.
struct TagDescription
{
    std::string name;
    std::string expression;
    std::string forExpression; // empty: none
    char keyType = 'C';        // C, N or D
    std::size_t keyLength = 0;
    bool descending = false;
    bool unique = false;
    bool maintained = false;            // the engine evaluates it and keeps it on every post
    std::string problem;                // why not, in plain words
    std::vector<std::string> keyFields; // the fields its key reads (when it is maintained)
};

// The tags of a table's production index, read without opening the table for work: a tag the
// engine cannot keep is listed with its reason (such a table refuses to open). Error when the
// table or its index cannot be read at all.
std::vector<TagDescription> DescribeTags(const std::string& directory, const std::string& tableName);

// Checks every table under `directory` (recursively): it opens, and every tag holds exactly its
// records' keys in order. Returns the problems in plain words, each naming its table; `tables`
// gets the number of tables checked.
std::vector<std::string> VerifyDirectory(const std::string& directory, std::size_t* tables = nullptr);

} // namespace engine
