// The import run and the reconciliation of precincts between archive and target.
#include "convert/import_run.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>

#include "archive/code_page.h"
#include "convert/kerg_conversion.h"
#include "convert/report_log.h"
#include "convert/text.h"
#include "engine/table.h"
#include "platform/file.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/whole_file.h"

namespace convert {
namespace {

// Puts the cursor and the progress bar back however the run ends.
class CleanUp
{
public:
    explicit CleanUp(RunUi& ui) : ui_(ui) {}
    ~CleanUp() { Now(); }
    CleanUp(const CleanUp&) = delete;
    CleanUp& operator=(const CleanUp&) = delete;

    // Puts them back at once (an error is shown over the ordinary cursor and an empty bar).
    void Now()
    {
        if (done_)
            return;
        done_ = true;
        ui_.SetBusyCursor(false);
        ui_.SetProgressPosition(0);
    }

private:
    RunUi& ui_;
    bool done_ = false;
};

// Archive tables up to this size are held in memory whole during a run (an office of 100,000
// works has about 40 MB of them).
constexpr std::int64_t kArchiveImageLimit = 256 * 1024 * 1024;

// `details`: shown under the text on request (the engine's reason for a message that keeps its
// words whatever the reason).
Message Info(const std::string& text, const char* caption = messages::kCaptionInfo,
             const std::string& details = {})
{
    return Message{text, caption, Buttons::Ok, Icon::None, Answer::Ok, details};
}

// Ends the text with the directory separator; returns whether it had to be added.
bool EndWithSeparator(std::string& text)
{
    if (!text.empty() && platform::IsSeparator(text.back()))
        return false;
    text.push_back(platform::kSeparator);
    return true;
}

} // namespace

std::string BuildCreatorStamp(const Date& date)
{
    const int packed = (date.year - 1980) * 512 + date.month * 32 + date.day;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0001%04X", static_cast<unsigned>(packed) & 0xFFFFu);
    return buffer;
}

int PrecinctList::Find(const std::string& key) const
{
    const std::string wanted = Upper1250(key);
    // Entry 0 stands for archive precinct number 0, which names no precinct: never a match.
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        if (Upper1250(entries_[i].text) == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

std::string TargetSubdirectory(const std::string& targetDir, const std::string& name)
{
    return targetDir + "BAZA" + platform::kSeparator + name;
}

std::string JournalDirectory(const std::string& targetDir)
{
    return targetDir + "BAZA";
}

bool TargetDatabaseExists(const std::string& targetDir, std::string* why)
{
    if (engine::JournalPending(JournalDirectory(targetDir)))
        return true;
    try {
        engine::Table works(TargetSubdirectory(targetDir, "KERG"), "Roboty.dbf");
        works.Open();
        works.Close();
        return true;
    } catch (const std::exception& e) {
        if (why != nullptr)
            *why = engine::FailureText(e);
        return false;
    } catch (...) {
        return false;
    }
}

void ReconcilePrecincts(RunContext& context, const std::string& targetDir)
{
    RunState& state = context.state;
    archive::Reader& reader = context.reader;

    // 1. The target's register directory exists afterwards.
    platform::CreateDirectories(TargetSubdirectory(targetDir, "KERG"));

    // 2, 3. The archive's precincts.
    std::uint8_t area = 0;
    if (!OpenArchiveTable(context, "obreb.dbf", area, true))
        return;
    std::int32_t idObr = 0;
    archive::ShortString nrG, nrObr, nazwa, kodObr;
    const std::string path = state.ArchiveDir + "obreb.dbf";
    if (!BindArchiveFields(context, path,
                           {{"id_obr", [&] { reader.BindBin4("id_obr", idObr); }, false},
                            {"nr_g", [&] { reader.BindString("nr_g", nrG, 5); }},
                            {"nr_obr", [&] { reader.BindString("nr_obr", nrObr, 4); }},
                            {"nazwa", [&] { reader.BindString("nazwa", nazwa, 30); }, false},
                            {"kod_obr", [&] { reader.BindString("kod_obr", kodObr, 2); }}})) {
        reader.CloseAllTables();
        return;
    }

    // 4. The target's precincts; a missing field is the engine's error.
    engine::Table target(TargetSubdirectory(targetDir, "KERG"), "obreb.dbf");
    target.Open();
    engine::Field targetId = target.FieldByName("id_obr");
    engine::Field targetCommune = target.FieldByName("nr_g");
    engine::Field targetPrecinct = target.FieldByName("nr_obr");
    target.FieldByName("nazwa");
    engine::Field targetCode = target.FieldByName("kod_obr");
    target.FieldByName("id_tworz");
    target.FieldByName("id_modyf");
    target.FieldByName("ID_EWMAPY");

    // 5, 6. One entry per archive record, deleted ones included.
    state.Precincts.Clear();
    // A record past the last one the file holds whole (a table cut short) would read as blanks.
    const std::int32_t whole = ArchiveRecordsInFile(*reader.Area(area));
    for (std::int32_t read = 0; !reader.IsEof(area); ++read) {
        reader.ReadRecord(area, 0);
        if (reader.TableResult() != 0 || read >= whole) {
            state.ImportErrorText = std::string(messages::kReadFailed) + path +
                                    (read >= whole ? " (plik krótszy, niż podaje jego nagłówek)" : "");
            reader.CloseAllTables();
            return;
        }
        const std::string commune =
            nrG.View().size() > 2 ? std::string(nrG.View().substr(2, 3)) : std::string();
        state.Precincts.Add(context.renumbering.FormatCommuneNumber(commune) + nrObr.Str() + kodObr.Str());
        reader.NextRecord(area);
    }
    // 7.
    reader.CloseAllTables();

    // 8. Every target precinct must be known to the archive.
    for (target.First(); !target.Eof(); target.Next()) {
        const std::string key = targetCommune.AsString() + targetPrecinct.AsString() + targetCode.AsString();
        const int found = state.Precincts.Find(key);
        if (found >= 0) {
            state.Precincts.At(static_cast<std::size_t>(found)).value = targetId.AsString().substr(0, 4);
            continue;
        }
        const Message question{std::string(messages::kPrecinctMissingHead) + Cp1250ToUtf8(key) +
                                   messages::kPrecinctMissingTail + "\r\n" + messages::kContinueQuestion,
                               messages::kCaptionError,
                               Buttons::YesNo,
                               Icon::None,
                               Answer::Yes,
                               {}};
        if (context.ui.ShowMessage(question) != Answer::Yes) {
            state.ImportErrorText = messages::kPrecinctsStopped;
            target.Close();
            return;
        }
    }
    // 9.
    target.Close();
}

struct ImportRun::CountersTable
{
    engine::Table table;
    CountersTable(const std::string& directory) : table(directory, "Dostep.dbf") {}
};

namespace {

// The progress table's field that counts the rows of one of kProgressTables: the table's name in
// upper case, without its extension.
std::string RowsField(const char* table)
{
    std::string name = table;
    name.erase(name.find('.'));
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// The row an open progress table names (0 when it has none), and the rows of the tables it counts.
std::int64_t ProgressRow(engine::Table& table, const std::string& path,
                         std::vector<std::int64_t>* rows = nullptr)
{
    std::int64_t row = 0;
    if (table.RecordCount() > 0) {
        table.First();
        row = table.FieldByName("WIERSZ").AsInteger();
        if (rows != nullptr) {
            for (const char* counted : kProgressTables)
                rows->push_back(table.FieldByName(RowsField(counted)).AsInteger());
            for (std::size_t i = 0; i < table.FieldCount(); ++i)
                if (engine::Field f = table.FieldAt(i); f.Name() == kCompletedField)
                    rows->push_back(f.AsInteger());
        }
    }
    if (row < 0 || row > UINT32_MAX)
        throw engine::Error(engine::ErrorKind::BadTable,
                            "Tabela " + path + ": niemożliwy numer wiersza " + std::to_string(row));
    return row;
}

// The progress table's fields beside the rows, that say how the import it covers ran. A run
// resumes that import only with the same settings; the rows it adds take that import's stamp.
constexpr const char* kOptionsField = "OPCJE";     // the four options, "1" ticked, "0" not
constexpr const char* kRenumberingField = "GMINY"; // the renumbering's digest when ticked
constexpr const char* kArchiveField = "ARCHIWUM";  // the archive directory (code page 1250)
constexpr const char* kStampField = "TWORCA";      // the creator stamp of the rows it added
constexpr std::size_t kArchiveFieldWidth = 254;
// The archive's contents: a digest of each table the import reads (ContentDigest), in kArchiveTables
// order, 16 hexadecimal digits each (hyphens for a table that is not there, question marks for one
// that could not be read through).
constexpr const char* kArchiveContentsField = "ZAWARTOSC";
constexpr const char* kArchiveTables[] = {
    "roboty.dbf", "kerg.dbf",  "kergasor.dbf", "obdg.dbf",   "asortym.dbf", "dz.dbf",    "ob_rr.dbf",
    "osoby.dbf",  "gmina.dbf", "miejsc.dbf",   "imiona.dbf", "ulice.dbf",   "nazwy.dbf", "obreb.dbf"};
constexpr std::size_t kArchiveTableDigits = 16;
constexpr const char* kArchiveTableMissing = "----------------";
constexpr const char* kArchiveTableUnread = "????????????????";
static_assert(std::size(kArchiveTables) * kArchiveTableDigits <= 254, "a character field holds 254 bytes");

// The options in kOptionsField order.
constexpr const char* kOptionNames[] = {messages::kOptionRenumbering, messages::kOptionAssortments,
                                        messages::kOptionParcels, messages::kOptionRasters};

std::optional<engine::Field> FindField(engine::Table& table, std::string_view name)
{
    for (std::size_t i = 0; i < table.FieldCount(); ++i)
        if (engine::Field f = table.FieldAt(i); f.Name() == name)
            return f;
    return std::nullopt;
}

// A digest of the renumbering table (FNV-1a over its 10,000 new numbers), in hexadecimal.
std::string RenumberingDigest(const renumber::CommuneRenumberingTable& table)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const std::uint16_t n : table)
        for (const std::uint8_t byte :
             {static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)}) {
            hash ^= byte;
            hash *= 1099511628211ull;
        }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// A digest of a file's bytes for telling a changed file, not against one made to deceive: four
// lanes each take every fourth 8-byte word, `lane = rotl((lane ^ word) * odd, 31)`. Each step, and
// the final mix, is one-to-one in the lane and in the word, so one changed word always changes the
// result; and the lanes run side by side, so that hashing costs less than reading the bytes (the
// 40 MB archive of a 100,000-work office adds about 10 ms to its import).
class ContentDigest
{
public:
    void Add(const unsigned char* bytes, std::size_t size)
    {
        total_ += size;
        while (size > 0) {
            const std::size_t take = std::min(size, sizeof pending_ - pendingSize_);
            std::memcpy(pending_ + pendingSize_, bytes, take);
            pendingSize_ += take;
            bytes += take;
            size -= take;
            if (pendingSize_ == sizeof pending_) {
                Mix(pending_);
                pendingSize_ = 0;
            }
            // Whole 32-byte pieces straight from the caller's bytes.
            for (; pendingSize_ == 0 && size >= sizeof pending_;
                 bytes += sizeof pending_, size -= sizeof pending_)
                Mix(bytes);
        }
    }
    std::uint64_t Finish()
    {
        std::memset(pending_ + pendingSize_, 0, sizeof pending_ - pendingSize_);
        Mix(pending_);
        std::uint64_t h = total_;
        for (const std::uint64_t lane : lanes_)
            h = Step(h, lane);
        h ^= h >> 29;
        h *= kOdd;
        h ^= h >> 32;
        return h;
    }

private:
    static constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    static std::uint64_t Step(std::uint64_t lane, std::uint64_t word)
    {
        const std::uint64_t m = (lane ^ word) * kOdd;
        return m << 31 | m >> 33;
    }
    void Mix(const unsigned char* piece)
    {
        for (std::size_t k = 0; k < 4; ++k) {
            std::uint64_t word = 0;
            for (std::size_t b = 0; b < 8; ++b) // the same value on every byte order
                word |= std::uint64_t{piece[k * 8 + b]} << (8 * b);
            lanes_[k] = Step(lanes_[k], word);
        }
    }
    std::uint64_t lanes_[4] = {1, 2, 3, 4};
    std::uint64_t total_ = 0;
    unsigned char pending_[32] = {};
    std::size_t pendingSize_ = 0;
};

// The digest of the archive's tables kept in kArchiveContentsField: the tables are read whole once,
// so that a rerun can tell an archive written anew since the interrupted import, even one of the
// same size and date.
std::string ArchiveContents(const platform::FileOpener& open, const std::string& archiveDir)
{
    std::string digest;
    std::vector<unsigned char> buffer(1 << 20);
    for (const char* name : kArchiveTables) {
        std::unique_ptr<platform::File> file = open(archiveDir + name);
        if (!file) {
            digest += platform::Exists(archiveDir + name) ? kArchiveTableUnread : kArchiveTableMissing;
            continue;
        }
        ContentDigest contents;
        std::int64_t offset = 0, got = 0;
        while ((got = file->ReadAt(offset, buffer.data(), buffer.size())) > 0) {
            contents.Add(buffer.data(), static_cast<std::size_t>(got));
            offset += got;
        }
        if (got < 0) {
            digest += kArchiveTableUnread;
            continue;
        }
        char text[kArchiveTableDigits + 1];
        std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(contents.Finish()));
        digest += text;
    }
    return digest;
}

// The archive tables whose contents differ between two digests, upper case; tables read through in
// only one of them are not compared.
std::vector<std::string> ChangedArchiveTables(const std::string& before, const std::string& now)
{
    std::vector<std::string> changed;
    if (before.size() != now.size() || before.size() != std::size(kArchiveTables) * kArchiveTableDigits)
        return changed; // kept by a program that read other tables
    for (std::size_t i = 0; i < std::size(kArchiveTables); ++i) {
        const std::string_view a =
            std::string_view(before).substr(i * kArchiveTableDigits, kArchiveTableDigits);
        const std::string_view b = std::string_view(now).substr(i * kArchiveTableDigits, kArchiveTableDigits);
        if (a == b || a == kArchiveTableUnread || b == kArchiveTableUnread)
            continue;
        std::string name = kArchiveTables[i];
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        changed.push_back(std::move(name));
    }
    return changed;
}

// A tag the run finds rows by, its table, the fields it sets to search (upper case), and the
// option that has the run search it (none: always).
enum class SearchedWith
{
    Always,
    Assortments,
    Parcels,
};
struct SearchedTag
{
    const char* directory;
    const char* table;
    const char* name;
    std::vector<std::string> fields;
    SearchedWith with;
};

const std::vector<SearchedTag>& SearchedTags()
{
    static const std::vector<SearchedTag> tags = {
        {"OSOBY", "Osoby.dbf", "UPP_KLUCZ", {"KLUCZ"}, SearchedWith::Always},
        {"KERG", "Asortym.dbf", "UPP_ASORT", {"ASORT"}, SearchedWith::Assortments},
        {"KERG", "Asortym.dbf", "UPP_NAZ_A", {"NAZWA_A"}, SearchedWith::Assortments},
        {"KERG", "dz.dbf", "OBR_DZ_ARK", {"ID_OBR", "DZIALKA", "NR_ARKUSZA"}, SearchedWith::Parcels}};
    return tags;
}

// The searched tags of `table` that a run with these options searches.
std::vector<const SearchedTag*> SearchedIn(std::string_view table, bool assortments, bool parcels)
{
    std::vector<const SearchedTag*> found;
    for (const SearchedTag& tag : SearchedTags())
        if (tag.table == table &&
            (tag.with == SearchedWith::Always || (tag.with == SearchedWith::Assortments && assortments) ||
             (tag.with == SearchedWith::Parcels && parcels)))
            found.push_back(&tag);
    return found;
}

// The problems of the `searched` tags of one table (SearchedTagProblems). A tag the engine cannot
// keep, or that is missing, is left to the table's open, which names it.
std::vector<std::string> TagProblems(const std::string& directory, const std::string& table,
                                     const std::vector<const SearchedTag*>& searched)
{
    std::vector<std::string> problems;
    std::vector<engine::TagDescription> tags;
    try {
        tags = engine::DescribeTags(directory, table);
    } catch (const std::exception&) {
        return problems;
    }
    const auto plain = [](std::string text) {
        std::string out;
        for (const char c : text)
            if (c != ' ')
                out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return out;
    };
    for (const SearchedTag* wanted : searched)
        for (const engine::TagDescription& tag : tags) {
            if (plain(tag.name) != wanted->name || !tag.maintained)
                continue;
            const std::string head =
                directory + platform::kSeparator + table + ", znacznik " + tag.name + ": ";
            if (tag.unique)
                problems.push_back(
                    head + "jest unikalny (UNIQUE), więc zawiera tylko pierwszy wiersz każdego klucza");
            const std::string condition = plain(tag.forExpression);
            if (!condition.empty() && condition != ".NOT.DELETED()" && condition != "!DELETED()" &&
                condition != ".T.")
                problems.push_back(head + "ma warunek FOR \u201E" + tag.forExpression +
                                   "\u201D, więc nie zawiera każdego wiersza");
            std::string others;
            for (const std::string& field : tag.keyFields)
                if (std::find(wanted->fields.begin(), wanted->fields.end(), plain(field)) ==
                    wanted->fields.end())
                    others += (others.empty() ? "" : ", ") + field;
            const std::string expression = plain(tag.expression);
            if (expression.find("RECNO(") != std::string::npos ||
                expression.find("DELETED(") != std::string::npos)
                others += std::string(others.empty() ? "" : ", ") + "numeru wiersza lub znacznika usunięcia";
            if (!others.empty()) {
                std::string by;
                for (const std::string& field : wanted->fields)
                    by += (by.empty() ? "" : ", ") + field;
                problems.push_back(head + "klucz \u201E" + tag.expression + "\u201D zależy od: " + others +
                                   ", a import szuka tylko po: " + by);
            }
        }
    return problems;
}

// A table of the run's own (the progress table, the report log), open in the run's transaction and
// held exclusively.
std::unique_ptr<engine::Table> OpenRunTable(const std::string& directory, const std::string& name,
                                            engine::Transaction* transaction)
{
    auto table = std::make_unique<engine::Table>(directory, name);
    table->SetTransaction(transaction);
    table->SetExclusive(true);
    table->Open();
    return table;
}

// Makes such a table whole under another name first (`create` makes it under the name given),
// so that its own name never holds half a table, then opens it. `purpose` says in an error what
// the file is for.
std::unique_ptr<engine::Table> MakeRunTable(const std::string& directory, const std::string& name,
                                            const std::function<void(const std::string&)>& create,
                                            const std::string& purpose, engine::Transaction* transaction)
{
    const std::string path = directory + platform::kSeparator + name, newName = name + ".new";
    try {
        create(newName);
        platform::FileFailure failure;
        const std::optional<std::string> bytes =
            platform::ReadWholeFile(directory + platform::kSeparator + newName, &failure);
        if (!bytes || !platform::ReplaceWholeFile(path, *bytes, &failure))
            throw engine::Error(engine::ErrorKind::Io, platform::FileErrorMessage(path, failure));
    } catch (const engine::Error& e) {
        throw engine::Error(engine::ErrorKind::Io,
                            "Błąd zapisu pliku " + path + ", " + purpose + ": " + engine::FailureText(e));
    }
    platform::RemoveFile(directory + platform::kSeparator + newName);
    return OpenRunTable(directory, name, transaction);
}

} // namespace

std::vector<std::string> SearchedTagProblems(const std::string& targetDir, bool assortments, bool parcels)
{
    std::vector<std::string> problems;
    for (const char* table : {"Osoby.dbf", "Asortym.dbf", "dz.dbf"}) {
        const std::vector<const SearchedTag*> searched = SearchedIn(table, assortments, parcels);
        if (searched.empty())
            continue;
        for (std::string& p :
             TagProblems(TargetSubdirectory(targetDir, searched.front()->directory), table, searched))
            problems.push_back(std::move(p));
    }
    return problems;
}

std::optional<std::int64_t> InterruptedImportRow(const std::string& targetDir)
{
    const std::string directory = JournalDirectory(targetDir);
    const std::string path = directory + platform::kSeparator + kProgressFileName;
    if (!platform::Exists(path))
        return std::nullopt;
    engine::Table table(directory, kProgressFileName);
    table.Open();
    const std::int64_t row = ProgressRow(table, path);
    return row > 0 ? std::optional<std::int64_t>(row) : std::nullopt;
}

std::vector<std::string> InterruptedImportSettings(const std::string& targetDir)
{
    std::vector<std::string> lines;
    if (!InterruptedImportRow(targetDir))
        return lines;
    const std::string directory = JournalDirectory(targetDir);
    engine::Table table(directory, kProgressFileName);
    table.Open();
    table.First();
    if (const auto archive = FindField(table, kArchiveField)) {
        std::string line = std::string(messages::kArchiveSettingHead) + Cp1250ToUtf8(archive->AsString());
        if (FindField(table, kArchiveContentsField))
            line += messages::kArchiveSettingUnchanged;
        lines.push_back(line + ".");
    }
    if (const auto options = FindField(table, kOptionsField)) {
        const std::string ticked = options->AsString();
        for (std::size_t i = 0; i < std::size(kOptionNames) && i < ticked.size(); ++i)
            lines.push_back(std::string(kOptionNames[i]) + ": " +
                            (ticked[i] == '1' ? "zaznaczone" : "niezaznaczone") +
                            (i == 0 && ticked[i] == '1' ? messages::kRenumberingSettingTail : "") + ".");
    }
    return lines;
}

struct ImportRun::ProgressTable
{
    std::string directory;
    std::unique_ptr<engine::Table> table; // open once the file is there
    std::int64_t stored = 0;              // the row the table names, as this run left it
    std::vector<std::int64_t> storedRows; // and the rows of the tables it counts
    bool walkEnded = false;               // the walk has ended and its last commit is under way
    // This run's settings, as the table keeps them (kOptionsField and the others).
    std::string options, renumbering, archive, contents;

