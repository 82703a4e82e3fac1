// libFuzzer target: the whole import over a damaged archive, or into a damaged target. A small
// sample office is written once; each input damages copies of its archive files (or of its target
// files) and runs the import into a fresh copy of its target, answering the run's questions from
// the input. A damaged archive may cost works, but the run must end with its own message, and the
// target must stay sound. A damaged target may stop the run, with its own message, but every table
// that was sound before the run must be sound after it. Findings: a crash, an error that is not
// the program's own (an exception of the standard library, or one of no known kind), a journal
// left behind by a run that ended, a table whose tags disagree with its rows, a row gone that
// was there before the run, or an id given to a new row that another row holds. And, when asked: a
// run that one failed write (or a disk that fills up) ends, followed by a second run, that does not
// leave the target exactly as the uninterrupted run left it; a run after the failed one that
// fails too and says it finished the interrupted import; or a further run that changes it.
//
// Input: byte 0, the answers and options (bit 0: continue at a precinct question; bits 1-3:
// assortments, parcels, raster ranges; bit 4: commune renumbering; bit 5: the damage goes into the
// target; bit 6: the run is made again, a write of it failing, and run once more; bit 7: from that
// write on, every write fails); with bit 6, bytes 1 and 2 choose the failing write among the
// run's changes of a file, and byte 3 how many works (1 to 8) the runs with a failure commit at a
// time, where the first run commits as the program does (bits 0-2), whether every table of the
// target has two tags more, one with a FOR clause, one over DTOS, STR and IIF (bit 3), and whether
// the run after a failed one fails too, at a write of its own (bit 4; bits 5-7 vary which); then damage, each
// piece [file, offset low, offset high, length, bytes...]: `length` bytes written over the file (mod the file
// count of the archive or the target, in the order of their names) at `offset` (mod its size); length 0 cuts
// the file there.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "convert/import_run.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "tools/inspect.h"
#include "tools/sample_office.h"

namespace fs = std::filesystem;

