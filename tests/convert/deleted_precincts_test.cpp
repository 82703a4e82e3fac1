// Deleted records of the archive's precinct table: they are read like any other, keep their place
// in the numbering that parcels refer to, and take part in the matching with the target's precincts.
#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "tests/convert/office.h"

namespace {

using office::Office;

TEST(DeletedPrecincts, KeepTheirPlaceAndTheirKeys)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01"); // 1, deleted: key 002000501
    o.archive.AddPrecinct("14002", "0006", "B", "01"); // 2: key 002000601
    o.archive.AddPrecinct("14002", "0007", "C", "01"); // 3, deleted: key 002000701
    o.archive.AddPrecinct("14002", "0007", "D", "01"); // 4: the same key as the deleted 3
    o.archive.MarkDeleted("OBREB.DBF", 1);
    o.archive.MarkDeleted("OBREB.DBF", 3);
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 1;
    const int work = o.archive.AddKerg(kerg);
    o.archive.AddParcelLink(work, o.archive.AddParcel(1, 11, 0, 0), "P");
    o.archive.AddParcelLink(work, o.archive.AddParcel(2, 12, 0, 0), "P");
    o.archive.AddParcelLink(work, o.archive.AddParcel(4, 14, 0, 0), "P");
    o.WriteArchive();
    o.CreateTarget({1, 1, 1});
    const std::pair<const char*, const char*> precincts[] = {
        {"0A01", "0005"}, {"0A02", "0006"}, {"0A03", "0007"}};
    for (const auto& [id, number] : precincts)
        tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                               {{"ID_OBR", id}, {"NR_G", "002"}, {"NR_OBR", number}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000001"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2000"}, {"LP", "1"}});
    o.Run();
    ASSERT_TRUE(o.ui.closed);

    // One entry per record, deleted ones included: an entry's place is the archive's precinct
    // number. The deleted records match the target's precincts, so no question is asked; the live
    // record 4 comes after the deleted 3 of the same key and gets nothing.
    const convert::PrecinctList& list = o.run->State().Precincts;
    ASSERT_EQ(list.Size(), 5u);
    EXPECT_EQ(list.At(1).text, "002000501");
    EXPECT_EQ(list.At(1).value, "0A01");
    EXPECT_EQ(list.At(2).value, "0A02");
    EXPECT_EQ(list.At(3).text, "002000701");
    EXPECT_EQ(list.At(3).value, "0A03");
    EXPECT_EQ(list.At(4).text, "002000701");
    EXPECT_FALSE(list.At(4).value);
    for (const convert::Message& m : o.ui.messages)
        EXPECT_EQ(m.text.find("W aktualnej bazie występuje obręb"), std::string::npos) << m.text;

    // The parcels of precincts 1 and 2 get the ids of those very precincts; the parcel of precinct 4
    // is reported and left out.
    const auto parcels = o.Rows(o.Kerg(), "dz.dbf");
    ASSERT_EQ(parcels.size(), 2u);
    EXPECT_EQ(parcels[0].at("DZIALKA"), "11");
    EXPECT_EQ(parcels[0].at("ID_OBR"), "0A01");
    EXPECT_EQ(parcels[1].at("DZIALKA"), "12");
    EXPECT_EQ(parcels[1].at("ID_OBR"), "0A02");
    std::vector<std::string> errors;
    for (const convert::Message& m : o.ui.messages) {
        if (m.caption == "Błąd")
            errors.push_back(m.text);
    }
    EXPECT_EQ(errors, std::vector<std::string>{
                          "Wystąpił błąd podczas ustalania numeru obrębu.Brak obrębu: 002000701"});
}

} // namespace
