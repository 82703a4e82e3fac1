// The archive reader and the project's NTX writer checked against Perl XBase, an NTX reader that
// nobody here wrote. Perl XBase returns the unused item of some pages (the writer left a real
// entry's copy there); apart from those lines the walks must agree exactly.
#include <algorithm>
#include <cstdio>
#include <random>

#include <gtest/gtest.h>

#include "archive/reader.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"
#include "tools/ntx_writer.h"
#include "tools/sample_archive.h"

namespace {

const std::string kData = KERG_TEST_DATA;
const std::string kScript = std::string(KERG_TEST_TOOLS) + "/xbase_walk.pl";

using Walk = std::vector<std::pair<std::int32_t, std::string>>; // record (1-based), key hex

Walk PerlWalk(const std::string& file)
{
    Walk walk;
    const std::string command = "perl '" + kScript + "' '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return walk;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        const auto tab = text.find('\t');
        if (tab != std::string::npos)
            walk.emplace_back(std::stoi(text.substr(0, tab)), text.substr(tab + 1));
    }
    EXPECT_EQ(pclose(pipe), 0) << "Perl XBase (libdbd-xbase-perl) must be installed: " << command;
    return walk;
}

Walk ReaderWalk(const std::string& file)
{
    archive::Reader reader;
    archive::IndexHandle handle;
    reader.OpenIndex(handle, file);
    EXPECT_EQ(reader.IndexResult(), 0) << file;
    Walk walk;
    std::int32_t recno = 0;
    if (reader.SeekKey(handle, std::string(handle.KeySize(), '\0'), recno))
        walk.emplace_back(recno + 1, test_support::BytesToHex(handle.currentKey.View()));
    while (reader.NextKey(handle, recno))
        walk.emplace_back(recno + 1, test_support::BytesToHex(handle.currentKey.View()));
    EXPECT_EQ(reader.IndexResult(), 0) << file;
    return walk;
}

// How many lines Perl's walk has beyond ours, when ours is contained in it in order; -1 otherwise.
int ExtraLines(const Walk& perl, const Walk& ours)
{
    std::size_t j = 0;
    for (const auto& line : perl) {
        if (j < ours.size() && line == ours[j])
            ++j;
    }
    return j == ours.size() ? static_cast<int>(perl.size() - ours.size()) : -1;
}

TEST(XBaseCrossCheck, FixturesAgreeApartFromStaleItems)
{
    // The stale items Perl returns in each set, as counted when the fixtures were made.
    const std::pair<const char*, int> sets[] = {
        {"/ntx/NAMES.NTX", 2},   {"/ntx/SMALL.NTX", 0},   {"/ntx/BINKEY.NTX", 2},   {"/ntx/CP852.NTX", 2},
        {"/ntx/DELETED.NTX", 0}, {"/ntx/UPDATES.NTX", 3}, {"/real/ntx-char.ntx", 0}};
    for (const auto& [name, stale] : sets) {
        const Walk ours = ReaderWalk(kData + name);
        ASSERT_FALSE(ours.empty()) << name;
        EXPECT_EQ(ExtraLines(PerlWalk(kData + name), ours), stale) << name;
    }
}

TEST(XBaseCrossCheck, WriterOutputReadsTheSameInBothReaders)
{
    test_support::TempDir dir;
    std::mt19937 random(3);
    for (std::uint16_t keySize : {4, 10, 35, 120}) {
        std::vector<writers::NtxEntry> entries;
        for (std::uint32_t i = 1; i <= 6000; ++i) {
            std::string key;
            for (int j = 0; j < 1 + static_cast<int>(random() % 6); ++j)
                key.push_back(static_cast<char>('0' + random() % 40));
            key.resize(keySize, ' ');
            entries.push_back({key, i});
        }
        std::stable_sort(
            entries.begin(), entries.end(),
            [](const writers::NtxEntry& a, const writers::NtxEntry& b) { return a.key < b.key; });
        writers::NtxOptions options;
        options.keySize = keySize;
        options.keyExpression = "KLUCZ";
        options.permuteOffsets = keySize % 2 == 0;
        const std::string path = dir.File("K" + std::to_string(keySize) + ".NTX");
        ASSERT_TRUE(writers::WriteFile(path, writers::BuildNtx(entries, options)));

        Walk expected;
        for (const auto& e : entries)
            expected.emplace_back(static_cast<std::int32_t>(e.record), test_support::BytesToHex(e.key));
        EXPECT_EQ(ReaderWalk(path), expected) << keySize;
        EXPECT_EQ(PerlWalk(path), expected) << keySize;
    }
}

TEST(XBaseCrossCheck, SampleArchiveIndexesReadTheSameInBothReaders)
{
    test_support::TempDir dir;
    ASSERT_TRUE(tools::WriteSampleArchive(dir.Path(), 200, 5));
    for (const char* name :
         {"ROBOTY.NTX", "KERG.NTX", "KERGASOR.NTX", "OBDG.NTX", "OB_RR.NTX", "NAZWY.NTX"}) {
        const Walk ours = ReaderWalk(dir.File(name));
        EXPECT_FALSE(ours.empty()) << name;
        EXPECT_EQ(PerlWalk(dir.File(name)), ours) << name;
    }
}

} // namespace
