// kerg-inspect import: the import run without windows, answering its questions from the options.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>

#include "convert/import_run.h"
#include "platform/system.h"
#include "tools/inspect.h"

namespace tools {
namespace {

struct ImportOptions
{
    std::string archiveDir, targetDir, renumberingFile;
    bool assortments = true, parcels = true, rasters = true;
    bool stopAtPrecinct = false, backupDone = false;
    std::optional<convert::Date> today; // the day the added rows are stamped with; the clock's by default
};

// "RRRR-MM-DD", a real day of the years the creator stamp can hold (1980–2107).
std::optional<convert::Date> ParseDay(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    const convert::Date day{std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)),
                            std::stoi(text.substr(8, 2))};
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (day.year % 4 == 0 && day.year % 100 != 0) || day.year % 400 == 0;
    if (day.year < 1980 || day.year > 2107 || day.month < 1 || day.month > 12 || day.day < 1 ||
        day.day > kDays[day.month - 1] || (day.month == 2 && day.day == 29 && !leap))
        return std::nullopt;
    return day;
}

class ConsoleUi final : public convert::RunUi
{
public:
    ConsoleUi(const ImportOptions& options, std::ostream& out)
        : options_(options), out_(out), archive_(options.archiveDir), target_(options.targetDir),
          terminal_(platform::IsTerminal(2))
    {}

    bool Succeeded() const { return succeeded_; }

    std::string ArchiveDirText() override { return archive_; }
    void SetArchiveDirText(const std::string& text) override { archive_ = text; }
    std::string TargetDirText() override { return target_; }
    void SetTargetDirText(const std::string& text) override { target_ = text; }
    bool CommuneConversionTicked() override { return !options_.renumberingFile.empty(); }
    bool AssortmentsTicked() override { return options_.assortments; }
    bool ParcelsTicked() override { return options_.parcels; }
    bool RastersTicked() override { return options_.rasters; }

    convert::Answer ShowMessage(const convert::Message& message) override
    {
        EndProgressLine();
        std::string text = message.text;
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.replace(at, 2, " / ");
        for (std::size_t at; (at = text.find('\n')) != std::string::npos;)
            text.replace(at, 1, " / ");
        out_ << message.caption << ": " << text << std::endl;
        PrintDetails(message.details);
        if (message.buttons == convert::Buttons::Ok)
            return convert::Answer::Ok;
        if (message.caption == convert::messages::kCaptionQuestion)
            return options_.backupDone ? convert::Answer::Yes : convert::Answer::No;
        return options_.stopAtPrecinct ? convert::Answer::No : convert::Answer::Yes;
    }

    void ShowError(const std::string& text) override
    {
        EndProgressLine();
        std::string line = text;
        for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;)
            line.replace(at, 2, " / ");
        out_ << convert::messages::kCaptionError << ": " << line << std::endl;
    }

    void ShowErrorWithDetails(const std::string& text, const std::string& details) override
    {
        ShowError(text);
        PrintDetails(details);
    }

    void SetProgressRange(int minimum, int maximum) override
    {
        minimum_ = minimum;
        maximum_ = maximum;
    }

    void SetProgressPosition(int position) override
    {
        if (!terminal_ || maximum_ <= minimum_ || position == 0)
            return;
        const int percent = 100 * (position - minimum_) / (maximum_ - minimum_);
        const int filled = percent / 2;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled,
                     "##################################################", 50 - filled, "", percent);
        std::fflush(stderr);
        drawn_ = true;
    }

    void SetBusyCursor(bool) override {}
    void CloseAfterSuccess() override { succeeded_ = true; }

private:
    // A message's details (the run's report) under it, indented.
    void PrintDetails(const std::string& details)
    {
        if (details.empty())
            return;
        std::size_t from = 0;
        while (from < details.size()) {
            const std::size_t end = std::min(details.find('\n', from), details.size());
            const std::string line = details.substr(from, end - from);
            out_ << (line.empty() ? "" : "    ") << line << '\n';
            from = end + 1;
        }
        out_.flush();
    }

    void EndProgressLine()
    {
        if (drawn_) {
            std::fputc('\n', stderr);
            drawn_ = false;
        }
    }

    const ImportOptions& options_;
    std::ostream& out_;
    std::string archive_, target_;
    bool terminal_;
    bool drawn_ = false;
    int minimum_ = 0, maximum_ = 0;
    bool succeeded_ = false;
};

} // namespace

int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ImportOptions options;
    std::vector<std::string> dirs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // An option that takes a value, followed by nothing or by another option.
        if ((a == "--renumber" || a == "--today") &&
            (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0)) {
            err << "kerg-inspect: po opcji " << a << " brak wartości\n";
            return kInspectBadInput;
        }
        if (a == "--renumber")
            options.renumberingFile = args[++i];
        else if (a == "--no-assortments")
            options.assortments = false;
        else if (a == "--no-parcels")
            options.parcels = false;
        else if (a == "--no-rasters")
            options.rasters = false;
        else if (a == "--stop-at-precinct")
            options.stopAtPrecinct = true;
        else if (a == "--backup-done")
            options.backupDone = true;
        else if (a == "--today") {
            options.today = ParseDay(args[++i]);
            if (!options.today) {
                err << "kerg-inspect: niepoprawna data " << args[i]
                    << " (oczekiwano RRRR-MM-DD, lata 1980–2107)\n";
                return kInspectBadInput;
            }
        } else if (!a.empty() && a[0] == '-') {
            err << "kerg-inspect: nieznana opcja " << a << '\n';
            return kInspectBadInput;
        } else
            dirs.push_back(a);
    }
    if (dirs.size() != 2) {
        err << "użycie: kerg-inspect import KATALOG_ARCHIWUM KATALOG_DOCELOWY [--renumber PLIK] "
               "[--no-assortments] "
               "[--no-parcels] [--no-rasters] [--stop-at-precinct] [--backup-done] [--today RRRR-MM-DD]\n";
        return kInspectBadInput;
    }
    options.archiveDir = dirs[0];
    options.targetDir = dirs[1];
    ConsoleUi ui(options, out);
    convert::ImportRun run(ui, options.renumberingFile, [day = options.today] {
        if (day)
            return *day;
        const platform::LocalDate today = platform::Today();
        return convert::Date{today.year, today.month, today.day};
    });
    run.BitBtn1Click();
    return ui.Succeeded() ? kInspectOk : kInspectProblems;
}

} // namespace tools
