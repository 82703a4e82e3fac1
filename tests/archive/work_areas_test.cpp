// Work areas and tables: opening, the read-ahead window, moves, result codes, damaged headers.
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "archive/reader.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"

namespace {

using archive::Reader;
using test_support::MemoryFiles;
using writers::DbfField;
using writers::DbfWriter;

// A table of `count` records with a 4-digit number field NR holding the record number
// (1-based) and a 6-byte text field.
DbfWriter Numbered(int count)
{
    DbfWriter table({{"NR", 'N', 4, 0}, {"TEKST", 'C', 6, 0}});
    for (int i = 1; i <= count; ++i)
        table.Add({std::to_string(i), "r" + std::to_string(i)});
    return table;
}

class WorkAreasTest : public ::testing::Test
{
protected:
    // Registers a table and makes the reader that opens it.
    std::shared_ptr<test_support::MemoryFileState> Table(const std::string& name, const std::string& bytes)
    {
        return files_.Add(name, bytes);
    }

    Reader& R()
    {
        if (!reader_) {
            reader_ = std::make_unique<Reader>(files_.Opener());
            reader_->ResetWorkAreas();
        }
        return *reader_;
    }

    std::uint8_t Open(const std::string& name)
    {
        std::uint8_t area = 0;
        R().OpenTable(name, area);
        return area;
    }

    // Opens, binds NR as a long and returns the area.
    std::uint8_t OpenNumbered(const std::string& name)
    {
        const std::uint8_t area = Open(name);
        EXPECT_EQ(R().TableResult(), 0);
        R().BindLong("nr", nr_);
        EXPECT_EQ(R().TableResult(), 0);
        return area;
    }

    // The NR of the current record, or -999 when the read failed.
    int CurrentNr(std::uint8_t area)
    {
        nr_ = -999;
        R().ReadRecord(area, 0);
        return R().TableResult() == 0 ? nr_ : -999;
    }

