// kerg-sample [--works N] [--seed S] [--extra-tags | --extra-tags-everywhere] [--index-block-pages P]
//             ARCHIVE_DIR TARGET_DIR:
// writes a sample office.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "engine/mdx_index.h"
#include "platform/system.h"
#include "tools/sample_office.h"

namespace {

bool ParseNumber(const std::string& text, long max, long& value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stol(text);
    return value <= max;
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "użycie: kerg-sample [--works N] [--seed S] [--extra-tags | --extra-tags-everywhere] "
                        "[--index-block-pages P] KATALOG_ARCHIWUM KATALOG_DOCELOWY";
    platform::UseUtf8Console();
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    tools::SampleOfficeOptions options;
    std::vector<std::string> dirs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        long value = 0;
        if ((arg == "--works" || arg == "--seed") && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], arg == "--works" ? 2000000 : 2147483646, value)) {
                std::cerr << "kerg-sample: niewłaściwa liczba po " << arg << '\n';
                return 2;
            }
            if (arg == "--works")
                options.works = static_cast<int>(value);
            else
                options.seed = static_cast<unsigned>(value);
        } else if (arg == "--index-block-pages" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], static_cast<long>(engine::kMdxMaxPagesPerBlock), value) ||
                !engine::MdxBlockPagesAllowed(static_cast<std::size_t>(value))) {
                std::cerr << "kerg-sample: po " << arg << " liczba stron bloku od "
                          << engine::kMdxDefaultPagesPerBlock << " do " << engine::kMdxMaxPagesPerBlock
                          << "\n";
                return 2;
            }
            options.indexPagesPerBlock = static_cast<std::size_t>(value);
        } else if (arg == "--extra-tags") {
            options.extraTags = tools::ExtraTags::Indexed;
        } else if (arg == "--extra-tags-everywhere") {
            options.extraTags = tools::ExtraTags::All;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << usage << '\n';
            return 2;
        } else {
            dirs.push_back(arg);
        }
    }
    if (dirs.size() != 2) {
        std::cerr << usage << '\n';
        return 2;
    }
    try {
        if (!tools::WriteSampleOffice(dirs[0], dirs[1], options)) {
            std::cerr << "kerg-sample: nie można zapisać plików\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "kerg-sample: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
