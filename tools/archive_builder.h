// Builds an archive directory of the DOS edition row by row: every table an import reads, with
// the NTX indexes built from the rows' keys. Text is given in code page 852, as the archive keeps
// it. Used by the sample office and by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct ArchivePerson
{
    std::string nazwa;       // surname, or the whole name
    int o = 2;               // 1: no first name in front of the name
    std::int16_t imie = 0;   // record in imiona.dbf (1-based; 0 none)
    std::int16_t gmina = 0;  // record in gmina.dbf
    std::int16_t miejsc = 0; // record in miejsc.dbf
    std::int16_t ulica = 0;  // record in ulice.dbf
    std::string kod;         // postal code digits, "12345"
    std::string nrDomu, nrLokalu, pesel, rodzaj, nip, konto, uprawnienia;
};

struct ArchiveWork
{
    std::string jednSeg; // stored right-aligned in 4
    int nrPorz = 0, rok = 0, lp = 0;
    std::string innaNazwa;
    bool jestWKergu = true;
    std::int32_t idKerg = 0; // the kerg row's id this work points to
};

struct ArchiveKerg
{
    std::int32_t idKerg = 0;
    int nrG = 0;
    std::string nrWyk;
    std::int32_t wykon = 0, zlecen = 0; // records in osoby.dbf
    std::string uwagi, polWl, dPZak, dRozP, dPrzO, opis;
};

class ArchiveBuilder
{
public:
    // Each Add returns the new record's 1-based number.
    int AddPrecinct(const std::string& nrG, const std::string& nrObr, const std::string& nazwa,
                    const std::string& kodObr);
    int AddCommune(const std::string& name);
    int AddLocality(const std::string& name);
    int AddFirstName(const std::string& name);
    int AddStreet(const std::string& name);
    int AddPerson(const ArchivePerson& person); // its id is its record number
    // A name line (1..4) of a person, by the person's id.
    int AddNameLine(std::int32_t personId, int line, const std::string& text);
    int AddAssortment(const std::string& code, const std::string& name);
    int AddWork(const ArchiveWork& work);
    int AddKerg(const ArchiveKerg& kerg);
    int AddWorkAssortment(std::int32_t kergRecord, std::int16_t assortmentRecord,
                          const std::string& quantity);
    int AddParcel(std::int32_t precinct, std::int32_t numerator, std::int32_t denominator, int sheet);
    int AddParcelLink(std::int32_t kergRecord, std::int32_t parcelRecord, const std::string& beforeAfter);
    int AddRaster(std::int32_t kergRecord, const std::string& uklad, const std::string& godlo,
                  const std::string& mask);
    // Deletes (marks) a record already added; the indexes keep its key.
    void MarkDeleted(const std::string& table, int record);

    // Writes every file into `directory` under upper-case DOS names. False when one cannot be
    // written.
    bool Write(const std::string& directory) const;

    // The works added so far, in record order.
    const std::vector<ArchiveWork>& Works() const { return works_; }

    // The 4 bytes of a link value, least significant first.
    static std::string Link4(std::uint32_t value);
    static std::string Link2(std::uint16_t value);

    struct Table
    {
        std::string name;
        std::vector<std::string> records; // the bytes after the deletion mark
        std::vector<bool> deleted;
    };

private:
    Table& Get(const std::string& name);
    int Append(const std::string& table, std::string bytes);

    std::vector<Table> tables_;
    std::vector<ArchiveWork> works_;
};

} // namespace tools
