// libFuzzer target: values set through the engine's setters. Each input is a control byte and one
// text per field, separated by line feeds; the texts are set on a new row (and with the control
// byte's bits, on the same row again in an edit, or the row is deleted). A refusal (an engine
// error) is the expected answer to a text that is no value of the field. Findings: a crash, another
// exception, a value read back that does not set to itself again, or a post after which the
// table's tags disagree with its rows.
//
// Two tables, one per code page, each with tags over the fields: a plain one, expressions, a
// descending, a unique and two conditional ones.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/error.h"
#include "engine/table.h"

namespace {

const std::string& Dir()
{
    static const std::string dir = [] {
        const auto path =
            std::filesystem::temp_directory_path() / ("kerg-fuzz-values-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return dir;
}

void Create(const std::string& name, std::uint8_t driver)
{
    const std::vector<engine::FieldDefinition> fields = {
        {"T", 'C', 12, 0}, {"N", 'N', 8, 2}, {"I", 'N', 5, 0},  {"F", 'F', 6, 1}, {"D", 'D', 8, 0},
        {"L", 'L', 1, 0},  {"W", 'C', 3, 0}, {"M", 'M', 10, 0}, {"Z", 'N', 12, 3}};
    const std::vector<engine::TagDefinitionByExpression> tags = {
        {"UT", "UPPER(T)"},
        {"NN", "N"},
        {"DD", "D", true},
        {"MIX", "STR(I,5)+DTOS(D)+IIF(L,'T','N')"},
        {"UW", "W", false, true},
        {"ZF", "Z", false, false, ".NOT. DELETED()"},
        {"TF", "LOWER(T)+W", false, false, "L .AND. I > 0"}};
    engine::CreateTable(Dir(), name, fields, tags, driver);
}

// The table of one code page, created anew once it holds enough rows to slow the checks down.
engine::Table& TableFor(int which)
{
    static std::unique_ptr<engine::Table> tables[2];
    static const char* const names[2] = {"V852.DBF", "V1250.DBF"};
    static const std::uint8_t drivers[2] = {0x64, 0xC8};
    std::unique_ptr<engine::Table>& table = tables[which];
    if (table && table->RecordCount() > 300)
        table.reset();
    if (!table) {
        Create(names[which], drivers[which]);
        table = std::make_unique<engine::Table>(Dir(), names[which]);
        table->SetExclusive(true);
        table->Open();
    }
    return *table;
}

// Sets each field from its text. A value the field takes must read back as a text and a variant
// that set the field to the same value again.
void SetAll(engine::Table& table, const std::vector<std::string>& texts, std::size_t from)
{
    for (std::size_t f = 0; f < table.FieldCount(); ++f) {
        engine::Field field = table.FieldAt(f);
        const std::string& text = texts[(from + f) % texts.size()];
        try {
            field.SetString(text);
        } catch (const engine::Error&) {
            continue;
        }
        const std::string read = field.AsString();
        const engine::Variant variant = field.AsVariant();
        field.SetString(read); // a value read must be taken back: an error here escapes as a finding
        if (field.AsString() != read)
            std::abort();
        field.SetVariant(variant);
        if (field.AsString() != read)
            std::abort();
    }
}

void PostOrCancel(engine::Table& table)
{
    try {
        table.Post();
    } catch (const engine::Error&) {
        table.Cancel();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t control = data[0];
    std::vector<std::string> texts;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    for (std::size_t start = 0;;) {
        const std::size_t end = input.find('\n', start);
        texts.push_back(input.substr(start, end - start));
        if (end == std::string::npos || texts.size() == 32)
            break;
        start = end + 1;
    }
    engine::Table& table = TableFor(control & 1);
    table.Append();
    SetAll(table, texts, 0);
    if (control & 2) {
        table.Cancel();
        return 0;
    }
    PostOrCancel(table);
    if (!table.Eof() && (control & 4)) {
        table.Edit();
        SetAll(table, texts, 1 + (control >> 5));
        PostOrCancel(table);
    }
    if (!table.Eof() && (control & 8))
        table.Delete();
    if (control & 16) {
        const std::vector<std::string> problems = table.Verify();
        if (!problems.empty())
            std::abort();
    }
    return 0;
}
