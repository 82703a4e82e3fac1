// kerg-inspect: looks into archive tables and indexes through the archive reader, for support
// staff and for checks before an import.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tools {

// Exit statuses.
inline constexpr int kInspectOk = 0;
inline constexpr int kInspectFound = 0;
inline constexpr int kInspectNotFound = 1; // seek: no such key
inline constexpr int kInspectProblems = 1; // check: something is wrong
inline constexpr int kInspectBadInput = 2; // usage, or a file that cannot be read

// Runs one command (`args` without the program name), writing results to `out` and the one line
// that explains a failure to `err`. Never throws.
int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The "import" command: the import run without windows (`args` after the word "import").
int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The "digest" command: one line per file under `directory` (CRC-32 in hex, size, path relative to
// the directory with "/"), sorted by path; the header dates of tables and indexes left out.
int RunDigestCommand(const std::string& directory, std::ostream& out, std::ostream& err);

// A digest's lines without those of the files the next import removes unnoticed: a journal that a
// commit made void, the progress table and the report log (or their new copies).
std::string WithoutRunLeftovers(const std::string& digest);

// The "verify" command: every table under `directory` opens and every tag holds exactly its
// records' keys in order; problems, and journals of interrupted imports, one per line.
int RunVerifyCommand(const std::string& directory, std::ostream& out, std::ostream& err);

// The "reindex" command: rebuilds every tag of the table's production index from its records,
// under an exclusive open and in one transaction.
int RunReindexCommand(const std::string& tablePath, std::ostream& out, std::ostream& err);

// The "recover" command (`args` after the word): withdraws the changes of an interrupted import of
// the target directory; "--force" skips the check that the files hold only the import's bytes.
int RunRecoverCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tools
