// libFuzzer target: a table file of arbitrary bytes, opened and scanned with every kind of binding.
//
// Input: byte 0-1 the read-buffer budget, byte 2 the first binding kind, byte 3 the moves'
// seed, then the table file itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "tests/support/test_files.h"

namespace {

constexpr char kKinds[] = {'b', 'w', 'l', 'r', 'a', 'c', 'n', 'm', 'k'};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const auto budget = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const int firstKind = data[2];
    unsigned moves = data[3];

    test_support::MemoryFiles files;
    files.Add("F.DBF", std::string(reinterpret_cast<const char*>(data + 4), size - 4));
    archive::Reader reader(files.Opener());
    reader.ResetWorkAreas();
    reader.SourceCodePage = 3;
    std::uint8_t area = 0;
    reader.OpenTable("F.DBF", area);
    if (reader.TableResult() != 0)
        return 0;

    // One variable of each kind per field, every field bound.
    const auto& fields = reader.Area(area)->descriptors;
    const std::size_t count = fields.size();
    std::vector<std::uint8_t> bytes(count);
    std::vector<std::uint16_t> words(count);
    std::vector<std::int32_t> longs(count), bin4(count);
    std::vector<double> reals(count);
    std::vector<archive::ShortString> strings(count);
    std::vector<std::int16_t> bin2(count);
    std::unique_ptr<bool[]> logicals(new bool[count]());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = fields[i].name;
        switch (kKinds[(static_cast<std::size_t>(firstKind) + i) % std::size(kKinds)]) {
        case 'b':
            reader.BindByte(name, bytes[i]);
            break;
        case 'w':
            reader.BindWord(name, words[i]);
            break;
        case 'l':
            reader.BindLong(name, longs[i]);
            break;
        case 'r':
            reader.BindReal(name, reals[i]);
            break;
        case 'a':
            reader.BindString(name, strings[i], static_cast<std::uint8_t>(1 + i % 255));
            break;
        case 'c':
            reader.BindRawString(name, strings[i], 255);
            break;
        case 'n':
            reader.BindBin2(name, bin2[i]);
            break;
        case 'm':
            reader.BindBin4(name, bin4[i]);
            break;
        default:
            reader.BindLogical(name, logicals[i]);
            break;
        }
    }
    reader.SetReadBuffer(area, budget);

    for (int i = 0; i < 5000 && !reader.IsEof(area); ++i) {
        reader.ReadRecord(area, 0);
        reader.NextRecord(area);
    }
    // Moves in every direction, each followed by a read.
    for (int i = 0; i < 64; ++i) {
        moves = moves * 1103515245u + 12345u;
        const auto target = static_cast<std::int32_t>((moves >> 8) % 200) - 20;
        if (moves & 1)
            reader.GotoRecord(area, target);
        else
            reader.SkipRecords(area, target);
        reader.ReadRecord(area, 0);
        (void)reader.CurrentRecordBytes(area);
    }
    reader.CloseAllTables();
    return 0;
}
