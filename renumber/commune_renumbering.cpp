// Loading, formatting, writing and reading the commune renumbering file.
#include "renumber/commune_renumbering.h"

#include <sstream>

#include "platform/file_errors.h"
#include "platform/paths.h"
#include "platform/whole_file.h"

namespace renumber {
namespace {

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

struct Line
{
    int number = 0; // in the file, from 1
    std::string text;
};

// Reads the file's lines: line ends CR LF (a lone LF too), blanks and tabs at the start of a
// line skipped, blank lines dropped. Nothing when the file does not exist; a file that is there
// but cannot be opened or read throws.
std::optional<std::vector<Line>> ReadLines(const std::string& path)
{
    platform::FileFailure failure;
    const std::optional<std::string> content = platform::ReadWholeFile(path, &failure);
    if (!content) {
        if (failure.action == platform::FileAction::Open && platform::IsNotFoundError(failure.systemError))
            return std::nullopt;
        throw RenumberingIoError(platform::FileErrorMessage(path, failure));
    }
    std::vector<Line> lines;
    std::istringstream in(*content);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        lines.push_back({number, line.substr(start)});
    }
    return lines;
}

} // namespace

std::string RenumberingFilePath(const std::string& programFile)
{
    const std::string directory = platform::DirectoryPart(programFile);
    const std::string name = programFile.substr(directory.size());
    const std::size_t dot = name.rfind('.');
    return directory + (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + ".gm";
}

std::optional<int> ParseCommuneNumber(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 9999)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<int>(value);
}

CommuneRenumbering::CommuneRenumbering(std::function<bool()> ticked) : ticked_(std::move(ticked)) {}

bool CommuneRenumbering::LoadCommuneRenumbering(const std::string& path)
{
    table_.fill(0);
    faultyLineNumber_ = 0;
    faultyLineText_.clear();
    const auto lines = ReadLines(path);
    if (!lines)
        return true;
    for (const auto& [number, line] : *lines) {
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        const auto oldNumber = ParseCommuneNumber(TrimSpaces(std::string_view(line).substr(0, bar)));
        const auto newNumber = ParseCommuneNumber(TrimSpaces(std::string_view(line).substr(bar + 1, 10)));
        if (!oldNumber || !newNumber) {
            faultyLineNumber_ = number;
            faultyLineText_ = line;
            return false;
        }
        table_[static_cast<std::size_t>(*oldNumber)] = static_cast<std::uint16_t>(*newNumber);
    }
    return true;
}

std::string CommuneRenumbering::FormatCommuneNumber(std::string_view text) const
{
    if (text.empty())
        return std::string(text);
    const auto number = ParseCommuneNumber(TrimSpaces(text));
    if (!number)
        return std::string(text);
    int n = *number;
    const std::uint16_t renumbered = table_[static_cast<std::size_t>(n)];
    if (renumbered != 0 && ticked_())
        n = renumbered;
    std::string digits = std::to_string(n);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    return digits;
}

void WriteRenumberingRows(const std::string& path, const std::vector<RenumberingRow>& rows)
{
    std::string content;
    for (const auto& [oldNumber, newNumber] : rows)
        content += oldNumber + '|' + newNumber + "\r\n";
    // The old file stays until the new one is whole on the disk: a failed save loses nothing.
    platform::FileFailure failure;
    if (!platform::ReplaceWholeFile(path, content, &failure))
        throw RenumberingIoError(platform::FileErrorMessage(path, failure));
}

std::optional<std::vector<RenumberingRow>> ReadRenumberingRows(const std::string& path)
{
    const auto lines = ReadLines(path);
    if (!lines)
        return std::nullopt;
    std::vector<RenumberingRow> rows;
    for (const auto& [number, line] : *lines) {
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        rows.emplace_back(line.substr(0, bar), line.substr(bar + 1, 10));
    }
    return rows;
}

} // namespace renumber
