// The facade's editing operations: information fields with their read-back and date
// completion, page layout and mode, viewer flags and their ranges, the open script, the
// blank document's own fields, and the inspection list of a repaired file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryXMP.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

const char* const kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const char* const kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>";

Bytes Pdf(const std::string& catalogExtra = "", const std::vector<std::string>& more = {},
          const std::string& version = "1.4") {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>", kPages, kPage};
  objects.insert(objects.end(), more.begin(), more.end());
  test::PdfFixtureOptions options;
  options.version = version;
  return test::BuildPdf(objects, "/Root 1 0 R", options);
}

// An engine whose selected document is the loaded file.
class Loaded {
 public:
  explicit Loaded(const Bytes& pdf) : file_(pdf) {
    EXPECT_EQ(engine.LoadDocument(Utf8ToText(file_.Path()), u""), 1);
    engine.SelectedDocument()->Structure.MultiLine = false;
  }
  TPDFDictionary* Catalog() { return engine.SelectedDocument()->GetCatalog(); }
  std::string CatalogEntry(ByteView key) {
    TPDFObject* v = Catalog()->Get(key, false);
    return v ? v->ToText() : "<none>";
  }
  TMarlockPDFLibrary1711 engine;

 private:
  test::TempFile file_;
};

TEST(FacadeEdit, WriteInfoFieldResults) {
  struct Case {
    int32_t key;
    std::u16string text;
    int32_t result;
    int32_t error;
    std::u16string readBack;  // ReadInfoField(key) afterwards
  };
  const Case cases[] = {
      {0, u"1.7", 1, kErrorNone, u"1.7"},
      {0, u"2.0", 1, kErrorNone, u"2.0"},
      {0, u"1.8", 0, kErrorNone, u"1.4"},  // not a version text: nothing changes
      {1, u"Ann \u65E5", 1, kErrorNone, u"Ann \u65E5"},
      {2, u"Title", 1, kErrorNone, u"Title"},
      {6, u"", 1, kErrorNone, u""},
      {7, u"D:20240131235959+01'00'", 1, kErrorNone, u"D:20240131235959+01'00'"},
      // Stored as given, read back completed, so the write reports 0.
      {7, u"D:2019", 0, kErrorNone, u"D:20190101000000-00'00'"},
      {8, u"201905", 0, kErrorNone, u"D:20190501000000-00'00'"},
      {8, u"D:20190501000000+02", 0, kErrorNone, u"D:20190501000000+02'00'"},
      // A UTC date is full as it stands (the engine's own dates at UTC look like this).
      {8, u"D:20190501000000Z", 1, kErrorNone, u"D:20190501000000Z"},
      // Too short to complete, or too long.
      {7, u"D:20", 0, kErrorDate, u""},
      {8, u"D:20240131235959+01'00'X", 0, kErrorDate, u""},
      {9, u"topic", 1, kErrorNone, u""},
      {10, u"", 1, kErrorNone, u""},
      {11, u"x", 0, kErrorInfoKey, u""},
      {-1, u"x", 0, kErrorInfoKey, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.key << " text " << TextToUtf8(c.text));
    Loaded l(Pdf());
    EXPECT_EQ(l.engine.WriteInfoField(c.key, c.text), c.result);
    EXPECT_EQ(l.engine.ErrorCode, c.error);
    EXPECT_EQ(l.engine.ReadInfoField(c.key), c.readBack);
  }
}

TEST(FacadeEdit, InformationKeysReachTheirFields) {
  Loaded l(Pdf());
  TPDFDocument& doc = *l.engine.SelectedDocument();
  const char* const names[] = {"", "Author", "Title", "Subject", "Keywords", "Creator", "Producer"};
  for (int32_t key = 1; key <= 6; ++key) EXPECT_EQ(l.engine.WriteInfoField(key, Utf8ToText(names[key])), 1);
  for (int32_t key = 1; key <= 6; ++key) EXPECT_EQ(doc.GetInfoField(names[key]), Utf8ToText(names[key]));
  EXPECT_EQ(doc.Metadata->Author(), u"Author");
  EXPECT_EQ(doc.Metadata->Producer(), u"Producer");
  // The XMP-only keys leave the information dictionary as it was.
  const int count = doc.GetInfo()->Count();
  l.engine.WriteInfoField(9, u"dc");
  l.engine.WriteInfoField(10, u"mm");
  EXPECT_EQ(doc.GetInfo()->Count(), count);
  EXPECT_EQ(doc.Metadata->DublinCoreSubject(), u"dc");
  EXPECT_EQ(doc.Metadata->MediaManagementSubject(), u"mm");
  // Only key 8 marks the modification date as the caller's own.
  EXPECT_FALSE(doc.ModDateSet);
  l.engine.WriteInfoField(7, u"D:20200101000000Z");
  EXPECT_FALSE(doc.ModDateSet);
  l.engine.WriteInfoField(8, u"D:20200101000000Z");
  EXPECT_TRUE(doc.ModDateSet);
}

