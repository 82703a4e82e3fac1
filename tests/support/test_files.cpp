// Temporary folders, fixture reading and in-memory files for the tests.
#include "tests/support/test_files.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace test_support {

TempDir::TempDir()
{
    std::random_device device;
    std::mt19937_64 random(device());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("kerg-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = platform::Utf8Path(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(platform::NativePath(path_), ec);
}

std::string TempDir::File(const std::string& name) const
{
    return path_ + platform::kSeparator + name;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream file(platform::NativePath(path), std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << file.rdbuf();
    return out.str();
}

std::vector<std::vector<std::string>> ReadTsv(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(ReadWholeFile(path));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

std::string HexToBytes(std::string_view hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    return out;
}

std::string BytesToHex(std::string_view bytes)
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

void ShiftLastWriteTime(const std::string& path, int seconds)
{
    const fs::path native = platform::NativePath(path);
    const auto now = fs::last_write_time(native);
    fs::last_write_time(native, now + std::chrono::seconds(seconds));
}

bool MemoryFile::Seek(std::int64_t offset)
{
    ++state_->seeks;
    if (offset < 0 || offset == state_->failSeekAt)
        return false;
    position_ = offset;
    return true;
}

std::int64_t MemoryFile::Read(void* buffer, std::size_t size)
{
    ++state_->reads;
    if (state_->failReadFrom >= 0 && position_ >= state_->failReadFrom)
        return -1;
    const auto total = static_cast<std::int64_t>(state_->bytes.size());
    if (position_ >= total)
        return 0;
    const std::int64_t got = std::min<std::int64_t>(static_cast<std::int64_t>(size), total - position_);
    std::memcpy(buffer, state_->bytes.data() + position_, static_cast<std::size_t>(got));
    position_ += got;
    return got;
}

std::shared_ptr<MemoryFileState> MemoryFiles::Add(const std::string& name, std::string bytes)
{
    auto state = std::make_shared<MemoryFileState>();
    state->bytes = std::move(bytes);
    (*files_)[name] = state;
    return state;
}

platform::FileOpener MemoryFiles::Opener()
{
    auto files = files_;
    auto opens = opens_;
    return [files, opens](const std::string& name) -> std::unique_ptr<platform::File> {
        ++(*opens)[name];
        const auto it = files->find(name);
        if (it == files->end())
            return nullptr;
        return std::make_unique<MemoryFile>(it->second);
    };
}

int MemoryFiles::Opens(const std::string& name) const
{
    const auto it = opens_->find(name);
    return it == opens_->end() ? 0 : it->second;
}

} // namespace test_support
