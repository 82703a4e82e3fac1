// kerg-inspect's commands over the target database: verify every table and tag, rebuild a table's
// tags, withdraw what an interrupted import left.
#include <algorithm>
#include <filesystem>
#include <ostream>

#include "convert/import_run.h"
#include "convert/report_log.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/paths.h"
#include "tools/inspect.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

// The journals left under `directory` by transactions that did not finish.
std::vector<std::string> PendingJournals(const std::string& directory)
{
    std::vector<std::string> found;
    if (engine::JournalPending(directory))
        found.push_back(platform::Utf8Path(platform::NativePath(directory) / engine::kJournalFileName));
    std::error_code ec;
    const fs::path root = platform::NativePath(platform::ResolveCaseInsensitive(directory));
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && engine::JournalPending(platform::Utf8Path(it->path())))
            found.push_back(platform::Utf8Path(it->path() / engine::kJournalFileName));
    }
    return found;
}

} // namespace

int RunVerifyCommand(const std::string& directory, std::ostream& out, std::ostream& err)
{
    if (!platform::IsDirectory(directory)) {
        err << "kerg-inspect: katalog " << directory << " nie istnieje\n";
        return kInspectBadInput;
    }
    // Every table's tags: what the engine keeps, and what would stop an import.
    std::error_code ec;
    const fs::path root = platform::NativePath(platform::ResolveCaseInsensitive(directory));
    std::vector<fs::path> found;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string ext = platform::Utf8Path(it->path().extension());
        for (char& c : ext)
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (it->is_regular_file(ec) && ext == ".DBF")
            found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    for (const fs::path& table : found) {
        std::string name = platform::Utf8Path(fs::relative(table, root, ec));
        std::replace(name.begin(), name.end(), '\\', '/');
        try {
            for (const engine::TagDescription& t : engine::DescribeTags(
                     platform::Utf8Path(table.parent_path()), platform::Utf8Path(table.filename()))) {
                out << name << ": znacznik " << t.name << ": " << t.expression;
                if (!t.forExpression.empty())
                    out << " FOR " << t.forExpression;
                out << " (klucz "
                    << (t.keyType == 'C'   ? "znakowy"
                        : t.keyType == 'N' ? "liczbowy"
                                           : "datowy")
                    << ", " << t.keyLength << " B" << (t.descending ? ", malejący" : "")
                    << (t.unique ? ", unikalny" : "") << "): "
                    << (t.maintained ? "prowadzony"
                                     : "nieobsługiwany: " + t.problem + "; tabeli nie można zmieniać")
                    << '\n';
            }
        } catch (const engine::Error&) {
            // VerifyDirectory below names what is wrong with the table
        }
    }
    std::size_t tables = 0;
    std::vector<std::string> problems = engine::VerifyDirectory(directory, &tables);
    for (const std::string& journal : PendingJournals(directory))
        problems.push_back("Dziennik przerwanego importu " + journal +
                           " czeka na wycofanie (kerg-inspect recover albo następny import); do tego czasu "
                           "tabele mogą być zapisane tylko w części");
    // An import that ended before its walk did: the next one finishes it (not a fault).
    std::string targetDir = directory;
    if (!targetDir.empty() && !platform::IsSeparator(targetDir.back()))
        targetDir.push_back(platform::kSeparator);
    // Tags the import finds rows by but could not find every row by (with every option ticked).
    for (std::string& problem : convert::SearchedTagProblems(targetDir, true, true))
        problems.push_back(std::move(problem));
    try {
        if (const auto row = convert::InterruptedImportRow(targetDir)) {
            out << "Import przerwany wcześniej przejrzał już wiersze 1–" << *row
                << " tabeli prac; następny import dokończy go od wiersza " << *row + 1 << ".\n";
            if (const auto done = convert::InterruptedImportReport(convert::JournalDirectory(targetDir)))
                out << "Do przerwania uzupełnił prac: " << done->completed
                    << "; dopisał osób: " << done->personsAdded
                    << ", asortymentów: " << done->assortmentsAdded << ", działek: " << done->parcelsAdded
                    << ", zakresów rastrowych: " << done->rasterRanges << ".\n";
            else
                out << "Raportu przerwanego importu (" << convert::kReportLogFileName
                    << ") nie można odczytać: raport następnego importu obejmie tylko jego część.\n";
            if (const std::vector<std::string> settings = convert::InterruptedImportSettings(targetDir);
                !settings.empty()) {
                out << "Dokończy go tylko import z tymi samymi ustawieniami:\n";
                for (const std::string& line : settings)
                    out << "  " << line << '\n';
            }
        }
    } catch (const engine::Error& e) {
        problems.push_back(std::string(convert::messages::kProgressUnreadable) + " " + e.what());
    }
    for (const std::string& problem : problems)
        out << problem << '\n';
    if (problems.empty()) {
        out << "Sprawdzono tabel: " << tables << ". Każda tabela otwiera się, a każdy znacznik indeksu "
            << "zawiera dokładnie klucze swoich rekordów, po kolei.\n";
        return kInspectOk;
    }
    out << "Sprawdzono tabel: " << tables << ". Znalezione problemy: " << problems.size() << ".\n";
    return kInspectProblems;
}

