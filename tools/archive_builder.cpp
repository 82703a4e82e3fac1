// The archive's layouts and the writing of its tables and indexes.
#include "tools/archive_builder.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "platform/paths.h"
#include "tools/dbf_writer.h"
#include "tools/ntx_writer.h"

namespace tools {
namespace {

using writers::DbfField;

// The tables of the archive, their fields, and their indexes (a key expression over whole
// fields: the key is the fields' bytes one after another).
struct Layout
{
    const char* file;
    std::vector<DbfField> fields;
    const char* index = nullptr;      // the index file, when the table has one
    const char* expression = nullptr; // as stored in the index header
    std::vector<int> keyFields;       // the fields whose bytes make the key

    Layout(const char* f, std::vector<DbfField> fs, const char* i = nullptr, const char* e = nullptr,
           std::vector<int> k = {})
        : file(f), fields(std::move(fs)), index(i), expression(e), keyFields(std::move(k))
    {}
};

const std::vector<Layout>& Layouts()
{
    static const std::vector<Layout> layouts = {
        {"OBREB.DBF",
         {{"ID_OBR", 'C', 4, 0},
          {"NR_G", 'C', 5, 0},
          {"NR_OBR", 'C', 4, 0},
          {"NAZWA", 'C', 30, 0},
          {"KOD_OBR", 'C', 2, 0}}},
        {"GMINA.DBF", {{"NAZWA", 'C', 25, 0}}},
        {"MIEJSC.DBF", {{"NAZWA", 'C', 25, 0}}},
        {"IMIONA.DBF", {{"NAZWA", 'C', 25, 0}}},
        {"ULICE.DBF", {{"NAZWA", 'C', 25, 0}}},
        {"OSOBY.DBF",
         {{"ID", 'C', 4, 0},
          {"O", 'N', 1, 0},
          {"NAZWA", 'C', 30, 0},
          {"IMIE_1", 'C', 2, 0},
          {"ID_G", 'C', 2, 0},
          {"ID_M", 'C', 2, 0},
          {"ID_U", 'C', 2, 0},
          {"KOD", 'C', 5, 0},
          {"NR_D", 'C', 6, 0},
          {"NR_L", 'C', 4, 0},
          {"NR_P", 'C', 11, 0},
          {"RODZAJ_O", 'C', 1, 0},
          {"NIP", 'C', 15, 0},
          {"KONTO", 'C', 10, 0},
          {"UPRAWNIENI", 'C', 25, 0}}},
        {"NAZWY.DBF",
         {{"ID_OS", 'C', 4, 0}, {"LP", 'C', 1, 0}, {"NAZWA", 'C', 30, 0}},
         "NAZWY.NTX",
         "ID_OS+LP",
         {0, 1}},
        {"ASORTYM.DBF", {{"ASORT", 'C', 2, 0}, {"NAZWA_A", 'C', 60, 0}}},
        {"ROBOTY.DBF",
         {{"ID_KERG", 'C', 4, 0},
          {"JEDN_SEG", 'C', 4, 0},
          {"NR_PORZ", 'N', 4, 0},
          {"ROK", 'N', 4, 0},
          {"LP", 'N', 3, 0},
          {"INNA_NAZWA", 'C', 20, 0},
          {"JESTWKERGU", 'L', 1, 0}},
         "ROBOTY.NTX",
         "JEDN_SEG+STR(NR_PORZ,4)+STR(ROK,4)+STR(LP,3)+INNA_NAZWA",
         {1, 2, 3, 4, 5}},
        {"KERG.DBF",
         {{"ID_KERG", 'C', 4, 0},
          {"NR_G", 'N', 5, 0},
          {"NR_WYK", 'C', 15, 0},
          {"WYKON", 'C', 4, 0},
          {"ZLECEN", 'C', 4, 0},
          {"UWAGI", 'C', 50, 0},
          {"POL_WL", 'C', 60, 0},
          {"D_P_ZAK", 'D', 8, 0},
          {"D_ROZ_P", 'D', 8, 0},
          {"D_PRZ_O", 'D', 8, 0},
          {"OPIS", 'C', 80, 0}},
         "KERG.NTX",
         "ID_KERG",
         {0}},
        {"KERGASOR.DBF",
         {{"ID_RKERG", 'C', 4, 0}, {"RO_ROBOTY", 'C', 2, 0}, {"WIELKOSC", 'N', 10, 2}},
         "KERGASOR.NTX",
         "ID_RKERG",
         {0}},
        {"DZ.DBF",
         {{"ID_DZIALKI", 'C', 4, 0},
          {"ID_OBREBU", 'C', 4, 0},
          {"L_DZIALKI", 'N', 6, 0},
          {"M_DZIALKI", 'N', 6, 0},
          {"NR_ARKUSZA", 'N', 5, 0}}},
        {"OBDG.DBF",
         {{"ID_OPE", 'C', 4, 0}, {"ID_DZIALKI", 'C', 4, 0}, {"PRZED_PO", 'C', 1, 0}},
         "OBDG.NTX",
         "ID_OPE",
         {0}},
        {"OB_RR.DBF",
         {{"ID_ZAK", 'C', 4, 0}, {"UKLAD", 'C', 1, 0}, {"GODLO", 'C', 13, 0}, {"RASTRY", 'C', 6, 0}},
         "OB_RR.NTX",
         "ID_ZAK",
         {0}},
    };
    return layouts;
}

const Layout& LayoutOf(const std::string& file)
{
    for (const Layout& l : Layouts()) {
        if (file == l.file)
            return l;
    }
    throw std::invalid_argument("nieznana tabela archiwum " + file);
}

// A record's bytes after the deletion mark: text left-aligned, numbers right-aligned.
std::string Format(const Layout& layout, const std::vector<std::string>& values)
{
    std::string bytes;
    for (std::size_t i = 0; i < layout.fields.size(); ++i) {
        const DbfField& f = layout.fields[i];
        std::string v = i < values.size() ? values[i] : std::string();
        v.resize(std::min<std::size_t>(v.size(), f.width));
        const std::string pad(f.width - v.size(), ' ');
        bytes += (f.type == 'N' ? pad + v : v + pad);
    }
    return bytes;
}

} // namespace

std::string ArchiveBuilder::Link4(std::uint32_t value)
{
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                       static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
}

std::string ArchiveBuilder::Link2(std::uint16_t value)
{
    return Link4(value).substr(0, 2);
}

ArchiveBuilder::Table& ArchiveBuilder::Get(const std::string& name)
{
    for (Table& t : tables_) {
        if (t.name == name)
            return t;
    }
    tables_.push_back({name, {}, {}});
    return tables_.back();
}

int ArchiveBuilder::Append(const std::string& table, std::string bytes)
{
    Table& t = Get(table);
    t.records.push_back(std::move(bytes));
    t.deleted.push_back(false);
    return static_cast<int>(t.records.size());
}

void ArchiveBuilder::MarkDeleted(const std::string& table, int record)
{
    Get(table).deleted.at(static_cast<std::size_t>(record - 1)) = true;
}

int ArchiveBuilder::AddPrecinct(const std::string& nrG, const std::string& nrObr, const std::string& nazwa,
                                const std::string& kodObr)
{
    const int record = static_cast<int>(Get("OBREB.DBF").records.size()) + 1;
    return Append("OBREB.DBF", Format(LayoutOf("OBREB.DBF"), {Link4(static_cast<std::uint32_t>(record)), nrG,
                                                              nrObr, nazwa, kodObr}));
}

int ArchiveBuilder::AddCommune(const std::string& name)
{
    return Append("GMINA.DBF", Format(LayoutOf("GMINA.DBF"), {name}));
}

int ArchiveBuilder::AddLocality(const std::string& name)
{
    return Append("MIEJSC.DBF", Format(LayoutOf("MIEJSC.DBF"), {name}));
}

int ArchiveBuilder::AddFirstName(const std::string& name)
{
    return Append("IMIONA.DBF", Format(LayoutOf("IMIONA.DBF"), {name}));
}

int ArchiveBuilder::AddStreet(const std::string& name)
{
    return Append("ULICE.DBF", Format(LayoutOf("ULICE.DBF"), {name}));
}

int ArchiveBuilder::AddPerson(const ArchivePerson& p)
{
    const int record = static_cast<int>(Get("OSOBY.DBF").records.size()) + 1;
    return Append(
        "OSOBY.DBF",
        Format(LayoutOf("OSOBY.DBF"),
               {Link4(static_cast<std::uint32_t>(record)), std::to_string(p.o), p.nazwa,
                Link2(static_cast<std::uint16_t>(p.imie)), Link2(static_cast<std::uint16_t>(p.gmina)),
                Link2(static_cast<std::uint16_t>(p.miejsc)), Link2(static_cast<std::uint16_t>(p.ulica)),
                p.kod, p.nrDomu, p.nrLokalu, p.pesel, p.rodzaj, p.nip, p.konto, p.uprawnienia}));
}

int ArchiveBuilder::AddNameLine(std::int32_t personId, int line, const std::string& text)
{
    return Append("NAZWY.DBF",
                  Format(LayoutOf("NAZWY.DBF"), {Link4(static_cast<std::uint32_t>(personId)),
                                                 std::string(1, static_cast<char>(line)), text}));
}

int ArchiveBuilder::AddAssortment(const std::string& code, const std::string& name)
{
    return Append("ASORTYM.DBF", Format(LayoutOf("ASORTYM.DBF"), {code, name}));
}

int ArchiveBuilder::AddWork(const ArchiveWork& w)
{
    works_.push_back(w);
    std::string segment = w.jednSeg.substr(0, 4);
    segment.insert(0, 4 - segment.size(), ' ');
    return Append("ROBOTY.DBF", Format(LayoutOf("ROBOTY.DBF"),
                                       {Link4(static_cast<std::uint32_t>(w.idKerg)), segment,
                                        std::to_string(w.nrPorz), std::to_string(w.rok), std::to_string(w.lp),
                                        w.innaNazwa, w.jestWKergu ? "T" : "F"}));
}

int ArchiveBuilder::AddKerg(const ArchiveKerg& k)
{
    return Append("KERG.DBF", Format(LayoutOf("KERG.DBF"),
                                     {Link4(static_cast<std::uint32_t>(k.idKerg)), std::to_string(k.nrG),
                                      k.nrWyk, Link4(static_cast<std::uint32_t>(k.wykon)),
                                      Link4(static_cast<std::uint32_t>(k.zlecen)), k.uwagi, k.polWl, k.dPZak,
                                      k.dRozP, k.dPrzO, k.opis}));
}

int ArchiveBuilder::AddWorkAssortment(std::int32_t kergRecord, std::int16_t assortmentRecord,
                                      const std::string& quantity)
{
    return Append("KERGASOR.DBF", Format(LayoutOf("KERGASOR.DBF"),
                                         {Link4(static_cast<std::uint32_t>(kergRecord)),
                                          Link2(static_cast<std::uint16_t>(assortmentRecord)), quantity}));
}

int ArchiveBuilder::AddParcel(std::int32_t precinct, std::int32_t numerator, std::int32_t denominator,
                              int sheet)
{
    const int record = static_cast<int>(Get("DZ.DBF").records.size()) + 1;
    return Append("DZ.DBF", Format(LayoutOf("DZ.DBF"),
                                   {Link4(static_cast<std::uint32_t>(record)),
                                    Link4(static_cast<std::uint32_t>(precinct)), std::to_string(numerator),
                                    std::to_string(denominator), std::to_string(sheet)}));
}

int ArchiveBuilder::AddParcelLink(std::int32_t kergRecord, std::int32_t parcelRecord,
                                  const std::string& beforeAfter)
{
    return Append("OBDG.DBF", Format(LayoutOf("OBDG.DBF"),
                                     {Link4(static_cast<std::uint32_t>(kergRecord)),
                                      Link4(static_cast<std::uint32_t>(parcelRecord)), beforeAfter}));
}

int ArchiveBuilder::AddRaster(std::int32_t kergRecord, const std::string& uklad, const std::string& godlo,
                              const std::string& mask)
{
    return Append("OB_RR.DBF", Format(LayoutOf("OB_RR.DBF"),
                                      {Link4(static_cast<std::uint32_t>(kergRecord)), uklad, godlo, mask}));
}

bool ArchiveBuilder::Write(const std::string& directory) const
{
    if (!platform::CreateDirectories(directory))
        return false;
    std::string dir = directory;
    if (dir.empty() || !platform::IsSeparator(dir.back()))
        dir.push_back(platform::kSeparator);
    for (const Layout& layout : Layouts()) {
        writers::DbfWriter writer(layout.fields);
        std::vector<writers::NtxEntry> entries;
        for (const Table& t : tables_) {
            if (t.name != layout.file)
                continue;
            for (std::size_t i = 0; i < t.records.size(); ++i) {
                writer.AddRaw(t.records[i], t.deleted[i]);
                if (layout.index != nullptr) {
                    std::string key;
                    std::size_t offset = 0;
                    for (std::size_t f = 0, k = 0; f < layout.fields.size(); ++f) {
                        if (k < layout.keyFields.size() && layout.keyFields[k] == static_cast<int>(f)) {
                            key += t.records[i].substr(offset, layout.fields[f].width);
                            ++k;
                        }
                        offset += layout.fields[f].width;
                    }
                    entries.push_back({key, static_cast<std::uint32_t>(i + 1)});
                }
            }
        }
        if (!writers::WriteFile(dir + layout.file, writer.Bytes()))
            return false;
        if (layout.index != nullptr) {
            std::stable_sort(
                entries.begin(), entries.end(),
                [](const writers::NtxEntry& a, const writers::NtxEntry& b) { return a.key < b.key; });
            writers::NtxOptions options;
            options.keyExpression = layout.expression;
            std::size_t keySize = 0;
            for (int f : layout.keyFields)
                keySize += layout.fields[static_cast<std::size_t>(f)].width;
            options.keySize = static_cast<std::uint16_t>(keySize);
            if (!writers::WriteFile(dir + layout.index, writers::BuildNtx(entries, options)))
                return false;
        }
    }
    return true;
}

} // namespace tools
