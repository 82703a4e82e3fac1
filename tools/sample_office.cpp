// The sample office: the archive of the sample and a target that knows most of its works.
#include "tools/sample_office.h"

#include <algorithm>
#include <cstdio>

#include "engine/table.h"
#include "platform/paths.h"
#include "tools/archive_builder.h"
#include "tools/dbf_writer.h"
#include "tools/sample_archive.h"
#include "tools/target_database.h"

namespace tools {
namespace {

std::string Digits(long long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

std::string WithSeparator(std::string dir)
{
    if (dir.empty() || !platform::IsSeparator(dir.back()))
        dir.push_back(platform::kSeparator);
    return dir;
}

// Archive text (code page 852) in the program's code page 1250: the Polish letters only.
std::string To1250(const std::string& text852)
{
    static const unsigned char from[] = {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD,
                                         0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE};
    static const unsigned char to[] = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                                       0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
    std::string out = text852;
    for (char& c : out) {
        for (std::size_t i = 0; i < sizeof from; ++i) {
            if (static_cast<unsigned char>(c) == from[i]) {
                c = static_cast<char>(to[i]);
                break;
            }
        }
    }
    return out;
}

} // namespace

bool WriteSampleOffice(const std::string& archiveDirectory, const std::string& targetDirectory,
                       const SampleOfficeOptions& options)
{
    const std::string archiveDir = WithSeparator(archiveDirectory);
    const std::string targetDir = WithSeparator(targetDirectory);
    const int precincts = 12;

    // The archive: the sample's works, persons, dictionaries and links.
    ArchiveBuilder archive;
    SampleRandom random(options.seed);
    const int people = options.persons > 0 ? options.persons : std::max(12, options.works / 5);
    AddSampleArchive(archive, random, options.works, precincts, people);
    if (!archive.Write(archiveDir))
        return false;

    // The target: every table, with counters well above the ids already in use.
    CreateTargetDatabase(targetDir, {1001, 101, 5001}, options.extraTags, options.indexPagesPerBlock);
    const std::string kerg = TargetDir(targetDir, "KERG");
    const std::string persons = TargetDir(targetDir, "OSOBY");

    // Precincts: the archive's, but for the last one (its parcels then report "Brak obrębu"),
    // and one the archive lacks (the import asks whether to go on).
    {
        engine::Table table(kerg, "obreb.dbf");
        table.Open();
        for (int i = 1; i < precincts; ++i) {
            table.Append();
            table.FieldByName("ID_OBR").SetString(Digits(i, 4));
            table.FieldByName("NR_G").SetString(Digits(1 + i % 2, 3));
            table.FieldByName("NR_OBR").SetString(Digits(i, 4));
            table.FieldByName("NAZWA").SetString("Obr\xEA"
                                                 "b " +
                                                 std::to_string(i));
            table.FieldByName("KOD_OBR").SetString("01");
            table.Post();
        }
        table.Append();
        table.FieldByName("ID_OBR").SetString("0099");
        table.FieldByName("NR_G").SetString("009");
        table.FieldByName("NR_OBR").SetString("0001");
        table.FieldByName("NAZWA").SetString("Nowy obr\xEA"
                                             "b");
        table.FieldByName("KOD_OBR").SetString("01");
        table.Post();
    }
    // Persons already known to the target: one by name only, one by name and NIP.
    AppendTargetRow(
        persons, "Osoby.dbf",
        {{"ID_OSOBY", "00000010"}, {"KLUCZ", "Nowak"}, {"NAZWA1", "Anna Nowak"}, {"ID_TWORZ", "00010001"}});
    AppendTargetRow(persons, "Osoby.dbf",
                    {{"ID_OSOBY", "00000011"},
                     {"KLUCZ", "W\xF3jcik"},
                     {"NAZWA1", "Pawe\xB3 W\xF3jcik"},
                     {"NIP", "0000000000"},
                     {"ID_TWORZ", "00010001"}});
    // Assortments already known: one by code, one by name in other letter case.
    AppendTargetRow(kerg, "Asortym.dbf",
                    {{"ID_ASORT", "0001"}, {"ASORT", "01"}, {"NAZWA_A", "Mapa zasadnicza"}});
    AppendTargetRow(kerg, "Asortym.dbf",
                    {{"ID_ASORT", "0002"}, {"ASORT", "IN"}, {"NAZWA_A", "INWENTARYZACJA"}});

    // Works: most of the archive's, without contractors; every thirteenth already completed;
    // every tenth missing; and a few the archive does not know.
    {
        engine::Table works(kerg, "Roboty.dbf");
        works.Open();
        int id = 1;
        for (std::size_t i = 0; i < archive.Works().size(); ++i) {
            const ArchiveWork& w = archive.Works()[i];
            if ((i + 1) % 10 == 0)
                continue;
            works.Append();
            works.FieldByName("ID_ROBOTY").SetString(Digits(id++, 8));
            works.FieldByName("JEDN_SEG").SetString(w.jednSeg);
            works.FieldByName("NR_PORZ").SetInteger(w.nrPorz);
            works.FieldByName("ROK").SetInteger(w.rok);
            works.FieldByName("LP").SetInteger(w.lp);
            works.FieldByName("INNA_NAZWA").SetString(To1250(w.innaNazwa));
            works.FieldByName("ID_TWORZ").SetString("00010001");
            if ((i + 1) % 13 == 0)
                works.FieldByName("WYKON").SetString("00000010");
            works.Post();
        }
        for (int extra = 0; extra < 1 + options.works / 50; ++extra) {
            works.Append();
            works.FieldByName("ID_ROBOTY").SetString(Digits(id++, 8));
            works.FieldByName("JEDN_SEG").SetString(extra % 2 == 0 ? "#" : "N");
            works.FieldByName("NR_PORZ").SetInteger(900 + extra);
            works.FieldByName("ROK").SetInteger(2005);
            works.FieldByName("LP").SetInteger(1);
            works.Post();
        }
    }
    // A renumbering of commune 3 to 33 (for the works' commune numbers).
    return writers::WriteFile(targetDir + "przenumerowanie.gm", "3|33\r\n");
}

} // namespace tools
