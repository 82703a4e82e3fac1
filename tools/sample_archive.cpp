// A small deterministic archive: tables in code page 852 and NTX indexes built from their keys.
#include "tools/sample_archive.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "platform/paths.h"
#include "tools/dbf_writer.h"
#include "tools/ntx_writer.h"

namespace tools {
namespace {

using writers::DbfField;
using writers::DbfWriter;
using writers::NtxEntry;

// Park-Miller: the same numbers on every platform.
class Random
{
public:
    explicit Random(unsigned seed) : state_(seed % 2147483647u == 0 ? 1 : seed % 2147483647u) {}
    unsigned Next(unsigned bound)
    {
        state_ = static_cast<unsigned>((static_cast<unsigned long long>(state_) * 48271u) % 2147483647u);
        return state_ % bound;
    }

private:
    unsigned state_;
};

std::string Link4(unsigned value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Link2(unsigned value)
{
    return Link4(value).substr(0, 2);
}

std::string Number(long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%*ld", width, value);
    return buffer;
}

std::string Digits(long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*ld", width, value);
    return buffer;
}

std::string Pad(std::string text, std::size_t width)
{
    text.resize(width, ' ');
    return text;
}

// Names in code page 852: Łódź, Kraków, Gdańsk, Wrocław, Poznań, Zielona Góra, Częstochowa, Białystok.
const char* const kTowns[] = {"\x9D\xA2"
                              "d\xAB",
                              "Krak\xA2w",
                              "Gda\xE4sk",
                              "Wroc\x88"
                              "aw",
                              "Pozna\xE4",
                              "Zielona G\xA2ra",
                              "Cz\xA9stochowa",
                              "Bia\x88ystok"};
const char* const kSurnames[] = {"Kowalski",
                                 "Nowak",
                                 "W\xA2jcik",
                                 "Lewandowska",
                                 "Zi\xA2\x88kowski",
                                 "\x97"
                                 "wi\xA9tek",
                                 "Kr\xA2l",
                                 "\xBD"
                                 "ak"};
const char* const kFirstNames[] = {"Jan",
                                   "Anna",
                                   "Pawe\x88",
                                   "Ma\x88gorzata",
                                   "\x9D"
                                   "ukasz",
                                   "El\xBE"
                                   "bieta"};
const char* const kStreets[] = {"Dworcowa", "Ogrodowa", "Mickiewicza",
                                "Ko\x98"
                                "ciuszki",
                                "\x9D\xA5kowa"};
const char* const kAssortments[] = {"Mapa zasadnicza",
                                    "Podzia\x88 nieruchomo\x98"
                                    "ci",
                                    "Wznowienie granic",
                                    "Inwentaryzacja",
                                    "Tyczenie budynku",
                                    "Rozgraniczenie"};
const char* const kSegments[] = {"P", "O", "Z", "KM"};

struct Sorted
{
    std::vector<NtxEntry> entries;
    void Add(std::string key, unsigned record) { entries.push_back({std::move(key), record}); }
    std::string Build(const std::string& expression, std::uint16_t keySize)
    {
        for (NtxEntry& e : entries)
            e.key = Pad(e.key, keySize);
        std::stable_sort(entries.begin(), entries.end(),
                         [](const NtxEntry& a, const NtxEntry& b) { return a.key < b.key; });
        writers::NtxOptions options;
        options.keyExpression = expression;
        options.keySize = keySize;
        return writers::BuildNtx(entries, options);
    }
};

} // namespace

bool WriteSampleArchive(const std::string& directory, int works, unsigned seed)
{
    if (!platform::CreateDirectories(directory))
        return false;
    std::string dir = directory;
    if (dir.empty() || !platform::IsSeparator(dir.back()))
        dir.push_back(platform::kSeparator);
    Random random(seed);
    bool ok = true;
    auto write = [&](const std::string& name, const std::string& bytes) {
        ok = ok && writers::WriteFile(dir + name, bytes);
    };

    // Precincts of two communes.
    DbfWriter obreb({{"ID_OBR", 'C', 4, 0},
                     {"NR_G", 'C', 5, 0},
                     {"NR_OBR", 'C', 4, 0},
                     {"NAZWA", 'C', 30, 0},
                     {"KOD_OBR", 'C', 2, 0}});
    const int precincts = 6;
    for (int i = 1; i <= precincts; ++i)
        obreb.Add({Link4(static_cast<unsigned>(i)), "1400" + std::to_string(1 + i % 2), Digits(i, 4),
                   kTowns[i % 8], "01"});
    write("OBREB.DBF", obreb.Bytes());

    // Dictionaries.
    DbfWriter gmina({{"NAZWA", 'C', 25, 0}}), miejsc({{"NAZWA", 'C', 25, 0}}),
        imiona({{"NAZWA", 'C', 25, 0}}), ulice({{"NAZWA", 'C', 25, 0}});
    for (const char* town : kTowns) {
        gmina.Add({town});
        miejsc.Add({town});
    }
    for (const char* name : kFirstNames)
        imiona.Add({name});
    for (const char* street : kStreets)
        ulice.Add({street});
    write("GMINA.DBF", gmina.Bytes());
    write("MIEJSC.DBF", miejsc.Bytes());
    write("IMIONA.DBF", imiona.Bytes());
    write("ULICE.DBF", ulice.Bytes());

    // Persons, some with extra name lines.
    DbfWriter osoby({{"ID", 'C', 4, 0},
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
                     {"UPRAWNIENI", 'C', 25, 0}});
    DbfWriter nazwy({{"ID_OS", 'C', 4, 0}, {"LP", 'C', 1, 0}, {"NAZWA", 'C', 30, 0}});
    Sorted nazwyIndex;
    const int persons = 12;
    for (int i = 1; i <= persons; ++i) {
        const bool company = i % 4 == 0;
        osoby.Add(
            {Link4(static_cast<unsigned>(i)), company ? "2" : "1",
             company ? std::string("Geo-Pomiar ") + kTowns[i % 8] : kSurnames[i % 8],
             Link2(company ? 0 : 1 + random.Next(6)), Link2(1 + random.Next(8)), Link2(1 + random.Next(8)),
             Link2(1 + random.Next(5)), Digits(90 + random.Next(10), 2) + Digits(random.Next(1000), 3),
             std::to_string(1 + random.Next(120)), i % 3 == 0 ? std::to_string(1 + random.Next(40)) : "", "",
             company ? "P" : "F", i % 2 == 0 ? Digits(7000000000L + i * 1234567L, 10) : "", "",
             i % 5 == 0 ? "upr. zaw. nr " + std::to_string(1000 + i) : ""});
        if (company) {
            for (int line = 1; line <= 2; ++line) {
                // The line number is the character with that code.
                const std::string lp(1, static_cast<char>(line));
                nazwy.Add({Link4(static_cast<unsigned>(i)), lp,
                           line == 1 ? "Przedsi\xA9"
                                       "biorstwo Geodezyjne"
                                     : "sp\xA2\x88ka z o.o."});
                nazwyIndex.Add(Link4(static_cast<unsigned>(i)) + lp,
                               static_cast<unsigned>(nazwy.RecordCount()));
            }
        }
    }
    write("OSOBY.DBF", osoby.Bytes());
    write("NAZWY.DBF", nazwy.Bytes());
    write("NAZWY.NTX", nazwyIndex.Build("ID_OS+LP", 5));

    DbfWriter asortym({{"ASORT", 'C', 2, 0}, {"NAZWA_A", 'C', 60, 0}});
    for (std::size_t i = 0; i < std::size(kAssortments); ++i)
        asortym.Add({Digits(static_cast<long>(i + 1), 2), kAssortments[i]});
    write("ASORTYM.DBF", asortym.Bytes());

    // Works, their register rows and what hangs on them.
    DbfWriter roboty({{"ID_KERG", 'C', 4, 0},
                      {"JEDN_SEG", 'C', 4, 0},
                      {"NR_PORZ", 'N', 4, 0},
                      {"ROK", 'N', 4, 0},
                      {"LP", 'N', 3, 0},
                      {"INNA_NAZWA", 'C', 20, 0},
                      {"JESTWKERGU", 'L', 1, 0}});
    DbfWriter kerg({{"ID_KERG", 'C', 4, 0},
                    {"NR_G", 'N', 4, 0},
                    {"NR_WYK", 'C', 15, 0},
                    {"WYKON", 'C', 4, 0},
                    {"ZLECEN", 'C', 4, 0},
                    {"UWAGI", 'C', 50, 0},
                    {"POL_WL", 'C', 60, 0},
                    {"D_P_ZAK", 'D', 8, 0},
                    {"D_ROZ_P", 'D', 8, 0},
                    {"D_PRZ_O", 'D', 8, 0},
                    {"OPIS", 'C', 80, 0}});
    DbfWriter kergasor({{"ID_RKERG", 'C', 4, 0}, {"RO_ROBOTY", 'C', 2, 0}, {"WIELKOSC", 'N', 10, 2}});
    DbfWriter obdg({{"ID_OPE", 'C', 4, 0}, {"ID_DZIALKI", 'C', 4, 0}, {"PRZED_PO", 'C', 1, 0}});
    DbfWriter dz({{"ID_DZIALKI", 'C', 4, 0},
                  {"ID_OBREBU", 'C', 4, 0},
                  {"L_DZIALKI", 'N', 6, 0},
                  {"M_DZIALKI", 'N', 6, 0},
                  {"NR_ARKUSZA", 'N', 4, 0}});
    DbfWriter obrr(
        {{"ID_ZAK", 'C', 4, 0}, {"UKLAD", 'C', 1, 0}, {"GODLO", 'C', 13, 0}, {"RASTRY", 'C', 6, 0}});
    Sorted robotyIndex, kergIndex, kergasorIndex, obdgIndex, obrrIndex;

    for (int w = 1; w <= works; ++w) {
        const unsigned kergRecord = static_cast<unsigned>(w);
        const std::string segment = kSegments[w % 4];
        const int number = 1 + static_cast<int>(random.Next(300));
        const int year = 1990 + static_cast<int>(random.Next(12));
        const int lp = w % 7 == 0 ? 0 : 1 + static_cast<int>(random.Next(20));
        const std::string otherName = w % 9 == 0 ? std::string("Os. ") + kTowns[w % 8] : "";
        const std::string jedn = Pad(std::string(4 - segment.size(), ' ') + segment, 4);
        roboty.Add({Link4(kergRecord), jedn, std::to_string(number), std::to_string(year), std::to_string(lp),
                    otherName, w % 11 == 0 ? "F" : "T"});
        robotyIndex.Add(jedn + Number(number, 4) + Number(year, 4) + Number(lp, 3) + Pad(otherName, 20),
                        static_cast<unsigned>(w));

        const std::string date =
            Digits(year, 4) + Digits(1 + random.Next(12), 2) + Digits(1 + random.Next(28), 2);
        kerg.Add({Link4(kergRecord), std::to_string(1 + random.Next(3)), Digits(w, 5) + "/" + Digits(year, 4),
                  Link4(1 + random.Next(persons)), Link4(1 + random.Next(persons)),
                  w % 3 == 0 ? "Uwagi do pracy \xBE" : "",
                  std::string("Po\x88o\xBE"
                              "enie: ") +
                      kTowns[w % 8],
                  date, w % 4 == 0 ? "" : date, date, "Opis pracy nr " + std::to_string(w)});
        kergIndex.Add(Link4(kergRecord), kergRecord);

        const unsigned assortments = 1 + random.Next(3);
        for (unsigned a = 0; a < assortments; ++a) {
            kergasor.Add({Link4(kergRecord), Link2(1 + random.Next(6)),
                          Number(static_cast<long>(random.Next(1000)), 7) + ".50"});
            kergasorIndex.Add(Link4(kergRecord), static_cast<unsigned>(kergasor.RecordCount()));
        }
        const unsigned parcels = random.Next(4);
        for (unsigned p = 0; p < parcels; ++p) {
            dz.Add({Link4(static_cast<unsigned>(dz.RecordCount() + 1)), Link4(1 + random.Next(precincts)),
                    std::to_string(1 + random.Next(500)),
                    p % 2 == 0 ? "" : std::to_string(1 + random.Next(9)), std::to_string(random.Next(5))});
            obdg.Add(
                {Link4(kergRecord), Link4(static_cast<unsigned>(dz.RecordCount())), p % 2 == 0 ? "P" : "O"});
            obdgIndex.Add(Link4(kergRecord), static_cast<unsigned>(obdg.RecordCount()));
        }
        if (w % 2 == 0) {
            std::string bits;
            for (int b = 0; b < 6; ++b)
                bits.push_back(static_cast<char>(random.Next(256)));
            obrr.AddRaw(Link4(kergRecord) + (w % 4 == 0 ? "2" : "1") +
                        Pad("6.115.27.0" + std::to_string(w % 10), 13) + bits);
            obrrIndex.Add(Link4(kergRecord), static_cast<unsigned>(obrr.RecordCount()));
        }
    }
    write("ROBOTY.DBF", roboty.Bytes());
    write("ROBOTY.NTX", robotyIndex.Build("JEDN_SEG+STR(NR_PORZ,4)+STR(ROK,4)+STR(LP,3)+INNA_NAZWA", 35));
    write("KERG.DBF", kerg.Bytes());
    write("KERG.NTX", kergIndex.Build("ID_KERG", 4));
    write("KERGASOR.DBF", kergasor.Bytes());
    write("KERGASOR.NTX", kergasorIndex.Build("ID_RKERG", 4));
    write("OBDG.DBF", obdg.Bytes());
    write("OBDG.NTX", obdgIndex.Build("ID_OPE", 4));
    write("DZ.DBF", dz.Bytes());
    write("OB_RR.DBF", obrr.Bytes());
    write("OB_RR.NTX", obrrIndex.Build("ID_ZAK", 4));
    return ok;
}

} // namespace tools
