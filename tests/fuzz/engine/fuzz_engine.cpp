// libFuzzer target: a table and its MDX built from the input are opened, walked in physical and
// every tag's order, checked, searched and appended to. Engine errors are the expected answer to
// damaged input; anything else (a crash, a hang, another exception) is a finding.
//
// Input: 4 bytes little-endian = length of the table file, the table file, then the MDX file.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

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
        std::vector<std::string> tags;
        for (const std::string& problem : table.Verify())
            tags.push_back(problem);
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
        table.Append();
        if (table.FieldCount() > 0)
            table.FieldAt(0).SetString("1");
        table.Post();
        table.Edit();
        table.Post();
        table.Verify();
    } catch (const engine::Error&) {}
    return 0;
}
