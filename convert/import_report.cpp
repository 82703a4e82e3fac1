// The import report: its text and its file.
#include "convert/import_report.h"

#include <cstdio>

#include "convert/text.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace convert {
namespace {

std::string Number(std::int64_t n)
{
    return std::to_string(n);
}

std::string TwoDigits(int n)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

std::string Moment(const DateTime& t)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buffer;
}

// The word that follows a number, as Polish counts: one for 1, few for 2-4, 22-24, 32-34 and so
// on (not 12-14), many for the rest ("1 praca", "3 prace", "5 prac", "12 prac", "22 prace").
const char* Plural(std::int64_t n, const char* one, const char* few, const char* many)
{
    if (n == 1)
        return one;
    const std::int64_t tens = n % 100, ones = n % 10;
    return ones >= 2 && ones <= 4 && (tens < 12 || tens > 14) ? few : many;
}

std::string Commune(int n)
{
    std::string digits = std::to_string(n);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    return digits;
}

} // namespace

void ImportReport::Skip(SkippedRecord record)
{
    if (!skippedKeys_.emplace(record.file, record.record).second)
        return;
    skipped.push_back(std::move(record));
}

bool ImportReport::HasProblems() const
{
    return damaged > 0 || !skipped.empty() || !badDates.empty() || !communesTooWide.empty() ||
           !parcelsWithoutPrecinct.empty() || parcelsBadPrecinct > 0 || assortmentsStopped > 0 ||
           parcelsStopped > 0;
}

std::string ReportSummary(const ImportReport& r, int maxSkipped)
{
    std::string s;
    auto line = [&s](const std::string& text) { s += text + "\n"; };
    if (r.resumedAfter > 0)
        line(std::string(r.failed ? "Ten import miał dokończyć" : "Ten import dokończył") +
             " import przerwany wcześniej, który przejrzał już wiersze 1–" + Number(r.resumedAfter) +
             " tabeli prac." +
             (r.failed ? " Sam nie doszedł do końca: import trzeba uruchomić ponownie." : "") +
             (r.includesInterrupted ? " Raport obejmuje cały import, także to, co zrobiono przed przerwaniem."
                                    : " Raport obejmuje tylko to, co zrobiono po przerwaniu."));
    line("Prace bazy docelowej przejrzane przez ten import: " + Number(r.works));
    line("  uzupełnione teraz: " + Number(r.completed));
    line("  uzupełnione już wcześniej (mają wykonawcę): " + Number(r.alreadyCompleted));
    line("  bez pracy w archiwum: " + Number(r.notInArchive));
    line("  w archiwum, ale poza rejestrem KERG: " + Number(r.notInRegister));
    line("  pozostawione z powodu uszkodzonych rekordów archiwum: " + Number(r.damaged));
    if (!r.communesTooWide.empty())
        line("  pozostawione, bo numer gminy nie mieści się w polu NR_G: " +
             Number(static_cast<std::int64_t>(r.communesTooWide.size())));
    if (r.resumedAfter > 0 && !r.includesInterrupted)
        line("  bez wykonawcy, przejrzane już przez przerwany import (nie uzupełniane ponownie): " +
             Number(r.walkedByInterrupted));
    if (r.archiveWorks >= 0)
        line("Prace rejestru KERG w archiwum: " + Number(r.archiveWorks) +
             ", w tym bez pracy w bazie docelowej: " + Number(r.archiveWorksNotInTarget));
    line("Osoby: znalezione w bazie " + Number(r.personsFound) + ", dopisane " + Number(r.personsAdded) +
         ", nieznane w archiwum (pole pozostawione puste) " + Number(r.personsMissing));
    line("Asortymenty: dopisane do słownika " + Number(r.assortmentsAdded) + ", dopisane pozycje prac " +
         Number(r.assortmentLinks));
    line("Działki: dopisane do bazy " + Number(r.parcelsAdded) + ", dopisane powiązania z pracami " +
         Number(r.parcelLinks));
    line("Zakresy rastrowe: dopisane " + Number(r.rasterRanges));
    if (r.assortmentLinksKept + r.parcelLinksKept + r.rasterRangesKept > 0)
        line("Już obecne w pracach uzupełnianych ponownie (niedopisane drugi raz): pozycje asortymentu " +
             Number(r.assortmentLinksKept) + ", powiązania z działkami " + Number(r.parcelLinksKept) +
             ", zakresy rastrowe " + Number(r.rasterRangesKept));
    // Where the office finds the rows the run added.
    std::string ids;
    const auto range = [&ids](const char* what, std::int64_t first, std::int64_t added, int digits) {
        if (first < 0 || added <= 0)
            return;
        ids += std::string(ids.empty() ? "" : ", ") + what + " " +
               HexId(static_cast<std::int32_t>(first), digits);
        if (added > 1)
            ids += "–" + HexId(static_cast<std::int32_t>(first + added - 1), digits);
    };
    range("osoby", r.firstPersonId, r.personsAdded, 8);
    range("asortymenty", r.firstAssortmentId, r.assortmentsAdded, 4);
    range("działki", r.firstParcelId, r.parcelsAdded, 8);
    if (!ids.empty())
        line("Identyfikatory dopisanych wierszy: " + ids);
    std::int64_t withoutPrecinct = 0;
    for (const auto& [precinct, count] : r.parcelsWithoutPrecinct)
        withoutPrecinct += count;
    line("Działki pominięte z powodu braku obrębu: " + Number(withoutPrecinct));
    for (const auto& [precinct, count] : r.parcelsWithoutPrecinct)
        line("  obręb " + (precinct.empty() ? std::string("(numer 0)") : precinct) + ": " + Number(count));
    if (r.parcelsBadPrecinct > 0)
        line("Działki pominięte z powodu niewłaściwego numeru obrębu: " + Number(r.parcelsBadPrecinct));
    if (r.assortmentsStopped > 0)
        line("Prace, których dalsze asortymenty pominięto (numer asortymentu spoza asortym.dbf): " +
             Number(r.assortmentsStopped));
    if (r.parcelsStopped > 0)
        line("Prace, których dalsze działki pominięto (numer działki spoza dz.dbf): " +
             Number(r.parcelsStopped));
    std::int64_t renumbered = 0;
    for (const auto& [pair, count] : r.renumbered)
        renumbered += count;
    line("Przenumerowane gminy: " + Number(renumbered) + " " + Plural(renumbered, "praca", "prace", "prac"));
    for (const auto& [pair, count] : r.renumbered)
        line("  " + Commune(pair.first) + " → " + Commune(pair.second) + ": " + Number(count));
    // Each record of a list, the list cut after `maxSkipped` where it is given.
    const auto list = [&line, maxSkipped](const std::vector<SkippedRecord>& records) {
        std::size_t shown = 0;
        for (const SkippedRecord& k : records) {
            if (maxSkipped >= 0 && shown == static_cast<std::size_t>(maxSkipped)) {
                const auto rest = static_cast<std::int64_t>(records.size() - shown);
                line("  … i " + Number(rest) + " " + Plural(rest, "dalszy", "dalsze", "dalszych") +
                     " (pełna lista w pliku raportu)");
                break;
            }
            line("  " + k.file + ", rekord " + Number(k.record) +
                 (k.field.empty() ? "" : ", pole " + k.field) + ": " + k.what);
            ++shown;
        }
    };
    // A list under its heading and count; `always`: shown when empty too.
    const auto section = [&line, &list](const std::string& heading, const std::vector<SkippedRecord>& records,
                                        bool always = false) {
        if (records.empty() && !always)
            return;
        line(heading + ": " + Number(static_cast<std::int64_t>(records.size())));
        list(records);
    };
    section("Rekordy archiwum pominięte z powodu uszkodzenia", r.skipped, true);
    section("Nieprawidłowe daty w archiwum, zapisane jako 1900-01-01", r.badDates);
    section("Prace pozostawione nieuzupełnione, bo numer gminy nie mieści się w polu NR_G",
            r.communesTooWide);
    section("Prace bazy docelowej pozostawione nieuzupełnione, bo archiwum nie ma ich pracy albo ma ją poza "
            "rejestrem KERG",
            r.worksLeft);
    section("Prace rejestru KERG w archiwum, których nie ma w bazie docelowej", r.archiveWorksLeft);
    return s;
}

