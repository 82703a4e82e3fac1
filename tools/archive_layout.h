// The files of an archive directory that an import opens, with the fields it reads from each.
#pragma once

#include <string>
#include <vector>

namespace tools {

struct ArchiveFile
{
    std::string name;  // lower case, as the import names it
    std::string table; // for an index: the table it belongs to; empty for a table
    // For a table: the fields the import reads (the others it binds may be missing).
    std::vector<std::string> fields;
};

// In the order the import opens them: the precinct table first, then the register's files.
inline const std::vector<ArchiveFile>& ArchiveFiles()
{
    static const std::vector<ArchiveFile> files = {
        {"obreb.dbf", "", {"NR_G", "NR_OBR", "KOD_OBR"}},
        {"roboty.dbf", "", {"ID_KERG", "JESTWKERGU"}},
        {"roboty.ntx", "roboty.dbf", {}},
        {"kerg.dbf",
         "",
         {"ID_KERG", "NR_G", "NR_WYK", "WYKON", "ZLECEN", "UWAGI", "POL_WL", "D_P_ZAK", "D_ROZ_P", "D_PRZ_O",
          "OPIS"}},
        {"kerg.ntx", "kerg.dbf", {}},
        {"kergasor.dbf", "", {"ID_RKERG", "RO_ROBOTY", "WIELKOSC"}},
        {"kergasor.ntx", "kergasor.dbf", {}},
        {"obdg.dbf", "", {"ID_OPE", "ID_DZIALKI", "PRZED_PO"}},
        {"obdg.ntx", "obdg.dbf", {}},
        {"asortym.dbf", "", {"ASORT", "NAZWA_A"}},
        {"dz.dbf", "", {"ID_OBREBU", "L_DZIALKI", "M_DZIALKI", "NR_ARKUSZA"}},
        {"ob_rr.dbf", "", {"ID_ZAK", "UKLAD", "GODLO", "RASTRY"}},
        {"ob_rr.ntx", "ob_rr.dbf", {}},
        {"osoby.dbf",
         "",
         {"ID", "O", "NAZWA", "IMIE_1", "ID_G", "ID_M", "ID_U", "KOD", "NR_D", "NR_L", "NR_P", "RODZAJ_O",
          "NIP", "KONTO", "UPRAWNIENI"}},
        {"gmina.dbf", "", {"NAZWA"}},
        {"miejsc.dbf", "", {"NAZWA"}},
        {"imiona.dbf", "", {"NAZWA"}},
        {"ulice.dbf", "", {"NAZWA"}},
        {"nazwy.dbf", "", {"ID_OS", "LP", "NAZWA"}},
        {"nazwy.ntx", "nazwy.dbf", {}},
    };
    return files;
}

} // namespace tools
