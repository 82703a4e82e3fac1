// Helpers of the engine tests.
#include "tests/engine/support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "engine/error.h"
#include "engine/mdx_index.h"
#include "platform/locked_file.h"
#include "platform/paths.h"

namespace enginetest {

TempDir::TempDir()
{
    std::random_device device;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const auto candidate = base / ("kerg-engine-" + std::to_string(device()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string DataPath(const std::string& relative)
{
    return std::string(KERG_TEST_DATA) + "/" + relative;
}

void CopyTable(const std::string& folder, const std::string& table, const std::string& dir)
{
    for (const char* ext : {".DBF", ".MDX"}) {
        const std::string from = DataPath(folder + "/" + table + ext);
        const std::string to = dir + "/" + table + ext;
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::uint32_t GetLe(const std::string& bytes, std::size_t at, std::size_t size)
{
    std::uint32_t v = 0;
    for (std::size_t i = size; i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(platform::NativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Walk ReadWalkFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("no walk file " + path);
    Walk walk;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        walk.emplace_back(static_cast<std::uint32_t>(std::stoul(line.substr(0, tab))), line.substr(tab + 1));
    }
    return walk;
}

namespace {

// Calls `use(index, tag number)` with the index file opened for reading and loaded.
template <class Use>
auto WithTag(const std::string& mdxPath, const std::string& tag, Use use)
{
    platform::OpenFailure failure{};
    auto file = platform::OpenLocked(mdxPath, platform::ShareMode::ReadOnly, &failure);
    if (!file)
        throw std::runtime_error("cannot open " + mdxPath);
    engine::MdxIndex index(*file, mdxPath);
    index.Load();
    const int t = index.FindTag(tag);
    if (t < 0)
        throw std::runtime_error("no tag " + tag);
    return use(index, static_cast<std::size_t>(t));
}

} // namespace

Walk EngineWalk(const std::string& mdxPath, const std::string& tag)
{
    return WithTag(mdxPath, tag, [](engine::MdxIndex& index, std::size_t t) {
        Walk walk;
        engine::TagCursor cursor;
        for (index.First(t, &cursor); cursor.Valid(); index.Next(&cursor))
            walk.emplace_back(cursor.Entry().record, Hex(cursor.Entry().key));
        return walk;
    });
}

char TagKeyType(const std::string& mdxPath, const std::string& tag)
{
    return WithTag(mdxPath, tag,
                   [](engine::MdxIndex& index, std::size_t t) { return index.Tags()[t].keyType; });
}

#ifndef _WIN32
std::vector<std::uint32_t> PerlWalk(const std::string& mdxPath, const std::string& tag)
{
    const std::string command = "perl -MXBase::Index -e '$i = XBase::Index->new($ARGV[0], tag => $ARGV[1]) "
                                "or die XBase::Index->errstr;"
                                " $i->prepare_select; while (my @r = $i->fetch) { print \"$r[1]\\n\" }' '" +
                                mdxPath + "' '" + tag + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run perl");
    std::vector<std::uint32_t> records;
    char line[256];
    std::string errors;
    while (std::fgets(line, sizeof line, pipe)) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(line, &end, 10);
        if (end != line && (*end == '\n' || *end == '\0'))
            records.push_back(static_cast<std::uint32_t>(value));
        else
            errors += line;
    }
    if (pclose(pipe) != 0 || !errors.empty())
        throw std::runtime_error("perl failed: " + errors);
    return records;
}
#endif

std::vector<std::uint32_t> Records(const Walk& walk)
{
    std::vector<std::uint32_t> out;
    for (const auto& entry : walk)
        out.push_back(entry.first);
    return out;
}

} // namespace enginetest
