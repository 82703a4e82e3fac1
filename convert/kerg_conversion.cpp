// The KERG conversion: works completion, persons, assortments, parcels and raster ranges.
#include "convert/kerg_conversion.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/code_page.h"
#include "convert/text.h"
#include "engine/table.h"
#include "platform/paths.h"

namespace convert {
namespace {

// A 4-byte archive link as an index key: the value's bytes, least significant first.
std::string Link4(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

// The next id from a counter of Dostep.dbf, as at least `digits` upper-case hexadecimal digits,
// for the field `id` of `table`; the counter grows by 1. An id wider than the field stops the run
// (cut to the width it would be another row's id), and so does a counter at the end of its range.
std::string DrawId(std::int32_t& counter, const char* name, const engine::Field& id, const char* table,
                   int digits)
{
    const std::string head = std::string("Licznik ") + name + " w tabeli Dostep.dbf ";
    if (counter < 0 || counter == std::numeric_limits<std::int32_t>::max())
        throw std::runtime_error(head + "(" + std::to_string(counter) +
                                 ") nie daje już identyfikatorów dla nowych wierszy tabeli " + table + ".");
    std::string text = HexId(counter, digits);
    if (text.size() > id.Width())
        throw std::runtime_error(head + "(" + std::to_string(counter) + ") daje identyfikator " + text +
                                 ", dłuższy niż pole " + id.Name() + " tabeli " + table +
                                 " (szerokość pola: " + std::to_string(id.Width()) +
                                 "): skrócony byłby identyfikatorem innego wiersza.");
    ++counter;
    return text;
}

std::string Cut(std::string text, std::size_t length)
{
    if (text.size() > length)
        text.resize(length);
    return text;
}

// A dictionary number names a record when it is neither 0 nor the 16-bit -1.
bool ValidDictionaryNumber(std::int16_t number)
{
    return number != 0 && number != -1;
}

// How the report names a work (UTF-8): its segment, number, year and item, and its other name
// when it has one ("KM 9/1992, lp. 17"). The text arrives in code page 1250.
std::string WorkDesignation(std::string_view jednSeg, std::int64_t nrPorz, std::int64_t rok, std::int64_t lp,
                            std::string_view innaNazwa)
{
    const auto trimmed = [](std::string_view text) {
        const std::size_t first = text.find_first_not_of(' ');
        return first == std::string_view::npos ? std::string_view()
                                               : text.substr(first, text.find_last_not_of(' ') - first + 1);
    };
    jednSeg = trimmed(jednSeg);
    innaNazwa = trimmed(innaNazwa);
    std::string text = jednSeg.empty() || jednSeg == "#" ? std::string() : Cp1250ToUtf8(jednSeg) + " ";
    text += std::to_string(nrPorz) + "/" + std::to_string(rok) + ", lp. " + std::to_string(lp);
    if (!innaNazwa.empty())
        text += ", \u201E" + Cp1250ToUtf8(innaNazwa) + "\u201D";
    return text;
}

// The archive files of one conversion with the variables bound to their fields.
struct Archive
{
    std::uint8_t roboty = 0, kerg = 0, kergasor = 0, obdg = 0, asortym = 0, dz = 0, obrr = 0, osoby = 0,
                 gmina = 0, miejsc = 0, imiona = 0, ulice = 0, nazwy = 0;
    archive::IndexHandle robotyNtx, kergNtx, kergasorNtx, obdgNtx, obrrNtx, nazwyNtx;

    // roboty.dbf
    std::int32_t robotyIdKerg = 0;
    archive::ShortString robotyJednSeg, robotyInnaNazwa;
    std::uint16_t robotyNrPorz = 0, robotyRok = 0, robotyLp = 0;
    bool robotyJestWKergu = false;
    // kerg.dbf
    std::int32_t kergId = 0, kergWykon = 0, kergZlecen = 0;
    std::uint16_t kergNrG = 0;
    archive::ShortString kergNrWyk, kergUwagi, kergPolWl, kergDPZak, kergDRozP, kergDPrzO, kergOpis;
    // kergasor.dbf
    std::int32_t kergasorIdRKerg = 0;
    std::int16_t kergasorRoboty = 0;
    double kergasorWielkosc = 0;
    // obdg.dbf
    std::int32_t obdgIdOpe = 0, obdgIdDzialki = 0;
    archive::ShortString obdgPrzedPo;
    // asortym.dbf
    archive::ShortString asortymAsort, asortymNazwa;
    // dz.dbf
    std::int32_t dzIdDzialki = 0, dzIdObrebu = 0, dzLicznik = 0, dzMianownik = 0;
    std::uint16_t dzArkusz = 0;
    // ob_rr.dbf
    std::int32_t obrrIdZak = 0;
    archive::ShortString obrrUklad, obrrGodlo, obrrRastry;
    // osoby.dbf
    std::int32_t osobaId = 0;
    std::uint8_t osobaO = 0;
    archive::ShortString osobaNazwa, osobaKod, osobaNrD, osobaNrL, osobaNrP, osobaRodzaj, osobaNip,
        osobaKonto, osobaUprawnieni;
    std::int16_t osobaImie = 0, osobaGmina = 0, osobaMiejsc = 0, osobaUlica = 0;
    // the dictionaries and the name lines
    archive::ShortString gminaNazwa, miejscNazwa, imionaNazwa, uliceNazwa;
    std::int32_t nazwyIdOs = 0;
    archive::ShortString nazwyLp, nazwyNazwa;
};

// A target table opened by directory and name, with its fields looked up at once.
struct TargetTable
{
    engine::Table table;
    TargetTable(const std::string& directory, const char* name, const char* tag,
                engine::Transaction* transaction)
        : table(directory, name)
    {
        if (tag != nullptr)
            table.SetIndexName(tag);
        table.SetTransaction(transaction);
        table.Open();
    }
    // A field by name. The conversion names the same few fields of every row it writes, always by
    // literals, so each name is looked up in the table once and then found by its address (and
    // checked against the name it was looked up by).
    engine::Field operator[](const char* name)
    {
        for (const Named& named : fields)
            if (named.address == name && std::strcmp(named.name.c_str(), name) == 0)
                return named.field;
        const engine::Field field = table.FieldByName(name);
        fields.push_back({name, name, field});
        return field;
    }

private:
    struct Named
    {
        const char* address;
        std::string name;
        engine::Field field;
    };
    std::vector<Named> fields;
};

struct Target
{
    TargetTable zakrRas, dz, asortym, osoby, roboty, kergasor, obdg;

    Target(const std::string& targetDir, engine::Transaction* t)
        : zakrRas(TargetSubdirectory(targetDir, "KERG"), "zakr_ras.dbf", nullptr, t),
          dz(TargetSubdirectory(targetDir, "KERG"), "dz.dbf", "OBR_DZ_ARK", t),
          asortym(TargetSubdirectory(targetDir, "KERG"), "Asortym.dbf", "UPP_ASORT", t),
          osoby(TargetSubdirectory(targetDir, "OSOBY"), "Osoby.dbf", "UPP_KLUCZ", t),
          roboty(TargetSubdirectory(targetDir, "KERG"), "Roboty.dbf", nullptr, t),
          kergasor(TargetSubdirectory(targetDir, "KERG"), "Kergasor.dbf", nullptr, t),
          obdg(TargetSubdirectory(targetDir, "KERG"), "obdg.dbf", nullptr, t)
    {
        // Every field the conversion uses must exist, also those it never writes.
        for (const char* f : {"id_rodzica", "uklad", "godlo", "rastry"})
            zakrRas[f];
        for (const char* f : {"id_dzialki", "id_obr", "dzialka", "nr_arkusza", "Id_tworz", "Id_modyf"})
            dz[f];
        for (const char* f : {"ID_ASORT", "ASORT", "NAZWA_A"})
            asortym[f];
        for (const char* f : {"id_osoby", "nazwa1", "nazwa2", "klucz", "kod", "pesel", "nr_dl", "rodzaj",
                              "nip", "konto", "uprawnieni", "ulica", "miejsc", "id_tworz"})
            osoby[f];
        for (const char* f : {"ID_ROBOTY", "JEDN_SEG", "NR_PORZ", "ROK",   "LP",       "INNA_NAZWA", "W_TOKU",
                              "NR_POW",    "NR_G",     "NR_WYK",  "WYKON", "ZLECEN",   "UWAGI",      "POL_WL",
                              "D_P_ZAK",   "D_ROZ_P",  "D_PRZ_O", "OPIS",  "Id_tworz", "Id_modyf"})
            roboty[f];
        for (const char* f : {"ID_ROBOTY", "ID_ASORT", "WIELKOSC"})
            kergasor[f];
        for (const char* f : {"id_roboty", "id_dzialki", "przed_po"})
            obdg[f];
    }
};

class Conversion
{
public:
    explicit Conversion(RunContext& context) : context_(context), reader_(context.reader) {}

    ~Conversion()
    {
        // However the conversion ends, nothing of the archive stays open.
        for (archive::IndexHandle* h :
             {&a_.robotyNtx, &a_.kergNtx, &a_.kergasorNtx, &a_.obdgNtx, &a_.obrrNtx, &a_.nazwyNtx}) {
            if (h->IsOpen())
                reader_.CloseIndex(*h);
        }
        reader_.CloseAllTables();
        context_.targetRows = nullptr;
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    bool OpenArchive();
    // Counts the archive's works of the KERG register, and those no target work took.
    void CountArchiveWorks();
    // ArchiveRecordsInFile of an open area, worked out once.
    std::int32_t RecordsInFile(std::uint8_t area);
    void OpenTarget(const std::string& targetDir)
    {
        target_ = std::make_unique<Target>(targetDir, context_.transaction);
        targetDir_ = targetDir;
        context_.targetRows = [this] {
            // In the order of kProgressTables, whose fields these numbers fill.
            Target& t = *target_;
            return std::vector<std::int64_t>{t.roboty.table.RecordCount(), t.kergasor.table.RecordCount(),
                                             t.obdg.table.RecordCount(),   t.zakrRas.table.RecordCount(),
                                             t.dz.table.RecordCount(),     t.asortym.table.RecordCount(),
                                             t.osoby.table.RecordCount(),  withContractor_};
        };
    }
    // An interrupted import is finished only over the target it left: stops the run otherwise.
    void CheckResumedTarget();
    void Walk();

private:
    bool Table(const char* name, std::uint8_t& area, std::initializer_list<ArchiveBinding> bindings);
    bool Index(const char* name, archive::IndexHandle& handle);
    // Goes to a 0-based record and reads it; false when either fails.
    bool ReadAt(std::uint8_t area, std::int32_t recno);
    enum class Read
    {
        Ok,
        Missing, // no such record: a number beyond the table (or below 1)
        Damaged, // the record cannot be read, or a number in it is no number
    };
    // ReadAt telling why it failed.
    Read ReadRecordAt(std::uint8_t area, std::int32_t recno);
    // Searches and steps of the reader that stop the import (an exception) when they fail on a
    // damaged page of `name`: taken for "no entry", that would leave works uncompleted, or complete
    // them without some of their rows, and say nothing.
    bool Seek(archive::IndexHandle& index, const char* name, std::string_view key, std::int32_t& recno);
    bool Next(archive::IndexHandle& index, const char* name, std::int32_t& recno);
    // A search of an index whose keys were found out of byte order may miss keys it holds: that
    // stops the import too.
    void StopOnUntrustedIndex(const archive::IndexHandle& index, const char* name);
    // Names a record that could not be used in the report: an unreadable record of `area` (with
    // the field whose number is bad), or `index`'s entry pointing beyond its table.
    void SkipDamaged(std::uint8_t area, std::int32_t recno, const std::string& what);
    void SkipOutside(const char* index, std::uint8_t area, std::int32_t recno, const std::string& what);
    const std::string& FileOf(std::uint8_t area) const { return names_[area]; }
    // The 1-based number of the record an area stands on.
    std::int64_t CurrentRecord(std::uint8_t area) const
    {
        return std::int64_t{reader_.Area(area)->currentRecord} + 1;
    }

    std::string ResolvePerson(std::int32_t number);
    std::string FindOrCreatePerson(std::int32_t number);
    std::pair<std::string, std::string> BuildPersonNames();
    std::string DictionaryName(std::uint8_t area, std::int16_t number, const archive::ShortString& nazwa);
    // The walk over the index entries of one work: calls `entry` for each; false when there are
    // none or an entry's record cannot be read.
    // An entry whose record is damaged, or that points beyond its table, is named in the report
    // (`skipped` says what was lost) and the walk goes on.
    bool WalkWork(std::int32_t n, archive::IndexHandle& index, const char* indexName, std::uint8_t area,
                  const std::int32_t& link, const std::string& skipped, const std::function<bool()>& entry);
    bool ImportAssortments(std::int32_t n);
    bool ImportParcels(std::int32_t n);
    bool ImportRasterRanges(std::int32_t n);
    // The rows of the three tables of a work's assortment positions, parcel links and raster ranges
    // that the works without a contractor have when the walk starts. Such a work may have been
    // completed by an earlier import, which could not name its contractor: completing it again
    // must not add those rows a second time.
    enum LinkTable
    {
        kAssortmentLinks,
        kParcelLinks,
        kRasterRanges,
        kLinkTables
    };
    TargetTable& Links(int table);
    void NoteEarlierRows();
    // Whether the row being appended to `table` for the work under way is one the work had when the
    // walk started (each such row answers one appended row).
    bool HadBefore(LinkTable table);

    RunContext& context_;
    std::string targetDir_;
    archive::Reader& reader_;
    Archive a_;
    std::unique_ptr<Target> target_;
    ImportReport& report_ = context_.report;
    std::array<std::string, archive::kAreaCount + 1> names_; // the archive file of each area
    // RecordsInFile of each area; -1 until worked out.
    std::vector<std::int32_t> recordsInFile_ = std::vector<std::int32_t>(archive::kAreaCount + 1, -1);
    std::string workId_; // ID_ROBOTY of the work under way
    // Rows of the works table walked so far whose contractor is set: with the row counts, what a
    // commit leaves for a rerun to recognise the works table by (kCompletedField).
    std::int64_t withContractor_ = 0;
    // The archive's works (0-based records of roboty.dbf) that a target work took.
    std::vector<bool> archiveWorksTaken_;
    // Archive persons the report counted before this run (report_.personsCounted at its start).
    std::unordered_set<std::int32_t> countedBefore_;
    // The id each archive person number resolved to in this conversion (empty: not asked yet, or
    // resolved to no one). Rows are only ever appended meanwhile, after the equal keys already
    // there, so a second search for the same person would end on the same row: asking once is
    // enough. Numbers up to kDensePersons are kept in a table by number, found with one memory
    // access where most of a large office's persons are far out of the cache; the table grows to
    // the largest number asked. Larger numbers (a damaged archive may hold any) go to the map.
    static constexpr std::int32_t kDensePersons = 1 << 20;
    std::vector<std::string> resolved_;
    std::unordered_map<std::int32_t, std::string> resolvedBeyond_;
    // NoteEarlierRows: for each table, by work id, the values of the rows (joined), not yet answered.
    std::array<std::unordered_map<std::string, std::vector<std::string>>, kLinkTables> earlierRows_;
};

namespace {

// The values a row of a link table is told apart by, beside its work id.
struct LinkLayout
{
    const char* work;
    std::vector<const char*> values;
};
const LinkLayout kLinkLayouts[] = {{"ID_ROBOTY", {"ID_ASORT", "WIELKOSC"}},
                                   {"id_roboty", {"id_dzialki", "przed_po"}},
                                   {"id_rodzica", {"uklad", "godlo", "rastry"}}};

std::string RowValues(TargetTable& table, const LinkLayout& layout)
{
    std::string values;
    for (const char* field : layout.values) {
        values += table[field].AsString();
        values += '\x1f';
    }
    return values;
}

} // namespace

TargetTable& Conversion::Links(int table)
{
    TargetTable* const tables[] = {&target_->kergasor, &target_->obdg, &target_->zakrRas};
    return *tables[table];
}

void Conversion::NoteEarlierRows()
{
    // The works that have such rows (none in a target no work of which was ever completed), then
    // those of them without a contractor, then their rows: three reads of tables that a real
    // office's rows make large, none of them when there is nothing to find.
    std::unordered_set<std::string> linked;
    for (int k = 0; k < kLinkTables; ++k) {
        engine::Table& t = Links(k).table;
        engine::Field work = Links(k)[kLinkLayouts[k].work];
        for (t.First(); !t.Eof(); t.Next())
            linked.insert(work.AsString());
    }
    if (linked.empty())
        return;
    std::unordered_set<std::string> open;
    engine::Table& works = target_->roboty.table;
    engine::Field id = works.FieldByName("ID_ROBOTY"), wykon = works.FieldByName("WYKON");
    for (works.First(); !works.Eof(); works.Next())
        if (wykon.AsString().empty())
            if (std::string w = id.AsString(); linked.count(w) != 0)
                open.insert(std::move(w));
    if (open.empty())
        return;
    for (int k = 0; k < kLinkTables; ++k) {
        TargetTable& t = Links(k);
        engine::Field work = t[kLinkLayouts[k].work];
        for (t.table.First(); !t.table.Eof(); t.table.Next())
            if (const std::string w = work.AsString(); open.count(w) != 0)
                earlierRows_[k][w].push_back(RowValues(t, kLinkLayouts[k]));
    }
}

bool Conversion::HadBefore(LinkTable table)
{
    auto& byWork = earlierRows_[table];
    if (byWork.empty())
        return false;
    const auto rows = byWork.find(Links(table)[kLinkLayouts[table].work].AsString());
    if (rows == byWork.end())
        return false;
    const auto found =
        std::find(rows->second.begin(), rows->second.end(), RowValues(Links(table), kLinkLayouts[table]));
    if (found == rows->second.end())
        return false;
    rows->second.erase(found);
    return true;
}

bool Conversion::Table(const char* name, std::uint8_t& area, std::initializer_list<ArchiveBinding> bindings)
{
    if (!OpenArchiveTable(context_, name, area, true))
        return false;
    names_[area] = name;
    return BindArchiveFields(context_, context_.state.ArchiveDir + name, bindings);
}

bool Conversion::Index(const char* name, archive::IndexHandle& handle)
{
    return OpenArchiveIndex(context_, name, handle, true);
}

bool Conversion::OpenArchive()
{
    Archive& a = a_;
    archive::Reader& r = reader_;
    return Table("roboty.dbf", a.roboty,
                 {{"id_kerg", [&] { r.BindBin4("id_kerg", a.robotyIdKerg); }},
                  {"jedn_seg", [&] { r.BindString("jedn_seg", a.robotyJednSeg, 4); }, false},
                  {"nr_porz", [&] { r.BindWord("nr_porz", a.robotyNrPorz); }, false},
                  {"rok", [&] { r.BindWord("rok", a.robotyRok); }, false},
                  {"lp", [&] { r.BindWord("lp", a.robotyLp); }, false},
                  {"inna_nazwa", [&] { r.BindString("inna_nazwa", a.robotyInnaNazwa, 20); }, false},
                  {"jestwkergu", [&] { r.BindLogical("jestwkergu", a.robotyJestWKergu); }}}) &&
           Index("roboty.ntx", a.robotyNtx) &&
           Table("kerg.dbf", a.kerg,
                 {{"id_kerg", [&] { r.BindBin4("id_kerg", a.kergId); }},
                  {"nr_g", [&] { r.BindWord("nr_g", a.kergNrG); }},
                  {"nr_wyk", [&] { r.BindString("nr_wyk", a.kergNrWyk, 15); }},
                  {"wykon", [&] { r.BindBin4("wykon", a.kergWykon); }},
                  {"zlecen", [&] { r.BindBin4("zlecen", a.kergZlecen); }},
                  {"uwagi", [&] { r.BindString("uwagi", a.kergUwagi, 50); }},
                  {"pol_wl", [&] { r.BindString("pol_wl", a.kergPolWl, 60); }},
                  {"d_p_zak", [&] { r.BindString("d_p_zak", a.kergDPZak, 8); }},
                  {"d_roz_p", [&] { r.BindString("d_roz_p", a.kergDRozP, 8); }},
                  {"d_prz_o", [&] { r.BindString("d_prz_o", a.kergDPrzO, 8); }},
                  {"opis", [&] { r.BindString("opis", a.kergOpis, 80); }}}) &&
           Index("kerg.ntx", a.kergNtx) &&
           Table("kergasor.dbf", a.kergasor,
                 {{"id_rkerg", [&] { r.BindBin4("id_rkerg", a.kergasorIdRKerg); }},
                  {"ro_roboty", [&] { r.BindBin2("ro_roboty", a.kergasorRoboty); }},
                  {"wielkosc", [&] { r.BindReal("wielkosc", a.kergasorWielkosc); }}}) &&
           Index("kergasor.ntx", a.kergasorNtx) &&
           Table("obdg.dbf", a.obdg,
                 {{"id_ope", [&] { r.BindBin4("id_ope", a.obdgIdOpe); }},
                  {"id_dzialki", [&] { r.BindBin4("id_dzialki", a.obdgIdDzialki); }},
                  {"przed_po", [&] { r.BindString("przed_po", a.obdgPrzedPo, 1); }}}) &&
           Index("obdg.ntx", a.obdgNtx) &&
           Table("asortym.dbf", a.asortym,
                 {{"asort", [&] { r.BindString("asort", a.asortymAsort, 2); }},
                  {"nazwa_a", [&] { r.BindString("nazwa_a", a.asortymNazwa, 60); }}}) &&
           Table("dz.dbf", a.dz,
                 {{"id_dzialki", [&] { r.BindBin4("id_dzialki", a.dzIdDzialki); }, false},
                  {"id_obrebu", [&] { r.BindBin4("id_obrebu", a.dzIdObrebu); }},
                  {"l_dzialki", [&] { r.BindLong("l_dzialki", a.dzLicznik); }},
                  {"m_dzialki", [&] { r.BindLong("m_dzialki", a.dzMianownik); }},
                  {"nr_arkusza", [&] { r.BindWord("nr_arkusza", a.dzArkusz); }}}) &&
           Table("ob_rr.dbf", a.obrr,
                 {{"id_zak", [&] { r.BindBin4("id_zak", a.obrrIdZak); }},
                  {"uklad", [&] { r.BindString("uklad", a.obrrUklad, 1); }},
                  {"godlo", [&] { r.BindString("godlo", a.obrrGodlo, 13); }},
                  {"rastry", [&] { r.BindRawString("rastry", a.obrrRastry, 6); }}}) &&
           Index("ob_rr.ntx", a.obrrNtx) &&
           Table("osoby.dbf", a.osoby,
                 {{"id", [&] { r.BindBin4("id", a.osobaId); }},
                  {"o", [&] { r.BindByte("o", a.osobaO); }},
                  {"nazwa", [&] { r.BindString("nazwa", a.osobaNazwa, 30); }},
                  {"imie_1", [&] { r.BindBin2("imie_1", a.osobaImie); }},
                  {"id_g", [&] { r.BindBin2("id_g", a.osobaGmina); }},
                  {"id_m", [&] { r.BindBin2("id_m", a.osobaMiejsc); }},
                  {"id_u", [&] { r.BindBin2("id_u", a.osobaUlica); }},
                  {"kod", [&] { r.BindString("kod", a.osobaKod, 5); }},
                  {"nr_d", [&] { r.BindString("nr_d", a.osobaNrD, 6); }},
                  {"nr_l", [&] { r.BindString("nr_l", a.osobaNrL, 4); }},
                  {"nr_p", [&] { r.BindString("nr_p", a.osobaNrP, 11); }},
                  {"rodzaj_o", [&] { r.BindString("rodzaj_o", a.osobaRodzaj, 1); }},
                  {"nip", [&] { r.BindString("nip", a.osobaNip, 15); }},
                  {"konto", [&] { r.BindString("konto", a.osobaKonto, 10); }},
                  {"uprawnieni", [&] { r.BindString("uprawnieni", a.osobaUprawnieni, 25); }}}) &&
           Table("gmina.dbf", a.gmina, {{"nazwa", [&] { r.BindString("nazwa", a.gminaNazwa, 25); }}}) &&
           Table("miejsc.dbf", a.miejsc, {{"nazwa", [&] { r.BindString("nazwa", a.miejscNazwa, 25); }}}) &&
           Table("imiona.dbf", a.imiona, {{"nazwa", [&] { r.BindString("nazwa", a.imionaNazwa, 25); }}}) &&
           Table("ulice.dbf", a.ulice, {{"nazwa", [&] { r.BindString("nazwa", a.uliceNazwa, 25); }}}) &&
           Table("nazwy.dbf", a.nazwy,
                 {{"ID_OS", [&] { r.BindBin4("ID_OS", a.nazwyIdOs); }},
                  {"LP", [&] { r.BindString("LP", a.nazwyLp, 1); }},
                  {"nazwa", [&] { r.BindString("nazwa", a.nazwyNazwa, 30); }}}) &&
           Index("nazwy.ntx", a.nazwyNtx);
}

bool Conversion::ReadAt(std::uint8_t area, std::int32_t recno)
{
    return ReadRecordAt(area, recno) == Read::Ok;
}

Conversion::Read Conversion::ReadRecordAt(std::uint8_t area, std::int32_t recno)
{
    reader_.GotoRecord(area, recno);
    const std::int32_t moved = reader_.TableResult();
    if (moved == archive::kTableEnd || moved == archive::kTableNegativeRecord)
        return Read::Missing;
    // A record the header counts but the file does not hold whole (a table cut short) would read
    // as blanks, or half blanks: a person with no name, a quantity cut to its first digits.
    if (moved != 0 || recno >= RecordsInFile(area))
        return Read::Damaged;
    reader_.ReadRecord(area, 0);
    return reader_.TableResult() == 0 ? Read::Ok : Read::Damaged;
}

bool Conversion::Seek(archive::IndexHandle& index, const char* name, std::string_view key,
                      std::int32_t& recno)
{
    const bool found = reader_.SeekKey(index, key, recno);
    StopOnUntrustedIndex(index, name);
    return found;
}

bool Conversion::Next(archive::IndexHandle& index, const char* name, std::int32_t& recno)
{
    const bool found = reader_.NextKey(index, recno);
    StopOnUntrustedIndex(index, name);
    return found;
}

void Conversion::StopOnUntrustedIndex(const archive::IndexHandle& index, const char* name)
{
    const char* why =
        reader_.IndexResult() != archive::kIndexOk ? " (uszkodzona strona indeksu)"
        : index.outOfOrderSeen
            ? " (klucze na stronie indeksu nie są w kolejności rosnącej: indeks jest uszkodzony "
              "albo zbudowany w innym porządku sortowania)"
            : nullptr;
    if (why != nullptr)
        throw std::runtime_error(std::string(messages::kReadFailed) + context_.state.ArchiveDir + name + why);
}

void Conversion::SkipDamaged(std::uint8_t area, std::int32_t recno, const std::string& what)
{
    std::string field;
    if (reader_.TableResult() == archive::kTableBadNumber)
        field = reader_.ConversionErrorField();
    report_.Skip({FileOf(area), std::int64_t{recno} + 1, field, what});
}

void Conversion::SkipOutside(const char* index, std::uint8_t area, std::int32_t recno,
                             const std::string& what)
{
    report_.Skip({index, std::int64_t{recno} + 1, "",
                  "wpis indeksu wskazuje rekord spoza " + FileOf(area) + "; " + what});
}

void Conversion::CheckResumedTarget()
{
    if (context_.resumeAfter <= 0) {
        if (context_.resumeConfirmed)
            context_.resumeConfirmed();
        return;
    }
    std::vector<std::int64_t> rows = context_.targetRows();
    rows.resize(std::size(kProgressTables));
    std::string changed;
    // The works table keeps its row count through an import: what tells it apart is how many of
    // the rows the interrupted import walked have a contractor (a table put back from a copy has
    // fewer). Not known to a progress table from before it was kept.
    if (context_.resumeRows.size() > rows.size()) {
        engine::Table& works = target_->roboty.table;
        engine::Field wykon = works.FieldByName("WYKON");
        std::int64_t now = 0;
        for (works.First(); !works.Eof() && works.RecNo() <= context_.resumeAfter; works.Next())
            if (!wykon.AsString().empty())
                ++now;
        const std::int64_t left = context_.resumeRows[rows.size()];
        // More than then: the office gave contractors to works since, which the rerun does not
        // revisit. Fewer: completions were lost, and the rerun would not make them again.
        if (now < left)
            changed += "\r\nTabela Roboty.dbf: prac z wykonawcą w wierszach 1–" +
                       std::to_string(context_.resumeAfter) + " było " + std::to_string(left) + ", jest " +
                       std::to_string(now) + ".";
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::int64_t left = i < context_.resumeRows.size() ? context_.resumeRows[i] : -1;
        if (rows[i] != left)
            changed += std::string("\r\nTabela ") + kProgressTables[i] + ": wierszy było " +
                       (left < 0 ? std::string("?") : std::to_string(left)) + ", jest " +
                       std::to_string(rows[i]) + ".";
    }
    if (changed.empty()) {
        if (context_.resumeConfirmed)
            context_.resumeConfirmed();
        return;
    }
    const std::string progressFile = JournalDirectory(targetDir_) + platform::kSeparator + kProgressFileName;
    // The walk had reached the works table's last row: that import ended, and only its file was
    // left (a cut of power during the final message, a removal that failed). A run without the
    // file would complete the works without a contractor a second time.
    if (!context_.resumeRows.empty() && context_.resumeRows[0] == context_.resumeAfter)
        throw ResumeRefused(std::string(messages::kProgressStale) + changed + "\r\n" +
                            messages::kProgressEndedHint + progressFile + messages::kProgressEndedTail);
    throw ResumeRefused(std::string(messages::kProgressStale) + changed + "\r\n" +
                        messages::kProgressStaleHint + progressFile + messages::kProgressStaleTail);
}

void Conversion::Walk()
{
    Archive& a = a_;
    engine::Table& works = target_->roboty.table;
    engine::Field jednSeg = works.FieldByName("JEDN_SEG");
    engine::Field nrPorz = works.FieldByName("NR_PORZ");
    engine::Field rok = works.FieldByName("ROK");
    engine::Field lp = works.FieldByName("LP");
    engine::Field innaNazwa = works.FieldByName("INNA_NAZWA");
    engine::Field wToku = works.FieldByName("W_TOKU");
    engine::Field nrG = works.FieldByName("NR_G");
    engine::Field nrWyk = works.FieldByName("NR_WYK");
    engine::Field wykon = works.FieldByName("WYKON");
    engine::Field zlecen = works.FieldByName("ZLECEN");
    engine::Field uwagi = works.FieldByName("UWAGI");
    engine::Field polWl = works.FieldByName("POL_WL");
    engine::Field dPZak = works.FieldByName("D_P_ZAK");
    engine::Field dRozP = works.FieldByName("D_ROZ_P");
    engine::Field dPrzO = works.FieldByName("D_PRZ_O");
    engine::Field opis = works.FieldByName("OPIS");

    NoteEarlierRows();
    Progress progress(context_.ui);
    progress.Start(works.RecordCount());
    // The persons an interrupted import counted, whose report this run goes on with.
    countedBefore_.clear();
    countedBefore_.insert(report_.personsCounted.begin(), report_.personsCounted.end());

    engine::Field idRoboty = works.FieldByName("ID_ROBOTY");
    archiveWorksTaken_.assign(static_cast<std::size_t>(RecordsInFile(a.roboty)), false);
    auto taken = [this](std::int32_t recno) {
        if (recno >= 0 && static_cast<std::size_t>(recno) < archiveWorksTaken_.size())
            archiveWorksTaken_[static_cast<std::size_t>(recno)] = true;
    };

    for (works.First(); !works.Eof(); works.Next()) {
        progress.Step();
        const std::string key = WorksKey(jednSeg.AsString(), static_cast<std::int32_t>(nrPorz.AsInteger()),
                                         static_cast<std::int32_t>(rok.AsInteger()),
                                         static_cast<std::int32_t>(lp.AsInteger()), innaNazwa.AsString());
        std::int32_t recno = 0;
        context_.walked = works.RecNo();
        // A row an interrupted import walked, whose report this run goes on with: counted there.
        // Its archive work is still looked up, for the archive's works no target work has.
        if (context_.walked <= context_.resumeAfter && report_.includesInterrupted) {
            if (Seek(a.robotyNtx, "roboty.ntx", key, recno))
                taken(recno);
            continue;
        }
        ++report_.works;
        // Only works without a contractor are completed. (The archive's work of a completed one is
        // looked up for the report alone: the archive's works no target work has.)
        if (!wykon.AsString().empty()) {
            ++withContractor_;
            ++report_.alreadyCompleted;
            if (Seek(a.robotyNtx, "roboty.ntx", key, recno))
                taken(recno);
            continue;
        }
        // An interrupted import walked this row, and what it did is committed: a work it completed
        // without a contractor must not get its assortments, parcels and ranges a second time.
        if (context_.walked <= context_.resumeAfter) {
            ++report_.walkedByInterrupted;
            if (Seek(a.robotyNtx, "roboty.ntx", key, recno))
                taken(recno);
            continue;
        }
        // A work left for want of its archive work, named in the report for the office to see to.
        const auto leave = [&](const char* why) {
            report_.worksLeft.push_back(
                {"Roboty.dbf", works.RecNo(), "",
                 "praca " + Cp1250ToUtf8(idRoboty.AsString()) + " (" +
                     WorkDesignation(jednSeg.AsString(), nrPorz.AsInteger(), rok.AsInteger(), lp.AsInteger(),
                                     innaNazwa.AsString()) +
                     "): " + why});
        };
        if (!Seek(a.robotyNtx, "roboty.ntx", key, recno)) {
            ++report_.notInArchive;
            leave("brak jej w archiwum");
            continue;
        }
        taken(recno);
        workId_ = idRoboty.AsString();
        const std::string uncompleted = "praca " + workId_ + " pozostawiona nieuzupełniona";
        if (const Read read = ReadRecordAt(a.roboty, recno); read != Read::Ok) {
            ++report_.damaged;
            if (read == Read::Missing)
                SkipOutside("roboty.ntx", a.roboty, recno, uncompleted);
            else
                SkipDamaged(a.roboty, recno, uncompleted);
            continue;
        }
        if (!a.robotyJestWKergu) {
            ++report_.notInRegister;
            leave("w archiwum jest poza rejestrem KERG");
            continue;
        }
        const std::int32_t idKerg = a.robotyIdKerg;
        if (!Seek(a.kergNtx, "kerg.ntx", Link4(idKerg), recno)) {
            ++report_.notInRegister;
            leave("w archiwum nie ma jej rekordu rejestru KERG (kerg.dbf)");
            continue;
        }
        if (const Read read = ReadRecordAt(a.kerg, recno); read != Read::Ok) {
            ++report_.damaged;
            if (read == Read::Missing)
                SkipOutside("kerg.ntx", a.kerg, recno, uncompleted);
            else
                SkipDamaged(a.kerg, recno, uncompleted);
            continue;
        }
        if (a.kergId != idKerg) {
            ++report_.notInRegister;
            leave("w archiwum nie ma jej rekordu rejestru KERG (kerg.dbf)");
            continue;
        }
        const std::int32_t n = recno + 1; // the kerg record number

        // A commune number wider than the target's field would be cut to another commune's number:
        // the work is left uncompleted and named in the report instead.
        const std::string commune = context_.renumbering.FormatCommuneNumber(std::to_string(a.kergNrG));
        if (commune.size() > nrG.Width()) {
            report_.communesTooWide.push_back(
                {FileOf(a.kerg), std::int64_t{recno} + 1, "NR_G",
                 "numer gminy \u201E" + commune + "\u201D nie mieści się w polu NR_G tabeli Roboty.dbf " +
                     "(szerokość pola: " + std::to_string(nrG.Width()) + "); " + uncompleted});
            continue;
        }
        works.Edit();
        nrG.SetString(commune);
        if (const auto renumbered = renumber::ParseCommuneNumber(commune);
            renumbered && a.kergNrG <= 9999 && *renumbered != a.kergNrG)
            ++report_.renumbered[{a.kergNrG, *renumbered}];
        // Person numbers are read before the persons step moves the register.
        const std::int32_t contractor = a.kergWykon;
        const std::int32_t orderer = a.kergZlecen;
        const archive::ShortString remarks = a.kergUwagi, location = a.kergPolWl, number = a.kergNrWyk,
                                   started = a.kergDPZak, decided = a.kergDRozP, received = a.kergDPrzO,
                                   description = a.kergOpis;
        const std::string contractorId = ResolvePerson(contractor);
        wykon.SetString(contractorId);
        zlecen.SetString(ResolvePerson(orderer));
        uwagi.SetString(remarks.Str());
        polWl.SetString(location.Str());
        nrWyk.SetString(number.Str());
        // A date that is no date is stored as 1900-01-01, as it always was; the report names it.
        for (const auto& [value, field, name] :
             {std::tuple{&started, &dPZak, "D_P_ZAK"}, std::tuple{&decided, &dRozP, "D_ROZ_P"},
              std::tuple{&received, &dPrzO, "D_PRZ_O"}})
            if (!ArchiveDateToField(value->Str(), *field))
                report_.badDates.push_back(
                    {FileOf(a.kerg), std::int64_t{recno} + 1, name,
                     "\u201E" + Cp1250ToUtf8(value->View()) + "\u201D w pracy " + workId_});
        opis.SetString(description.Str());
        wToku.SetString("0");

        if (context_.ui.AssortmentsTicked())
            ImportAssortments(n);
        if (context_.ui.ParcelsTicked())
            ImportParcels(n);
        if (context_.ui.RastersTicked())
            ImportRasterRanges(n);
        works.Post();
        ++report_.completed;
        if (!contractorId.empty())
            ++withContractor_;
        // The work is whole in the target: a point where the run may commit.
        if (context_.workDone)
            context_.workDone(false);
    }
    CountArchiveWorks();
    if (context_.workDone)
        context_.workDone(true);

    if (!report_.precinctError.empty()) {
        context_.ui.ShowMessage(Message{std::string(messages::kPrecinctNumberError) + report_.precinctError,
                                        messages::kCaptionError,
                                        Buttons::Ok,
                                        Icon::None,
                                        Answer::Ok,
                                        {}});
    }
}

std::int32_t Conversion::RecordsInFile(std::uint8_t area)
{
    std::int32_t& known = recordsInFile_[area];
    if (known < 0)
        known = ArchiveRecordsInFile(*reader_.Area(area));
    return known;
}

void Conversion::CountArchiveWorks()
{
    // Read from the records' bytes: the flag of every work, without converting its other fields.
    const archive::WorkArea* area = reader_.Area(a_.roboty);
    const archive::FieldDescriptor* flag = nullptr;
    for (const archive::FieldDescriptor& f : area->descriptors)
        if (Upper1250(f.name) == "JESTWKERGU")
            flag = &f;
    // Made anew over the whole walk: a run that finishes an interrupted import counts them all.
    report_.archiveWorksLeft.clear();
    report_.archiveWorks = report_.archiveWorksNotInTarget = -1;
    if (flag == nullptr || flag->width == 0)
        return;
    std::int64_t works = 0, notTaken = 0;
    for (std::size_t recno = 0; recno < archiveWorksTaken_.size(); ++recno) {
        reader_.GotoRecord(a_.roboty, static_cast<std::int32_t>(recno));
        const std::string_view bytes = reader_.CurrentRecordBytes(a_.roboty);
        if (reader_.TableResult() != 0 || bytes.size() <= flag->offset || bytes[0] == '*')
            continue;
        const char c = bytes[flag->offset];
        if (c != 'T' && c != 't' && c != 'Y' && c != 'y')
            continue;
        ++works;
        if (archiveWorksTaken_[recno])
            continue;
        ++notTaken;
        // Named by its own fields, read whole only here: a record that does not read is named
        // by its number alone.
        const auto r = static_cast<std::int32_t>(recno);
        report_.archiveWorksLeft.push_back(
            {FileOf(a_.roboty), std::int64_t{r} + 1, "",
             ReadRecordAt(a_.roboty, r) == Read::Ok
                 ? "praca " + WorkDesignation(a_.robotyJednSeg.View(), a_.robotyNrPorz, a_.robotyRok,
                                              a_.robotyLp, a_.robotyInnaNazwa.View())
                 : std::string("rekordu nie można odczytać")});
    }
    report_.archiveWorks = works;
    report_.archiveWorksNotInTarget = notTaken;
}

std::string Conversion::DictionaryName(std::uint8_t area, std::int16_t number,
                                       const archive::ShortString& nazwa)
{
    if (!ValidDictionaryNumber(number))
        return std::string();
    // A number beyond the dictionary names nothing (rather than the record read before).
    if (!ReadAt(area, static_cast<std::int32_t>(static_cast<std::uint16_t>(number)) - 1))
        return std::string();
    return nazwa.Str();
}

std::pair<std::string, std::string> Conversion::BuildPersonNames()
{
    Archive& a = a_;
    std::string first, second;
    reader_.TrimTextFields = false;
    for (int line = 1; line <= 4; ++line) {
        std::int32_t recno = 0;
        const std::string key = Link4(a.osobaId) + static_cast<char>(line);
        if (!Seek(a.nazwyNtx, "nazwy.ntx", key, recno))
            continue;
        const Read read = ReadRecordAt(a.nazwy, recno);
        if (read == Read::Missing)
            SkipOutside("nazwy.ntx", a.nazwy, recno, "wiersz nazwy osoby pominięty");
        else if (read == Read::Damaged)
            SkipDamaged(a.nazwy, recno, "wiersz nazwy osoby pominięty");
        else if (a.nazwyIdOs == a.osobaId)
            (line <= 2 ? first : second) += a.nazwyNazwa.Str();
    }
    reader_.TrimTextFields = true;
    first = TrimRight(first);
    second = TrimRight(second);

    const std::string firstName = DictionaryName(a.imiona, a.osobaImie, a.imionaNazwa);
    const std::string prefix = Cut(firstName + " ", 26);
    if (first.empty() && second.empty()) {
        first = a.osobaO == 1 ? a.osobaNazwa.Str() : Cut(prefix + a.osobaNazwa.Str(), 56);
    } else if (a.osobaO != 1) {
        first = prefix + first;
    }
    return {first, second};
}

std::string Conversion::ResolvePerson(std::int32_t number)
{
    const bool dense = number > 0 && number <= kDensePersons;
    const auto slot = static_cast<std::size_t>(number);
    if (dense && slot < resolved_.size() && !resolved_[slot].empty())
        return resolved_[slot];
    if (!dense) {
        if (const auto known = resolvedBeyond_.find(number); known != resolvedBeyond_.end())
            return known->second;
    }
    std::string id = FindOrCreatePerson(number);
    if (id.empty())
        return id;
    if (!dense) {
        resolvedBeyond_.emplace(number, id);
    } else {
        if (slot >= resolved_.size())
            resolved_.resize(
                std::min(std::max(slot + 1, resolved_.size() * 2), std::size_t{kDensePersons} + 1));
        resolved_[slot] = id;
    }
    return id;
}

std::string Conversion::FindOrCreatePerson(std::int32_t number)
{
    Archive& a = a_;
    // The record number is worked out in 64 bits: a damaged archive may hold any number.
    const std::int64_t recno = std::int64_t{number} - 1;
    const Read read = recno < 0 || recno > INT32_MAX
                          ? Read::Missing
                          : ReadRecordAt(a.osoby, static_cast<std::int32_t>(recno));
    if (read == Read::Missing) {
        ++report_.personsMissing;
        return std::string();
    }
    if (read == Read::Damaged) {
        SkipDamaged(a.osoby, static_cast<std::int32_t>(recno),
                    "osoba pozostawiona pusta w pracy " + workId_ + " (i w innych pracach tej osoby)");
        return std::string();
    }

    TargetTable& persons = target_->osoby;
    engine::Table& table = persons.table;
    engine::Field id = persons["id_osoby"];
    engine::Field klucz = persons["klucz"];
    engine::Field nip = persons["nip"];

    std::string result;
    table.EditKey();
    klucz.SetString(a.osobaNazwa.Str());
    // The rows are compared with the name and tax number as this table holds them once written (cut
    // to the field, in its code page, without trailing blanks and NUL bytes): a person this run or
    // an earlier one added is found again, also when the archive's text reads back otherwise.
    nip.SetString(a.osobaNip.Str());
    const std::string name = Upper1250(klucz.AsString());
    const std::string taxNumber = nip.AsString();
    if (table.GotoKey()) {
        if (a.osobaNip.Empty()) {
            result = id.AsString();
        } else {
            while (!table.Eof() && Upper1250(klucz.AsString()) == name) {
                if (nip.AsString() == taxNumber) {
                    result = id.AsString();
                    break;
                }
                table.Next();
            }
        }
    }
    // Each archive person is counted once, also over an interruption.
    const bool counted = countedBefore_.count(number) == 0;
    if (counted)
        report_.personsCounted.push_back(number);
    if (!result.empty()) {
        if (counted)
            ++report_.personsFound;
        return result;
    }

    // A new person row, its fields in order.
    const auto [name1, name2] = BuildPersonNames();
    table.Append();
    id.SetString(DrawId(context_.state.PersonCounter, "OSOBY", id, "Osoby.dbf", kPersonIdDigits));
    klucz.SetString(a.osobaNazwa.Str());
    persons["nazwa1"].SetString(name1);
    persons["nazwa2"].SetString(name2);
    if (!a.osobaKod.Empty()) {
        const std::string code = a.osobaKod.Str();
        persons["kod"].SetString(code.substr(0, 2) + "-" +
                                 (code.size() > 2 ? code.substr(2, 3) : std::string()));
    }
    engine::Field nrDl = persons["nr_dl"];
    nrDl.SetString(a.osobaNrD.Str());
    if (!a.osobaNrL.Empty())
        nrDl.SetString(nrDl.AsString() + "/" + a.osobaNrL.Str());
    if (a.osobaNrP.View() != std::string(10, ' ') + "0")
        persons["pesel"].SetString(a.osobaNrP.Str());
    persons["rodzaj"].SetString(a.osobaRodzaj.Str());
    nip.SetString(a.osobaNip.Str());
    persons["konto"].SetString(a.osobaKonto.Str());
    persons["uprawnieni"].SetString(a.osobaUprawnieni.Str());
    persons["id_tworz"].SetString(context_.state.CreatorStamp);
    engine::Field street = persons["ulica"];
    engine::Field place = persons["miejsc"];
    if (ValidDictionaryNumber(a.osobaUlica))
        street.SetString(DictionaryName(a.ulice, a.osobaUlica, a.uliceNazwa));
    if (ValidDictionaryNumber(a.osobaGmina))
        place.SetString(DictionaryName(a.gmina, a.osobaGmina, a.gminaNazwa));
    if (ValidDictionaryNumber(a.osobaMiejsc)) {
        const std::string locality =
            Cut(Upper1250(DictionaryName(a.miejsc, a.osobaMiejsc, a.miejscNazwa)), 25);
        if (!locality.empty()) {
            if (street.AsString().empty())
                street.SetString(locality);
            else
                place.SetString(locality);
        }
    }
    table.Post();
    ++report_.personsAdded; // every id drawn, so that the report's range of ids holds them all
    return id.AsString();
}

bool Conversion::WalkWork(std::int32_t n, archive::IndexHandle& index, const char* indexName,
                          std::uint8_t area, const std::int32_t& link, const std::string& skipped,
                          const std::function<bool()>& entry)
{
    const std::string key = Link4(n);
    std::int32_t recno = 0;
    if (!Seek(index, indexName, key, recno))
        return false;
    for (bool first = true;; first = false) {
        const Read read = ReadRecordAt(area, recno);
        if (read == Read::Ok) {
            if (n < 0 || link != n)
                break;
            if (!entry())
                return false;
        } else {
            // The record cannot say whose it is; the index entry's key can. Only this entry is
            // lost: the walk goes on with the next.
            const bool ours = n >= 0 && (first || index.currentKey.View().substr(0, key.size()) == key);
            if (!ours)
                break;
            if (read == Read::Missing)
                SkipOutside(indexName, area, recno, skipped);
            else
                SkipDamaged(area, recno, skipped);
        }
        if (!Next(index, indexName, recno))
            break;
    }
    return true;
}

bool Conversion::ImportAssortments(std::int32_t n)
{
    Archive& a = a_;
    return WalkWork(
        n, a.kergasorNtx, "kergasor.ntx", a.kergasor, a.kergasorIdRKerg,
        "pozycja asortymentu pracy " + workId_ + " pominięta", [&] {
            const std::int32_t number = static_cast<std::int32_t>(a.kergasorRoboty);
            if (const Read read = ReadRecordAt(a.asortym, number - 1); read != Read::Ok) {
                // The work's other assortment lines are left with this one, as they always were; the
                // report says so.
                ++report_.assortmentsStopped;
                report_.Skip(
                    {FileOf(a.kergasor), CurrentRecord(a.kergasor), "RO_ROBOTY",
                     (read == Read::Missing ? "asortyment nr " + std::to_string(number) + " spoza asortym.dbf"
                                            : "asortyment nr " + std::to_string(number) + " nieczytelny") +
                         "; ta i dalsze pozycje asortymentu pracy " + workId_ + " pominięte"});
                return false;
            }
            TargetTable& assortments = target_->asortym;
            engine::Table& table = assortments.table;
            table.EditKey();
            assortments["ASORT"].SetString(Upper1250(a.asortymAsort.View()));
            if (!table.GotoKey()) {
                table.SetIndexName("UPP_NAZ_A");
                table.EditKey();
                assortments["NAZWA_A"].SetString(Upper1250(a.asortymNazwa.View()));
                if (!table.GotoKey()) {
                    table.Append();
                    engine::Field assortmentId = assortments["ID_ASORT"];
                    assortmentId.SetString(DrawId(context_.state.AssortmentCounter, "ASORTYM", assortmentId,
                                                  "Asortym.dbf", kAssortmentIdDigits));
                    assortments["ASORT"].SetString(a.asortymAsort.Str());
                    assortments["NAZWA_A"].SetString(a.asortymNazwa.Str());
                    table.Post();
                    ++report_.assortmentsAdded;
                }
                table.SetIndexName("UPP_ASORT");
            }
            TargetTable& links = target_->kergasor;
            links.table.Append();
            links["ID_ROBOTY"].SetVariant(target_->roboty["ID_ROBOTY"].AsVariant());
            links["ID_ASORT"].SetVariant(assortments["ID_ASORT"].AsVariant());
            links["WIELKOSC"].SetVariant(a.kergasorWielkosc);
            if (HadBefore(kAssortmentLinks)) {
                links.table.Cancel();
                ++report_.assortmentLinksKept;
                return true;
            }
            links.table.Post();
            ++report_.assortmentLinks;
            return true;
        });
}

bool Conversion::ImportParcels(std::int32_t n)
{
    Archive& a = a_;
    return WalkWork(
        n, a.obdgNtx, "obdg.ntx", a.obdg, a.obdgIdOpe, "działka pracy " + workId_ + " pominięta", [&] {
            const std::int64_t number = a.obdgIdDzialki;
            const Read read =
                number < 1 ? Read::Missing : ReadRecordAt(a.dz, static_cast<std::int32_t>(number - 1));
            if (read == Read::Missing) {
                // The work's other parcels are left with this one, as they always were.
                ++report_.parcelsStopped;
                report_.Skip({FileOf(a.obdg), CurrentRecord(a.obdg), "ID_DZIALKI",
                              "działka nr " + std::to_string(number) +
                                  " spoza dz.dbf; ta i dalsze działki pracy " + workId_ + " pominięte"});
                return false;
            }
            if (read == Read::Damaged) { // this parcel alone is lost
                SkipDamaged(a.dz, static_cast<std::int32_t>(number - 1),
                            "działka pracy " + workId_ + " pominięta");
                return true;
            }
            PrecinctList& precincts = context_.state.Precincts;
            const auto precinct = static_cast<std::uint32_t>(a.dzIdObrebu);
            if (precinct >= precincts.Size()) {
                report_.precinctError = messages::kBadPrecinctNumber;
                ++report_.parcelsBadPrecinct;
                return true;
            }
            const PrecinctList::Entry& entry = precincts.At(precinct);
            if (!entry.value) {
                report_.precinctError = std::string(messages::kNoPrecinct) + Cp1250ToUtf8(entry.text);
                ++report_.parcelsWithoutPrecinct[Cp1250ToUtf8(entry.text)];
                return true;
            }
            const std::string parcel =
                a.dzMianownik == 0 ? std::to_string(a.dzLicznik)
                                   : std::to_string(a.dzLicznik) + "/" + std::to_string(a.dzMianownik);
            const std::string sheet = std::to_string(a.dzArkusz);

            TargetTable& parcels = target_->dz;
            parcels.table.EditKey();
            parcels["id_obr"].SetString(*entry.value);
            parcels["dzialka"].SetString(parcel);
            parcels["nr_arkusza"].SetString(sheet);
            if (!parcels.table.GotoKey()) {
                parcels.table.Append();
                engine::Field parcelId = parcels["id_dzialki"];
                parcelId.SetString(
                    DrawId(context_.state.ParcelCounter, "DZ", parcelId, "dz.dbf", kParcelIdDigits));
                parcels["Id_tworz"].SetString(context_.state.CreatorStamp);
                parcels["id_obr"].SetString(*entry.value);
                parcels["dzialka"].SetString(parcel);
                parcels["nr_arkusza"].SetString(sheet);
                parcels.table.Post();
                ++report_.parcelsAdded;
            }
            TargetTable& links = target_->obdg;
            links.table.Append();
            links["id_roboty"].SetVariant(target_->roboty["ID_ROBOTY"].AsVariant());
            links["id_dzialki"].SetVariant(parcels["id_dzialki"].AsVariant());
            links["przed_po"].SetString(a.obdgPrzedPo.Str());
            if (HadBefore(kParcelLinks)) {
                links.table.Cancel();
                ++report_.parcelLinksKept;
                return true;
            }
            links.table.Post();
            ++report_.parcelLinks;
            return true;
        });
}

bool Conversion::ImportRasterRanges(std::int32_t n)
{
    Archive& a = a_;
    return WalkWork(n, a.obrrNtx, "ob_rr.ntx", a.obrr, a.obrrIdZak,
                    "zakres rastrowy pracy " + workId_ + " pominięty", [&] {
                        TargetTable& ranges = target_->zakrRas;
                        ranges.table.Append();
                        ranges["id_rodzica"].SetVariant(target_->roboty["ID_ROBOTY"].AsVariant());
                        ranges["uklad"].SetString(a.obrrUklad.Str());
                        ranges["godlo"].SetString(a.obrrGodlo.Str());
                        ranges["rastry"].SetString(PackRasterBits(a.obrrRastry.View()));
                        if (HadBefore(kRasterRanges)) {
                            ranges.table.Cancel();
                            ++report_.rasterRangesKept;
                            return true;
                        }
                        ranges.table.Post();
                        ++report_.rasterRanges;
                        return true;
                    });
}

} // namespace

bool OpenArchiveTable(RunContext& context, const std::string& fileName, std::uint8_t& area, bool report)
{
    const std::string path = context.state.ArchiveDir + fileName;
    area = 0;
    context.reader.OpenTable(path, area);
    if (context.reader.TableResult() == 0) {
        context.reader.SetReadBuffer(area, 32000);
        if (context.reader.TableResult() == 0 || context.reader.TableResult() == archive::kTableEnd)
            return true;
    }
    if (report)
        context.state.ImportErrorText = std::string(messages::kOpenFailed) + path;
    return false;
}

bool OpenArchiveIndex(RunContext& context, const std::string& fileName, archive::IndexHandle& handle,
                      bool report)
{
    const std::string path = context.state.ArchiveDir + fileName;
    context.reader.OpenIndex(handle, path);
    // A damaged index counts like a missing one: searching it would skip every work silently. So
    // does one whose keys or order the searches cannot use.
    std::string problem;
    if (context.reader.IndexResult() == 0) {
        problem = ArchiveIndexProblem(fileName, handle);
        if (problem.empty())
            return true;
        problem = " (" + problem + ")";
    }
    if (report)
        context.state.ImportErrorText = std::string(messages::kOpenFailed) + path + problem;
    context.reader.CloseIndex(handle);
    return false;
}

std::int32_t ArchiveRecordsInFile(const archive::WorkArea& table)
{
    const std::int32_t count = std::max<std::int32_t>(0, table.RecordCount());
    const std::int64_t size = table.file ? table.file->Size() : -1;
    if (size < 0 || table.RecordLength() == 0)
        return count;
    const std::int64_t whole = std::max<std::int64_t>(0, size - table.HeaderLength()) / table.RecordLength();
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, whole));
}

std::string ArchiveIndexProblem(const std::string& fileName, const archive::IndexHandle& handle)
{
    // The key sizes of the indexes searched by a record's 4-byte number, or by a person's number
    // and a line number; the works' index is searched by a key of its own size.
    struct Needs
    {
        const char* name;
        int keySize;
        bool everyEntry; // a work has many entries of one key, and needs them all
    };
    static const Needs kNeeds[] = {{"roboty.ntx", 0, false},  {"kerg.ntx", 4, false},
                                   {"kergasor.ntx", 4, true}, {"obdg.ntx", 4, true},
                                   {"ob_rr.ntx", 4, true},    {"nazwy.ntx", 5, false}};
    const Needs* needs = nullptr;
    for (const Needs& n : kNeeds)
        if (fileName == n.name)
            needs = &n;
    if (needs != nullptr && needs->keySize != 0 && handle.KeySize() != needs->keySize)
        return "klucze mają " + std::to_string(handle.KeySize()) + " bajtów zamiast " +
               std::to_string(needs->keySize);
    if (handle.Descending())
        return "indeks malejący, a import szuka w rosnących";
    if (const std::string condition = handle.ForExpression(); !condition.empty())
        return "indeks z warunkiem FOR " +
               Cp1250ToUtf8(archive::ConvertText(condition, archive::kRowCp852, archive::kRowCp1250)) +
               ", który może pomijać rekordy";
    if (needs != nullptr && needs->everyEntry && handle.Unique())
        return "indeks unikalny, który pomija powtórzone klucze, a praca może ich mieć wiele";
    return std::string();
}

bool BindArchiveFields(RunContext& context, const std::string& path,
                       std::initializer_list<ArchiveBinding> bindings)
{
    for (const ArchiveBinding& binding : bindings) {
        binding.bind();
        if (context.reader.TableResult() != 0 && binding.read) {
            context.state.ImportErrorText =
                std::string(messages::kOpenFailed) + path + " (brak pola " + binding.name + ")";
            return false;
        }
    }
    return true;
}

bool ConvertKerg(RunContext& context, const std::string& targetDir)
{
    context.reader.CloseAllTables();
    Conversion conversion(context);
    if (!conversion.OpenArchive())
        return false;
    conversion.OpenTarget(targetDir);
    conversion.CheckResumedTarget();
    conversion.Walk();
    return true;
}

std::string WorksKey(const std::string& jednSeg, std::int32_t nrPorz, std::int32_t rok, std::int32_t lp,
                     const std::string& innaNazwa)
{
    std::string key = jednSeg == "#" ? std::string() : Cut(jednSeg, 50);
    if (key.size() < 4)
        key.insert(0, 4 - key.size(), ' ');
    key = Cut(key, 50);
    key = Cut(key + FormatNumber(nrPorz, 4), 50);
    key = Cut(key + FormatNumber(rok, 4), 50);
    key = Cut(key + FormatNumber(lp, 3), 50);
    return Cut(key + archive::ConvertText(innaNazwa, archive::kRowCp1250, archive::kRowCp852), 50);
}

bool ArchiveDateToField(const std::string& archiveDate, engine::Field& field)
{
    if (archiveDate.empty())
        return true;
    // Year, month and day as "yyyy.mm.dd" reads them: digits, blanks before them allowed.
    auto number = [](std::string part, int& value) {
        const std::size_t start = part.find_first_not_of(' ');
        if (start == std::string::npos)
            return false;
        part = part.substr(start);
        value = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        return true;
    };
    auto part = [&](std::size_t from, std::size_t length) {
        return from < archiveDate.size() ? archiveDate.substr(from, length) : std::string();
    };
    int year = 0, month = 0, day = 0;
    bool valid = number(part(0, 4), year) && number(part(4, 2), month) && number(part(6, 2), day) &&
                 year >= 1 && month >= 1 && month <= 12 && day >= 1;
    if (valid) {
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        valid = day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    }
    if (valid) {
        // The year has four digits at most, as it was read from four.
        char text[] = "yyyy.mm.dd";
        const auto put = [&text](std::size_t at, int value, int digits) {
            for (std::size_t i = at + static_cast<std::size_t>(digits); i-- > at; value /= 10)
                text[i] = static_cast<char>('0' + value % 10);
        };
        put(0, year, 4);
        put(5, month, 2);
        put(8, day, 2);
        try {
            field.SetString(std::string_view(text, sizeof text - 1));
            return true;
        } catch (const engine::Error&) {
            // falls back to the first of January 1900
        }
    }
    field.SetString("1900.01.01");
    return false;
}

void Progress::Start(std::int64_t rows)
{
    counter_ = 0;
    last_ = 0;
    position_ = 0;
    if (rows > 100) {
        scale_ = static_cast<double>(rows) / 100.0;
        ui_.SetProgressRange(0, 100);
    } else {
        scale_ = 1.0;
        ui_.SetProgressRange(0, static_cast<int>(rows));
    }
    ui_.SetProgressPosition(0);
}

void Progress::Step()
{
    if (scale_ == 1.0) {
        ui_.SetProgressPosition(++position_);
    } else {
        const int p = static_cast<int>(std::nearbyint(static_cast<double>(counter_) / scale_));
        if (p != last_) {
            last_ = p;
            position_ = p;
            ui_.SetProgressPosition(p);
        }
    }
    ++counter_;
}

RasterGrid ExpandRasterBits(std::string_view mask)
{
    RasterGrid grid{};
    std::string bytes(mask);
    bytes += "      ";
    for (int i = 1; i <= 6; ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i - 1)]);
        if (b == 0)
            continue;
        for (int j = 0; j < 8; ++j) {
            if ((b & (1u << j)) == 0)
                continue;
            for (int r = 5 * j; r <= 5 * j + 4; ++r) {
                for (int p = 5 * (i - 1); p <= 5 * (i - 1) + 4; ++p)
                    grid[static_cast<std::size_t>(30 * r + p)] = 1;
            }
        }
    }
    return grid;
}