    MemoryFiles files_;
    std::unique_ptr<Reader> reader_;
    std::int32_t nr_ = 0;
};

TEST_F(WorkAreasTest, OpensOnRecordZeroAndScansEveryRecord)
{
    Table("T.DBF", Numbered(5).Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    EXPECT_EQ(area, 1);
    EXPECT_EQ(R().CurrentArea(), 1);
    R().SetReadBuffer(area, 32000);
    EXPECT_EQ(R().TableResult(), 0);
    std::vector<int> seen;
    while (!R().IsEof(area)) {
        R().ReadRecord(area, 0);
        ASSERT_EQ(R().TableResult(), 0);
        seen.push_back(nr_);
        R().NextRecord(area);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
    // The last move went past the end: result 5, eof, and the current record stays the last.
    EXPECT_EQ(R().Area(area)->currentRecord, 4);
    R().NextRecord(area);
    EXPECT_EQ(R().TableResult(), archive::kTableEnd);
}

TEST_F(WorkAreasTest, EmptyTableIsAtEofAndReadGivesEnd)
{
    Table("E.DBF", Numbered(0).Bytes());
    const std::uint8_t area = OpenNumbered("E.DBF");
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_TRUE(R().IsEof(area));
    R().ReadRecord(area, 0);
    EXPECT_EQ(R().TableResult(), archive::kTableEnd);
}

TEST_F(WorkAreasTest, NameWithoutDotGetsTheExtension)
{
    Table("dir/obreb.dbf", Numbered(1).Bytes());
    Table("d.ir/obreb", Numbered(2).Bytes());
    Open("dir/obreb");
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_EQ(files_.Opens("dir/obreb.dbf"), 1);
    // A dot in the directory part suppresses the extension.
    const std::uint8_t area = Open("d.ir/obreb");
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_EQ(R().Area(area)->RecordCount(), 2);
    EXPECT_EQ(files_.Opens("d.ir/obreb.dbf"), 0);
}

TEST_F(WorkAreasTest, MissingFileGivesTwoAndLeavesTheAreaFree)
{
    const std::uint8_t area = Open("NONE.DBF");
    EXPECT_EQ(R().TableResult(), archive::kTableCannotOpen);
    EXPECT_TRUE(R().Area(area)->free);
}

TEST_F(WorkAreasTest, AllAreasInUse)
{
    Table("T.DBF", Numbered(1).Bytes());
    for (int i = 1; i <= 100; ++i)
        ASSERT_EQ(Open("T.DBF"), i);
    std::uint8_t area = 0;
    R().OpenTable("T.DBF", area);
    EXPECT_EQ(R().TableResult(), archive::kTableBadArea);
    EXPECT_EQ(R().CurrentArea(), 100);
    // An explicit area above 100 is refused too.
    area = 101;
    R().OpenTable("T.DBF", area);
    EXPECT_EQ(R().TableResult(), archive::kTableBadArea);
    // Closing one frees exactly that one.
    R().CloseTable(37);
    EXPECT_EQ(Open("T.DBF"), 37);
    R().CloseAllTables();
    for (int i = 1; i <= 100; ++i)
        EXPECT_TRUE(R().Area(i)->free);
}

TEST_F(WorkAreasTest, ExplicitAreaClosesWhatWasThere)
{
    Table("A.DBF", Numbered(3).Bytes());
    Table("B.DBF", Numbered(7).Bytes());
    std::uint8_t area = 5;
    R().OpenTable("A.DBF", area);
    EXPECT_EQ(R().Area(5)->RecordCount(), 3);
    R().OpenTable("B.DBF", area);
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_EQ(area, 5);
    EXPECT_EQ(R().Area(5)->RecordCount(), 7);
}

TEST_F(WorkAreasTest, GotoOutsideTheTable)
{
    Table("T.DBF", Numbered(10).Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    R().GotoRecord(area, 3);
    ASSERT_EQ(CurrentNr(area), 4);

    R().GotoRecord(area, -1);
    EXPECT_EQ(R().TableResult(), archive::kTableNegativeRecord);
    EXPECT_FALSE(R().IsEof(area));
    EXPECT_EQ(CurrentNr(area), 4);

    R().GotoRecord(area, 10);
    EXPECT_EQ(R().TableResult(), archive::kTableEnd);
    EXPECT_TRUE(R().IsEof(area));
    EXPECT_EQ(R().Area(area)->currentRecord, 3);

    // A successful move clears eof again.
    R().GotoRecord(area, 9);
    EXPECT_FALSE(R().IsEof(area));
    EXPECT_EQ(CurrentNr(area), 10);

    // Skips far beyond the 32-bit range end the table or are negative, never wrap.
    R().SkipRecords(area, 2147483647);
    EXPECT_EQ(R().TableResult(), archive::kTableEnd);
    R().GotoRecord(area, 0);
    R().SkipRecords(area, -2147483647 - 1);
    EXPECT_EQ(R().TableResult(), archive::kTableNegativeRecord);
}

TEST_F(WorkAreasTest, WindowServesForwardMovesAndReloadsOtherwise)
{
    const DbfWriter table = Numbered(1000);
    auto state = Table("T.DBF", table.Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    // 32000 div 11-byte records.
    R().SetReadBuffer(area, 32000);
    EXPECT_EQ(R().Area(area)->windowCapacity, 32000 / 11);
    const int readsAfterLoad = state->reads;

    for (int i = 1; i < 100; ++i)
        R().NextRecord(area);
    EXPECT_EQ(CurrentNr(area), 100);
    EXPECT_EQ(state->reads, readsAfterLoad) << "moves inside the window read nothing";

    // One record backwards past the window's start reloads from there.
    R().GotoRecord(area, 50);
    R().GotoRecord(area, 50); // the window now starts at record 50
    const int before = state->reads;
    R().NextRecord(area);
    EXPECT_EQ(state->reads, before);
    R().SkipRecords(area, -2);
    EXPECT_EQ(state->reads, before + 1);
    EXPECT_EQ(CurrentNr(area), 50);

    // Going to the record one is on re-reads it.
    const int again = state->reads;
    R().GotoRecord(area, 49);
    EXPECT_EQ(state->reads, again + 1);

    // A jump past the window reloads at the target.
    R().GotoRecord(area, 999);
    EXPECT_EQ(CurrentNr(area), 1000);
}

TEST_F(WorkAreasTest, RereadSeesChangesMadeToTheFile)
{
    auto state = Table("T.DBF", Numbered(3).Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    R().SetReadBuffer(area, 32000);
    R().GotoRecord(area, 1);
    ASSERT_EQ(CurrentNr(area), 2);
    // Overwrite record 2's number in the file; the window still holds the old one.
    DbfWriter changed = Numbered(3);
    const std::string bytes = changed.Bytes();
    const std::size_t at = changed.HeaderLength() + changed.RecordLength() * 1u + 1;
    state->bytes.replace(at, 4, "  42");
    R().NextRecord(area);
    R().SkipRecords(area, -1);
    EXPECT_EQ(CurrentNr(area), 2) << "still inside the window";
    R().GotoRecord(area, 1);
    EXPECT_EQ(CurrentNr(area), 42);
}

// With TableImageLimit a table is read whole at open: moves anywhere read nothing more, the records
// read as they do from the file, a changed stamp makes the next window load read the file again, and
// a table above the limit is read window by window.
TEST_F(WorkAreasTest, ATableReadWholeAtOpenServesEveryMoveFromMemory)
{
    R().TableImageLimit = 1 << 20;
    R().StampCheckInterval = std::chrono::milliseconds(0);
    auto state = Table("T.DBF", Numbered(1000).Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    R().SetReadBuffer(area, 32000);
    const int readsAfterOpen = state->reads;
    // A window that reaches past the end of the file is read in the image as well (the blanks
    // after the file), not copied out of it.
    R().GotoRecord(area, 999);
    const archive::WorkArea* loaded = R().Area(area);
    EXPECT_TRUE(loaded->windowBytes >= loaded->image.data() &&
                loaded->windowBytes < loaded->image.data() + loaded->image.size());
    for (const int record : {999, 0, 500, 499, 499, 7, 998}) {
        R().GotoRecord(area, record);
        EXPECT_EQ(CurrentNr(area), record + 1);
    }
    R().GotoRecord(area, 1000);
    EXPECT_EQ(R().TableResult(), archive::kTableEnd);
    EXPECT_EQ(state->reads, readsAfterOpen) << "every move served from memory";

    // Record 2 changed in the file: seen at the next load once the stamp says so.
    const DbfWriter layout = Numbered(1);
    state->bytes.replace(layout.HeaderLength() + layout.RecordLength() * 1u + 1, 4, "  42");
    R().GotoRecord(area, 1);
    EXPECT_EQ(CurrentNr(area), 2) << "same stamp: the image stands";
    state->stamp = 2;
    R().GotoRecord(area, 1);
    EXPECT_EQ(CurrentNr(area), 42);
    EXPECT_EQ(state->reads, readsAfterOpen + 1) << "read whole again, once";

    // A record count beyond the file: records past its end read as spaces (a number field of
    // spaces reads as 0), as from the file.
    DbfWriter shortTable = Numbered(4);
    std::string bytes = shortTable.Bytes();
    bytes.resize(shortTable.HeaderLength() + 2u * shortTable.RecordLength());
    Table("S.DBF", bytes);
    const std::uint8_t shortArea = OpenNumbered("S.DBF");
    R().SetReadBuffer(shortArea, 32000);
    R().GotoRecord(shortArea, 1);
    EXPECT_EQ(CurrentNr(shortArea), 2);
    R().GotoRecord(shortArea, 3);
    EXPECT_EQ(CurrentNr(shortArea), 0) << "inside the window: spaces";
    R().GotoRecord(shortArea, 3); // reloads at record 4, beyond the file
    EXPECT_EQ(R().TableResult(), archive::kTableShort) << "less than a record at the window's start";

    // Above the limit: window by window.
    R().TableImageLimit = 100;
    auto big = Table("B.DBF", Numbered(1000).Bytes());
    const std::uint8_t bigArea = OpenNumbered("B.DBF"); // a window of one record
    const int bigReads = big->reads;
    R().GotoRecord(bigArea, 900);
    R().GotoRecord(bigArea, 10);
    EXPECT_EQ(CurrentNr(bigArea), 11);
    EXPECT_EQ(big->reads, bigReads + 2);
    EXPECT_TRUE(R().Area(bigArea)->image.empty());
}

TEST_F(WorkAreasTest, PartlyFilledLastWindowReadsSpacesPastTheFile)
{
    // Record count says 4 but the file holds only 2 whole records.
    DbfWriter table = Numbered(2);
    std::string bytes = table.Bytes();
    bytes[4] = 4;
    bytes.pop_back(); // no end-of-file mark either
    Table("T.DBF", bytes);
    const std::uint8_t area = OpenNumbered("T.DBF");
    R().SetReadBuffer(area, 32000);
    // Record 3 lies inside the window loaded at record 0, past the end of the file: spaces.
    R().GotoRecord(area, 2);
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_EQ(CurrentNr(area), 0);
    EXPECT_EQ(R().CurrentRecordBytes(area), std::string(11, ' '));
    // Going there again loads a window at record 3: less than one record arrives.
    R().GotoRecord(area, 2);
    EXPECT_EQ(R().TableResult(), archive::kTableShort);
    // Nothing is loaded now; a read changes nothing and says so.
    nr_ = 77;
    R().ReadRecord(area, 0);
    EXPECT_NE(R().TableResult(), 0);
    EXPECT_EQ(nr_, 77);
}

TEST_F(WorkAreasTest, DeletedRecordsReadLikeOthers)
{
    DbfWriter table({{"NR", 'N', 3, 0}});
    table.Add({"1"});
    table.Add({"2"}, true);
    Table("D.DBF", table.Bytes());
    const std::uint8_t area = OpenNumbered("D.DBF");
    R().NextRecord(area);
    EXPECT_EQ(CurrentNr(area), 2);
    EXPECT_EQ(R().CurrentRecordBytes(area).substr(0, 1), "*");
}

TEST_F(WorkAreasTest, PerAreaCallsOnFreeOrBadAreas)
{
    Table("T.DBF", Numbered(2).Bytes());
    const std::uint8_t area = OpenNumbered("T.DBF");
    R().GotoRecord(area, -5);
    ASSERT_EQ(R().TableResult(), archive::kTableNegativeRecord);
    // A free area: nothing happens, the previous result stays.
    R().GotoRecord(50, 1);
    R().NextRecord(50);
    R().ReadRecord(50, 0);
    R().SkipRecords(50, 3);
    EXPECT_EQ(R().TableResult(), archive::kTableNegativeRecord);
    EXPECT_TRUE(R().IsEof(50));
    EXPECT_EQ(R().TableResult(), 0);
    // Outside 1..100.
    for (int bad : {0, 101, -1, 255}) {
        R().GotoRecord(bad, 0);
        EXPECT_EQ(R().TableResult(), archive::kTableBadArea) << bad;
        EXPECT_TRUE(R().IsEof(bad));
        EXPECT_EQ(R().TableResult(), archive::kTableBadArea);
        R().CloseTable(bad);
        EXPECT_EQ(R().TableResult(), archive::kTableBadArea);
        R().SetReadBuffer(bad, 100);
        EXPECT_EQ(R().TableResult(), archive::kTableBadArea);
    }
    // The per-area calls restore the current area.
    Table("U.DBF", Numbered(2).Bytes());
    const std::uint8_t second = Open("U.DBF");
    R().NextRecord(area);
    EXPECT_EQ(R().CurrentArea(), second);
}

TEST_F(WorkAreasTest, ReadBufferBudgets)
{
    DbfWriter wide({{"A", 'C', 255, 0}, {"B", 'C', 44, 0}}); // 300-byte records
    for (int i = 0; i < 200; ++i)
        wide.Add({"x", "y"});
    Table("W.DBF", wide.Bytes());
    const std::uint8_t area = Open("W.DBF");
    R().SetReadBuffer(area, 32000);
    EXPECT_EQ(R().Area(area)->windowCapacity, 106);
    // A budget below one record changes nothing and leaves the previous result.
    R().GotoRecord(area, -1);
    R().SetReadBuffer(area, 299);
    EXPECT_EQ(R().TableResult(), archive::kTableNegativeRecord);
    EXPECT_EQ(R().Area(area)->windowCapacity, 106);
    // The largest budget with one-byte records: the window index goes past 32767 safely.
    DbfWriter narrow(std::vector<DbfField>{});
    for (int i = 0; i < 40000; ++i)
        narrow.AddRaw("");
    Table("N.DBF", narrow.Bytes());
    const std::uint8_t n = Open("N.DBF");
    R().SetReadBuffer(n, 65535);
    EXPECT_EQ(R().Area(n)->windowCapacity, 65535);
    R().GotoRecord(n, 39999);
    EXPECT_EQ(R().TableResult(), 0);
    EXPECT_EQ(R().Area(n)->windowIndex, 39999);
    EXPECT_EQ(R().CurrentRecordBytes(n), " ");
}

TEST_F(WorkAreasTest, DescriptorsAndOffsets)
{
    // Header length 32 * 5 + 1: four fields, the first at offset 1.
    DbfWriter table({{"A", 'C', 3, 0}, {"B", 'N', 5, 2}, {"C", 'D', 8, 0}, {"D", 'L', 1, 0}});
    std::string bytes = table.Bytes();
    ASSERT_EQ(table.HeaderLength(), 161);
    // An 11-byte name without NUL is known by its first ten characters.
    std::memcpy(&bytes[32], "ABCDEFGHIJK", 11);
    Table("F.DBF", bytes);
    const std::uint8_t area = Open("F.DBF");
    const auto& d = R().Area(area)->descriptors;
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].name, "ABCDEFGHIJ");
    EXPECT_EQ(d[0].offset, 1);
    EXPECT_EQ(d[1].offset, 4);
    EXPECT_EQ(d[1].type, 'N');
    EXPECT_EQ(d[1].decimals, 2);
    EXPECT_EQ(d[3].offset, 17);
    for (const auto& f : d)
        EXPECT_EQ(f.group, archive::kUnbound);
}

TEST_F(WorkAreasTest, HeaderPaddedPastItsTerminatorHasNoPhantomFields)
{
    // Header length 98 as some writers leave it: two fields, a terminator and one spare byte.
    DbfWriter table({{"KLUCZ", 'C', 8, 0}, {"NR", 'N', 6, 0}});
    table.Add({"AB", "1"});
    std::string bytes = table.Bytes();
    bytes.insert(97, 1, '\0');
    bytes[8] = 98;
    // Padding of 40 more bytes: header length div 32 would claim a third field.
    std::string padded = bytes;
    padded.insert(98, 40, '\0');
    padded[8] = static_cast<char>(138);
    Table("P.DBF", bytes);
    Table("Q.DBF", padded);
    for (const char* name : {"P.DBF", "Q.DBF"}) {
        const std::uint8_t area = Open(name);
        ASSERT_EQ(R().TableResult(), 0) << name;
        EXPECT_EQ(R().Area(area)->fieldCount, 2) << name;
        R().BindLong("NR", nr_);
        EXPECT_EQ(CurrentNr(area), 1) << name;
    }
}

// Damaged headers: every one is refused with code 3 and leaves the area free.
struct DamagedHeader
{
    const char* name;
    std::string (*damage)(std::string);
};

std::string SetU16(std::string bytes, int at, int value)
{
    bytes[static_cast<std::size_t>(at)] = static_cast<char>(value & 0xFF);
    bytes[static_cast<std::size_t>(at) + 1] = static_cast<char>(value >> 8);
    return bytes;
}

const DamagedHeader kDamagedHeaders[] = {
    {"ShorterThanItsHeader", [](std::string b) { return b.substr(0, 11); }},
    {"RecordLengthZero", [](std::string b) { return SetU16(std::move(b), 10, 0); }},
    {"HeaderLengthPastTheEnd", [](std::string b) { return SetU16(std::move(b), 8, 60000); }},
    {"HeaderLengthBelowOneBlock", [](std::string b) { return SetU16(std::move(b), 8, 20); }},
    {"FieldsRunPastTheRecord", [](std::string b) { return SetU16(std::move(b), 10, 5); }},
    {"FieldWidthRunsPastTheRecord",
     [](std::string b) {
         b[32 + 16] = static_cast<char>(250);
         return b;
     }},
};

class DamagedHeaderTest : public WorkAreasTest, public ::testing::WithParamInterface<DamagedHeader>
{};

TEST_P(DamagedHeaderTest, IsRefusedWithCodeThree)
{
    Table("X.DBF", GetParam().damage(Numbered(3).Bytes()));
    const std::uint8_t area = Open("X.DBF");
    EXPECT_EQ(R().TableResult(), archive::kTableShort);
    EXPECT_TRUE(R().Area(area)->free);
    EXPECT_TRUE(R().IsEof(area));
}

INSTANTIATE_TEST_SUITE_P(All, DamagedHeaderTest, ::testing::ValuesIn(kDamagedHeaders),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(WorkAreasTest, FileErrorsBecomeCodes)
{
    const DbfWriter table = Numbered(100);
    // A failing seek when a window must be loaded: code 4, nothing loaded.
    auto state = Table("S.DBF", table.Bytes());
    const std::uint8_t area = OpenNumbered("S.DBF");
    state->failSeekAt = table.HeaderLength() + 50 * table.RecordLength();
    R().GotoRecord(area, 50);
    EXPECT_EQ(R().TableResult(), archive::kTableSeekFailed);
    EXPECT_EQ(R().Area(area)->windowIndex, -1);
    nr_ = 5;
    R().ReadRecord(area, 0);
    EXPECT_EQ(nr_, 5);
    // A failing read: code 3.
    state->failSeekAt = -1;
    state->failReadFrom = table.HeaderLength() + 60 * table.RecordLength();
    R().GotoRecord(area, 60);
    EXPECT_EQ(R().TableResult(), archive::kTableShort);
    state->failReadFrom = -1;
    R().GotoRecord(area, 60);
    EXPECT_EQ(CurrentNr(area), 61);
}

TEST(WorkAreasOnDisk, NamesAreFoundWithoutRegardToCase)
{
    test_support::TempDir dir;
    ASSERT_TRUE(Numbered(3).Write(dir.File("ROBOTY.DBF")));
    Reader reader;
    reader.ResetWorkAreas();
    std::uint8_t area = 0;
    reader.OpenTable(dir.File("roboty"), area);
    ASSERT_EQ(reader.TableResult(), 0);
    EXPECT_EQ(reader.Area(area)->RecordCount(), 3);
    std::uint8_t other = 0;
    reader.OpenTable(dir.File("Roboty.Dbf"), other);
    EXPECT_EQ(reader.TableResult(), 0);
}

TEST(WorkAreasOnDisk, LongPathsAreUsedWhole)
{
    // A path past 255 characters is not cut (a cut path would name another file).
    test_support::TempDir dir;
    const std::string deep = dir.File(std::string(120, 'a')) + "/" + std::string(120, 'b');
    std::filesystem::create_directories(deep);
    ASSERT_TRUE(Numbered(2).Write(deep + "/T.DBF"));
    ASSERT_GT(deep.size() + 6, 255u);
    Reader reader;
    reader.ResetWorkAreas();
    std::uint8_t area = 0;
    reader.OpenTable(deep + "/T", area);
    ASSERT_EQ(reader.TableResult(), 0);
    EXPECT_EQ(reader.Area(area)->RecordCount(), 2);
}

} // namespace
