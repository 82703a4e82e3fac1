// The commands of kerg-inspect.
#include "tools/inspect.h"

#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>

#include "archive/reader.h"
#include "convert/kerg_conversion.h"
#include "convert/text.h"
#include "engine/code_page.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "tools/archive_layout.h"
#include "tools/cp852.h"
#include "tools/key_expression.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "użycie: kerg-inspect table PLIK | dump PLIK [POLE...] | index PLIK.ntx | seek PLIK.ntx KLUCZ | "
    "seek PLIK.ntx --hex HEX | check KATALOG | digest KATALOG | verify KATALOG | reindex TABELA | "
    "recover KATALOG_DOCELOWY [--force] | import KATALOG_ARCHIWUM KATALOG_DOCELOWY [opcje]";

std::string Hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::optional<std::string> FromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c = hex[i + j];
            value *= 16;
            if (c >= '0' && c <= '9')
                value += c - '0';
            else if (c >= 'A' && c <= 'F')
                value += c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                value += c - 'a' + 10;
            else
                return std::nullopt;
        }
        out.push_back(static_cast<char>(value));
    }
    return out;
}

std::string TableError(int code)
{
    switch (code) {
    case archive::kTableCannotOpen:
        return "plik nie istnieje lub nie można go otworzyć";
    case archive::kTableShort:
        return "plik jest uszkodzony (nagłówek lub rekordy nie pasują do długości pliku)";
    case archive::kTableSeekFailed:
        return "nie można ustawić się w pliku";
    default:
        return "błąd odczytu (kod " + std::to_string(code) + ")";
    }
}

std::string IndexError(int code)
{
    switch (code) {
    case archive::kIndexCannotOpen:
        return "plik nie istnieje lub nie można go otworzyć";
    case archive::kIndexShort:
        return "plik jest krótszy niż nagłówek indeksu";
    case archive::kIndexBadPage:
        return "uszkodzona strona indeksu";
    case archive::kIndexKeyTooLong:
        return "długość klucza w nagłówku przekracza 255";
    default:
        return "błąd odczytu (kod " + std::to_string(code) + ")";
    }
}

// Opens a table into a fresh reader; reports on `err` when it fails.
bool OpenTable(archive::Reader& reader, const std::string& path, std::uint8_t& area, std::ostream& err)
{
    reader.ResetWorkAreas();
    area = 0;
    reader.OpenTable(path, area);
    if (reader.TableResult() != 0) {
        err << "kerg-inspect: " << path << ": " << TableError(reader.TableResult()) << '\n';
        return false;
    }
    reader.SetReadBuffer(area, 32000);
    if (reader.TableResult() != 0 && reader.TableResult() != archive::kTableEnd) {
        err << "kerg-inspect: " << path << ": " << TableError(reader.TableResult()) << '\n';
        return false;
    }
    return true;
}

int Table(const std::string& path, std::ostream& out, std::ostream& err)
{
    archive::Reader reader;
    std::uint8_t area = 0;
    if (!OpenTable(reader, path, area, err))
        return kInspectBadInput;
    const archive::WorkArea& a = *reader.Area(area);
    // The language driver is beyond the header bytes the reader keeps.
    int driver = -1;
    if (auto file = platform::OpenForReading(path)) {
        unsigned char header[32] = {};
        if (file->Read(header, sizeof header) == 32)
            driver = header[29];
    }
    char line[160];
    std::snprintf(line, sizeof line, "wersja\t0x%02X\n", a.header[0]);
    out << line;
    std::snprintf(line, sizeof line, "ostatnia zmiana\t%04d-%02d-%02d\n", 1900 + a.header[1], a.header[2],
                  a.header[3]);
    out << line;
    out << "rekordy\t" << a.RecordCount() << '\n';
    out << "długość nagłówka\t" << a.HeaderLength() << '\n';
    out << "długość rekordu\t" << a.RecordLength() << '\n';
    if (driver >= 0) {
        std::snprintf(line, sizeof line, "sterownik językowy\t0x%02X\n", driver);
        out << line;
    }
    out << "pola\t" << a.fieldCount << '\n';
    for (const archive::FieldDescriptor& f : a.descriptors) {
        out << f.name << '\t' << f.type << '\t' << static_cast<int>(f.width) << '\t'
            << static_cast<int>(f.decimals) << '\n';
    }
    return kInspectOk;
}

