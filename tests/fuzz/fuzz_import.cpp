// libFuzzer target: the whole import over a damaged archive. A small sample office is written once;
// each input damages copies of its archive files and runs the import into a fresh copy of its
// target, answering the run's questions from the input. A damaged archive may cost works, but the
// run must end with its own message, and the target must stay sound. Findings: a crash, an error
// that is not the program's own (an exception of the standard library, or one of no known kind), a
// journal left behind by a run that ended, or a table whose tags disagree with its rows.
//
// Input: byte 0, the answers and options (bit 0: continue at a precinct question; bits 1-3:
// assortments, parcels, raster ranges; bit 4: commune renumbering); then damage, each piece
// [file, offset low, offset high, length, bytes...]: `length` bytes written over the file (mod the
// archive's file count, in the order of their names) at `offset` (mod its size); length 0 cuts the
// file there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "convert/import_run.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/paths.h"
#include "tools/sample_office.h"

namespace fs = std::filesystem;

namespace {

using Files = std::vector<std::pair<fs::path, std::string>>; // path below its folder, bytes

Files ReadAll(const fs::path& root)
{
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) {
            std::string bytes(static_cast<std::size_t>(entry.file_size()), '\0');
            std::FILE* f = std::fopen(entry.path().c_str(), "rb");
            if (f == nullptr || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
                std::abort();
            std::fclose(f);
            files.emplace_back(fs::relative(entry.path(), root), std::move(bytes));
        }
    std::sort(files.begin(), files.end()); // by name: an input names the same file everywhere
    return files;
}

void WriteAll(const fs::path& root, const Files& files)
{
    fs::remove_all(root);
    for (const auto& [name, bytes] : files) {
        fs::create_directories((root / name).parent_path());
        std::FILE* f = std::fopen((root / name).c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            std::abort();
        std::fclose(f);
    }
}

struct Office
{
    fs::path dir, archive, target;
    Files archiveFiles, targetFiles;
};

const Office& TheOffice()
{
    static const Office office = [] {
        Office o;
        o.dir = fs::temp_directory_path() / ("kerg-fuzz-import-" + std::to_string(getpid()));
        fs::create_directories(o.dir);
        if (!tools::WriteSampleOffice((o.dir / "ARCH0").string(), (o.dir / "CEL0").string(), {8, 5}))
            std::abort();
        o.archiveFiles = ReadAll(o.dir / "ARCH0");
        o.targetFiles = ReadAll(o.dir / "CEL0");
        o.archive = o.dir / "ARCH";
        o.target = o.dir / "CEL";
        return o;
    }();
    return office;
}

// The main window, played from the input's first byte.
class FuzzUi final : public convert::RunUi
{
public:
    FuzzUi(std::string archive, std::string target, std::uint8_t control)
        : archive_(std::move(archive)), target_(std::move(target)), control_(control)
    {}

    std::vector<std::string> errors;

    std::string ArchiveDirText() override { return archive_; }
    void SetArchiveDirText(const std::string& text) override { archive_ = text; }
    std::string TargetDirText() override { return target_; }
    void SetTargetDirText(const std::string& text) override { target_ = text; }
    bool CommuneConversionTicked() override { return (control_ & 0x10) != 0; }
    bool AssortmentsTicked() override { return (control_ & 0x02) != 0; }
    bool ParcelsTicked() override { return (control_ & 0x04) != 0; }
    bool RastersTicked() override { return (control_ & 0x08) != 0; }
    convert::Answer ShowMessage(const convert::Message& message) override
    {
        if (show_)
            std::fprintf(stderr, "%s: %s\n%s\n", message.caption.c_str(), message.text.c_str(),
                         message.details.c_str());
        if (message.buttons == convert::Buttons::Ok)
            return convert::Answer::Ok;
        // The copy of the data was made; a precinct question as the input says.
        if (message.caption == convert::messages::kCaptionQuestion)
            return convert::Answer::Yes;
        return (control_ & 0x01) != 0 ? convert::Answer::Yes : convert::Answer::No;
    }
    void ShowError(const std::string& text) override
    {
        if (show_)
            std::fprintf(stderr, "error: %s\n", text.c_str());
        errors.push_back(text);
    }
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetBusyCursor(bool) override {}
    void CloseAfterSuccess() override {}

private:
    std::string archive_, target_;
    std::uint8_t control_;
    // KERG_FUZZ_SHOW set: what the run shows goes to the error output (to read an input's run).
    bool show_ = std::getenv("KERG_FUZZ_SHOW") != nullptr;
};

// An error that only an exception of the standard library (or one of no known kind) gives: its
// text begins with the library's own words. (Not anywhere in the text: the program's own errors
// may quote archive text, which here is anything.)
bool ForeignError(const std::string& text)
{
    for (const char* head : {"std::", "basic_string", "vector::", "map::at", "bad_", "Nieoczekiwany"})
        if (text.rfind(head, 0) == 0)
            return true;
    for (const char* whole : {"stoi", "stol", "stoll", "stoul", "stod", "stof"})
        if (text == whole || text.rfind(std::string(whole) + "\r\n", 0) == 0)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const Office& office = TheOffice();
    Files archive = office.archiveFiles;
    for (std::size_t at = 1; at + 4 <= size;) {
        std::string& bytes = archive[data[at] % archive.size()].second;
        const std::size_t offset =
            static_cast<std::size_t>(data[at + 1] | data[at + 2] << 8) % (bytes.size() + 1);
        const std::size_t length = std::min<std::size_t>(data[at + 3], size - at - 4);
        at += 4;
        if (length == 0) {
            bytes.resize(offset);
            continue;
        }
        const std::size_t end = std::min(bytes.size(), offset + length);
        bytes.replace(offset, end - offset, reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    WriteAll(office.archive, archive);
    WriteAll(office.target, office.targetFiles);

    const std::string sep(1, platform::kSeparator);
    const std::string targetDir = office.target.string() + sep;
    FuzzUi ui(office.archive.string() + sep, targetDir, data[0]);
    convert::ImportRun run(ui, (office.dir / "brak.gm").string(), [] { return convert::Date{2026, 12, 8}; });
    run.BitBtn1Click();

    for (const std::string& error : ui.errors)
        if (ForeignError(error)) {
            std::fprintf(stderr, "an error that is not the program's own: %s\n", error.c_str());
            std::abort();
        }
    if (engine::JournalPending(convert::JournalDirectory(targetDir))) {
        std::fprintf(stderr, "the run ended and left a journal\n");
        std::abort();
    }
    for (const std::string& problem : engine::VerifyDirectory(targetDir)) {
        std::fprintf(stderr, "the target is not sound: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
