// libFuzzer target: an index file of arbitrary bytes, walked and searched, with a change of the
// file's stamp half way.
//
// Input: byte 0 the number of searches (bit 7: read pages from the file), bytes 1.. the index file itself;
// search keys are cut from the file's own bytes, so that they are often real keys.
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/reader.h"
#include "tests/support/test_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int searches = 1 + data[0] % 16;
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);

    test_support::MemoryFiles files;
    auto state = files.Add("F.NTX", file);
    archive::Reader reader(files.Opener());
    reader.StampCheckInterval = std::chrono::milliseconds(0); // every stamp change is seen
    if (data[0] & 0x80)
        reader.IndexImageLimit = 0; // pages read from the file one by one
    archive::IndexHandle handle;
    reader.OpenIndex(handle, "F.NTX");
    if (reader.IndexResult() != 0)
        return 0;

    std::int32_t recno = 0;
    // A whole walk from below every key.
    reader.SeekKey(handle, std::string(handle.KeySize(), '\0'), recno);
    for (int i = 0; i < 200000 && reader.NextKey(handle, recno); ++i) {}
    for (int s = 0; s < searches && handle.IsOpen(); ++s) {
        const std::size_t at = (static_cast<std::size_t>(s) * 977u) % file.size();
        const std::size_t length = (static_cast<std::size_t>(s) * 7u) % 300u;
        const std::string key = file.substr(at, length);
        reader.SeekKey(handle, key, recno);
        if (s == searches / 2)
            state->stamp += 1; // the next step refreshes
        for (int i = 0; i < 20 && reader.NextKey(handle, recno); ++i) {}
    }
    reader.CloseIndex(handle);
    return 0;
}
