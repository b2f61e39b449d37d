// Editing a loaded document: information fields in their stored forms, the XMP packet
// and the /Metadata stream kept in step (also for encrypted files and packets that
// cannot be read), and the catalog's layout, mode, viewer preferences and open action.
#include "engine/document/MarlockPDFLibraryDocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryXMP.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::BuildPdf;

std::unique_ptr<TPDFDocument> Load(const Bytes& bytes, const std::u16string& password = u"") {
  auto doc = std::make_unique<TPDFDocument>();
  EXPECT_EQ(doc->LoadFromBytes(bytes, password), TPDFDocument::kLoaded);
  return doc;
}

const char* const kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const char* const kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const char* const kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

// Catalog, pages, page, then `more` as objects 4, 5, ...
Bytes Pdf(const std::vector<std::string>& more, const std::string& trailer, const std::string& catalog = kCatalog) {
  std::vector<std::string> objects = {catalog, kPages, kPage};
  objects.insert(objects.end(), more.begin(), more.end());
  return BuildPdf(objects, "/Root 1 0 R " + trailer);
}

Bytes StreamObject(const std::string& dict, const Bytes& data) {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

Bytes Deflated(ByteView data) {
  TPDFStructure s;
  return Bytes(s.NewStream(data, true)->Raw());
}

TPDFDictionary* InfoOf(TPDFDocument& doc) { return As<TPDFDictionary>(doc.Trailer->Get("Info", true)); }

TPDFStream* MetadataOf(TPDFDocument& doc) { return As<TPDFStream>(doc.GetCatalog()->Get("Metadata", true)); }

// A packet of another program, with a property the engine does not know.
Bytes ForeignPacket(const std::string& title) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
         "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + title + "</rdf:li></rdf:Alt></dc:title>"
         "<dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">Kept Rights</rdf:li></rdf:Alt></dc:rights>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

// The packet as another XMP object reads it back.
Text XmpTitle(const Bytes& packet) {
  TMarlockPDFLibraryXMP xmp;
  xmp.LoadPacket(packet);
  EXPECT_FALSE(xmp.LoadFailed());
  return xmp.Title();
}

TEST(InfoEdit, StoredFormsOfTheValue) {
  // Each row: the information entry as the file has it, and what the edited file must show.
  struct Case {
    const char* name;
    std::vector<std::string> more;  // objects 4, 5, ... (4 is the information dictionary)
    std::string expectedInfo;       // the information dictionary after the edit
    std::string expectedObject5;    // object 5 after the edit ("" when not checked)
  };
  const Case cases[] = {
      {"indirect hexadecimal title keeps form and reference",
       {"<< /Producer (P) /Title 5 0 R /Author (A) >>", "<48656C6C6F>"},
       "<< /Producer (P) /Title 5 0 R /Author (A) >> ", "<4E6575>"},
      {"direct literal replaced in place",
       {"<< /Producer (P) /Title (Old) /Author (A) >>"},
       "<< /Producer (P) /Title (Neu) /Author (A) >> ", ""},
      {"direct hexadecimal keeps its notation",
       {"<< /Title <4F6C64> >>"}, "<< /Title <4E6575> >> ", ""},
      {"missing key appended at the end",
       {"<< /Producer (P) /Author (A) >>"}, "<< /Producer (P) /Author (A) /Title (Neu) >> ", ""},
      {"number replaced by a literal string in place",
       {"<< /Title 12 /Author (A) >>"}, "<< /Title (Neu) /Author (A) >> ", ""},
      {"stream emptied and replaced by a direct string",
       {"<< /Title 5 0 R >>", StreamObject("/Filter /FlateDecode", Deflated("Old title"))},
       "<< /Title (Neu) >> ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = Load(Pdf(c.more, "/Info 4 0 R"));
    doc->SetInfoField("Title", u"Neu");
    TPDFStructure& s = doc->Structure;
    s.MultiLine = false;
    EXPECT_EQ(doc->ResolveNumber(4)->ToText(), c.expectedInfo);
    if (!c.expectedObject5.empty()) {
      EXPECT_EQ(doc->ResolveNumber(5)->ToText(), c.expectedObject5);
    }
    EXPECT_EQ(doc->GetInfoField("Title"), u"Neu");
    if (auto* stream = As<TPDFStream>(doc->ResolveNumber(5))) {
      EXPECT_TRUE(stream->Raw().empty());
      EXPECT_EQ(stream->StreamDict->Get("Filter", false), nullptr);
    }
  }
}

TEST(InfoEdit, TextEncodingOfTheStoredString) {
  auto doc = Load(Pdf({"<< >>"}, "/Info 4 0 R"));
  doc->SetInfoField("Author", u"Zo\u00EB");  // PDFDocEncoding has it
  EXPECT_EQ(InfoOf(*doc)->GetString("Author")->GetBytes(), "Zo\xEB");
  doc->SetInfoField("Author", u"\u65E5\u672C");  // it has not: UTF-16BE with a byte order mark
  EXPECT_EQ(InfoOf(*doc)->GetString("Author")->GetBytes(), Bytes("\xFE\xFF\x65\xE5\x67\x2C", 6));
  EXPECT_EQ(doc->GetInfoField("Author"), u"\u65E5\u672C");
  doc->SetInfoField("Author", u"");
  EXPECT_EQ(InfoOf(*doc)->GetString("Author")->GetBytes(), "");
}

TEST(InfoEdit, MissingInformationDictionaryIsCreatedIndirect) {
  auto doc = Load(Pdf({}, ""));
  ASSERT_EQ(doc->Trailer->Get("Info", false), nullptr);
  doc->SetInfoField("Subject", u"New subject");
  auto* ref = As<TPDFIndRef>(doc->Trailer->Get("Info", false));
  ASSERT_NE(ref, nullptr);
  EXPECT_GT(ref->RefNumber, 3);
  EXPECT_EQ(doc->GetInfoField("Subject"), u"New subject");
}

TEST(InfoEdit, GetInfoFieldReadsStringsAndStreamsOnly) {
  auto doc = Load(Pdf({"<< /Title 5 0 R /Subject 6 0 R /Keywords [(a)] >>",
                       StreamObject("/Filter /FlateDecode", Deflated("Streamed title")), "(Indirect)"},
                      "/Info 4 0 R"));
  EXPECT_EQ(doc->GetInfoField("Title"), u"Streamed title");
  EXPECT_EQ(doc->GetInfoField("Subject"), u"Indirect");
  EXPECT_EQ(doc->GetInfoField("Keywords"), u"");
  EXPECT_EQ(doc->GetInfoField("Author"), u"");
}

TEST(InfoEdit, MetadataStreamIsCreatedForAnUnencryptedDocument) {
  auto doc = Load(Pdf({"<< >>"}, "/Info 4 0 R"));
  ASSERT_EQ(MetadataOf(*doc), nullptr);
  doc->SetInfoField("Title", u"Report");
  ASSERT_NE(As<TPDFIndRef>(doc->GetCatalog()->Get("Metadata", false)), nullptr);
  TPDFStream* meta = MetadataOf(*doc);
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->StreamDict->TypeName(), "Metadata");
  EXPECT_EQ(meta->StreamDict->GetName("Subtype")->NameBytes, "XML");
  EXPECT_EQ(meta->StreamDict->Get("Filter", false), nullptr);
  EXPECT_EQ(XmpTitle(Bytes(meta->Raw())), u"Report");

  // A second field rewrites the same stream.
  doc->SetInfoField("Author", u"Ann");
  EXPECT_EQ(MetadataOf(*doc), meta);
  TMarlockPDFLibraryXMP again;
  again.LoadPacket(meta->Raw());
  EXPECT_EQ(again.Title(), u"Report");
  EXPECT_EQ(again.Author(), u"Ann");
}

TEST(InfoEdit, XmpOnlyKeysLeaveTheInformationDictionary) {
  auto doc = Load(Pdf({"<< /Title (T) >>"}, "/Info 4 0 R"));
  doc->SetInfoField("dc:subject", u"topic");
  doc->SetInfoField("xmpMM:subject", u"mm");
  EXPECT_EQ(InfoOf(*doc)->Count(), 1);
  EXPECT_EQ(doc->Metadata->DublinCoreSubject(), u"topic");
  EXPECT_EQ(doc->Metadata->MediaManagementSubject(), u"mm");
  EXPECT_NE(doc->ReadMetadataText().find("topic"), Bytes::npos);
}

TEST(InfoEdit, LoadedPacketIsEditedNotReplaced) {
  // A compressed packet of another program: its other properties stay, the stream ends
  // up uncompressed.
  auto doc = Load(Pdf({"<< /Title (Old) >>", StreamObject("/Type /Metadata /Subtype /XML /Filter /FlateDecode",
                                                          Deflated(ForeignPacket("Old")))},
                      "/Info 4 0 R", "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>"));
  doc->SetInfoField("Title", u"New");
  TPDFStream* meta = MetadataOf(*doc);
  ASSERT_EQ(meta, doc->ResolveNumber(5));
  EXPECT_EQ(meta->StreamDict->Get("Filter", false), nullptr);
  const Bytes packet(meta->Raw());
  EXPECT_EQ(XmpTitle(packet), u"New");
  EXPECT_NE(packet.find("Kept Rights"), Bytes::npos);
  EXPECT_EQ(packet.find("Old"), Bytes::npos);
}

TEST(InfoEdit, UnreadableStoredPacketIsLeftAlone) {
  // Neither a packet that does not parse nor one the engine cannot read is replaced by
  // the default packet: that would lose what the file had.
  struct Case {
    const char* name;
    std::string metadata;
  };
  const std::string broken = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF <<<";
  const Case cases[] = {
      {"packet that does not parse", StreamObject("/Type /Metadata /Subtype /XML", broken)},
      {"stream without /Type", StreamObject("/Subtype /XML", ForeignPacket("Old"))},
      {"filter that cannot be decoded", StreamObject("/Type /Metadata /Subtype /XML /Filter /FlateDecode",
                                                     "not deflate data")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes pdf = Pdf({"<< /Title (Old) >>", c.metadata}, "/Info 4 0 R",
                          "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>");
    auto doc = Load(pdf);
    auto* meta = As<TPDFStream>(doc->ResolveNumber(5));
    ASSERT_NE(meta, nullptr);
    const Bytes before = meta->StreamDict->ToText() + Bytes(meta->Raw());
    doc->SetInfoField("Title", u"New");
    EXPECT_EQ(doc->GetInfoField("Title"), u"New");
    EXPECT_EQ(MetadataOf(*doc), meta);
    EXPECT_EQ(meta->StreamDict->ToText() + Bytes(meta->Raw()), before);
  }
}

TEST(InfoEdit, EmptySerialisationNeverReplacesAStoredPacket) {
  auto doc = Load(Pdf({StreamObject("/Type /Metadata /Subtype /XML", ForeignPacket("Kept"))}, "",
                      "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>"));
  doc->StoreMetadata("");
  EXPECT_EQ(XmpTitle(Bytes(MetadataOf(*doc)->Raw())), u"Kept");
  // Nor is an empty stream made where there was none.
  auto bare = Load(Pdf({}, ""));
  bare->StoreMetadata("");
  EXPECT_EQ(bare->GetCatalog()->Get("Metadata", false), nullptr);
}

TEST(InfoEdit, EncryptedDocumentsGetTheirPacketUpdated) {
  if (!test::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  const Bytes plain = Pdf({"<< /Title (Old) >>", StreamObject("/Type /Metadata /Subtype /XML", ForeignPacket("Old"))},
                          "/Info 4 0 R", "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>");
  for (const std::string args : {"--encrypt u o 128 --use-aes=y --", "--encrypt u o 256 --",
                                 "--encrypt u o 256 --cleartext-metadata --",
                                 "--allow-weak-crypto --encrypt u o 40 --"}) {
    SCOPED_TRACE(args);
    test::TempFile in(plain);
    test::TempFile out;
    const auto r = test::RunCommand("qpdf " + args + " " + in.Path() + " " + out.Path());
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.output;
    auto doc = Load(test::ReadWholeFile(out.Path()), u"u");
    ASSERT_EQ(doc->EncryptionState(), kEncrypted);
    EXPECT_EQ(doc->Metadata->Title(), u"Old");
    doc->SetInfoField("Title", u"New");
    EXPECT_EQ(XmpTitle(doc->ReadMetadataText()), u"New");
    EXPECT_NE(doc->ReadMetadataText().find("Kept Rights"), Bytes::npos);
  }
}

TEST(InfoEdit, PageLayoutAndMode) {
  auto doc = Load(Pdf({}, "", "<< /Type /Catalog /PageLayout /OneColumn /Pages 2 0 R /PageMode /Bogus >>"));
  EXPECT_EQ(doc->GetPageLayout(), 1);
  EXPECT_EQ(doc->GetPageMode(), 0);  // an unknown name reads as UseNone
  doc->SetPageLayout(4);
  doc->SetPageMode(5);
  doc->Structure.MultiLine = false;
  EXPECT_EQ(doc->GetCatalog()->ToText(),
            "<< /Type /Catalog /Pages 2 0 R /PageLayout /TwoPageLeft /PageMode /UseAttachments >> ");
  EXPECT_EQ(doc->GetPageLayout(), 4);
  EXPECT_EQ(doc->GetPageMode(), 5);
  doc->SetPageLayout(TPDFDocument::kNoPageLayout);
  EXPECT_EQ(doc->GetCatalog()->Get("PageLayout", false), nullptr);
  EXPECT_EQ(doc->GetPageLayout(), TPDFDocument::kNoPageLayout);

  // A referenced name is not followed.
  auto ref = Load(Pdf({"/TwoColumnLeft"}, "", "<< /Type /Catalog /Pages 2 0 R /PageLayout 4 0 R >>"));
  EXPECT_EQ(ref->GetPageLayout(), TPDFDocument::kNoPageLayout);
}

TEST(InfoEdit, ViewerPreferencesAndOpenAction) {
  auto doc = Load(Pdf({"<< /HideToolbar true /FitWindow true >>", "<< /S /GoTo /D [3 0 R /Fit] >>"}, "",
                      "<< /Type /Catalog /Pages 2 0 R /ViewerPreferences 4 0 R /OpenAction 5 0 R >>"));
  TPDFStructure& s = doc->Structure;
  s.MultiLine = false;
  EXPECT_TRUE(As<TPDFBoolean>(doc->GetViewerPreference("FitWindow"))->Truth);
  // The referenced dictionary is replaced, with its entries.
  doc->SetViewerPreference("CenterWindow", s.NewBoolean(true));
  EXPECT_EQ(doc->GetCatalog()->Get("ViewerPreferences", false)->ToText(), "<< /CenterWindow true >> ");
  EXPECT_EQ(doc->GetViewerPreference("FitWindow"), nullptr);
  // A direct one is edited: the key moves to the end.
  doc->SetViewerPreference("HideToolbar", s.NewBoolean(false));
  doc->SetViewerPreference("CenterWindow", s.NewBoolean(false));
  EXPECT_EQ(doc->GetCatalog()->Get("ViewerPreferences", false)->ToText(),
            "<< /HideToolbar false /CenterWindow false >> ");

  doc->SetOpenScript(u"");
  EXPECT_EQ(doc->GetCatalog()->Get("OpenAction", false)->ToText(), "<< /Type /Action /S /JavaScript /JS () >> ");
  doc->SetOpenScript(u"app.alert('\u65E5')");
  auto* js = As<TPDFDictionary>(doc->GetCatalog()->Get("OpenAction", false))->GetString("JS");
  EXPECT_EQ(js->GetText(), u"app.alert('\u65E5')");
  EXPECT_EQ(js->Notation, 0);
}

}  // namespace
}  // namespace pagelume