int Dump(const std::string& path, const std::vector<std::string>& fields, std::ostream& out,
         std::ostream& err)
{
    archive::Reader reader;
    std::uint8_t area = 0;
    if (!OpenTable(reader, path, area, err))
        return kInspectBadInput;
    const archive::WorkArea& a = *reader.Area(area);
    std::vector<const archive::FieldDescriptor*> shown;
    if (fields.empty()) {
        for (const auto& f : a.descriptors)
            shown.push_back(&f);
    } else {
        for (const std::string& wanted : fields) {
            std::string upper = wanted;
            for (char& c : upper)
                c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
            const archive::FieldDescriptor* found = nullptr;
            for (const auto& f : a.descriptors) {
                if (f.name == upper)
                    found = &f;
            }
            if (found == nullptr) {
                err << "kerg-inspect: " << path << ": brak pola " << wanted << '\n';
                return kInspectBadInput;
            }
            shown.push_back(found);
        }
    }
    // Text decoded by the table's language driver: code page 1250 for the Windows drivers, 852
    // otherwise (the archive's tables, and the target's db852po0 ones).
    std::uint8_t driver = 0;
    if (auto file = platform::OpenForReading(path); file && file->Size() > 29)
        file->ReadAt(29, &driver, 1);
    const std::optional<engine::LanguageDriver> language = engine::DriverFromId(driver);
    const engine::CodePage page = language ? language->codePage : engine::CodePage::Cp852;
    auto decode = [page](std::string_view text) {
        if (page == engine::CodePage::Cp852)
            return Cp852ToUtf8(text, true);
        return convert::Cp1250ToUtf8(engine::ToProgramText(text, page));
    };
    std::int32_t row = 0;
    while (!reader.IsEof(area)) {
        const std::string_view record = reader.CurrentRecordBytes(area);
        if (record.empty()) {
            err << "kerg-inspect: " << path << ": rekordu " << row + 1 << " nie można odczytać\n";
            return kInspectBadInput;
        }
        out << (record[0] == '*' ? "*" : "");
        for (const archive::FieldDescriptor* f : shown) {
            std::string_view text = record.substr(f->offset, f->width);
            while (!text.empty() && text.back() == ' ')
                text.remove_suffix(1);
            if (f->type == 'N' || f->type == 'F') {
                while (!text.empty() && text.front() == ' ')
                    text.remove_prefix(1);
            }
            out << '\t' << decode(text);
        }
        out << '\n';
        ++row;
        reader.NextRecord(area);
        if (reader.TableResult() != 0 && reader.TableResult() != archive::kTableEnd) {
            err << "kerg-inspect: " << path << ": rekordu " << row + 1
                << " nie można odczytać: " << TableError(reader.TableResult()) << '\n';
            return kInspectBadInput;
        }
    }
    return kInspectOk;
}

bool OpenIndex(archive::Reader& reader, archive::IndexHandle& handle, const std::string& path,
               std::ostream& err)
{
    reader.OpenIndex(handle, path);
    if (reader.IndexResult() != 0) {
        err << "kerg-inspect: " << path << ": " << IndexError(reader.IndexResult()) << '\n';
        return false;
    }
    return true;
}

// Walks the whole index, calling `entry` with each record number (1-based) and key.
template <typename Entry>
bool WalkIndex(archive::Reader& reader, archive::IndexHandle& handle, Entry entry)
{
    std::int32_t recno = 0;
    // Below every key: binary keys may start with NUL bytes.
    if (reader.SeekKey(handle, std::string(handle.KeySize(), '\0'), recno))
        entry(recno + 1, handle.currentKey.View());
    while (reader.IndexResult() == 0 && reader.NextKey(handle, recno))
        entry(recno + 1, handle.currentKey.View());
    return reader.IndexResult() == 0;
}

int Index(const std::string& path, std::ostream& out, std::ostream& err)
{
    archive::Reader reader;
    archive::IndexHandle handle;
    if (!OpenIndex(reader, handle, path, err))
        return kInspectBadInput;
    const bool ok = WalkIndex(reader, handle, [&](std::int32_t record, std::string_view key) {
        out << record << '\t' << Hex(key) << '\t' << Cp852ToUtf8(key, true) << '\n';
    });
    if (!ok) {
        err << "kerg-inspect: " << path << ": " << IndexError(reader.IndexResult()) << '\n';
        return kInspectBadInput;
    }
    return kInspectOk;
}