int RunReindexCommand(const std::string& tablePath, std::ostream& out, std::ostream& err)
{
    const std::string directory = platform::DirectoryPart(tablePath);
    std::string name = tablePath.substr(directory.size());
    std::string dir = directory;
    while (!dir.empty() && platform::IsSeparator(dir.back()))
        dir.pop_back();
    if (dir.empty())
        dir = ".";
    if (name.empty() || !platform::Exists(tablePath)) {
        err << "kerg-inspect: tabela " << tablePath << " nie istnieje\n";
        return kInspectBadInput;
    }
    // A rebuild killed halfway is withdrawn before anything else is done to the table.
    if (engine::RecoverJournal(dir).rolledBack)
        out << "Wycofano niedokończoną przebudowę z dziennika w katalogu " << dir << ".\n";
    engine::Table table(dir, name);
    table.SetExclusive(true);
    table.Open();
    // The rebuild is one transaction: killed at any instant, it leaves the old index or the new.
    engine::Transaction transaction(dir);
    table.SetTransaction(&transaction);
    table.Reindex();
    transaction.Commit();
    const std::vector<std::string> problems = table.Verify();
    table.Close();
    for (const std::string& problem : problems)
        out << problem << '\n';
    out << "Przebudowano znaczniki indeksu tabeli " << tablePath << ".\n";
    return problems.empty() ? kInspectOk : kInspectProblems;
}

int RunRecoverCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> dirs;
    bool force = false;
    for (const std::string& a : args) {
        if (a == "--force")
            force = true;
        else
            dirs.push_back(a);
    }
    if (dirs.size() != 1) {
        err << "użycie: kerg-inspect recover KATALOG_DOCELOWY [--force]\n";
        return kInspectBadInput;
    }
    std::string target = dirs[0];
    if (!platform::IsDirectory(target)) {
        err << "kerg-inspect: katalog " << target << " nie istnieje\n";
        return kInspectBadInput;
    }
    if (!platform::IsSeparator(target.back()))
        target.push_back(platform::kSeparator);
    const std::string baza = target + "BAZA";
    try {
        const engine::Recovery recovery = engine::RecoverJournal(baza, {}, !force);
        if (!recovery.rolledBack) {
            out << "W katalogu " << baza
                << " nie ma dziennika przerwanego importu: nie ma czego wycofywać.\n";
            return kInspectOk;
        }
        out << "Wycofano niedokończone zmiany przerwanego importu. Przywrócone pliki:\n";
        for (const std::string& file : recovery.files)
            out << "  " << file << '\n';
        return kInspectOk;
    } catch (const engine::Error& e) {
        out << e.what() << '\n';
        return kInspectProblems;
    }
}

} // namespace tools
