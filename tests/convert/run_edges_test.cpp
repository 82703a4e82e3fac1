// Edges of the run: precinct number 0, counters the chosen options never use, the error display
// over a reset cursor, and a failure that is no standard exception.
#include <algorithm>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "tests/convert/office.h"

namespace {

using office::Office;

// Three works, each with a contractor of its own and one parcel in precinct 1.
void ThreeWorks(Office& o)
{
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    for (int n = 1; n <= 3; ++n) {
        tools::ArchivePerson p;
        p.nazwa = "Osoba " + std::to_string(n);
        o.archive.AddPerson(p);
        o.archive.AddWork({"P", n, 2000, 1, "", true, n});
        tools::ArchiveKerg k;
        k.idKerg = n;
        k.nrG = 2;
        k.wykon = n;
        o.archive.AddKerg(k);
        o.archive.AddParcelLink(n, o.archive.AddParcel(1, n, 0, 1), "P");
    }
    o.WriteArchive();
    o.CreateTarget({10, 20, 30});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    for (int n = 1; n <= 3; ++n)
        o.AddTargetWork(n);
}

TEST(RunEdges, PrecinctNumberZeroNamesNoPrecinctEvenBesideABlankTargetPrecinct)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    tools::ArchiveKerg k;
    k.idKerg = 1;
    k.nrG = 2;
    o.archive.AddKerg(k);
    o.archive.AddParcelLink(1, o.archive.AddParcel(0, 5, 0, 1), "P");
    o.WriteArchive();
    o.CreateTarget();
    // A target precinct whose three key fields are blank (the archive has none such: asked about).
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf", {{"ID_OBR", "0B00"}});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000001"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2000"}, {"LP", "1"}});
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_FALSE(o.run->State().Precincts.At(0).value.has_value()) << "entry 0 is never a precinct";
    EXPECT_TRUE(o.Rows(o.Kerg(), "dz.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "obdg.dbf").empty());
    std::vector<std::string> errors;
    for (const auto& m : o.ui.messages)
        if (m.caption == "Błąd")
            errors.push_back(m.text);
    EXPECT_EQ(errors,
              (std::vector<std::string>{
                  "W aktualnej bazie występuje obręb:  ,którego brak w archiwum\r\nKontynuować konwersję ?",
                  "Wystąpił błąd podczas ustalania numeru obrębu.Brak obrębu: "}));
}

// Renames a counters row so that the counter is missing.
void DropCounter(Office& o, const std::string& name)
{
    engine::Table counters(o.Admin(), "Dostep.dbf");
    counters.Open();
    for (counters.First(); !counters.Eof(); counters.Next()) {
        if (counters.FieldByName("TABLENAME").AsString() == name) {
            counters.Edit();
            counters.FieldByName("TABLENAME").SetString("X" + name);
            counters.Post();
        }
    }
}

TEST(RunEdges, ACounterTheOptionsNeverUseMayBeMissing)
{
    // No DZ and no ASORTYM row, parcels and assortments not asked for: the run completes the works
    // and leaves the other rows as they were.
    Office o;
    ThreeWorks(o);
    DropCounter(o, "DZ");
    DropCounter(o, "ASORTYM");
    o.ui.parcels = false;
    o.ui.assortments = false;
    o.Run();
    ASSERT_TRUE(o.ui.closed) << (o.ui.messages.empty() ? "" : o.ui.messages.back().text);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[2].at("WYKON"), "0000000C");
    EXPECT_EQ(o.Counter("OSOBY"), "13");
    EXPECT_EQ(o.Counter("XDZ"), "30");
    EXPECT_EQ(o.Counter("XASORTYM"), "20");

    // The same table with parcels asked for: their counter is needed, the run stops before writing.
    Office p;
    ThreeWorks(p);
    DropCounter(p, "DZ");
    p.ui.assortments = false;
    p.Run();
    EXPECT_FALSE(p.ui.closed);
    EXPECT_EQ(p.ui.messages.back().text, "W tabeli liczników Dostep.dbf brak wiersza DZ.");
    EXPECT_EQ(p.Rows(p.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");

    // And the persons' counter is always needed.
    Office q;
    ThreeWorks(q);
    DropCounter(q, "OSOBY");
    q.ui.parcels = false;
    q.ui.assortments = false;
    q.Run();
    EXPECT_EQ(q.ui.messages.back().text, "W tabeli liczników Dostep.dbf brak wiersza OSOBY.");
}

TEST(RunEdges, AnEngineErrorIsShownOverTheOrdinaryCursorAndAnEmptyBar)
{
    Office o;
    ThreeWorks(o);
    // The parcels' link table cannot take a before/after marker: a number field there.
    engine::CreateTable(o.Kerg(), "obdg.dbf",
                        {{"id_roboty", 'C', 8, 0}, {"id_dzialki", 'C', 8, 0}, {"przed_po", 'N', 1, 0}}, {});
    o.Run();
    ASSERT_EQ(o.ui.errors.size(), 1u);
    const auto error = std::find(o.ui.events.begin(), o.ui.events.end(), "error");
    ASSERT_NE(error, o.ui.events.end());
    const std::vector<std::string> before(o.ui.events.begin(), error);
    ASSERT_GE(before.size(), 2u);
    EXPECT_EQ(before[before.size() - 2], "busy:0");
    EXPECT_EQ(before[before.size() - 1], "position:0");
    EXPECT_FALSE(o.ui.busy);
    o.ExpectReleasedAndSound();
}

// Plays the window, failing in a way no standard exception describes while the third work's
// progress is shown.
class FailingUi : public office::ScriptedUi
{
public:
    int steps = 0;
    void SetProgressPosition(int position) override
    {
        ScriptedUi::SetProgressPosition(position);
        if (position > 0 && ++steps == 3)
            throw 42;
    }
};

TEST(RunEdges, AFailureThatIsNoStandardExceptionLeavesTheLastCommitAndReleasesTheCounters)
{
    Office o;
    ThreeWorks(o);
    FailingUi ui;
    ui.archiveText = o.archiveDir;
    ui.targetText = o.targetDir;
    convert::ImportRun run(ui, o.renumberingFile, [] { return convert::Date{2026, 12, 6}; });
    run.Commits().worksPerCommit = 1;
    run.BitBtn1Click();
    ASSERT_EQ(ui.errors, std::vector<std::string>{std::string("Nieoczekiwany błąd.\r\n") +
                                                  convert::messages::kRerunAfterError});
    EXPECT_FALSE(ui.busy);
    EXPECT_FALSE(ui.closed);
    // The first two works were committed with the counters covering their ids; the third left
    // nothing.
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("WYKON"), "0000000A");
    EXPECT_EQ(works[1].at("WYKON"), "0000000B");
    EXPECT_EQ(works[2].at("WYKON"), "");
    EXPECT_EQ(o.Rows(o.Persons(), "Osoby.dbf").size(), 2u);
    EXPECT_EQ(o.Counter("OSOBY"), "12");
    EXPECT_EQ(o.Counter("DZ"), "32");
    o.ExpectReleasedAndSound();
    EXPECT_NE(ui.errorDetails.at(0).find("  uzupełnione teraz: 2\n"), std::string::npos)
        << ui.errorDetails.at(0);
}

} // namespace