int Seek(const std::string& path, const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string key;
    if (args.size() == 2 && args[0] == "--hex") {
        const auto bytes = FromHex(args[1]);
        if (!bytes) {
            err << "kerg-inspect: klucz " << args[1] << " nie jest zapisem szesnastkowym\n";
            return kInspectBadInput;
        }
        key = *bytes;
    } else if (args.size() == 1) {
        const auto bytes = Utf8ToCp852(args[0]);
        if (!bytes) {
            err << "kerg-inspect: klucza " << args[0] << " nie da się zapisać w stronie kodowej 852\n";
            return kInspectBadInput;
        }
        key = *bytes;
    } else {
        err << kUsage << '\n';
        return kInspectBadInput;
    }
    archive::Reader reader;
    archive::IndexHandle handle;
    if (!OpenIndex(reader, handle, path, err))
        return kInspectBadInput;
    if (key.size() > handle.KeySize()) {
        err << "kerg-inspect: klucz jest dłuższy niż klucz indeksu (" << handle.KeySize() << " bajtów)\n";
        return kInspectBadInput;
    }
    std::int32_t recno = 0;
    const bool found = reader.SeekKey(handle, key, recno);
    if (reader.IndexResult() != 0) {
        err << "kerg-inspect: " << path << ": " << IndexError(reader.IndexResult()) << '\n';
        return kInspectBadInput;
    }
    if (!found) {
        out << "brak klucza\n";
        return kInspectNotFound;
    }
    out << recno + 1 << '\n';
    return kInspectFound;
}

// --- check ---

class Checker
{
public:
    Checker(std::string directory, std::ostream& out) : directory_(std::move(directory)), out_(out)
    {
        if (directory_.empty() || !platform::IsSeparator(directory_.back()))
            directory_.push_back(platform::kSeparator);
    }

    int Run()
    {
        for (const ArchiveFile& file : ArchiveFiles()) {
            if (file.table.empty())
                CheckTable(file);
            else
                CheckIndex(file);
        }
        if (problems_ == 0) {
            out_ << "Archiwum w porządku: sprawdzono " << ArchiveFiles().size() << " plików.\n";
            return kInspectOk;
        }
        out_ << "Znalezione problemy: " << problems_ << ".\n";
        return kInspectProblems;
    }

private:
    static constexpr int kShownPerFile = 20;

    void Problem(const std::string& file, const std::string& what)
    {
        ++problems_;
        if (++shown_[file] <= kShownPerFile)
            out_ << file << ": " << what << '\n';
        else if (shown_[file] == kShownPerFile + 1)
            out_ << file << ": (dalsze problemy tego pliku pominięto)\n";
    }

    void CheckTable(const ArchiveFile& file)
    {
        archive::Reader reader;
        reader.ResetWorkAreas();
        std::uint8_t area = 0;
        reader.OpenTable(directory_ + file.name, area);
        if (reader.TableResult() != 0) {
            Problem(file.name, TableError(reader.TableResult()));
            return;
        }
        for (const std::string& field : file.fields) {
            archive::ShortString ignored;
            reader.BindRawString(field, ignored, 255);
            if (reader.TableResult() != 0)
                Problem(file.name, "brak pola " + field);
        }
        // Records the file does not hold whole would read as spaces: say that they are missing.
        const archive::WorkArea& a = *reader.Area(area);
        const std::int32_t count = std::max(a.RecordCount(), 0);
        if (const std::int32_t whole = convert::ArchiveRecordsInFile(a); whole < count) {
            Problem(file.name, "plik jest krótszy, niż wynika z nagłówka: brakuje " +
                                   std::to_string(count - whole) + " z " + std::to_string(count) +
                                   " rekordów");
        }
        reader.CloseTable(area);
        ReadAll(file.name, [](std::int32_t, std::string_view) {});
    }

    // Reads every record of a table, calling `each` with its 1-based number and bytes; reports
    // records that cannot be read. False when the table does not open.
    template <typename Each>
    bool ReadAll(const std::string& name, Each each, const archive::WorkArea** areaOut = nullptr,
                 archive::Reader* reader = nullptr)
    {
        archive::Reader own;
        archive::Reader& r = reader != nullptr ? *reader : own;
        r.ResetWorkAreas();
        std::uint8_t area = 0;
        r.OpenTable(directory_ + name, area);
        if (r.TableResult() != 0)
            return false;
        r.SetReadBuffer(area, 32000);
        if (areaOut != nullptr)
            *areaOut = r.Area(area);
        const std::int32_t count = r.Area(area)->RecordCount();
        for (std::int32_t i = 0; i < count; ++i) {
            r.GotoRecord(area, i);
            const std::string_view record = r.CurrentRecordBytes(area);
            if (r.TableResult() != 0 || record.empty()) {
                Problem(name, "rekordu " + std::to_string(i + 1) +
                                  " nie można odczytać: " + TableError(r.TableResult()));
                return true;
            }
            each(i + 1, record);
        }
        return true;
    }

