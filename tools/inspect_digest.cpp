// kerg-inspect digest: a checksum of every file under a directory, for comparing two offices (the
// same sample written on two systems, or the same import run on each). The last-update dates in
// the headers of tables and production indexes, and the tags' update counters, are left out, so
// that offices written on different days, or committed at other moments, still compare equal when
// their data are; the import's reports are left out.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

#include "convert/import_report.h"
#include "convert/import_run.h"
#include "convert/report_log.h"
#include "engine/checksum.h"
#include "engine/transaction.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "tools/inspect.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

std::string UpperExtension(const fs::path& path)
{
    std::string ext = platform::Utf8Path(path.extension());
    for (char& c : ext)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return ext;
}

// Blanks the bytes that tell when, or how often, a file was written rather than what it holds: a
// table's last update (1..3); a production index's creation (1..3) and last reindex (44..46), and
// each tag's update counter (byte 20 of its header), which counts the commits that changed the
// tag and so depends on where the commits fell.
void BlankHistory(const std::string& extension, std::string& bytes)
{
    if ((extension == ".DBF" || extension == ".MDX") && bytes.size() >= 4)
        std::fill_n(bytes.begin() + 1, 3, '\0');
    if (extension != ".MDX" || bytes.size() < 544)
        return;
    std::fill_n(bytes.begin() + 44, 3, '\0');
    // The tag table: from byte 544, entries of the length byte 26 gives, each naming its tag's
    // header page in its first four bytes; bytes 28-29 count them.
    const auto byte = [&bytes](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const std::size_t tags = byte(28) | std::size_t{byte(29)} << 8, entry = byte(26);
    for (std::size_t i = 0; i < tags && entry >= 4 && 544 + (i + 1) * entry <= bytes.size(); ++i) {
        const std::size_t at = 544 + i * entry;
        const std::uint64_t page = byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 |
                                   static_cast<std::uint64_t>(byte(at + 3)) << 24;
        if (page * 512 + 20 < bytes.size())
            bytes[page * 512 + 20] = '\0';
    }
}

} // namespace

int RunDigestCommand(const std::string& directory, std::ostream& out, std::ostream& err)
{
    if (!platform::IsDirectory(directory)) {
        err << "kerg-inspect: katalog " << directory << " nie istnieje\n";
        return kInspectBadInput;
    }
    const fs::path root = platform::NativePath(platform::ResolveCaseInsensitive(directory));
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        // The import's reports carry the moment of their run: they are no part of the data.
        if (it->is_regular_file(ec) &&
            !convert::IsReportFileName(platform::Utf8Path(it->path().filename()))) {
            std::string relative = platform::Utf8Path(fs::relative(it->path(), root, ec));
            std::replace(relative.begin(), relative.end(), '\\', '/');
            files.emplace_back(std::move(relative), it->path());
        }
    }
    if (ec) {
        err << "kerg-inspect: nie można przejrzeć katalogu " << directory << '\n';
        return kInspectBadInput;
    }
    std::sort(files.begin(), files.end());
    for (const auto& [relative, path] : files) {
        const std::string name = platform::Utf8Path(path);
        auto file = platform::OpenForReading(name);
        const std::int64_t size = file ? file->Size() : -1;
        std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
        if (!file || size < 0 || file->ReadAt(0, bytes.data(), bytes.size()) != size) {
            err << "kerg-inspect: nie można odczytać pliku " << name << '\n';
            return kInspectBadInput;
        }
        BlankHistory(UpperExtension(path), bytes);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08X", engine::Crc32(bytes));
        out << crc << ' ' << size << ' ' << relative << '\n';
    }
    return kInspectOk;
}

std::string WithoutRunLeftovers(const std::string& digest)
{
    std::istringstream lines(digest);
    std::string out, line;
    while (std::getline(lines, line))
        if (line.find(engine::kJournalFileName) == std::string::npos &&
            line.find(convert::kProgressFileName) == std::string::npos &&
            line.find(convert::kReportLogFileName) == std::string::npos)
            out += line + "\n";
    return out;
}

} // namespace tools
