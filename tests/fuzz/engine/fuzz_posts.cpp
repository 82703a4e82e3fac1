// libFuzzer target: sequences of posts in transactions. The input's first byte chooses the setup
// (an exclusive open, alone or in a transaction, or a shared one in a transaction; the sole-writer
// setting; a memory limit so small that the transaction writes its changes out ahead of the
// commit; two shared opens of the table taking turns; the index block size), every further byte or
// few an action: an append, an edit of one field, a deletion, a recall, a commit or a rollback.
// Keys are drawn from a few values, so that unique tags meet their keys again and again. Findings,
// besides a crash or another exception:
// - a tag that disagrees with the rows (the check, after every commit and rollback and at the end);
// - a rollback that does not give back the table and index files of the last commit byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/error.h"
#include "engine/table.h"
#include "engine/transaction.h"

namespace {

const std::string& Dir()
{
    static const std::string dir = [] {
        const auto path =
            std::filesystem::temp_directory_path() / ("kerg-fuzz-posts-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return dir;
}

std::string Bytes(const std::string& name)
{
    std::ifstream in(Dir() + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Files()
{
    return Bytes("p.dbf") + '|' + Bytes("p.mdx");
}

[[noreturn]] void Finding(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

void ExpectSound(engine::Table& table, const char* when)
{
    const std::vector<std::string> problems = table.Verify();
    if (!problems.empty())
        Finding(std::string("unsound ") + when + ": " + problems.front());
}

// The input, read a byte at a time; zeros once it is used up.
struct Input
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool More() const { return at < size; }
    unsigned Next() { return at < size ? data[at++] : 0; }
};

void SetField(engine::Table& table, unsigned which, unsigned value)
{
    static const char* const names[] = {"Nowak", "nowak", "\xAF\xF3\xB3w", "", "Kowal", "\xA5"};
    static const char* const codes[] = {"A", "B", "X", " "};
    static const char* const dates[] = {"2020.01.05", "2019.12.31", "", "2020.01.05"};
    switch (which % 6) {
    case 0:
        table.FieldByName("NR").SetInteger(static_cast<int>(value % 9) - 4);
        break;
    case 1:
        table.FieldByName("NAZWA").SetString(names[value % 6]);
        break;
    case 2:
        table.FieldByName("KOD").SetString(codes[value % 4]);
        break;
    case 3:
        table.FieldByName("DATA").SetString(dates[value % 4]);
        break;
    case 4:
        table.FieldByName("KWOTA").SetString(std::to_string(static_cast<int>(value % 7) - 3) + ".5");
        break;
    default:
        table.FieldByName("AKTYWNY").SetString(value % 2 ? "T" : "F");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    Input in{data, std::min<std::size_t>(size, 600)};
    const unsigned setup = in.Next();
    const bool inTransaction = setup & 1;
    const bool exclusive = !inTransaction || (setup & 0x40);
    const bool twoOpens = !exclusive && (setup & 8);
    static const std::size_t pages[] = {2, 3, 8, 2};
    std::filesystem::remove(Dir() + "/p.dbf");
    std::filesystem::remove(Dir() + "/p.mdx");
    engine::CreateTable(Dir(), "p.dbf",
                        {{"NR", 'N', 3, 0},
                         {"NAZWA", 'C', 8, 0},
                         {"KOD", 'C', 1, 0},
                         {"DATA", 'D', 8, 0},
                         {"KWOTA", 'N', 6, 1},
                         {"AKTYWNY", 'L', 1, 0}},
                        {{"NAZWA", "NAZWA"},
                         {"ZYWE", "UPPER(NAZWA)", false, false, ".NOT. DELETED()"},
                         {"KOD_A", "NR", false, false, "KOD = \"A\""},
                         {"WYRAZ", "DTOS(DATA)+STR(NR,3)+IIF(AKTYWNY,\"T\",\"N\")"},
                         {"KW_DESC", "KWOTA", true, false, "KWOTA < 0 .AND. AKTYWNY"},
                         {"NR_UNIK", "NR", false, true, "KOD # \"X\""},
                         {"NAZ_UNIK", "UPPER(NAZWA)", true, true},
                         {"KOD_NR", "KOD+STR(NR,3)", false, true, ".NOT. DELETED()"},
                         {"DATA", "DATA"},
                         {"NUMER", "RECNO()"}},
                        0x64, pages[(setup >> 4) & 3]);

    std::unique_ptr<engine::Transaction> transaction;
    if (inTransaction) {
        transaction = std::make_unique<engine::Transaction>(Dir());
        transaction->SetSoleWriter(setup & 2);
        if (setup & 4)
            transaction->SetMemoryLimit(2048);
    }
    engine::Table first(Dir(), "p.dbf"), second(Dir(), "p.dbf");
    for (engine::Table* t : {&first, &second}) {
        t->SetExclusive(exclusive);
        t->SetTransaction(transaction.get());
    }
    first.Open();
    if (twoOpens)
        second.Open();
    std::string committed = Files();

    while (in.More()) {
        const unsigned action = in.Next();
        engine::Table& t = twoOpens && (action & 0x80) ? second : first;
        const auto rows = static_cast<unsigned>(t.RecordCount());
        const unsigned kind = action % 16;
        try {
            if (kind < 6 || rows == 0) {
                t.Append();
                for (unsigned f = 0; f < 6; ++f)
                    SetField(t, f, in.Next());
                t.Post();
            } else if (kind < 11) {
                t.MoveTo(1 + in.Next() % rows);
                t.Edit();
                SetField(t, kind, in.Next());
                t.Post();
            } else if (kind == 11) {
                t.MoveTo(1 + in.Next() % rows);
                t.Delete();
            } else if (kind == 12) {
                t.MoveTo(1 + in.Next() % rows);
                t.Recall();
            } else if (kind == 13 && transaction) {
                transaction->Commit();
                ExpectSound(first, "after a commit");
                committed = Files();
            } else if (kind == 14 && transaction) {
                transaction->RollBack();
                if (Files() != committed)
                    Finding("a rollback left other files than the last commit's");
                ExpectSound(first, "after a rollback");
                if (twoOpens)
                    ExpectSound(second, "after a rollback, the second open");
            }
        } catch (const engine::Error& e) {
            Finding(std::string("an action on a sound table failed: ") + e.what());
        }
    }
    ExpectSound(first, "at the end");
    if (transaction) {
        transaction->Commit();
        first.Close();
        second.Close();
        engine::Table again(Dir(), "p.dbf");
        again.Open();
        ExpectSound(again, "after the last commit, opened anew");
    }
    return 0;
}
