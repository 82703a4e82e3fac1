// The report of an import kept with its commits (report_log.h).
#include "convert/report_log.h"

#include <charconv>
#include <stdexcept>

#include "engine/table.h"

namespace convert {
namespace {

constexpr const char* kKindField = "RODZAJ"; // ' ': a line begins; '+': the line before goes on
constexpr const char* kTextField = "TRESC";
constexpr std::size_t kRowWidth = 160;

// Every count of the report but the two that say how this run stands to an interrupted one, in
// the order of a "C" line.
constexpr std::int64_t ImportReport::*kCounts[] = {
    &ImportReport::works,
    &ImportReport::alreadyCompleted,
    &ImportReport::completed,
    &ImportReport::notInArchive,
    &ImportReport::notInRegister,
    &ImportReport::damaged,
    &ImportReport::archiveWorks,
    &ImportReport::archiveWorksNotInTarget,
    &ImportReport::personsFound,
    &ImportReport::personsAdded,
    &ImportReport::personsMissing,
    &ImportReport::firstPersonId,
    &ImportReport::firstAssortmentId,
    &ImportReport::firstParcelId,
    &ImportReport::assortmentsAdded,
    &ImportReport::assortmentLinks,
    &ImportReport::parcelsAdded,
    &ImportReport::parcelLinks,
    &ImportReport::rasterRanges,
    &ImportReport::assortmentLinksKept,
    &ImportReport::parcelLinksKept,
    &ImportReport::rasterRangesKept,
    &ImportReport::assortmentsStopped,
    &ImportReport::parcelsStopped,
    &ImportReport::parcelsBadPrecinct,
};

// The lists of entries the walk adds to, with the letter of their lines. (The archive's works no
// target work took are not among them: every run lists them anew at the end of its walk, the run
// that finishes an interrupted import too, from every row of the works table.)
struct List
{
    char kind;
    std::vector<SkippedRecord> ImportReport::*entries;
};
constexpr List kLists[] = {
    {'S', &ImportReport::skipped},
    {'D', &ImportReport::badDates},
    {'W', &ImportReport::communesTooWide},
    {'L', &ImportReport::worksLeft},
};

constexpr std::size_t kPersonsPerLine = 16;

std::string Escaped(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '_'; // the commonest byte of the text, kept short
        } else if (byte > ' ' && byte <= '~' && c != '%' && c != '|' && c != '_') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text)
{
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i] == '_' ? ' ' : text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = digit(text[i + 1]), low = digit(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string Line(char kind, const std::vector<std::string>& fields)
{
    std::string line(1, kind);
    for (const std::string& f : fields)
        line += "|" + Escaped(f);
    return line;
}

// The fields of a line after its letter, unescaped; nullopt when one is not well formed.
std::optional<std::vector<std::string>> Fields(std::string_view line)
{
    std::vector<std::string> fields;
    if (line.size() < 2 || line[1] != '|')
        return line.size() == 1 ? std::optional<std::vector<std::string>>(fields) : std::nullopt;
    std::size_t start = 2;
    while (true) {
        const std::size_t end = line.find('|', start);
        auto field = Unescaped(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (!field)
            return std::nullopt;
        fields.push_back(std::move(*field));
        if (end == std::string_view::npos)
            return fields;
        start = end + 1;
    }
}

std::optional<std::int64_t> Integer(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

bool ApplyLine(ImportReport& report, std::string_view line)
{
    const auto fields = Fields(line);
    if (!fields || line.empty())
        return false;
    const std::vector<std::string>& f = *fields;
    switch (line[0]) {
    case 'C': {
        if (f.size() != std::size(kCounts))
            return false;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const auto value = Integer(f[i]);
            if (!value)
                return false;
            report.*kCounts[i] = *value;
        }
        return true;
    }
    case 'P': {
        const auto count = f.size() == 2 ? Integer(f[1]) : std::nullopt;
        if (!count)
            return false;
        report.parcelsWithoutPrecinct[f[0]] = *count;
        return true;
    }
    case 'R': {
        const auto from = f.size() == 3 ? Integer(f[0]) : std::nullopt;
        const auto to = f.size() == 3 ? Integer(f[1]) : std::nullopt;
        const auto count = f.size() == 3 ? Integer(f[2]) : std::nullopt;
        if (!from || !to || !count || *from < INT32_MIN || *from > INT32_MAX || *to < INT32_MIN ||
            *to > INT32_MAX)
            return false;
        report.renumbered[{static_cast<int>(*from), static_cast<int>(*to)}] = *count;
        return true;
    }
    case 'O': {
        if (f.size() != 1)
            return false;
        std::size_t start = 0;
        const std::string& numbers = f[0];
        while (start < numbers.size()) {
            const std::size_t end = std::min(numbers.find(',', start), numbers.size());
            const auto number = Integer(numbers.substr(start, end - start));
            if (!number || *number < INT32_MIN || *number > INT32_MAX)
                return false;
            report.personsCounted.push_back(static_cast<std::int32_t>(*number));
            start = end + 1;
        }
        return true;
    }
    case 'E':
        if (f.size() != 1)
            return false;
        report.precinctError = f[0];
        return true;
    default:
        break;
    }
    for (const List& list : kLists) {
        if (line[0] != list.kind)
            continue;
        const auto record = f.size() == 4 ? Integer(f[1]) : std::nullopt;
        if (!record)
            return false;
        SkippedRecord entry{f[0], *record, f[2], f[3]};
        if (list.kind == 'S')
            report.Skip(std::move(entry)); // which also keeps it from being listed twice
        else
            (report.*list.entries).push_back(std::move(entry));
        return true;
    }
    return false;
}

} // namespace

std::vector<std::string> ReportLogLines(const ImportReport& now, const ImportReport& committed)
{
    std::vector<std::string> lines;
    std::vector<std::string> counts;
    for (const auto count : kCounts)
        counts.push_back(std::to_string(now.*count));
    lines.push_back(Line('C', counts));
    for (const auto& [precinct, count] : now.parcelsWithoutPrecinct)
        if (const auto before = committed.parcelsWithoutPrecinct.find(precinct);
            before == committed.parcelsWithoutPrecinct.end() || before->second != count)
            lines.push_back(Line('P', {precinct, std::to_string(count)}));
    for (const auto& [communes, count] : now.renumbered)
        if (const auto before = committed.renumbered.find(communes);
            before == committed.renumbered.end() || before->second != count)
            lines.push_back(Line('R', {std::to_string(communes.first), std::to_string(communes.second),
                                       std::to_string(count)}));
    for (const List& list : kLists) {
        // The walk only adds to these lists.
        const std::vector<SkippedRecord>& entries = now.*list.entries;
        for (std::size_t i = (committed.*list.entries).size(); i < entries.size(); ++i)
            lines.push_back(Line(list.kind, {entries[i].file, std::to_string(entries[i].record),
                                             entries[i].field, entries[i].what}));
    }
    for (std::size_t i = committed.personsCounted.size(); i < now.personsCounted.size();
         i += kPersonsPerLine) {
        std::string numbers;
        for (std::size_t j = i; j < now.personsCounted.size() && j < i + kPersonsPerLine; ++j)
            numbers += (j == i ? "" : ",") + std::to_string(now.personsCounted[j]);
        lines.push_back(Line('O', {numbers}));
    }
    if (now.precinctError != committed.precinctError)
        lines.push_back(Line('E', {now.precinctError}));
    return lines;
}

std::optional<ImportReport> ReplayReportLog(const std::vector<std::string>& lines)
{
    ImportReport report;
    for (const std::string& line : lines)
        if (!ApplyLine(report, line))
            return std::nullopt;
    return report;
}

void CreateReportLog(const std::string& directory, const std::string& name)
{
    engine::CreateTable(directory, name, {{kKindField, 'C', 1, 0}, {kTextField, 'C', kRowWidth, 0}}, {}, 0);
}

void AppendReportLog(engine::Table& table, const std::vector<std::string>& lines)
{
    engine::Field kind = table.FieldByName(kKindField);
    engine::Field text = table.FieldByName(kTextField);
    for (const std::string& line : lines) {
        for (std::size_t at = 0; at < line.size(); at += kRowWidth) {
            table.Append();
            kind.SetString(at == 0 ? " " : "+");
            text.SetString(std::string_view(line).substr(at, kRowWidth));
            table.Post();
        }
    }
}

std::vector<std::string> ReadReportLog(engine::Table& table)
{
    engine::Field kind = table.FieldByName(kKindField);
    engine::Field text = table.FieldByName(kTextField);
    std::vector<std::string> lines;
    for (table.First(); !table.Eof(); table.Next()) {
        const std::string k = kind.AsString();
        if (k == "+" && !lines.empty())
            lines.back() += text.AsString();
        else if (k.empty())
            lines.push_back(text.AsString());
        else
            throw std::runtime_error("wiersz " + std::to_string(table.RecNo()) +
                                     " nie należy do raportu importu");
    }
    return lines;
}

std::optional<ImportReport> InterruptedImportReport(const std::string& directory)
{
    try {
        engine::Table table(directory, kReportLogFileName);
        table.Open();
        return ReplayReportLog(ReadReportLog(table));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace convert