namespace {

// The packed text of a grid given as one 40-bit mask per column, row r in bit r: the masks laid end to
// end make the stream of 1200 cells in packed order, and each character takes the next six, the
// first cell in its lowest bit; trailing empty characters are dropped.
std::string PackColumns(const std::array<std::uint64_t, 30>& columns)
{
    std::array<std::uint64_t, 1200 / 64 + 1> stream{};
    for (std::size_t p = 0; p < 30; ++p) {
        const std::size_t at = 40 * p, word = at / 64, shift = at % 64;
        stream[word] |= columns[p] << shift;
        if (shift > 64 - 40) // the column's last cells go on in the next word
            stream[word + 1] |= columns[p] >> (64 - shift);
    }
    constexpr std::size_t kCharacters = 1200 / 6;
    std::array<char, kCharacters> text{};
    std::size_t length = 0; // up to the last character with a covered cell
    for (std::size_t t = 0; t < kCharacters; ++t) {
        const std::size_t at = 6 * t, word = at / 64, shift = at % 64;
        std::uint64_t bits = stream[word] >> shift;
        if (shift > 64 - 6)
            bits |= stream[word + 1] << (64 - shift);
        const auto group = static_cast<unsigned>(bits & 0x3Fu);
        text[t] = static_cast<char>(33 + group);
        length = group != 0 ? t + 1 : length;
    }
    return std::string(text.data(), length);
}

} // namespace

std::string PackRaster(const RasterGrid& grid)
{
    // The packed order is column after column: cell k is row k % 40 of column k / 40.
    std::array<std::uint64_t, 30> columns{};
    for (std::size_t r = 0; r < 40; ++r)
        for (std::size_t p = 0; p < 30; ++p)
            columns[p] |= static_cast<std::uint64_t>(grid[30 * r + p] != 0) << r;
    return PackColumns(columns);
}

std::string PackRasterBits(std::string_view mask)
{
    // Column p lies in the band of the mask's byte p / 5; each of that byte's bits covers five rows.
    std::array<std::uint64_t, 30> columns{};
    for (std::size_t p = 0; p < 30; ++p) {
        const auto band = static_cast<std::uint8_t>(p / 5 < mask.size() ? mask[p / 5] : ' ');
        for (unsigned j = 0; j < 8; ++j)
            if ((band >> j & 1u) != 0)
                columns[p] |= std::uint64_t{0x1F} << (5 * j);
    }
    return PackColumns(columns);
}

} // namespace convert
