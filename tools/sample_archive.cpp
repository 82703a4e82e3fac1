// A small deterministic archive, built with ArchiveBuilder from seeded random data.
#include "tools/sample_archive.h"

#include <cstdio>
#include <iterator>

#include "tools/archive_builder.h"

namespace tools {
namespace {

std::string Digits(long long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
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
                                ("Ko\x98"
                                 "ciuszki"),
                                "\x9D\xA5kowa"};
const char* const kAssortments[] = {"Mapa zasadnicza",
                                    ("Podzia\x88 nieruchomo\x98"
                                     "ci"),
                                    "Wznowienie granic",
                                    "Inwentaryzacja",
                                    "Tyczenie budynku",
                                    "Rozgraniczenie"};
const char* const kSegments[] = {"P", "O", "Z", "KM"};

} // namespace

unsigned SampleRandom::Next(unsigned bound)
{
    state_ = static_cast<unsigned>((static_cast<unsigned long long>(state_) * 48271u) % 2147483647u);
    return state_ % bound;
}

void AddSampleArchive(ArchiveBuilder& archive, SampleRandom& random, int works, int precincts, int persons)
{
    for (int i = 1; i <= precincts; ++i)
        archive.AddPrecinct("1400" + std::to_string(1 + i % 2), Digits(i, 4), kTowns[i % 8], "01");
    for (const char* town : kTowns) {
        archive.AddCommune(town);
        archive.AddLocality(town);
    }
    for (const char* name : kFirstNames)
        archive.AddFirstName(name);
    for (const char* street : kStreets)
        archive.AddStreet(street);

    for (int i = 1; i <= persons; ++i) {
        const bool company = i % 4 == 0;
        ArchivePerson p;
        p.nazwa = company ? std::string("Geo-Pomiar ") + kTowns[i % 8] : kSurnames[i % 8];
        if (i > 12)
            p.nazwa += " " + std::to_string(i); // large offices: distinct names beyond the first dozen
        p.o = company ? 1 : 2;
        p.imie = static_cast<std::int16_t>(company ? 0 : 1 + random.Next(6));
        p.gmina = static_cast<std::int16_t>(1 + random.Next(8));
        p.miejsc = static_cast<std::int16_t>(1 + random.Next(8));
        p.ulica = static_cast<std::int16_t>(1 + random.Next(5));
        p.kod = Digits(90 + random.Next(10), 2) + Digits(random.Next(1000), 3);
        p.nrDomu = std::to_string(1 + random.Next(120));
        p.nrLokalu = i % 3 == 0 ? std::to_string(1 + random.Next(40)) : "";
        p.pesel = company ? std::string(10, ' ') + "0" : Digits(60010100000LL + i * 7919LL, 11);
        p.rodzaj = company ? "P" : "F";
        p.nip = i % 2 == 0 ? Digits(7000000000LL + i * 1234567LL, 10) : "";
        p.uprawnienia = i % 5 == 0 ? "upr. zaw. nr " + std::to_string(1000 + i) : "";
        const int record = archive.AddPerson(p);
        if (company) {
            archive.AddNameLine(record, 1,
                                "Przedsi\xA9"
                                "biorstwo Geodezyjne");
            archive.AddNameLine(record, 2, "sp\xA2\x88ka z o.o.");
        }
    }
    for (std::size_t i = 0; i < std::size(kAssortments); ++i)
        archive.AddAssortment(Digits(static_cast<long long>(i + 1), 2), kAssortments[i]);

    for (int w = 1; w <= works; ++w) {
        ArchiveWork work;
        work.jednSeg = kSegments[w % 4];
        work.nrPorz = 1 + static_cast<int>(random.Next(300));
        work.rok = 1990 + static_cast<int>(random.Next(12));
        work.lp = w % 7 == 0 ? 0 : 1 + static_cast<int>(random.Next(20));
        work.innaNazwa = w % 9 == 0 ? std::string("Os. ") + kTowns[w % 8] : "";
        work.jestWKergu = w % 11 != 0;
        work.idKerg = w;
        archive.AddWork(work);

        ArchiveKerg kerg;
        kerg.idKerg = w;
        kerg.nrG = 1 + static_cast<int>(random.Next(3));
        kerg.nrWyk = Digits(w, 5) + "/" + Digits(work.rok, 4);
        kerg.wykon = static_cast<std::int32_t>(1 + random.Next(persons));
        kerg.zlecen = static_cast<std::int32_t>(1 + random.Next(persons));
        kerg.uwagi = w % 3 == 0 ? "Uwagi do pracy \xBE" : "";
        kerg.polWl = std::string("Po\x88o\xBE"
                                 "enie: ") +
                     kTowns[w % 8];
        const std::string date =
            Digits(work.rok, 4) + Digits(1 + random.Next(12), 2) + Digits(1 + random.Next(28), 2);
        kerg.dPZak = date;
        kerg.dRozP = w % 4 == 0 ? "" : date;
        kerg.dPrzO = date;
        kerg.opis = "Opis pracy nr " + std::to_string(w);
        const int kergRecord = archive.AddKerg(kerg);

        const unsigned assortments = 1 + random.Next(3);
        for (unsigned a = 0; a < assortments; ++a)
            archive.AddWorkAssortment(kergRecord, static_cast<std::int16_t>(1 + random.Next(6)),
                                      std::to_string(random.Next(1000)) + ".50");
        const unsigned parcels = random.Next(4);
        for (unsigned p = 0; p < parcels; ++p) {
            const int parcel =
                archive.AddParcel(static_cast<std::int32_t>(1 + random.Next(precincts)),
                                  static_cast<std::int32_t>(1 + random.Next(500)),
                                  p % 2 == 0 ? 0 : static_cast<std::int32_t>(1 + random.Next(9)),
                                  static_cast<int>(random.Next(5)));
            archive.AddParcelLink(kergRecord, parcel, p % 2 == 0 ? "P" : "O");
        }
        if (w % 2 == 0) {
            std::string mask;
            for (int b = 0; b < 6; ++b)
                mask.push_back(static_cast<char>(random.Next(256)));
            archive.AddRaster(kergRecord, w % 4 == 0 ? "2" : "1", "6.115.27.0" + std::to_string(w % 10),
                              mask);
        }
    }
}

bool WriteSampleArchive(const std::string& directory, int works, unsigned seed)
{
    ArchiveBuilder archive;
    SampleRandom random(seed);
    AddSampleArchive(archive, random, works, 6, 12);
    return archive.Write(directory);
}

} // namespace tools