std::string ReportText(const ImportReport& report, const DateTime& when, const std::string& archiveDir,
                       const std::string& targetDir, const std::string& outcome)
{
    std::string s = "Raport importu z " + Moment(when) + "\n";
    s += "Kartoteka z danymi wejściowymi: " + archiveDir + "\n";
    s += "Kartoteka z danymi wyjściowymi: " + targetDir + "\n";
    s += "Wynik: " + outcome + "\n\n";
    s += ReportSummary(report);
    return s;
}

std::string ReportFileName(const DateTime& when)
{
    return "kerg-import-" + std::to_string(when.year) + TwoDigits(when.month) + TwoDigits(when.day) + "-" +
           TwoDigits(when.hour) + TwoDigits(when.minute) + TwoDigits(when.second) + ".txt";
}

bool IsReportFileName(std::string_view name)
{
    const std::string_view head = "kerg-import-";
    if (name.size() < head.size() + 15 + 4 || name.substr(0, head.size()) != head ||
        name.substr(name.size() - 4) != ".txt")
        return false;
    const std::string_view stamp = name.substr(head.size(), name.size() - head.size() - 4);
    auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(stamp.substr(0, 8)) || stamp[8] != '-' || !digits(stamp.substr(9, 6)))
        return false;
    const std::string_view rest = stamp.substr(15);
    return rest.empty() || (rest[0] == '-' && digits(rest.substr(1)));
}

std::string WriteReportFile(const std::string& directory, const DateTime& when, const std::string& text,
                            std::string* why)
{
    const std::string name = ReportFileName(when);
    std::string path = directory + name;
    for (int n = 2; platform::Exists(path); ++n) {
        if (n > 99) {
            *why = "w kartotece " + directory + " jest już zbyt wiele raportów z tej sekundy";
            return std::string();
        }
        path = directory + name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".txt";
    }
    platform::OpenFailure failure = platform::OpenFailure::None;
    auto file = platform::CreateLocked(path, &failure, true);
    if (!file) {
        *why = "nie można utworzyć pliku " + path;
        return std::string();
    }
    // UTF-8 with its mark, lines ended as text files are here (an engine's "\r\n" too).
    std::string bytes = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n')
            bytes += platform::kTextLineEnd;
        else if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n')
            bytes += text[i];
    }
    if (!file->WriteAt(0, bytes.data(), bytes.size()) || !file->Flush()) {
        file.reset();
        platform::RemoveFile(path);
        *why = "nie można zapisać pliku " + path + " (brak miejsca na dysku?)";
        return std::string();
    }
    return path;
}

DateTime Now()
{
    const platform::LocalTime t = platform::Now();
    return DateTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

} // namespace convert