    std::string Path() const { return directory + platform::kSeparator + kProgressFileName; }
    // The new table is made under this name first, then takes its own in one step.
    std::string NewPath() const { return Path() + ".new"; }

    // The report log, open with the table; the run keeps none when an interrupted import's log
    // could not be taken over (its report then covers this run's part alone).
    std::unique_ptr<engine::Table> log;
    bool logging = true;
    std::string LogPath() const { return directory + platform::kSeparator + kReportLogFileName; }
    std::string LogNewPath() const { return LogPath() + ".new"; }
};

ImportRun::ImportRun(RunUi& ui, std::string renumberingFile, std::function<Date()> today)
    : ui_(ui), renumberingFile_(std::move(renumberingFile)), today_(std::move(today)),
      renumbering_([&ui] { return ui.CommuneConversionTicked(); })
{}

ImportRun::~ImportRun() = default;

void ImportRun::BitBtn1Click()
{
    try {
        // 1. Both directories must be named.
        std::string archiveText = ui_.ArchiveDirText();
        std::string targetText = ui_.TargetDirText();
        if (archiveText.empty() || targetText.empty())
            return;
        // 2. Each ends with the separator, in the edit itself too.
        if (EndWithSeparator(archiveText))
            ui_.SetArchiveDirText(archiveText);
        if (EndWithSeparator(targetText))
            ui_.SetTargetDirText(targetText);
        // 3.
        const std::string archiveDir = platform::DirectoryPart(archiveText);
        const std::string targetDir = platform::DirectoryPart(targetText);

        // 4.
        // The message is the same whatever the reason; the engine's reason is under it, for
        // whoever looks: a works table that is there but damaged or encrypted is told apart.
        std::string why;
        if (!TargetDatabaseExists(targetDir, &why)) {
            ui_.ShowMessage(Info(messages::kNoTargetDatabase, messages::kCaptionNoDatabase, why));
            return;
        }
        // 5. The renumbering file is read on every run, ticked or not.
        // The message is the one the program always gave; the file and its faulty line are under
        // it, so that the user can mend them.
        if (!renumbering_.LoadCommuneRenumbering(renumberingFile_)) {
            ui_.ShowMessage(Info(messages::kRenumberingFileFaulty, messages::kCaptionInfo,
                                 messages::kRenumberingFaultyLine + renumberingFile_ + ", wiersz " +
                                     std::to_string(renumbering_.FaultyLineNumber()) + ": \u201E" +
                                     Cp1250ToUtf8(renumbering_.FaultyLineText()) + "\u201D\n" +
                                     messages::kRenumberingFaultyLineTail));
            return;
        }
        // 6.
        const Message backup{messages::kBackupQuestion,
                             messages::kCaptionQuestion,
                             Buttons::YesNo,
                             Icon::Question,
                             Answer::No,
                             {}};
        if (ui_.ShowMessage(backup) != Answer::Yes) {
            ui_.ShowMessage(Info(messages::kBackupNeeded));
            return;
        }
        // 7.
        state_.ArchiveDir = archiveDir;
        Locked(targetDir);
    } catch (const std::exception& e) {
        ui_.ShowError(engine::FailureText(e));
    } catch (...) {
        ui_.ShowError("Nieoczekiwany błąd.");
    }
}

// Steps 8 to 21: from the busy cursor to the final message.
void ImportRun::Locked(const std::string& targetDir)
{
    // 8, 9.
    ui_.SetBusyCursor(true);
    bool success = false;
    report_ = ImportReport{};
    committedReport_ = ImportReport{};
    reportPath_.clear();
    progressToRemove_.clear();
    reportLogToRemove_.clear();
    resumeAfter_ = 0;
    resumeRows_.clear();
    goingOnToTell_ = nullptr;
    {
        CleanUp cleanUp(ui_);
        // 10 to 13: the program's conversions of dates and numbers are fixed ("yyyy.mm.dd", "."),
        // whatever the system's settings; archive text arrives recoded to code page 1250.
        reader_.SourceCodePage = archive::kRowCp852;
        // The archive's tables are read whole at open: a work's entries lie all over them, and
        // every window read would be a round trip on a network share.
        reader_.TableImageLimit = kArchiveImageLimit;
        reader_.ResetWorkAreas();

        // 14. The counters table, held exclusively: nobody else works in the target now. An
        // import interrupted before left a journal: its changes are withdrawn first, so that
        // this run starts from the last whole work the other one committed. As at step 4, the
        // engine's reason goes under the message: a counters table that is damaged rather than
        // held by somebody is told apart.
        std::string why;
        bool locked = false;
        if (!OpenCounters(targetDir, why, locked)) {
            // Somebody holding the table is what the office meets every day; a table that is
            // missing or damaged must not send them looking for another user.
            ui_.ShowMessage(Info(locked ? messages::kCountersLocked : messages::kCountersUnreadable,
                                 messages::kCaptionInfo, why));
            return;
        }
        if (!WithdrawInterrupted(targetDir)) {
            counters_.reset();
            return;
        }
        std::string missing, outOfRange;
        if (!ReadCounters(missing, outOfRange, why)) {
            counters_.reset();
            if (!missing.empty())
                ui_.ShowMessage(Info(std::string(messages::kCounterMissing) + missing + "."));
            else if (!outOfRange.empty())
                ui_.ShowMessage(Info(std::string(messages::kCounterOutOfRange) + outOfRange +
                                     messages::kCounterOutOfRangeTail));
            else
                ui_.ShowMessage(Info(messages::kCountersUnreadable, messages::kCaptionInfo,
                                     withdrawnTold_ ? why + "\n" + messages::kOnlyWithdrawn : why));
            return;
        }
        if (!TargetIsSound(targetDir)) {
            counters_.reset();
            return;
        }
        for (ImportReport* r : {&report_, &committedReport_}) {
            r->firstPersonId = state_.PersonCounter;
            r->firstAssortmentId = ui_.AssortmentsTicked() ? state_.AssortmentCounter : -1;
            r->firstParcelId = ui_.ParcelsTicked() ? state_.ParcelCounter : -1;
        }
        // 15.
        state_.CreatorStamp = BuildCreatorStamp(today_());
        state_.ImportErrorText.clear();

        // 16 to 18. The works are committed in batches together with the counters that cover
        // the ids they used: whatever instant the run ends at, the target holds whole works and
        // counters above every id in it. An error withdraws the batch under way.
        std::string engineError;
        bool resumeRefused = false;
        commitFailed_ = false;
        batchWithdrawn_ = false;
        try {
            if (commits_.transactions) {
                transaction_ = std::make_unique<engine::Transaction>(JournalDirectory(targetDir));
                transaction_->SetMemoryLimit(commits_.memoryLimit);
                // Nobody else writes the target while the run holds the counters table
                // exclusively: what the tables read stays true from one commit to the next.
                transaction_->SetSoleWriter(true);
                counters_->table.SetTransaction(transaction_.get());
                OpenProgress(targetDir);
                // Withdrawn changes, and no work committed before them.
                if (withdrawnTold_ && goingOnToTell_ == nullptr)
                    goingOnToTell_ = messages::kInterruptedRestarted;
            }
            worksInBatch_ = 0;
            batchStart_ = std::chrono::steady_clock::now();
            RunContext context{ui_, reader_, state_, renumbering_, report_, transaction_.get(),
                               {},  0,       0,      {},           {},      {}};
            context.resumeAfter = resumeAfter_;
            context.resumeRows = resumeRows_;
            context.workDone = [this, &context](bool last) { CommitPoint(last, context); };
            context.resumeConfirmed = [this] {
                if (goingOnToTell_)
                    ui_.ShowMessage(Info(goingOnToTell_));
                goingOnToTell_ = nullptr;
            };
            if (state_.ImportErrorText.empty())
                ReconcilePrecincts(context, targetDir);
            if (state_.ImportErrorText.empty())
                ConvertKerg(context, targetDir);
            reader_.CloseAllTables();
            // 18.
            StoreCounters();
            if (transaction_)
                CommitBatch();
            committedReport_ = report_;
        } catch (const ResumeRefused& e) {
            engineError = e.what() + RollBackAfterError();
            resumeRefused = true;
        } catch (const std::exception& e) {
            engineError = engine::FailureText(e) + RollBackAfterError();
        } catch (...) {
            engineError = "Nieoczekiwany błąd." + RollBackAfterError();
        }
        reader_.CloseAllTables();
        CloseProgress(engineError.empty());
        counters_.reset();
        const bool transactions = transaction_ != nullptr;
        transaction_.reset();
        if (!engineError.empty()) {
            // What the target holds is what the last commit left: the report says that much. A
            // failed commit says itself what became of its changes.
            if (transactions)
                report_ = committedReport_;
            if (resumeRefused)
                report_ = ImportReport{}; // this run did nothing, of the interrupted import or its own
            report_.failed = true;
            const std::string details =
                FinishReport(state_.ArchiveDir, targetDir,
                             "błąd: " + engineError +
                                 (batchWithdrawn_ ? " (zmiany niezatwierdzonej partii prac wycofano)" : ""));
            cleanUp.Now();
            // The progress table and the journal let the next run go on from the last commit.
            ui_.ShowErrorWithDetails(transactions && !resumeRefused
                                         ? engineError + "\r\n" + messages::kRerunAfterError
                                         : engineError,
                                     details);
            return;
        }

        // 19.
        if (state_.ImportErrorText.empty()) {
            Message done = Info(messages::kDone);
            done.details = FinishReport(state_.ArchiveDir, targetDir, messages::kDone);
            // The program closes after this message: what did not reach the target is shown.
            done.detailsShown = report_.HasProblems();
            ui_.ShowMessage(done);
            success = true;
        } else {
            const std::string text = std::string(messages::kFailedHead) + "\r\n" + state_.ImportErrorText +
                                     "\r\n" + messages::kFailedTail;
            Message failed{text, messages::kCaptionConversionError, Buttons::Ok, Icon::Stop, Answer::Ok, {}};
            report_.failed = true;
            failed.details = FinishReport(state_.ArchiveDir, targetDir, "błąd: " + state_.ImportErrorText);
            ui_.ShowMessage(failed);
        }
        // The final message has been shown: the progress table of a walk that ended goes now. If it
        // cannot go, the next run would pass the rows it names, which this run walked already: the
        // user is told to remove it (it is not guessed away, which could complete works twice).
        if (!progressToRemove_.empty() && !platform::RemoveFile(progressToRemove_))
            ui_.ShowError(messages::kProgressNotRemoved + progressToRemove_ +
                          messages::kProgressNotRemovedTail);
        else if (!reportLogToRemove_.empty())
            platform::RemoveFile(reportLogToRemove_); // one left is removed by the next run
        // 20: the clean-up.
    }
    // 21.
    if (success)
        ui_.CloseAfterSuccess();
}

std::string ImportRun::FinishReport(const std::string& archiveDir, const std::string& targetDir,
                                    const std::string& outcome)
{
    const DateTime when = clock_();
    std::string why;
    reportPath_ =
        WriteReportFile(targetDir, when, ReportText(report_, when, archiveDir, targetDir, outcome), &why);
    const std::string where = reportPath_.empty() ? "Raportu nie zapisano: " + why + "."
                                                  : "Raport zapisano w pliku: " + reportPath_;
    return where + "\n\n" + ReportSummary(report_, 20);
}

bool ImportRun::OpenCounters(const std::string& targetDir, std::string& why, bool& locked)
{
    why.clear();
    locked = false;
    try {
        counters_ = std::make_unique<CountersTable>(TargetSubdirectory(targetDir, "ADMIN"));
        counters_->table.SetExclusive(true);
        counters_->table.Open();
        return true;
    } catch (const engine::Error& e) {
        why = engine::FailureText(e);
        locked = e.Kind() == engine::ErrorKind::Locked;
    } catch (const std::exception& e) {
        why = engine::FailureText(e);
    } catch (...) {}
    counters_.reset();
    return false;
}

bool ImportRun::WithdrawInterrupted(const std::string& targetDir)
{
    const std::string directory = JournalDirectory(targetDir);
    try {
        // A journal a commit made void but could not remove goes too, without a word.
        withdrawnTold_ = engine::RecoverJournal(directory, {&counters_->table}).rolledBack;
        if (withdrawnTold_)
            ui_.ShowMessage(Info(messages::kInterruptedWithdrawn));
        return true;
    } catch (const std::exception& e) {
        ui_.ShowMessage(
            Message{std::string(messages::kInterruptedNotWithdrawn) + "\r\n" + engine::FailureText(e),
                    messages::kCaptionError,
                    Buttons::Ok,
                    Icon::Stop,
                    Answer::Ok,
                    {}});
        return false;
    }
}

bool ImportRun::TargetIsSound(const std::string& targetDir)
{
    std::vector<std::string> indexProblems, counterProblems;
    bool unopened = false;
    // Opened exclusively when nobody else has the table open, so that records and index blocks are
    // read in long stretches (a shared open reads a record at a time: over a network share that
    // was most of the run's file operations); shared when somebody has.
    const auto open = [](engine::Table& table) {
        table.SetExclusive(true);
        try {
            table.Open();
            return;
        } catch (const engine::Error& e) {
            if (e.Kind() != engine::ErrorKind::Locked)
                throw;
        }
        table.SetExclusive(false);
        table.Open();
    };
    // A table that does not open is left to the run, which opens every table before it writes
    // and names the reason as usual (somebody holding it, a missing field, ...). A failure once it
    // is open (a read that fails) stops the check, with its reason, rather than skip the table.
    std::vector<std::string> readProblems;
    const auto failedRead = [&readProblems](const char* table, const std::exception& e) {
        readProblems.push_back(std::string("tabela ") + table + ": " + engine::FailureText(e));
    };
    for (const char* name : kProgressTables) {
        engine::Table table(
            TargetSubdirectory(targetDir, std::string_view(name) == "Osoby.dbf" ? "OSOBY" : "KERG"), name);
        try {
            open(table);
        } catch (const engine::Error& e) {
            if (e.Kind() == engine::ErrorKind::BadIndex) { // an index damaged beyond opening
                indexProblems.push_back(engine::FailureText(e));
                unopened = true;
            }
            continue;
        } catch (const std::exception&) {
            continue;
        }
        // The tags the run finds rows by are checked against the rows' keys too: an entry left
        // under a row's old key would make the run miss a person, an assortment or a parcel that
        // is there, and add it a second time (or find another in its place).
        std::vector<std::string> searched;
        for (const SearchedTag* tag : SearchedIn(name, ui_.AssortmentsTicked(), ui_.ParcelsTicked()))
            searched.emplace_back(tag->name);
        try {
            for (std::string& problem : table.CheckIndexEntries(searched))
                indexProblems.push_back(std::move(problem));
        } catch (const std::exception& e) {
            failedRead(name, e);
        }
    }
    // The largest id of a column (or columns) of a table, over every row, deleted or not: a deleted
    // row may be recalled, or still be named elsewhere. Ids are the counter's value in hexadecimal
    // digits; a value of another form, or above what the counter (a 32-bit integer) can hold, is
    // nobody's draw from it and cannot meet one. -1 when the table holds none, or does not open
    // (the run names why: somebody holding it, a missing field, ...); `read` tells the two apart.
    struct Largest
    {
        std::int64_t value = -1;
        std::string text;
        const char* field = nullptr;
        std::int64_t row = 0; // where the id stands, deleted rows counted
        bool read = false;
        std::size_t width = 0; // of the first field
    };
    const auto largestIn = [&](const char* directory, const char* name,
                               const std::vector<const char*>& fields) {
        Largest found;
        engine::Table table(TargetSubdirectory(targetDir, directory), name);
        std::vector<engine::Field> ids;
        try {
            open(table);
            for (const char* field : fields)
                ids.push_back(table.FieldByName(field));
            found.width = ids.front().Width();
        } catch (const std::exception&) {
            return found;
        }
        try {
            const std::int64_t rows = table.RecordCount();
            for (std::int64_t r = 1; r <= rows; ++r) {
                table.MoveTo(static_cast<std::uint32_t>(r));
                for (std::size_t f = 0; f < ids.size(); ++f) {
                    std::string text = ids[f].AsString();
                    text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
                    text.erase(std::min(text.find_last_not_of(' ') + 1, text.size()));
                    if (text.empty() || text.size() > 8 ||
                        text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
                        continue;
                    const std::int64_t value = std::stoll(text, nullptr, 16);
                    if (value > std::numeric_limits<std::int32_t>::max() || value <= found.value)
                        continue;
                    found.value = value;
                    found.text = text;
                    found.field = fields[f];
                    found.row = r;
                }
            }
            found.read = true;
        } catch (const std::exception& e) {
            failedRead(name, e);
        }
        return found;
    };
    // Each counter against its own table's ids and against the ids other tables name: a row that
    // was removed for good (packed away) may still be named by a work, and a new row given its id
    // would take its place there.
    struct Naming
    {
        const char* directory;
        const char* table;
        std::vector<const char*> fields;
    };
    struct Drawn
    {
        const char* counter;
        const char* directory;
        const char* table;
        const char* field;
        int digits; // of the ids the counter gives
        std::int64_t next;
        bool drawn;
        Naming naming;
    };
    const Drawn counters[] = {{"OSOBY",
                               "OSOBY",
                               "Osoby.dbf",
                               "ID_OSOBY",
                               kPersonIdDigits,
                               state_.PersonCounter,
                               true,
                               {"KERG", "Roboty.dbf", {"WYKON", "ZLECEN"}}},
                              {"ASORTYM",
                               "KERG",
                               "Asortym.dbf",
                               "ID_ASORT",
                               kAssortmentIdDigits,
                               state_.AssortmentCounter,
                               ui_.AssortmentsTicked(),
                               {"KERG", "Kergasor.dbf", {"ID_ASORT"}}},
                              {"DZ",
                               "KERG",
                               "dz.dbf",
                               "ID_DZIALKI",
                               kParcelIdDigits,
                               state_.ParcelCounter,
                               ui_.ParcelsTicked(),
                               {"KERG", "obdg.dbf", {"ID_DZIALKI"}}}};
    for (const Drawn& c : counters) {
        if (!c.drawn)
            continue;
        const Largest own = largestIn(c.directory, c.table, {c.field});
        const Largest named = largestIn(c.naming.directory, c.naming.table, c.naming.fields);
        const std::string head =
            "licznik " + std::string(c.counter) + " w tabeli Dostep.dbf (" + std::to_string(c.next) + ") ";
        // The last id a draw can give: the counter must stay below its largest value, and the id
        // (zeros in front up to its digits) must fit its field whole; the field's width as the
        // table has it, or as the import's own tables have it when the table did not open. Past
        // that id the counter cannot be mended; the row naming it must.
        const std::size_t width = own.width > 0 ? own.width : static_cast<std::size_t>(c.digits);
        std::int64_t last = std::numeric_limits<std::int32_t>::max() - 1;
        if (width < static_cast<std::size_t>(c.digits))
            last = -1; // every id is wider than the field
        else if (width < 8)
            last = std::min(last, (std::int64_t{1} << (4 * width)) - 1);
        const auto advice = [&](const Largest& id, const char* table) {
            if (id.value < last)
                return "; powinien wynosić co najmniej " + std::to_string(id.value + 1);
            const std::string where = " w polu " + std::string(c.field) + " tabeli " + c.table;
            return "; za nim licznik nie może już dać żadnego identyfikatora (" +
                   (last < 0 ? "żaden nie mieści się" + where + ", szerokość pola: " + std::to_string(width)
                             : "najwyżej " + HexId(static_cast<std::int32_t>(last), c.digits) + where) +
                   "), więc trzeba zmienić ten identyfikator w tabeli " + table + ", a nie licznik";
        };
        if (named.value > own.value && named.value >= c.next)
            counterProblems.push_back(
                head + "nie jest większy od identyfikatora " + named.text + " (czyli " +
                std::to_string(named.value) + "), który podaje pole " + named.field + " tabeli " +
                c.naming.table + " (wiersz " + std::to_string(named.row) + ")" +
                (own.read ? ", choć tabela " + std::string(c.table) + " go nie zawiera" : std::string()) +
                advice(named, c.naming.table));
        else if (own.value >= c.next)
            counterProblems.push_back(head + "nie jest większy od największego identyfikatora w tabeli " +
                                      c.table + " (" + own.text + ", czyli " + std::to_string(own.value) +
                                      ", wiersz " + std::to_string(own.row) + ")" + advice(own, c.table));
    }
    // The tags the run finds rows by must hold every row under a key of the searched fields.
    const std::vector<std::string> tagProblems =
        SearchedTagProblems(targetDir, ui_.AssortmentsTicked(), ui_.ParcelsTicked());
    if (indexProblems.empty() && counterProblems.empty() && readProblems.empty() && tagProblems.empty())
        return true;
    std::string details;
    for (const std::string& p : readProblems)
        details += p + "\n";
    for (const std::string& p : counterProblems)
        details += p + "\n";
    if (!counterProblems.empty())
        details += std::string(messages::kCounterMendingHint) + "\n";
    constexpr std::size_t kShown = 12;
    for (std::size_t i = 0; i < indexProblems.size() && i < kShown; ++i)
        details += indexProblems[i] + "\n";
    if (indexProblems.size() > kShown)
        details +=
            "(dalsze niezgodności, tu pominięte: " + std::to_string(indexProblems.size() - kShown) + ")\n";
    if (!indexProblems.empty())
        details +=
            std::string(unopened ? messages::kIndexUnreadableHint : messages::kIndexMendingHint) + "\n";
    for (const std::string& p : tagProblems)
        details += p + "\n";
    if (!tagProblems.empty())
        details += std::string(messages::kSearchedTagHint) + "\n";
    if (withdrawnTold_)
        details += messages::kOnlyWithdrawn;
    else
        details.pop_back();
    ui_.ShowMessage(Message{messages::kTargetNeedsMending, messages::kCaptionError, Buttons::Ok, Icon::Stop,
                            Answer::Ok, details, true});
    return false;
}

bool ImportRun::ReadCounters(std::string& missing, std::string& outOfRange, std::string& why)
{
    missing.clear();
    outOfRange.clear();
    why.clear();
    try {
        engine::Table& table = counters_->table;
        engine::Field name = table.FieldByName("tablename");
        engine::Field next = table.FieldByName("nextval");
        bool person = false, assortment = false, parcel = false;
        // The counters are 32-bit integers: a value outside their range would be taken as another.
        // A counter the chosen options draw from must lie in that range: a value outside it would be
        // taken as another.
        const bool assortments = ui_.AssortmentsTicked();
        const bool parcels = ui_.ParcelsTicked();
        const auto take = [&](const std::string& counter, bool drawn) {
            const std::int64_t value = next.AsInteger();
            if (drawn && outOfRange.empty() &&
                (value < 0 || value > std::numeric_limits<std::int32_t>::max()))
                outOfRange = counter + " ma wartość " + std::to_string(value);
            return static_cast<std::int32_t>(value);
        };
        for (table.First(); !table.Eof(); table.Next()) {
            const std::string upper = Upper1250(name.AsString());
            if (upper == "OSOBY") {
                state_.PersonCounter = take(upper, true);
                person = true;
            } else if (upper == "ASORTYM") {
                state_.AssortmentCounter = take(upper, assortments);
                assortment = true;
            } else if (upper == "DZ") {
                state_.ParcelCounter = take(upper, parcels);
                parcel = true;
            }
        }
        // Without its counter the ids a step hands out could repeat ids already in use; a counter
        // the chosen options never draw from may be missing (persons are always completed).
        missing = !person ? "OSOBY" : !assortment && assortments ? "ASORTYM" : !parcel && parcels ? "DZ" : "";
        return missing.empty() && outOfRange.empty();
    } catch (const std::exception& e) {
        why = engine::FailureText(e);
    } catch (...) {}
    missing.clear();
    return false;
}

void ImportRun::StoreCounters()
{
    engine::Table& table = counters_->table;
    engine::Field name = table.FieldByName("tablename");
    engine::Field next = table.FieldByName("nextval");
    for (table.First(); !table.Eof(); table.Next()) {
        const std::string upper = Upper1250(name.AsString());
        std::int32_t value = 0;
        if (upper == "OSOBY")
            value = state_.PersonCounter;
        else if (upper == "ASORTYM" && ui_.AssortmentsTicked())
            value = state_.AssortmentCounter;
        else if (upper == "DZ" && ui_.ParcelsTicked())
            value = state_.ParcelCounter;
        else
            continue; // a counter the run does not draw from keeps its row as it is, whatever it holds
        if (next.AsInteger() == value)
            continue;
        table.Edit();
        next.SetInteger(value);
        table.Post();
    }
}

void ImportRun::CommitPoint(bool last, const RunContext& context)
{
    if (!transaction_)
        return;
    if (!last) {
        ++worksInBatch_;
        if (worksInBatch_ < commits_.worksPerCommit &&
            std::chrono::steady_clock::now() - batchStart_ < commits_.interval)
            return;
    }
    StoreCounters();
    // At the end of the walk the table names the last row; it goes once the run has said that the
    // import is finished. It is made at the last commit too, when that is the first: a run killed
    // after it, before its final message, must not complete again the works it completed without
    // a contractor.
    if (last && progress_)
        progress_->walkEnded = true;
    StoreProgress(context.walked, context.targetRows ? context.targetRows() : std::vector<std::int64_t>{});
    StoreReportLog();
    CommitBatch();
    committedReport_ = report_;
    worksInBatch_ = 0;
    if (commits_.afterCommit)
        commits_.afterCommit();
    batchStart_ = std::chrono::steady_clock::now();
}

void ImportRun::OpenProgress(const std::string& targetDir)
{
    resumeAfter_ = 0;
    resumeRows_.clear();
    progress_ = std::make_unique<ProgressTable>();
    progress_->directory = JournalDirectory(targetDir);
    const bool renumbered = ui_.CommuneConversionTicked();
    for (const bool ticked : {renumbered, ui_.AssortmentsTicked(), ui_.ParcelsTicked(), ui_.RastersTicked()})
        progress_->options += ticked ? '1' : '0';
    progress_->renumbering = renumbered ? RenumberingDigest(renumbering_.Table()) : std::string();
    progress_->archive = Utf8ToCp1250(state_.ArchiveDir).substr(0, kArchiveFieldWidth);
    progress_->contents = ArchiveContents(reader_.Opener(), state_.ArchiveDir);
    // What a making of the tables cut short left behind.
    for (const std::string& stray :
         {progress_->NewPath(), platform::ReplacementPath(progress_->Path()), progress_->LogNewPath(),
          platform::ReplacementPath(progress_->LogPath())})
        if (platform::Exists(stray))
            platform::RemoveFile(stray);
    if (!platform::Exists(progress_->Path())) {
        // A log without its progress table belongs to no import (the end of one removed the table
        // first): a new one is made with the table.
        if (platform::Exists(progress_->LogPath()))
            platform::RemoveFile(progress_->LogPath());
        return;
    }
    try {
        auto table = OpenRunTable(progress_->directory, kProgressFileName, transaction_.get());
        const std::int64_t row = ProgressRow(*table, progress_->Path(), &resumeRows_);
        if (row > 0) {
            ResumeWithTheSameSettings(*table, row);
            // Told once the target is found to be as that import left it, whether it was killed
            // between two commits (nothing to withdraw) or within one.
            goingOnToTell_ = messages::kInterruptedResumed;
        }
        progress_->table = std::move(table);
        progress_->stored = row;
        progress_->storedRows = resumeRows_;
        resumeAfter_ = row;
        report_.resumedAfter = row;
        committedReport_.resumedAfter = row;
        OpenReportLog(row);
    } catch (const SettingsDiffer&) {
        throw;
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(messages::kProgressUnreadable) + "\r\n" +
                                 engine::FailureText(e));
    }
}

void ImportRun::OpenReportLog(std::int64_t row)
{
    progress_->logging = false;
    if (!platform::Exists(progress_->LogPath()))
        return; // an import of a program that kept no log
    try {
        auto log = OpenRunTable(progress_->directory, kReportLogFileName, transaction_.get());
        const std::vector<std::string> lines = ReadReportLog(*log);
        progress_->log = std::move(log);
        if (row <= 0) {
            progress_->logging = lines.empty();
            return;
        }
        std::optional<ImportReport> replayed = ReplayReportLog(lines);
        if (!replayed)
            return;
        replayed->resumedAfter = row;
        replayed->includesInterrupted = true;
        report_ = *replayed;
        committedReport_ = std::move(*replayed);
        progress_->logging = true;
    } catch (const std::exception&) {
        // The works are what counts: the run goes on, and reports its own part.
        progress_->log.reset();
    }
}

void ImportRun::StoreReportLog()
{
    if (progress_ && progress_->log && progress_->logging)
        AppendReportLog(*progress_->log, ReportLogLines(report_, committedReport_));
}

void ImportRun::ResumeWithTheSameSettings(engine::Table& table, std::int64_t resumeRow)
{
    // A table from before the settings were kept has none of these fields: nothing to compare.
    std::string differences;
    if (const auto options = FindField(table, kOptionsField)) {
        const std::string before = options->AsString();
        for (std::size_t i = 0; i < std::size(kOptionNames) && i < before.size(); ++i) {
            if (before[i] != progress_->options[i])
                differences += std::string("\r\n") + kOptionNames[i] + ": wtedy " +
                               (before[i] == '1' ? "zaznaczone" : "niezaznaczone") + ", teraz " +
                               (progress_->options[i] == '1' ? "zaznaczone" : "niezaznaczone") + ".";
        }
        if (before.size() == 4 && before[0] == '1' && progress_->options[0] == '1') {
            if (const auto digest = FindField(table, kRenumberingField);
                digest && digest->AsString() != progress_->renumbering)
                differences += std::string("\r\n") + messages::kRenumberingChanged;
        }
    }
    if (const auto archive = FindField(table, kArchiveField)) {
        // Names are found without regard to case, so "d:\archiwum\" is the same as "D:\ARCHIWUM\".
        const std::string before = archive->AsString();
        if (Upper1250(before) != Upper1250(progress_->archive))
            differences += std::string("\r\n") + messages::kArchiveChanged + Cp1250ToUtf8(before) + ".";
    }
    if (const auto contents = FindField(table, kArchiveContentsField)) {
        const std::vector<std::string> changed =
            ChangedArchiveTables(contents->AsString(), progress_->contents);
        if (!changed.empty()) {
            differences +=
                std::string("\r\n") + messages::kArchiveContentsChanged +
                (changed.size() == 1 ? messages::kArchiveTableChanged : messages::kArchiveTablesChanged);
            for (std::size_t i = 0; i < changed.size(); ++i)
                differences += (i == 0 ? "" : ", ") + changed[i];
            differences += std::string("). ") + messages::kArchiveContentsChangedTail;
        }
    }
    if (!differences.empty()) {
        // That import had walked every work, and only its file was left (a cut of power during its
        // final message): there is nothing to finish, with these settings or those.
        if (!resumeRows_.empty() && resumeRows_[0] == resumeRow)
            throw SettingsDiffer(std::string(messages::kSettingsDiffer) + differences + "\r\n" +
                                 messages::kProgressEndedHint + progress_->Path() +
                                 messages::kProgressEndedTail);
        throw SettingsDiffer(std::string(messages::kSettingsDiffer) + differences + "\r\n" +
                             messages::kSettingsDifferTail);
    }
    // The rows this run adds are the interrupted import's: they take its stamp.
    if (const auto stamp = FindField(table, kStampField); stamp && !stamp->AsString().empty())
        state_.CreatorStamp = stamp->AsString();
}

void ImportRun::StoreProgress(std::int64_t row, const std::vector<std::int64_t>& rows)
{
    if (!progress_ || (progress_->table && row == progress_->stored && rows == progress_->storedRows))
        return;
    if (!progress_->table) {
        // The report log comes first: a log without a progress table is removed by the next run.
        if (progress_->logging)
            progress_->log = MakeRunTable(
                progress_->directory, kReportLogFileName,
                [this](const std::string& name) { CreateReportLog(progress_->directory, name); },
                "w którym import zapisuje swój raport", transaction_.get());
        progress_->table = MakeRunTable(
            progress_->directory, kProgressFileName,
            [this](const std::string& name) {
                std::vector<engine::FieldDefinition> fields = {{"WIERSZ", 'N', 10, 0}};
                for (const char* counted : kProgressTables)
                    fields.push_back({RowsField(counted), 'N', 10, 0});
                fields.push_back({kCompletedField, 'N', 10, 0});
                fields.push_back({kOptionsField, 'C', 4, 0});
                fields.push_back({kRenumberingField, 'C', 16, 0});
                fields.push_back({kArchiveField, 'C', kArchiveFieldWidth, 0});
                fields.push_back(
                    {kArchiveContentsField, 'C', std::size(kArchiveTables) * kArchiveTableDigits, 0});
                fields.push_back({kStampField, 'C', 8, 0});
                engine::CreateTable(progress_->directory, name, fields, {}, 0);
            },
            "w którym import zapisuje, dokąd doszedł", transaction_.get());
    }
    engine::Table& table = *progress_->table;
    if (table.RecordCount() == 0) {
        table.Append();
        // Set once, with the row: a run that resumes has the same settings and stamp.
        const std::pair<const char*, std::string> settings[] = {{kOptionsField, progress_->options},
                                                                {kRenumberingField, progress_->renumbering},
                                                                {kArchiveField, progress_->archive},
                                                                {kArchiveContentsField, progress_->contents},
                                                                {kStampField, state_.CreatorStamp}};
        for (const auto& [name, value] : settings) {
            if (auto field = FindField(table, name))
                field->SetString(value);
        }
    } else {
        table.First();
        table.Edit();
    }
    table.FieldByName("WIERSZ").SetInteger(row);
    for (std::size_t i = 0; i < rows.size() && i < std::size(kProgressTables); ++i)
        table.FieldByName(RowsField(kProgressTables[i])).SetInteger(rows[i]);
    if (rows.size() > std::size(kProgressTables))
        if (auto completed = FindField(table, kCompletedField))
            completed->SetInteger(rows[std::size(kProgressTables)]);
    table.Post();
    progress_->stored = row;
    progress_->storedRows = rows;
}

void ImportRun::CloseProgress(bool committed)
{
    if (!progress_)
        return;
    // The table says nothing more once it names no row, or once the walk it covers has ended and
    // the run has finished: it goes then (the caller removes it after the final message, so that
    // an import ended before it by a power cut is still known as unfinished). Otherwise it stays
    // for the next run.
    if (committed && progress_->table && (progress_->stored == 0 || progress_->walkEnded)) {
        progressToRemove_ = progress_->Path();
        if (progress_->log || platform::Exists(progress_->LogPath()))
            reportLogToRemove_ = progress_->LogPath();
    }
    progress_.reset();
}

void ImportRun::CommitBatch()
{
    try {
        transaction_->Commit();
    } catch (...) {
        // The commit withdrew its changes, or could not, or cannot tell: its message says which.
        commitFailed_ = true;
        throw;
    }
}

std::string ImportRun::RollBackAfterError()
{
    batchWithdrawn_ = false;
    if (!transaction_ || commitFailed_)
        return std::string();
    try {
        transaction_->RollBack();
        batchWithdrawn_ = true;
        return std::string();
    } catch (const std::exception& e) {
        return std::string("\r\n") + engine::FailureText(e);
    }
}

} // namespace convert