TEST(FacadeEdit, VersionAlreadyOutsideTheListReadsBackEqual) {
  Loaded l(Pdf("", {}, "1.8"));
  EXPECT_EQ(l.engine.WriteInfoField(0, u"1.8"), 1);
  EXPECT_EQ(l.engine.ReadInfoField(0), u"1.8");
}

TEST(FacadeEdit, PageLayout) {
  struct Case {
    const char* version;
    int32_t layout;
    const char* entry;
    const char* versionAfter;
    int32_t readBack;
  };
  const Case cases[] = {
      {"1.4", 4, "/TwoPageLeft", "1.5", 4},
      {"1.3", 5, "/TwoPageRight", "1.5", 5},
      {"1.6", 4, "/TwoPageLeft", "1.6", 4},
      {"2.0", 5, "/TwoPageRight", "2.0", 5},
      {"1.4", 3, "/TwoColumnRight", "1.4", 3},
      {"1.4", 7, "/SinglePage", "1.4", 0},
      {"1.4", -1, "/SinglePage", "1.4", 0},
      {"1.4", 6, "<none>", "1.4", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version << " layout " << c.layout);
    Loaded l(Pdf("/PageLayout /OneColumn", {}, c.version));
    EXPECT_EQ(l.engine.ReadPageLayout(), 1);
    EXPECT_EQ(l.engine.WritePageLayout(c.layout), 1);
    EXPECT_EQ(l.CatalogEntry("PageLayout"), c.entry);
    EXPECT_EQ(l.engine.SelectedDocument()->Version, c.versionAfter);
    EXPECT_EQ(l.engine.ReadPageLayout(), c.readBack);
  }
}

TEST(FacadeEdit, PageMode) {
  Loaded l(Pdf("/PageMode /UseAttachments"));
  EXPECT_EQ(l.engine.ReadPageMode(), 5);
  EXPECT_EQ(l.engine.WritePageMode(9), 1);
  EXPECT_EQ(l.CatalogEntry("PageMode"), "/UseNone");
  EXPECT_EQ(l.engine.WritePageMode(3), 1);
  EXPECT_EQ(l.CatalogEntry("PageMode"), "/FullScreen");
  EXPECT_EQ(l.engine.ReadPageMode(), 3);
  Loaded absent(Pdf());
  EXPECT_EQ(absent.engine.ReadPageMode(), 0);
  EXPECT_EQ(absent.engine.ReadPageLayout(), 6);
}