namespace {

using Files = std::vector<std::pair<fs::path, std::string>>; // path below its folder, bytes

Files ReadAll(const fs::path& root)
{
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) {
            std::string bytes(static_cast<std::size_t>(entry.file_size()), '\0');
            std::FILE* f = std::fopen(entry.path().c_str(), "rb");
            if (f == nullptr || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
                std::abort();
            std::fclose(f);
            files.emplace_back(fs::relative(entry.path(), root), std::move(bytes));
        }
    std::sort(files.begin(), files.end()); // by name: an input names the same file everywhere
    return files;
}

void WriteAll(const fs::path& root, const Files& files)
{
    fs::remove_all(root);
    for (const auto& [name, bytes] : files) {
        fs::create_directories((root / name).parent_path());
        std::FILE* f = std::fopen((root / name).c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            std::abort();
        std::fclose(f);
    }
}

struct Office
{
    fs::path dir, archive, target;
    Files archiveFiles, targetFiles;
};

// The office of the plain target, or of the target whose every table has two tags more: one with
// a FOR clause, one over DTOS, STR and IIF.
Office MakeOffice(tools::ExtraTags extraTags)
{
    Office o;
    o.dir = fs::temp_directory_path() / ("kerg-fuzz-import-" + std::to_string(getpid()) +
                                         (extraTags == tools::ExtraTags::None ? "" : "-tags"));
    fs::create_directories(o.dir);
    if (!tools::WriteSampleOffice((o.dir / "ARCH0").string(), (o.dir / "CEL0").string(),
                                  {8, 5, 0, extraTags}))
        std::abort();
    o.archiveFiles = ReadAll(o.dir / "ARCH0");
    o.targetFiles = ReadAll(o.dir / "CEL0");
    o.archive = o.dir / "ARCH";
    o.target = o.dir / "CEL";
    return o;
}

const Office& TheOffice(bool extraTags)
{
    static const Office plain = MakeOffice(tools::ExtraTags::None);
    static const Office tagged = MakeOffice(tools::ExtraTags::All);
    return extraTags ? tagged : plain;
}

// The main window, played from the input's first byte.
class FuzzUi final : public convert::RunUi
{
public:
    FuzzUi(std::string archive, std::string target, std::uint8_t control)
        : archive_(std::move(archive)), target_(std::move(target)), control_(control)
    {}

    std::vector<std::string> errors;
    bool done = false;        // the run ended with its success and closed the window
    std::string details;      // under the last message that had any: the report's summary at the end
    std::string errorDetails; // under the last error that had any: the report's summary then

    std::string ArchiveDirText() override { return archive_; }
    void SetArchiveDirText(const std::string& text) override { archive_ = text; }
    std::string TargetDirText() override { return target_; }
    void SetTargetDirText(const std::string& text) override { target_ = text; }
    bool CommuneConversionTicked() override { return (control_ & 0x10) != 0; }
    bool AssortmentsTicked() override { return (control_ & 0x02) != 0; }
    bool ParcelsTicked() override { return (control_ & 0x04) != 0; }
    bool RastersTicked() override { return (control_ & 0x08) != 0; }
    convert::Answer ShowMessage(const convert::Message& message) override
    {
        if (show_)
            std::fprintf(stderr, "%s: %s\n%s\n", message.caption.c_str(), message.text.c_str(),
                         message.details.c_str());
        if (!message.details.empty())
            details = message.details;
        if (message.buttons == convert::Buttons::Ok)
            return convert::Answer::Ok;
        // The copy of the data was made; a precinct question as the input says.
        if (message.caption == convert::messages::kCaptionQuestion)
            return convert::Answer::Yes;
        return (control_ & 0x01) != 0 ? convert::Answer::Yes : convert::Answer::No;
    }
    void ShowError(const std::string& text) override
    {
        if (show_)
            std::fprintf(stderr, "error: %s\n", text.c_str());
        errors.push_back(text);
    }
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetBusyCursor(bool) override {}
    void ShowErrorWithDetails(const std::string& text, const std::string& more) override
    {
        ShowError(text);
        if (show_)
            std::fprintf(stderr, "%s\n", more.c_str());
        errorDetails = more;
    }
    void CloseAfterSuccess() override { done = true; }

private:
    std::string archive_, target_;
    std::uint8_t control_;
    // KERG_FUZZ_SHOW set: what the run shows goes to the error output (to read an input's run).
    bool show_ = std::getenv("KERG_FUZZ_SHOW") != nullptr;
};

// An error that only an exception of the standard library (or one of no known kind) gives: its
// text begins with the library's own words. (Not anywhere in the text: the program's own errors
// may quote archive text, which here is anything.)
bool ForeignError(const std::string& text)
{
    for (const char* head : {"std::", "basic_string", "vector::", "map::at", "bad_", "Nieoczekiwany"})
        if (text.rfind(head, 0) == 0)
            return true;
    for (const char* whole : {"stoi", "stol", "stoll", "stoul", "stod", "stof"})
        if (text == whole || text.rfind(std::string(whole) + "\r\n", 0) == 0)
            return true;
    return false;
}

// The tables of the target that open and that the check finds sound, by path below the target.
std::set<std::string> SoundTables(const fs::path& target)
{
    std::set<std::string> sound;
    for (const auto& entry : fs::recursive_directory_iterator(target)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (!entry.is_regular_file() || extension != ".DBF")
            continue;
        engine::Table table(entry.path().parent_path().string(), entry.path().filename().string());
        try {
            table.Open();
            if (table.Verify().empty())
                sound.insert(fs::relative(entry.path(), target).string());
        } catch (const engine::Error&) {}
    }
    return sound;
}

// The ids the run draws from the counters, as each row holds them (deleted rows too), in record
// order; nothing when the table does not open or lacks the field.
struct IdColumn
{
    const char* directory;
    const char* table;
    const char* field;
};
const IdColumn kIdColumns[] = {{"OSOBY", "Osoby.dbf", "ID_OSOBY"},
                               {"KERG", "Asortym.dbf", "ID_ASORT"},
                               {"KERG", "dz.dbf", "ID_DZIALKI"}};

std::optional<std::vector<std::string>> Ids(const fs::path& target, const IdColumn& column)
{
    engine::Table table((target / "BAZA" / column.directory).string(), column.table);
    try {
        table.Open();
        const engine::Field id = table.FieldByName(column.field);
        std::vector<std::string> ids;
        for (std::int64_t r = 1; r <= table.RecordCount(); ++r) {
            table.MoveTo(static_cast<std::uint32_t>(r));
            ids.push_back(id.AsString());
        }
        return ids;
    } catch (const engine::Error&) {
        return std::nullopt;
    }
}

// A run that ended, however, has kept every row that was there before it, with its id, and has
// given each row it added an id that no other row holds.
void CheckIds(const IdColumn& column, const std::vector<std::string>& before,
              const std::optional<std::vector<std::string>>& after)
{
    const auto fail = [&column](const std::string& what) {
        std::fprintf(stderr, "%s, %s: %s\n", column.table, column.field, what.c_str());
        std::abort();
    };
    if (!after)
        fail("the table no longer opens");
    if (after->size() < before.size())
        fail("rows that were there before the run are gone");
    std::set<std::string> held;
    for (std::size_t r = 0; r < before.size(); ++r) {
        if ((*after)[r] != before[r])
            fail("row " + std::to_string(r + 1) + " holds another id");
        held.insert(before[r]);
    }
    for (std::size_t r = before.size(); r < after->size(); ++r)
        if (!held.insert((*after)[r]).second)
            fail("row " + std::to_string(r + 1) + " was given id " + (*after)[r] +
                 ", which another row holds");
}

// The import as "Importuj" runs it on the office's archive and target, with the input's answers.
// With `worksPerCommit`, a commit after so many works (and none by the clock).
FuzzUi Import(const Office& office, std::uint8_t control, int worksPerCommit = 0)
{
    const std::string sep(1, platform::kSeparator);
    FuzzUi ui(office.archive.string() + sep, office.target.string() + sep, control);
    convert::ImportRun run(ui, (office.dir / "brak.gm").string(), [] { return convert::Date{2026, 12, 8}; });
    if (worksPerCommit > 0) {
        run.Commits().worksPerCommit = worksPerCommit;
        run.Commits().interval = std::chrono::hours(1);
    }
    run.BitBtn1Click();
    for (const std::string& error : ui.errors)
        if (ForeignError(error)) {
            std::fprintf(stderr, "an error that is not the program's own: %s\n", error.c_str());
            std::abort();
        }
    return ui;
}

// Every file of the target, by its checksum, the dates of its history blanked; without the files
// the next run removes unnoticed.
std::string Digest(const std::string& target)
{
    std::ostringstream out, err;
    tools::RunDigestCommand(target, out, err);
    return tools::WithoutRunLeftovers(out.str() + err.str());
}

// A report's summary without the report file's name (or why the file could not be written: a
// failing write may fall on it) and what a run says of an interrupted import it finished: what
// tells one run of an import from another.
std::string Summary(const std::string& details)
{
    std::istringstream lines(details);
    std::string summary, line;
    while (std::getline(lines, line))
        if (line.rfind("Raport zapisano w pliku: ", 0) != 0 && line.rfind("Raportu nie zapisano: ", 0) != 0 &&
            line.rfind("Ten import dokończył import przerwany", 0) != 0)
            summary += line + "\n";
    return summary;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool failingWrite = size >= 1 && (data[0] & 0x40) != 0;
    const std::size_t damageAt = failingWrite ? 4 : 1;
    if (size < damageAt)
        return 0;
    const Office& office = TheOffice(failingWrite && (data[3] & 0x08) != 0);
    Files archive = office.archiveFiles, target = office.targetFiles;
    const bool damagedTarget = (data[0] & 0x20) != 0;
    Files& damaged = damagedTarget ? target : archive;
    for (std::size_t at = damageAt; at + 4 <= size;) {
        std::string& bytes = damaged[data[at] % damaged.size()].second;
        const std::size_t offset =
            static_cast<std::size_t>(data[at + 1] | data[at + 2] << 8) % (bytes.size() + 1);
        const std::size_t length = std::min<std::size_t>(data[at + 3], size - at - 4);
        at += 4;
        if (length == 0) {
            bytes.resize(offset);
            continue;
        }
        const std::size_t end = std::min(bytes.size(), offset + length);
        bytes.replace(offset, end - offset, reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    WriteAll(office.archive, archive);
    WriteAll(office.target, target);
    const std::set<std::string> soundBefore =
        damagedTarget ? SoundTables(office.target) : std::set<std::string>{};
    std::vector<std::optional<std::vector<std::string>>> idsBefore;
    for (const IdColumn& column : kIdColumns)
        idsBefore.push_back(Ids(office.target, column));

    const std::string targetDir = office.target.string() + platform::kSeparator;
    const std::uint64_t changesBefore = platform::FileChanges();
    const FuzzUi run = Import(office, data[0]);
    const std::uint64_t changes = platform::FileChanges() - changesBefore;

    if (engine::JournalPending(convert::JournalDirectory(targetDir))) {
        std::fprintf(stderr, "the run ended and left a journal\n");
        std::abort();
    }
    for (std::size_t c = 0; c < std::size(kIdColumns); ++c)
        if (idsBefore[c])
            CheckIds(kIdColumns[c], *idsBefore[c], Ids(office.target, kIdColumns[c]));
    if (damagedTarget) {
        const std::set<std::string> soundAfter = SoundTables(office.target);
        for (const std::string& table : soundBefore)
            if (soundAfter.count(table) == 0) {
                std::fprintf(stderr, "the run left table %s unsound\n", table.c_str());
                for (const std::string& problem : engine::VerifyDirectory(targetDir))
                    std::fprintf(stderr, "  %s\n", problem.c_str());
                std::abort();
            }
    } else {
        for (const std::string& problem : engine::VerifyDirectory(targetDir)) {
            std::fprintf(stderr, "the target is not sound: %s\n", problem.c_str());
            std::abort();
        }
    }
    if (!failingWrite || !run.done || changes == 0)
        return 0;

    // The same run again from the same files, one of its writes failing (or every write from it
    // on), and then once more: the two leave the target as the one run did.
    const std::string reference = Digest(targetDir);
    WriteAll(office.archive, archive);
    WriteAll(office.target, target);
    const std::uint64_t failing = 1 + static_cast<std::uint64_t>(data[1] | data[2] << 8) % changes;
    const bool diskStaysFull = (data[0] & 0x80) != 0;
    platform::InjectFault(failing, platform::FaultAction::Fail, diskStaysFull);
    const int worksPerCommit = 1 + data[3] % 8;
    const FuzzUi failed = Import(office, data[0], worksPerCommit);
    platform::ClearFault();
    const char* const what = diskStaysFull ? "every write from write" : "write";
    if (!failed.done) {
        // With bit 4, the run that would finish the import fails as well, at one write of its own
        // (when it makes that many): what its report says of the interrupted import must not be
        // that it finished it. The run that finishes is the first that ends well.
        std::optional<FuzzUi> alsoFailed;
        if ((data[3] & 0x10) != 0) {
            const std::uint64_t second = 1 + (failing * 7 + (data[3] >> 5)) % changes;
            platform::InjectFault(second, platform::FaultAction::Fail, false);
            alsoFailed = Import(office, data[0], worksPerCommit);
            platform::ClearFault();
            if (!alsoFailed->done &&
                alsoFailed->errorDetails.find("Ten import dokończył") != std::string::npos) {
                std::fprintf(stderr, "a run that failed at write %llu says it finished the import:\n%s\n",
                             static_cast<unsigned long long>(second), alsoFailed->errorDetails.c_str());
                std::abort();
            }
        }
        const FuzzUi rerun =
            alsoFailed && alsoFailed->done ? *alsoFailed : Import(office, data[0], worksPerCommit);
        if (!rerun.done) {
            std::fprintf(stderr, "after a failure at %s %llu of %llu the next run did not finish:\n", what,
                         static_cast<unsigned long long>(failing), static_cast<unsigned long long>(changes));
            for (const std::string& error : rerun.errors)
                std::fprintf(stderr, "  %s\n", error.c_str());
            std::abort();
        }
        // Its report tells the whole import, as the one run's did.
        if (Summary(rerun.details) != Summary(run.details)) {
            std::fprintf(stderr,
                         "after a failure at %s %llu of %llu the report of the run that finished the "
                         "import is not the one run's:\n%s\nagainst\n%s\n",
                         what, static_cast<unsigned long long>(failing),
                         static_cast<unsigned long long>(changes), rerun.details.c_str(),
                         run.details.c_str());
            std::abort();
        }
    }
    const std::string after = Digest(targetDir);
    if (after != reference || engine::JournalPending(convert::JournalDirectory(targetDir))) {
        std::fprintf(stderr,
                     "after a failure at %s %llu of %llu the target is not what one run leaves "
                     "(%s):\n%s\nagainst\n%s\n",
                     what, static_cast<unsigned long long>(failing), static_cast<unsigned long long>(changes),
                     failed.done ? "the failed run finished" : "the next run finished it", after.c_str(),
                     reference.c_str());
        std::abort();
    }
    // And a further run over the finished import finds nothing left to do.
    const FuzzUi again = Import(office, data[0], worksPerCommit);
    if (const std::string further = Digest(targetDir); !again.done || further != reference) {
        std::fprintf(stderr, "a further run over the finished import %s:\n%s\nagainst\n%s\n",
                     again.done ? "changed the target" : "did not finish", further.c_str(),
                     reference.c_str());
        std::abort();
    }
    return 0;
}
