// Reading and writing the header of a dBase table.
#include "engine/dbf_format.h"

namespace engine {
namespace {

std::uint32_t Get32(const std::vector<unsigned char>& b, std::size_t at)
{
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

std::uint16_t Get16(const std::vector<unsigned char>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool Fail(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return false;
}

} // namespace

bool DbfEncrypted(const std::vector<unsigned char>& headerBytes)
{
    return headerBytes.size() > 15 && headerBytes[15] != 0;
}

bool ParseDbfHeader(const std::vector<unsigned char>& bytes, std::int64_t fileSize, DbfHeader* header,
                    std::string* why)
{
    if (fileSize < static_cast<std::int64_t>(kDbfHeaderSize) || bytes.size() < kDbfHeaderSize)
        return Fail(why, "plik jest krótszy niż nagłówek tabeli dBase");
    // dBase III to 5 (with or without a memo file, dBase IV's SQL tables too); not dBase 7, whose
    // field descriptors are laid out otherwise, nor FoxPro's.
    const unsigned char version = bytes[0];
    if (version != 0x03 && version != 0x83 && version != 0x8B && version != 0xCB && version != 0x43 &&
        version != 0x63) {
        static const char digits[] = "0123456789ABCDEF";
        const std::string hex = std::string("0x") + digits[version >> 4] + digits[version & 15];
        const char* what = version == 0x04 || version == 0x8C                      ? " (dBase 7)"
                           : version == 0x30 || version == 0x31 || version == 0x32 ? " (Visual FoxPro)"
                           : version == 0xF5 || version == 0xFB || version == 0x02 ? " (FoxPro lub FoxBASE)"
                                                                                   : "";
        return Fail(why, "nieobsługiwana wersja pliku (bajt 0 = " + hex + what +
                             "); program obsługuje tabele dBase III, IV i 5");
    }
    if (DbfEncrypted(bytes))
        return Fail(why, "tabela jest zaszyfrowana (dBase PROTECT); program nie odczytuje ani nie zapisuje "
                         "tabel zaszyfrowanych");
    DbfHeader h;
    h.version = version;
    h.recordCount = Get32(bytes, 4);
    h.headerLength = Get16(bytes, 8);
    h.recordLength = Get16(bytes, 10);
    h.hasProductionIndex = bytes[28] == 0x01;
    h.languageDriver = bytes[29];
    if (h.headerLength < kDbfHeaderSize + 1 || static_cast<std::int64_t>(h.headerLength) > fileSize)
        return Fail(why, "długość nagłówka niezgodna z rozmiarem pliku");
    if (bytes.size() < h.headerLength)
        return Fail(why, "nagłówek tabeli jest niepełny");
    if (h.recordLength < 2)
        return Fail(why, "zerowa długość rekordu");

    std::size_t offset = 1;
    for (std::size_t at = kDbfHeaderSize; at < h.headerLength; at += kDbfFieldSize) {
        if (bytes[at] == static_cast<unsigned char>(kDbfFieldEnd))
            break;
        if (at + kDbfFieldSize > h.headerLength)
            return Fail(why, "opis pól wychodzi poza nagłówek");
        if (h.fields.size() >= kDbfMaxFields)
            return Fail(why, "zbyt wiele pól");
        FieldInfo f;
        for (std::size_t i = 0; i < 11 && bytes[at + i] != 0; ++i)
            f.name.push_back(static_cast<char>(bytes[at + i]));
        f.type = static_cast<char>(bytes[at + 11]);
        f.width = bytes[at + 16];
        f.decimals = bytes[at + 17];
        f.ownTag = bytes[at + 31] == 0x01;
        f.offset = offset;
        if (f.name.empty())
            return Fail(why, "pole bez nazwy");
        bool sound = false;
        switch (f.type) {
        case 'C':
            sound = f.width >= 1;
            f.decimals = 0;
            break;
        case 'N':
        case 'F':
            sound = f.width >= 1 && f.width <= 20 &&
                    (f.decimals == 0 || static_cast<std::size_t>(f.decimals) + 2 <= f.width);
            break;
        case 'D':
            sound = f.width == 8;
            break;
        case 'L':
            sound = f.width == 1;
            break;
        case 'M': // memo, binary and OLE fields of dBase 5 hold a block number of the memo file
        case 'B':
        case 'G':
            sound = f.width == 10 || f.width == 4;
            break;
        default:
            return Fail(why, "pole " + f.name + " ma nieobsługiwany typ '" + std::string(1, f.type) +
                                 "' (dBase 5 zna typy C, N, F, D, L, M, B i G)");
        }
        if (!sound)
            return Fail(why, "pole " + f.name + " ma niedozwoloną długość " + std::to_string(f.width));
        offset += f.width;
        h.fields.push_back(f);
    }
    if (h.fields.empty())
        return Fail(why, "tabela nie ma pól");
    if (offset != h.recordLength)
        return Fail(why, "długość rekordu (" + std::to_string(h.recordLength) +
                             ") nie jest sumą długości pól (" + std::to_string(offset) + ")");
    const std::int64_t needed = static_cast<std::int64_t>(h.headerLength) +
                                std::int64_t{h.recordCount} * std::int64_t(h.recordLength);
    if (needed > fileSize)
        return Fail(why, "liczba rekordów w nagłówku (" + std::to_string(h.recordCount) +
                             ") nie mieści się w pliku");
    *header = std::move(h);
    return true;
}

std::vector<unsigned char> BuildDbfHeader(const DbfHeader& header, int year, int month, int day)
{
    std::vector<unsigned char> b(kDbfHeaderSize + kDbfFieldSize * header.fields.size() + 1, 0);
    b[0] = header.version;
    b[1] = static_cast<unsigned char>(year - 1900);
    b[2] = static_cast<unsigned char>(month);
    b[3] = static_cast<unsigned char>(day);
    for (int i = 0; i < 4; ++i)
        b[4 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(header.recordCount >> (8 * i));
    b[8] = static_cast<unsigned char>(b.size() & 0xFF);
    b[9] = static_cast<unsigned char>(b.size() >> 8);
    b[10] = static_cast<unsigned char>(header.recordLength & 0xFF);
    b[11] = static_cast<unsigned char>(header.recordLength >> 8);
    b[28] = header.hasProductionIndex ? 1 : 0;
    b[29] = header.languageDriver;
    std::size_t at = kDbfHeaderSize;
    for (const FieldInfo& f : header.fields) {
        for (std::size_t i = 0; i < f.name.size() && i < 10; ++i)
            b[at + i] = static_cast<unsigned char>(f.name[i]);
        b[at + 11] = static_cast<unsigned char>(f.type);
        b[at + 16] = static_cast<unsigned char>(f.width);
        b[at + 17] = static_cast<unsigned char>(f.decimals);
        b[at + 31] = f.ownTag ? 1 : 0;
        at += kDbfFieldSize;
    }
    b[at] = static_cast<unsigned char>(kDbfFieldEnd);
    return b;
}

} // namespace engine
