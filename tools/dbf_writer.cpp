// A plain writer of dBase III tables.
#include "tools/dbf_writer.h"

#include <algorithm>
#include <fstream>

#include "platform/paths.h"

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

} // namespace

DbfWriter::DbfWriter(std::vector<DbfField> fields, std::uint8_t languageDriver)
    : fields_(std::move(fields)), languageDriver_(languageDriver)
{
    unsigned length = 1;
    for (const DbfField& f : fields_)
        length += f.width;
    recordLength_ = static_cast<std::uint16_t>(length);
}

std::uint16_t DbfWriter::HeaderLength() const
{
    return static_cast<std::uint16_t>(32 + 32 * fields_.size() + 1);
}

void DbfWriter::Add(const std::vector<std::string>& values, bool deleted)
{
    std::string record;
    record.reserve(recordLength_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const DbfField& f = fields_[i];
        std::string v = i < values.size() ? values[i] : std::string();
        if (v.size() > f.width)
            v.resize(f.width);
        const std::string pad(f.width - v.size(), ' ');
        if (f.type == 'N' || f.type == 'F')
            record += pad + v;
        else
            record += v + pad;
    }
    AddRaw(record, deleted);
}

void DbfWriter::AddRaw(std::string_view bytes, bool deleted)
{
    std::string record(recordLength_, ' ');
    record[0] = deleted ? '*' : ' ';
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), recordLength_ - 1u), record.begin() + 1);
    records_ += record;
}

std::string DbfWriter::Bytes(int year, int month, int day) const
{
    std::string out(HeaderLength(), '\0');
    out[0] = 0x03;
    out[1] = static_cast<char>(year - 1900);
    out[2] = static_cast<char>(month);
    out[3] = static_cast<char>(day);
    Put32(out, 4, static_cast<std::uint32_t>(RecordCount()));
    Put16(out, 8, HeaderLength());
    Put16(out, 10, recordLength_);
    out[29] = static_cast<char>(languageDriver_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::size_t at = 32 * (i + 1);
        const DbfField& f = fields_[i];
        std::copy_n(f.name.begin(), std::min<std::size_t>(f.name.size(), 10),
                    out.begin() + static_cast<long>(at));
        out[at + 11] = f.type;
        out[at + 16] = static_cast<char>(f.width);
        out[at + 17] = static_cast<char>(f.decimals);
    }
    out[HeaderLength() - 1u] = 0x0D;
    out += records_;
    out += '\x1A';
    return out;
}

bool DbfWriter::Write(const std::string& path) const
{
    return WriteFile(path, Bytes());
}

bool WriteFile(const std::string& path, std::string_view bytes)
{
    std::ofstream file(platform::NativePath(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace writers
