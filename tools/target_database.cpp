// Layouts of the target database's tables.
#include "tools/target_database.h"

#include "engine/table.h"
#include "platform/paths.h"

namespace tools {
namespace {

constexpr std::uint8_t kDriver852 = 0x23;  // db852po0
constexpr std::uint8_t kDriver1250 = 0xC8; // Windows Central European

} // namespace

std::string TargetDir(const std::string& targetDir, const std::string& sub)
{
    return targetDir + "BAZA" + platform::kSeparator + sub;
}

namespace {

// The two tags more of a table when `wanted`: a conditional one (on most tables a condition that
// rows of the import enter, or that some rows miss) and an expression one.
std::vector<engine::TagDefinitionByExpression> Extra(bool wanted, const char* conditional,
                                                     const char* condition, const char* expression)
{
    if (!wanted)
        return {};
    return {{"ZYWE", conditional, false, false, condition}, {"WYRAZ", expression, false, false, ""}};
}

std::vector<engine::TagDefinitionByExpression>
With(std::vector<engine::TagDefinitionByExpression> tags,
     const std::vector<engine::TagDefinitionByExpression>& more)
{
    tags.insert(tags.end(), more.begin(), more.end());
    return tags;
}

} // namespace

void CreateTargetDatabase(const std::string& targetDir, const CounterStart& counters, ExtraTags extra,
                          std::size_t indexPagesPerBlock)
{
    const bool indexed = extra != ExtraTags::None; // tables with tags of their own
    const bool all = extra == ExtraTags::All;      // and the others
    const std::string kerg = TargetDir(targetDir, "KERG");
    const std::string osoby = TargetDir(targetDir, "OSOBY");
    const std::string admin = TargetDir(targetDir, "ADMIN");
    for (const std::string& dir : {kerg, osoby, admin})
        platform::CreateDirectories(dir);

    engine::CreateTable(
        kerg, "Roboty.dbf", {{"ID_ROBOTY", 'C', 8, 0}, {"JEDN_SEG", 'C', 4, 0}, {"NR_PORZ", 'N', 4, 0},
                             {"ROK", 'N', 4, 0},       {"LP", 'N', 3, 0},       {"INNA_NAZWA", 'C', 20, 0},
                             {"W_TOKU", 'C', 1, 0},    {"NR_POW", 'C', 4, 0},   {"NR_G", 'C', 5, 0},
                             {"NR_WYK", 'C', 15, 0},   {"WYKON", 'C', 8, 0},    {"ZLECEN", 'C', 8, 0},
                             {"UWAGI", 'C', 50, 0},    {"POL_WL", 'C', 60, 0},  {"D_P_ZAK", 'D', 8, 0},
                             {"D_ROZ_P", 'D', 8, 0},   {"D_PRZ_O", 'D', 8, 0},  {"OPIS", 'C', 80, 0},
                             {"ID_TWORZ", 'C', 8, 0},  {"ID_MODYF", 'C', 8, 0}},
        Extra(all, "ID_ROBOTY", "W_TOKU = \"0\"", "DTOS(D_P_ZAK)+STR(ROK,4)+IIF(W_TOKU=\"0\",\"Z\",\"T\")"),
        kDriver852, indexPagesPerBlock);
    engine::CreateTable(
        kerg, "obreb.dbf",
        {{"ID_OBR", 'C', 4, 0},
         {"NR_G", 'C', 3, 0},
         {"NR_OBR", 'C', 4, 0},
         {"NAZWA", 'C', 30, 0},
         {"KOD_OBR", 'C', 2, 0},
         {"ID_TWORZ", 'C', 8, 0},
         {"ID_MODYF", 'C', 8, 0},
         {"ID_EWMAPY", 'C', 8, 0}},
        Extra(all, "ID_OBR", ".NOT. DELETED()", "NR_G+NR_OBR+IIF(LEN(TRIM(KOD_OBR))=0,\"--\",KOD_OBR)"),
        kDriver852, indexPagesPerBlock);
    engine::CreateTable(
        kerg, "Kergasor.dbf", {{"ID_ROBOTY", 'C', 8, 0}, {"ID_ASORT", 'C', 4, 0}, {"WIELKOSC", 'N', 12, 2}},
        Extra(all, "ID_ROBOTY", "WIELKOSC > 5", "ID_ASORT+STR(WIELKOSC,12,2)+IIF(WIELKOSC>0,\"+\",\"-\")"),
        kDriver852, indexPagesPerBlock);
    engine::CreateTable(kerg, "Asortym.dbf",
                        {{"ID_ASORT", 'C', 4, 0}, {"ASORT", 'C', 2, 0}, {"NAZWA_A", 'C', 60, 0}},
                        With({{"UPP_ASORT", "UPPER(ASORT)"}, {"UPP_NAZ_A", "UPPER(NAZWA_A)"}},
                             Extra(indexed, "ID_ASORT", ".NOT. DELETED()",
                                   "STR(VAL(ID_ASORT),5)+IIF(LEN(TRIM(ASORT))=0,\".\",LEFT(ASORT,1))")),
                        kDriver852, indexPagesPerBlock);
    engine::CreateTable(kerg, "obdg.dbf",
                        {{"ID_ROBOTY", 'C', 8, 0}, {"ID_DZIALKI", 'C', 8, 0}, {"PRZED_PO", 'C', 1, 0}},
                        Extra(all, "ID_ROBOTY", "PRZED_PO = \"P\"",
                              "ID_DZIALKI+IIF(PRZED_PO=\"P\",\"1\",\"0\")+STR(LEN(TRIM(ID_ROBOTY)),2)"),
                        kDriver852, indexPagesPerBlock);
    engine::CreateTable(
        kerg, "dz.dbf",
        {{"ID_DZIALKI", 'C', 8, 0},
         {"ID_OBR", 'C', 4, 0},
         {"DZIALKA", 'C', 15, 0},
         {"NR_ARKUSZA", 'C', 5, 0},
         {"ID_TWORZ", 'C', 8, 0},
         {"ID_MODYF", 'C', 8, 0}},
        With({{"OBR_DZ_ARK", "ID_OBR+DZIALKA+NR_ARKUSZA"}},
             Extra(indexed, "ID_DZIALKI", ".NOT. DELETED()",
                   "ID_OBR+STR(VAL(DZIALKA),8)+IIF(LEN(TRIM(NR_ARKUSZA))=0,\"-\",LEFT(NR_ARKUSZA,3))")),
        kDriver852, indexPagesPerBlock);
    engine::CreateTable(
        kerg, "zakr_ras.dbf",
        {{"ID_RODZICA", 'C', 8, 0}, {"UKLAD", 'C', 1, 0}, {"GODLO", 'C', 13, 0}, {"RASTRY", 'C', 200, 0}},
        Extra(all, "ID_RODZICA", "UKLAD # \" \"",
              "GODLO+STR(LEN(TRIM(RASTRY)),3)+IIF(UKLAD=\"1\",\"A\",\"B\")"),
        kDriver852, indexPagesPerBlock);
    engine::CreateTable(osoby, "Osoby.dbf",
                        {{"ID_OSOBY", 'C', 8, 0},
                         {"NAZWA1", 'C', 60, 0},
                         {"NAZWA2", 'C', 60, 0},
                         {"KLUCZ", 'C', 30, 0},
                         {"KOD", 'C', 6, 0},
                         {"PESEL", 'C', 11, 0},
                         {"NR_DL", 'C', 12, 0},
                         {"RODZAJ", 'C', 1, 0},
                         {"NIP", 'C', 15, 0},
                         {"KONTO", 'C', 10, 0},
                         {"UPRAWNIENI", 'C', 25, 0},
                         {"ULICA", 'C', 25, 0},
                         {"MIEJSC", 'C', 25, 0},
                         {"ID_TWORZ", 'C', 8, 0}},
                        With({{"UPP_KLUCZ", "UPPER(KLUCZ)"}},
                             Extra(indexed, "KLUCZ", "LEN(TRIM(NIP)) > 0",
                                   "ID_OSOBY+STR(LEN(TRIM(NAZWA1)),3)+IIF(LEN(TRIM(NIP))=0,\"-\",\"+\")")),
                        kDriver1250, indexPagesPerBlock);
    engine::CreateTable(
        admin, "Dostep.dbf", {{"TABLENAME", 'C', 10, 0}, {"NEXTVAL", 'N', 10, 0}},
        Extra(all, "TABLENAME", "NEXTVAL > 1", "STR(NEXTVAL,10)+IIF(TABLENAME=\"OSOBY\",\"O\",\"-\")"),
        kDriver852, indexPagesPerBlock);
    AppendTargetRow(admin, "Dostep.dbf", {{"TABLENAME", "ROBOTY"}, {"NEXTVAL", "1"}});
    AppendTargetRow(admin, "Dostep.dbf",
                    {{"TABLENAME", "OSOBY"}, {"NEXTVAL", std::to_string(counters.persons)}});
    AppendTargetRow(admin, "Dostep.dbf",
                    {{"TABLENAME", "ASORTYM"}, {"NEXTVAL", std::to_string(counters.assortments)}});
    AppendTargetRow(admin, "Dostep.dbf",
                    {{"TABLENAME", "DZ"}, {"NEXTVAL", std::to_string(counters.parcels)}});
}

void AppendTargetRow(const std::string& directory, const std::string& table,
                     const std::map<std::string, std::string>& values)
{
    engine::Table t(directory, table);
    t.Open();
    t.Append();
    for (const auto& [name, value] : values)
        t.FieldByName(name).SetString(value);
    t.Post();
    t.Close();
}

std::vector<std::map<std::string, std::string>> ReadTargetRows(const std::string& directory,
                                                               const std::string& table)
{
    engine::Table t(directory, table);
    t.Open();
    std::vector<std::map<std::string, std::string>> rows;
    for (t.First(); !t.Eof(); t.Next()) {
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < t.FieldCount(); ++i) {
            engine::Field f = t.FieldAt(i);
            row[f.Name()] = f.AsString();
        }
        rows.push_back(std::move(row));
    }
    t.Close();
    return rows;
}

} // namespace tools
