// libFuzzer target: a table and its MDX built from the input are opened, walked in physical and
// every tag's order, checked, searched and appended to. Engine errors are the expected answer to
// damaged input; anything else (a crash, a hang, another exception) is a finding. So is a table
// the check found sound that the engine's own writes leave unsound: the import writes only into
// tables that pass the check, and the records system goes on using them. And so is a problem
// the quick check finds, told to compare the keys, in a table Verify finds sound.
//
// Input: 4 bytes little-endian = length of the table file, the table file, then the MDX file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/table.h"

namespace {

const std::string& Dir()
{
    static const std::string dir = [] {
        const auto path =
            std::filesystem::temp_directory_path() / ("kerg-fuzz-engine-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return dir;
}

void Write(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(Dir() + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Walk(engine::Table& table)
{
    int rows = 0;
    for (table.First(); !table.Eof() && rows < 5000; table.Next(), ++rows)
        for (std::size_t f = 0; f < table.FieldCount(); ++f) {
            engine::Field field = table.FieldAt(f);
            field.AsString();
            field.AsVariant();
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::size_t dbfSize = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::size_t>(data[3]) << 24;
    data += 4;
    size -= 4;
    if (dbfSize > size)
        dbfSize = size;
    Write("T.DBF", data, dbfSize);
    Write("T.MDX", data + dbfSize, size - dbfSize);

    engine::Table table(Dir(), "t.dbf");
    try {
        table.Open();
        Walk(table);
        const bool sound = table.Verify().empty();
        // The quick check, told to compare every tag's keys too, finds nothing Verify does not.
        std::vector<std::string> tags;
        try {
            for (const engine::TagDescription& t : engine::DescribeTags(Dir(), "t.dbf"))
                tags.push_back(t.name);
        } catch (const engine::Error&) {}
        if (const std::vector<std::string> keyed = table.CheckIndexEntries(tags); sound && !keyed.empty()) {
            std::fprintf(stderr, "the check of keys finds what Verify does not: %s\n", keyed.front().c_str());
            std::abort();
        }
        for (const char* tag : {"TAG1", "TAG2", "TAG3", "UPP_ASORT", "UPP_NAZ_A", "TEST1", "TEST2"}) {
            try {
                table.SetIndexName(tag);
            } catch (const engine::Error&) {
                continue;
            }
            Walk(table);
            table.First();
            if (!table.Eof()) {
                // Search for the first row's own values: the search must not fail on a sound tree.
                std::vector<std::string> values;
                for (std::size_t f = 0; f < table.FieldCount(); ++f)
                    values.push_back(table.FieldAt(f).AsString());
                table.EditKey();
                for (std::size_t f = 0; f < table.FieldCount(); ++f) {
                    try {
                        table.FieldAt(f).SetString(values[f]);
                    } catch (const engine::Error&) {}
                }
                table.GotoKey();
            }
        }
        table.SetIndexName("");
        // Each change may be refused; what it leaves must be as sound as what it found.
        const auto change = [&](auto&& what) {
            try {
                what();
            } catch (const engine::Error&) {
                table.Cancel();
            }
        };
        change([&] {
            table.Append();
            if (table.FieldCount() > 0)
                table.FieldAt(0).SetString("1");
            table.Post();
        });
        change([&] {
            table.MoveTo(static_cast<std::uint32_t>(table.RecordCount()));
            table.Edit();
            for (std::size_t f = 0; f < table.FieldCount(); ++f)
                try {
                    table.FieldAt(f).SetString(f % 2 ? "" : "A2");
                } catch (const engine::Error&) {}
            table.Post();
        });
        change([&] {
            table.First();
            table.Edit();
            table.Post();
            table.Delete();
        });
        change([&] {
            table.MoveTo(1);
            table.Recall();
        });
        if (sound) {
            const std::vector<std::string> problems = table.Verify();
            if (!problems.empty()) {
                std::fprintf(stderr, "a sound table is unsound after the engine's writes: %s\n",
                             problems.front().c_str());
                std::abort();
            }
        }
    } catch (const engine::Error&) {}
    return 0;
}