    void CheckIndex(const ArchiveFile& file)
    {
        archive::Reader reader;
        archive::IndexHandle handle;
        reader.OpenIndex(handle, directory_ + file.name);
        if (reader.IndexResult() != 0) {
            Problem(file.name, IndexError(reader.IndexResult()));
            return;
        }
        if (const std::string why = convert::ArchiveIndexProblem(file.name, handle); !why.empty())
            Problem(file.name, why);
        // The table's keys, where the key expression is one this tool evaluates.
        archive::Reader tableReader;
        const archive::WorkArea* area = nullptr;
        std::vector<std::optional<std::string>> keys;
        std::optional<KeyExpression> expression;
        bool expressionParsed = false;
        const bool tableOpened = ReadAll(
            file.table,
            [&](std::int32_t, std::string_view record) {
                if (!expressionParsed) {
                    expression = KeyExpression::Parse(handle.KeyExpression(), area->descriptors);
                    expressionParsed = true;
                }
                if (expression) {
                    auto key = expression->Evaluate(record);
                    if (key)
                        key->resize(handle.KeySize(), ' ');
                    keys.push_back(std::move(key));
                } else {
                    keys.push_back(std::nullopt);
                }
            },
            &area, &tableReader);
        if (!tableOpened) {
            Problem(file.name, "nie można sprawdzić indeksu bez tabeli " + file.table);
            return;
        }
        const std::int32_t records = area->RecordCount();

        std::vector<int> seen(static_cast<std::size_t>(std::max(records, 0)), 0);
        std::string previous;
        bool first = true;
        const bool walked = WalkIndex(reader, handle, [&](std::int32_t record, std::string_view key) {
            if (!first && key < std::string_view(previous))
                Problem(file.name, "klucz rekordu " + std::to_string(record) + " stoi poza kolejnością");
            first = false;
            previous.assign(key);
            if (record < 1 || record > records) {
                Problem(file.name, "numer rekordu " + std::to_string(record) + " spoza tabeli " + file.table);
                return;
            }
            ++seen[static_cast<std::size_t>(record - 1)];
            const auto& own = keys.size() >= static_cast<std::size_t>(record)
                                  ? keys[static_cast<std::size_t>(record - 1)]
                                  : std::optional<std::string>();
            if (own && *own != key)
                Problem(file.name, "klucz rekordu " + std::to_string(record) + " (" + Hex(key) +
                                       ") różni się od wartości wyrażenia " + handle.KeyExpression() + " (" +
                                       Hex(*own) + ")");
        });
        if (!walked)
            Problem(file.name, IndexError(reader.IndexResult()));
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (seen[i] == 0)
                Problem(file.name, "brak rekordu " + std::to_string(i + 1) + " tabeli " + file.table);
            else if (seen[i] > 1)
                Problem(file.name, "rekord " + std::to_string(i + 1) + " występuje " +
                                       std::to_string(seen[i]) + " razy");
        }
        if (!expression && records > 0)
            out_ << file.name << ": wyrażenie klucza " << handle.KeyExpression()
                 << " nie jest sprawdzane z rekordami\n";
    }

    std::string directory_;
    std::ostream& out_;
    int problems_ = 0;
    std::map<std::string, int> shown_;
};

} // namespace

int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    try {
        if (args.size() == 2 && args[0] == "table")
            return Table(args[1], out, err);
        if (args.size() >= 2 && args[0] == "dump")
            return Dump(args[1], std::vector<std::string>(args.begin() + 2, args.end()), out, err);
        if (args.size() == 2 && args[0] == "index")
            return Index(args[1], out, err);
        if (args.size() >= 3 && args[0] == "seek")
            return Seek(args[1], std::vector<std::string>(args.begin() + 2, args.end()), out, err);
        if (!args.empty() && args[0] == "import")
            return RunImportCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
        if (args.size() == 2 && args[0] == "digest")
            return RunDigestCommand(args[1], out, err);
        if (args.size() == 2 && args[0] == "verify")
            return RunVerifyCommand(args[1], out, err);
        if (args.size() == 2 && args[0] == "reindex")
            return RunReindexCommand(args[1], out, err);
        if (!args.empty() && args[0] == "recover")
            return RunRecoverCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
        if (args.size() == 2 && args[0] == "check") {
            if (!platform::Exists(args[1])) {
                err << "kerg-inspect: katalog " << args[1] << " nie istnieje\n";
                return kInspectBadInput;
            }
            return Checker(args[1], out).Run();
        }
        err << kUsage << '\n';
        return kInspectBadInput;
    } catch (const std::exception& e) {
        err << "kerg-inspect: " << e.what() << '\n';
        return kInspectBadInput;
    }
}

} // namespace tools