TEST(FacadeEdit, ViewerFlagRanges) {
  struct Case {
    int32_t option;
    int32_t value;
    int32_t result;
    const char* written;  // the /ViewerPreferences dictionary afterwards
  };
  const Case cases[] = {
      {1, 1, 1, "<< /HideToolbar true >> "},
      {6, 0, 1, "<< /DisplayDocTitle false >> "},
      {1, 2, 0, "<none>"},
      {15, 1, 1, "<< /PickTrayByPDFSize true >> "},
      {7, 3, 1, "<< /NonFullScreenPageMode /UseOC >> "},
      {7, 4, 0, "<none>"},
      {8, 1, 1, "<< /Direction /R2L >> "},
      {9, 4, 1, "<< /ViewArea /ArtBox >> "},
      {12, 5, 0, "<none>"},
      {13, 1, 1, "<< /PrintScaling /AppDefault >> "},
      {14, 2, 1, "<< /Duplex /DuplexFlipLongEdge >> "},
      {14, -1, 0, "<none>"},
      {16, 0, 0, "<none>"},
      {16, 3, 1, "<< /NumCopies 3 >> "},
      {0, 1, 0, "<none>"},
      {17, 1, 0, "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "option " << c.option << " value " << c.value);
    Loaded l(Pdf());
    EXPECT_EQ(l.engine.WriteViewerFlag(c.option, c.value), c.result);
    EXPECT_EQ(l.CatalogEntry("ViewerPreferences"), c.written);
    if (c.result == 1) {
      EXPECT_EQ(l.engine.ReadViewerFlag(c.option), c.value);
    }
  }
}

TEST(FacadeEdit, ViewerFlagsReadOnlyTheirOwnKind) {
  Loaded l(Pdf("/ViewerPreferences << /HideToolbar 1 /HideMenubar true /Direction (R2L) /ViewArea /Nowhere "
               "/NumCopies 2.6 /FitWindow 4 0 R >>",
               {"true"}));
  EXPECT_EQ(l.engine.ReadViewerFlag(1), 0);  // the number 1 is not the boolean true
  EXPECT_EQ(l.engine.ReadViewerFlag(2), 1);
  EXPECT_EQ(l.engine.ReadViewerFlag(4), 1);  // through the reference
  EXPECT_EQ(l.engine.ReadViewerFlag(8), 0);
  EXPECT_EQ(l.engine.ReadViewerFlag(9), 0);
  EXPECT_EQ(l.engine.ReadViewerFlag(16), 3);
  EXPECT_EQ(l.engine.ReadViewerFlag(0), 0);
  EXPECT_EQ(l.engine.ReadViewerFlag(17), 0);
}

TEST(FacadeEdit, ReferencedViewerPreferencesAreReplaced) {
  Loaded l(Pdf("/ViewerPreferences 4 0 R", {"<< /FitWindow true /CenterWindow true /Direction /R2L >>"}));
  EXPECT_EQ(l.engine.ReadViewerFlag(5), 1);
  EXPECT_EQ(l.engine.WriteViewerFlag(1, 1), 1);
  EXPECT_EQ(l.CatalogEntry("ViewerPreferences"), "<< /HideToolbar true >> ");
  EXPECT_EQ(l.engine.ReadViewerFlag(5), 0);
  EXPECT_EQ(l.engine.ReadViewerFlag(8), 0);
}

TEST(FacadeEdit, OpenScriptReplacesAnyOpenAction) {
  for (const std::string action : {"/OpenAction [3 0 R /Fit]", "/OpenAction 4 0 R", ""}) {
    SCOPED_TRACE(action);
    Loaded l(Pdf(action, {"<< /S /URI /URI (http://example.invalid) >>"}));
    EXPECT_EQ(l.engine.WriteOpenScript(u""), 1);
    EXPECT_EQ(l.CatalogEntry("OpenAction"), "<< /Type /Action /S /JavaScript /JS () >> ");
  }
}

TEST(FacadeEdit, BlankDocumentCarriesTheEngineAndTheTime) {
  TMarlockPDFLibrary1711 engine;
  TPDFDocument& blank = *engine.SelectedDocument();
  EXPECT_EQ(engine.ReadInfoField(6), u"Pagelume 4.20");
  EXPECT_EQ(engine.ReadInfoField(5), u"Pagelume 4.20");
  const Text created = engine.ReadInfoField(7);
  EXPECT_EQ(engine.ErrorCode, kErrorNone);
  EXPECT_EQ(created, engine.ReadInfoField(8));
  EXPECT_EQ(blank.GetInfoField("CreationDate"), created);  // stored in full form
  EXPECT_TRUE(created.size() == 23 || (created.size() == 17 && created.back() == u'Z')) << TextToUtf8(created);
  EXPECT_EQ(blank.Metadata->Producer(), u"Pagelume 4.20");
  EXPECT_EQ(blank.Metadata->CreationDate(), TMarlockPDFLibraryXMP::PdfDateToXmp(created));
  EXPECT_FALSE(blank.ModDateSet);
  EXPECT_FALSE(blank.ReadMetadataText().empty());
}

TEST(FacadeEdit, SavedModificationDateIsTheSavesUnlessWrittenExplicitly) {
  const Text written = u"D:20010203040506+07'00'";
  for (const bool explicitDate : {false, true}) {
    SCOPED_TRACE(explicitDate ? "written" : "not written");
    Loaded l(Pdf("", {}));
    if (explicitDate) l.engine.WriteInfoField(8, written);
    test::TempFile first, second;
    ASSERT_EQ(l.engine.SaveDocument(Utf8ToText(first.Path())), 1);
    ASSERT_EQ(l.engine.SaveDocument(Utf8ToText(second.Path())), 1);
    for (const std::string& path : {first.Path(), second.Path()}) {
      TMarlockPDFLibrary1711 reader;
      ASSERT_EQ(reader.LoadDocument(Utf8ToText(path), u""), 1);
      const Text date = reader.ReadInfoField(8);
      if (explicitDate) {
        EXPECT_EQ(date, written);
      } else {
        EXPECT_EQ(date.substr(0, 6), PdfDateNow().substr(0, 6));  // this year's
      }
      // The packet carries the same date.
      EXPECT_EQ(reader.SelectedDocument()->Metadata->ModDate(),
                TMarlockPDFLibraryXMP::PdfDateToXmp(reader.SelectedDocument()->GetInfoField("ModDate")));
    }
  }
}

TEST(FacadeEdit, EditsActOnTheSelectedDocumentAfterAFailedLoad) {
  TMarlockPDFLibrary1711 engine;
  TPDFDocument* blank = engine.SelectedDocument();
  EXPECT_EQ(engine.LoadDocument(u"/nonexistent/file.pdf", u""), 0);
  EXPECT_EQ(engine.WriteInfoField(2, u"Still blank"), 1);
  EXPECT_EQ(blank->GetInfoField("Title"), u"Still blank");
}

}  // namespace
}  // namespace pagelume
