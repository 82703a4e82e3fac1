// Work areas and dBase table files: opening, positioning through the read-ahead window, closing.
#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/dbf_format.h"
#include "archive/reader.h"

namespace archive {
namespace {

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool ValidArea(int area)
{
    return area >= 1 && area <= kAreaCount;
}

void Release(WorkArea& a)
{
    a.file.reset();
    a.descriptors.clear();
    a.descriptors.shrink_to_fit();
    a.window.clear();
    a.window.shrink_to_fit();
    a.windowBytes = nullptr;
    a.image.clear();
    a.image.shrink_to_fit();
    a.imageSize = 0;
    a.fieldCount = 0;
    a.windowCapacity = 1;
    a.windowIndex = -1;
    a.free = true;
}

} // namespace

std::int32_t WorkArea::RecordCount() const
{
    return static_cast<std::int32_t>(U32(header.data() + dbf::kRecordCountOffset));
}

std::uint16_t WorkArea::HeaderLength() const
{
    return U16(header.data() + dbf::kHeaderLengthOffset);
}

std::uint16_t WorkArea::RecordLength() const
{
    return U16(header.data() + dbf::kRecordLengthOffset);
}

Reader::Reader(platform::FileOpener opener) : opener_(std::move(opener)) {}

Reader::~Reader() = default;

void Reader::ResetWorkAreas()
{
    for (WorkArea& a : areas_)
        Release(a);
}

const WorkArea* Reader::Area(int area) const
{
    return ValidArea(area) ? &areas_[static_cast<std::size_t>(area - 1)] : nullptr;
}

std::string_view Reader::CurrentRecordBytes(int area) const
{
    const WorkArea* a = Area(area);
    if (a == nullptr || a->free || a->windowIndex < 0)
        return {};
    const std::size_t length = a->RecordLength();
    return std::string_view(a->windowBytes + static_cast<std::size_t>(a->windowIndex) * length, length);
}

void Reader::OpenTable(std::string_view name, std::uint8_t& area)
{
    // 1. Choose the area.
    if (area == 0) {
        std::size_t i = 0;
        while (i < areas_.size() && !areas_[i].free)
            ++i;
        if (i == areas_.size()) {
            tableResult_ = kTableBadArea;
            return;
        }
        area = static_cast<std::uint8_t>(i + 1);
    } else {
        if (!ValidArea(area)) {
            tableResult_ = kTableBadArea;
            return;
        }
        CloseTable(area);
    }
    WorkArea& a = areas_[static_cast<std::size_t>(area - 1)];

    // 2, 3. A name without any dot gets the dBase extension.
    a.eof = false;
    // The name is used whole: cutting a long path would open another file.
    std::string fileName(name);
    if (fileName.find('.') == std::string::npos)
        fileName += ".dbf";

    // 4. Open for block reading.
    std::unique_ptr<platform::File> file = opener_(fileName);
    if (!file) {
        tableResult_ = kTableCannotOpen;
        return;
    }

    // 6. The 12-byte header.
    std::array<std::uint8_t, dbf::kHeaderBytes> header{};
    if (!file->Seek(0) || file->Read(header.data(), header.size()) != dbf::kHeaderBytes) {
        tableResult_ = kTableShort;
        return;
    }
    a.header = header;
    const std::uint16_t headerLength = a.HeaderLength();
    const std::uint16_t recordLength = a.RecordLength();

    // Checks of a damaged header before anything is sized from it: a header shorter than one
    // descriptor block, one that runs past the end of the file, and a record length of 0 (the
    // stride of every move and the divisor of the window budget).
    const std::int64_t fileSize = file->Size();
    if (headerLength < dbf::kDescriptorBytes || (fileSize >= 0 && headerLength > fileSize) ||
        recordLength == 0) {
        tableResult_ = kTableShort;
        return;
    }

    // 7. The records start at the header length.
    if (!file->Seek(headerLength)) {
        tableResult_ = kTableSeekFailed;
        return;
    }

    // 8, 9. The field descriptors, read in one block.
    std::vector<std::uint8_t> block(headerLength);
    if (!file->Seek(0) || file->Read(block.data(), block.size()) != headerLength) {
        tableResult_ = kTableShort;
        return;
    }
    const int declared = headerLength / dbf::kDescriptorBytes - 1;
    std::vector<FieldDescriptor> descriptors;
    descriptors.reserve(static_cast<std::size_t>(declared));
    unsigned running = 1;
    for (int i = 1; i <= declared; ++i) {
        const std::uint8_t* d = block.data() + dbf::kDescriptorBytes * i;
        // Some writers pad the header past the terminator; what follows it is not a field.
        if (d[0] == dbf::kDescriptorTerminator)
            break;
        FieldDescriptor f;
        std::size_t length = 0;
        while (length < dbf::kNameLength && d[dbf::kNameOffset + length] != 0)
            ++length;
        f.name.assign(reinterpret_cast<const char*>(d + dbf::kNameOffset), length);
        f.type = static_cast<char>(d[dbf::kTypeOffset]);
        f.width = d[dbf::kWidthOffset];
        f.decimals = d[dbf::kDecimalsOffset];
        f.offset = static_cast<std::uint16_t>(running);
        running += f.width;
        descriptors.push_back(std::move(f));
    }
    // Fields that run past the record would be read outside it.
    if (running > recordLength) {
        tableResult_ = kTableShort;
        return;
    }
    if (!file->Seek(headerLength)) {
        tableResult_ = kTableSeekFailed;
        return;
    }

    // 5. The area is in use from here on.
    a.file = std::move(file);
    a.free = false;
    a.currentRecord = 0;
    a.recordPosition = headerLength;
    a.descriptors = std::move(descriptors);
    a.fieldCount = static_cast<std::uint16_t>(a.descriptors.size());
    a.windowCapacity = 1;
    a.window.assign(recordLength, ' ');
    a.windowIndex = -1;
    LoadImage(a);

    // 10.
    currentArea_ = area;
    tableResult_ = kTableOk;
    GotoRecord(area, 0);
}

void Reader::CloseTable(int area)
{
    if (!ValidArea(area)) {
        tableResult_ = kTableBadArea;
        return;
    }
    WorkArea& a = areas_[static_cast<std::size_t>(area - 1)];
    if (!a.free)
        Release(a);
    tableResult_ = kTableOk;
}

void Reader::CloseAllTables()
{
    for (int area = 1; area <= kAreaCount; ++area) {
        if (!areas_[static_cast<std::size_t>(area - 1)].free)
            CloseTable(area);
    }
}

void Reader::SetReadBuffer(int area, std::uint16_t bytes)
{
    if (!ValidArea(area)) {
        tableResult_ = kTableBadArea;
        return;
    }
    WorkArea& a = areas_[static_cast<std::size_t>(area - 1)];
    if (!a.free) {
        const std::uint16_t capacity = static_cast<std::uint16_t>(bytes / a.RecordLength());
        if (capacity == 0)
            return; // the budget does not hold one record: nothing changes
        a.windowCapacity = capacity;
        a.window.assign(static_cast<std::size_t>(capacity) * a.RecordLength(), ' ');
        a.window.shrink_to_fit();
        a.windowIndex = -1;
    }
    tableResult_ = kTableOk;
    SkipRecords(area, 0);
}

WorkArea* Reader::AreaForCall(int area)
{
    if (!ValidArea(area)) {
        tableResult_ = kTableBadArea;
        return nullptr;
    }
    WorkArea& a = areas_[static_cast<std::size_t>(area - 1)];
    return a.free ? nullptr : &a;
}

void Reader::GotoRecord(int area, std::int32_t recno)
{
    if (AreaForCall(area) == nullptr)
        return;
    const std::uint16_t saved = currentArea_;
    currentArea_ = static_cast<std::uint16_t>(area);
    GotoCurrent(recno);
    currentArea_ = saved;
}

void Reader::SkipRecords(int area, std::int32_t n)
{
    WorkArea* a = AreaForCall(area);
    if (a == nullptr)
        return;
    const std::uint16_t saved = currentArea_;
    currentArea_ = static_cast<std::uint16_t>(area);
    GotoCurrent(static_cast<std::int64_t>(a->currentRecord) + n);
    currentArea_ = saved;
}

void Reader::NextRecord(int area)
{
    SkipRecords(area, 1);
}

void Reader::GotoCurrent(std::int64_t recno)
{
    WorkArea& a = areas_[currentArea_ - 1u];
    const std::int32_t count = a.RecordCount();

    if (recno == 0 && count == 0) {
        tableResult_ = kTableOk;
        a.eof = true;
        return;
    }
    if (recno >= count) { // also every number past the 32-bit range
        tableResult_ = kTableEnd;
        a.eof = true;
        return;
    }
    if (recno < 0) {
        tableResult_ = kTableNegativeRecord;
        return;
    }

    const std::int64_t delta = recno - a.currentRecord;
    a.currentRecord = static_cast<std::int32_t>(recno);
    if (delta != 0 && a.windowIndex >= 0 && a.windowIndex + delta >= 0 &&
        a.windowIndex + delta < a.windowCapacity)
        a.windowIndex = static_cast<std::int32_t>(a.windowIndex + delta);
    else
        a.windowIndex = -1; // going to the record one is on re-reads it too
    a.recordPosition += delta * a.RecordLength();

    if (a.windowIndex < 0 && !LoadWindow(a))
        return;
    tableResult_ = kTableOk;
    a.eof = false;
}

void Reader::LoadImage(WorkArea& a)
{
    a.image.clear();
    a.imageSize = 0;
    a.stamp = a.file->LastWriteStamp();
    a.stampChecked = std::chrono::steady_clock::now();
    const std::int64_t size = a.file->Size();
    if (size > 0 && size <= TableImageLimit) {
        a.image.assign(static_cast<std::size_t>(size) + kImagePadding, ' ');
        // A read that fails or falls short leaves the table to be read window by window.
        if (a.file->ReadAt(0, a.image.data(), static_cast<std::size_t>(size)) != size)
            a.image.clear();
        else
            a.imageSize = size;
    }
    a.image.shrink_to_fit();
}

bool Reader::LoadWindow(WorkArea& a)
{
    // The image stands for the file while the file's stamp stays as it was.
    if (!a.image.empty()) {
        const auto now = std::chrono::steady_clock::now();
        if (StampCheckInterval.count() == 0 || now - a.stampChecked >= StampCheckInterval) {
            a.stampChecked = now;
            if (a.file->LastWriteStamp() != a.stamp)
                LoadImage(a);
        }
    }
    // The window always starts at the record that caused the load; records past the end of the
    // file read as spaces.
    std::int64_t got = 0;
    a.windowBytes = a.window.data();
    if (!a.image.empty()) {
        const std::int64_t size = a.imageSize;
        const auto wanted = static_cast<std::int64_t>(a.window.size());
        if (a.recordPosition + wanted <= static_cast<std::int64_t>(a.image.size()) &&
            size - a.recordPosition >= a.RecordLength()) {
            // The window lies in the image (with the blanks after the file where it reaches past
            // the end): its bytes are read there, nothing is copied.
            a.windowBytes = a.image.data() + a.recordPosition;
            a.windowIndex = 0;
            return true;
        }
        got = a.recordPosition >= size ? 0 : size - a.recordPosition;
        if (got > 0)
            std::memcpy(a.window.data(), a.image.data() + a.recordPosition, static_cast<std::size_t>(got));
    } else {
        got = a.file->ReadAt(a.recordPosition, a.window.data(), a.window.size());
    }
    std::fill(a.window.begin() + std::max<std::int64_t>(got, 0), a.window.end(), ' ');
    if (got < 0 && !a.file->Seek(a.recordPosition)) {
        tableResult_ = kTableSeekFailed; // positioning failed, not the read
        return false;
    }
    if (got < a.RecordLength()) { // a failed read counts as a short one
        tableResult_ = kTableShort;
        return false;
    }
    a.windowIndex = 0;
    return true;
}

void Reader::ReadRecord(int area, std::uint8_t group)
{
    if (AreaForCall(area) == nullptr)
        return;
    const std::uint16_t saved = currentArea_;
    currentArea_ = static_cast<std::uint16_t>(area);
    ReadCurrent(group);
    currentArea_ = saved;
}

bool Reader::IsEof(int area)
{
    if (!ValidArea(area)) {
        tableResult_ = kTableBadArea;
        return true;
    }
    tableResult_ = kTableOk;
    const WorkArea& a = areas_[static_cast<std::size_t>(area - 1)];
    return a.free || a.eof;
}

} // namespace archive
