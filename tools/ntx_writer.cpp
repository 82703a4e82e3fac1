// A writer of Clipper NTX indexes: header page, tree pages with their offset tables.
#include "tools/ntx_writer.h"

#include <algorithm>

namespace writers {
namespace {

void Put16(std::string& out, std::size_t at, unsigned value)
{
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string FitKey(const std::string& key, std::uint16_t keySize)
{
    std::string k = key.substr(0, keySize);
    k.resize(keySize, ' ');
    return k;
}

class TreeBuilder
{
public:
    explicit TreeBuilder(const NtxOptions& options)
        : options_(options), maxItems_(NtxMaxItems(options.keySize))
    {}

    std::string Build(const std::vector<NtxEntry>& entries)
    {
        std::vector<NtxItem> items;
        items.reserve(entries.size());
        for (const NtxEntry& e : entries)
            items.push_back({e.key, e.record, 0});
        const std::uint32_t root = BuildLevel(std::move(items), 0);
        std::string file = NtxHeaderBytes(root, options_);
        file += pages_;
        return file;
    }

private:
    std::uint32_t Write(const NtxPage& page)
    {
        const auto offset = static_cast<std::uint32_t>(kNtxPage + pages_.size());
        pages_ += NtxPageBytes(page, options_);
        return offset;
    }

    // Splits one level into pages; the separators between pages go up one level.
    std::uint32_t BuildLevel(std::vector<NtxItem> items, std::uint32_t right)
    {
        const std::size_t k = items.size();
        const std::size_t m = maxItems_;
        if (k <= m) {
            NtxPage page;
            page.items = std::move(items);
            page.rightChild = right;
            return Write(page);
        }
        const std::size_t pageCount = (k + 1 + m) / (m + 1); // ceil((k + 1) / (m + 1))
        const std::size_t inPages = k - (pageCount - 1);
        const std::size_t base = inPages / pageCount;
        const std::size_t extra = inPages % pageCount;
        std::vector<NtxItem> up;
        std::uint32_t upRight = 0;
        std::size_t at = 0;
        for (std::size_t p = 0; p < pageCount; ++p) {
            const std::size_t count = base + (p < extra ? 1 : 0);
            NtxPage page;
            page.items.assign(items.begin() + static_cast<long>(at),
                              items.begin() + static_cast<long>(at + count));
            at += count;
            if (p + 1 < pageCount) {
                NtxItem separator = items[at++];
                page.rightChild = separator.child;
                separator.child = Write(page);
                up.push_back(std::move(separator));
            } else {
                page.rightChild = right;
                upRight = Write(page);
            }
        }
        return BuildLevel(std::move(up), upRight);
    }

    const NtxOptions& options_;
    std::uint16_t maxItems_;
    std::string pages_;
};

} // namespace

std::uint16_t NtxMaxItems(std::uint16_t keySize)
{
    int items = 1022 / (keySize + 10) - 1;
    if (items > 2 && items % 2 != 0)
        --items;
    return static_cast<std::uint16_t>(std::max(items, 1));
}

std::string NtxHeaderBytes(std::uint32_t rootOffset, const NtxOptions& options)
{
    std::string out(kNtxPage, '\0');
    Put16(out, 0, 6);                     // signature of Clipper 5.x
    Put16(out, 2, 1);                     // update counter
    Put32(out, 4, rootOffset);            // root page
    Put32(out, 8, 0);                     // no free pages
    Put16(out, 12, options.keySize + 8u); // item size
    Put16(out, 14, options.keySize);      // key size
    Put16(out, 16, 0);                    // decimals
    const std::uint16_t maxItems = NtxMaxItems(options.keySize);
    Put16(out, 18, maxItems);
    Put16(out, 20, maxItems / 2u);
    std::copy_n(options.keyExpression.begin(), std::min<std::size_t>(options.keyExpression.size(), 255),
                out.begin() + 22);
    return out;
}

std::string NtxPageBytes(const NtxPage& page, const NtxOptions& options)
{
    const std::size_t keySize = options.keySize;
    const std::size_t itemSize = keySize + 8;
    const std::size_t n = page.items.size();
    // A page always has room for its offset table and items when n fits the maximum; a larger
    // n (for damaged-file tests) keeps only the offsets that fit.
    const std::size_t slots = std::max<std::size_t>(NtxMaxItems(options.keySize), n) + 1;
    std::string out(kNtxPage, '\0');
    Put16(out, 0,
          page.countOverride >= 0 ? static_cast<unsigned>(page.countOverride) : static_cast<unsigned>(n));
    const std::size_t itemsStart = 2 + 2 * slots;
    for (std::size_t slot = 1; slot <= slots && 2 * slot + 1 < out.size(); ++slot) {
        std::size_t position = slot - 1;
        if (options.permuteOffsets && slot <= n + 1)
            position = n + 1 - slot;
        const std::size_t offset = itemsStart + position * itemSize;
        Put16(out, 2 * slot, static_cast<unsigned>(offset));
        if (offset + itemSize > out.size())
            continue;
        if (slot <= n) {
            const NtxItem& item = page.items[slot - 1];
            Put32(out, offset, item.child);
            Put32(out, offset + 4, item.record);
            const std::string key = FitKey(item.key, options.keySize);
            std::copy(key.begin(), key.end(), out.begin() + static_cast<long>(offset + 8));
        } else if (slot == n + 1) {
            Put32(out, offset, page.rightChild);
            if (options.staleExtraSlot && n > 0) {
                Put32(out, offset + 4, page.items[0].record);
                const std::string key = FitKey(page.items[0].key, options.keySize);
                std::copy(key.begin(), key.end(), out.begin() + static_cast<long>(offset + 8));
            }
        }
    }
    return out;
}

std::string BuildNtx(const std::vector<NtxEntry>& entries, const NtxOptions& options)
{
    TreeBuilder builder(options);
    return builder.Build(entries);
}

std::string BuildNtxPages(const std::vector<NtxPage>& pages, std::uint32_t rootOffset,
                          const NtxOptions& options)
{
    std::string file = NtxHeaderBytes(rootOffset, options);
    for (const NtxPage& page : pages)
        file += NtxPageBytes(page, options);
    return file;
}

} // namespace writers
