#include "engine/document/MarlockPDFLibraryXMP.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <string>
#include <vector>

#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

const char* const kDesc = "/x:xmpmeta/rdf:RDF/rdf:Description";

// The saved bytes parsed again, independently of the object under test.
class TParsed {
 public:
  explicit TParsed(const Bytes& bytes)
      : doc_(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, "UTF-8",
                           XML_PARSE_NONET | XML_PARSE_NOBLANKS)) {}
  ~TParsed() { xmlFreeDoc(doc_); }
  bool Ok() const { return doc_ != nullptr; }

  double Number(const std::string& expr) const {
    xmlXPathObjectPtr r = Eval("number(" + expr + ")");
    const double v = r ? r->floatval : -1;
    xmlXPathFreeObject(r);
    return v;
  }
  int Count(const std::string& path) const { return static_cast<int>(Number("count(" + path + ")")); }
  std::string String(const std::string& path) const {
    xmlXPathObjectPtr r = Eval("string(" + path + ")");
    std::string v = r && r->stringval ? reinterpret_cast<const char*>(r->stringval) : "";
    xmlXPathFreeObject(r);
    return v;
  }
  std::vector<xmlNodePtr> Nodes(const std::string& path) const {
    std::vector<xmlNodePtr> out;
    xmlXPathObjectPtr r = Eval(path);
    if (r && r->nodesetval)
      for (int i = 0; i < r->nodesetval->nodeNr; ++i) out.push_back(r->nodesetval->nodeTab[i]);
    xmlXPathFreeObject(r);
    return out;
  }
  // Qualified names of the child elements of the node, in order.
  static std::vector<std::string> ChildNames(xmlNodePtr node) {
    std::vector<std::string> out;
    for (xmlNodePtr c = node->children; c; c = c->next)
      if (c->type == XML_ELEMENT_NODE)
        out.push_back(std::string(c->ns && c->ns->prefix ? (const char*)c->ns->prefix : "") + ":" +
                      (const char*)c->name);
    return out;
  }

 private:
  xmlXPathObjectPtr Eval(const std::string& expr) const {
    if (!doc_) return nullptr;
    xmlXPathContextPtr ctx = xmlXPathNewContext(doc_);
    const char* ns[][2] = {{"x", "adobe:ns:meta/"},
                           {"rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#"},
                           {"dc", "http://purl.org/dc/elements/1.1/"},
                           {"xmp", "http://ns.adobe.com/xap/1.0/"},
                           {"pdf", "http://ns.adobe.com/pdf/1.3/"},
                           {"xmpMM", "http://ns.adobe.com/xap/1.0/mm/"}};
    for (auto& b : ns) xmlXPathRegisterNs(ctx, BAD_CAST b[0], BAD_CAST b[1]);
    xmlXPathObjectPtr r = xmlXPathEvalExpression(BAD_CAST expr.c_str(), ctx);
    xmlXPathFreeContext(ctx);
    return r;
  }
  xmlDocPtr doc_;
};

std::string Utf8(const Text& t) { return TextToUtf8(t); }

// A packet as another producer writes it: declaration, Bag creator, several title
// languages, a property in attribute form, two dc descriptions.
const char* const kForeignPacket = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xpacket begin="﻿" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="Other Toolkit">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about="" xmlns:pdf="http://ns.adobe.com/pdf/1.3/" pdf:Producer="Attr Producer">
   <pdf:Keywords>alpha, beta</pdf:Keywords>
  </rdf:Description>
  <rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/">
   <xmp:CreatorTool>Writer 7</xmp:CreatorTool>
   <xmp:CreateDate>2020-05-06T07:08:09+02:00</xmp:CreateDate>
   <xmp:ModifyDate>2021-01-02T03:04:05Z</xmp:ModifyDate>
  </rdf:Description>
  <rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/">
   <dc:format>application/pdf</dc:format>
  </rdf:Description>
  <rdf:Description rdf:about="" xmlns:d="http://purl.org/dc/elements/1.1/">
   <d:title><rdf:Alt>
     <rdf:li xml:lang="en">Hello</rdf:li>
     <rdf:li xml:lang="de">Hallo</rdf:li>
   </rdf:Alt></d:title>
   <d:creator><rdf:Bag><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Bag></d:creator>
   <d:description><rdf:Alt><rdf:li xml:lang="x-default">About &amp; more</rdf:li></rdf:Alt></d:description>
   <d:subject><rdf:Bag><rdf:li>tag1</rdf:li><rdf:li>tag2</rdf:li></rdf:Bag></d:subject>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="w"?>)";

TEST(Xmp, DefaultPacketHasTheThreeDescriptionsWithEmptyProperties) {
  TMarlockPDFLibraryXMP xmp;
  ASSERT_FALSE(xmp.Unusable());
  const TParsed p(xmp.SerializePacket());
  ASSERT_TRUE(p.Ok());

  const std::vector<xmlNodePtr> descs = p.Nodes(kDesc);
  ASSERT_EQ(descs.size(), 3u);
  const char* const expectedNs[] = {"http://purl.org/dc/elements/1.1/", "http://ns.adobe.com/xap/1.0/",
                                    "http://ns.adobe.com/pdf/1.3/"};
  const char* const expectedPrefix[] = {"dc", "xmp", "pdf"};
  for (size_t i = 0; i < 3; ++i) {
    // Exactly one attribute: the prefix declaration; no rdf:about.
    ASSERT_NE(descs[i]->nsDef, nullptr);
    EXPECT_EQ(descs[i]->nsDef->next, nullptr);
    EXPECT_STREQ((const char*)descs[i]->nsDef->prefix, expectedPrefix[i]);
    EXPECT_STREQ((const char*)descs[i]->nsDef->href, expectedNs[i]);
    EXPECT_EQ(descs[i]->properties, nullptr);
  }
  EXPECT_EQ(TParsed::ChildNames(descs[0]),
            (std::vector<std::string>{"dc:format", "dc:creator", "dc:description", "dc:title"}));
  EXPECT_EQ(TParsed::ChildNames(descs[1]),
            (std::vector<std::string>{"xmp:CreatorTool", "xmp:CreateDate", "xmp:ModifyDate"}));
  EXPECT_EQ(TParsed::ChildNames(descs[2]), (std::vector<std::string>{"pdf:Keywords", "pdf:Producer"}));

  const std::string d = kDesc;
  EXPECT_EQ(p.String(d + "/dc:format"), "application/pdf");
  EXPECT_EQ(p.Count(d + "/dc:creator/rdf:Seq/rdf:li"), 1);
  EXPECT_EQ(p.String(d + "/dc:creator/rdf:Seq/rdf:li"), "");
  for (const char* alt : {"dc:title", "dc:description"}) {
    EXPECT_EQ(p.Count(d + "/" + alt + "/rdf:Alt/rdf:li[@xml:lang='x-default']"), 1) << alt;
    EXPECT_EQ(p.String(d + "/" + alt), "") << alt;
  }
  for (const char* simple : {"xmp:CreatorTool", "xmp:CreateDate", "xmp:ModifyDate", "pdf:Keywords",
                             "pdf:Producer"}) {
    EXPECT_EQ(p.Count(d + "/" + simple), 1) << simple;
    EXPECT_EQ(p.Count(d + "/" + simple + "/node()"), 0) << simple;
  }
  // The wrapper: begin PI, x:xmpmeta, end PI at document level.
  EXPECT_EQ(p.Count("/processing-instruction('xpacket')"), 2);
  EXPECT_EQ(p.String("/processing-instruction('xpacket')[2]"), "end=\"w\"");
}

TEST(Xmp, StoredBytesHaveTheWrapperPaddingAndNoDeclaration) {
  TMarlockPDFLibraryXMP xmp;
  xmp.SetTitle(u"Report");
  const Bytes out = xmp.SerializePacket();
  const std::string begin = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>";
  EXPECT_EQ(out.compare(0, begin.size(), begin), 0) << out.substr(0, 80);
  EXPECT_EQ(out.find("<?xml"), Bytes::npos);

  const size_t end = out.rfind("<?xpacket end=\"w\"?>");
  ASSERT_NE(end, Bytes::npos);
  ASSERT_GT(end, 1025u);
  EXPECT_EQ(out.substr(end - 1024, 1024), std::string(1023, ' ') + "\n");
  EXPECT_NE(out[end - 1025], ' ');
  EXPECT_EQ(out.find("                ", end), Bytes::npos);

  // Loading our own packet and saving it again gives the same bytes: the padding is
  // not carried into the tree, and the indentation is stable.
  TMarlockPDFLibraryXMP again;
  again.LoadPacket(out);
  EXPECT_FALSE(again.LoadFailed());
  EXPECT_EQ(again.Title(), u"Report");
  EXPECT_EQ(again.SerializePacket(), out);
}

TEST(Xmp, LoadReadsTheCachedValuesOfAForeignPacket) {
  TMarlockPDFLibraryXMP xmp;
  xmp.LoadPacket(kForeignPacket);
  ASSERT_FALSE(xmp.LoadFailed());
  EXPECT_EQ(xmp.Title(), u"Hello");  // the first item, whatever its language
  EXPECT_EQ(xmp.Author(), u"Ann");
  EXPECT_EQ(xmp.Subject(), u"About & more");
  EXPECT_EQ(xmp.Keywords(), u"alpha, beta");
  EXPECT_EQ(xmp.Creator(), u"Writer 7");
  EXPECT_EQ(xmp.Producer(), u"");  // attribute form is not read
  EXPECT_EQ(xmp.CreationDate(), u"2020-05-06T07:08:09+02:00");
  EXPECT_EQ(xmp.ModDate(), u"2021-01-02T03:04:05Z");
  EXPECT_EQ(xmp.DublinCoreSubject(), u"tag1");
  EXPECT_EQ(xmp.MediaManagementSubject(), u"");

  const Bytes out = xmp.SerializePacket();
  EXPECT_EQ(out.find("<?xml"), Bytes::npos);
  EXPECT_EQ(out.rfind("<?xpacket begin=", 0), 0u);
}

TEST(Xmp, LoadingReplacesEveryCachedValue) {
  TMarlockPDFLibraryXMP xmp;
  xmp.LoadPacket(kForeignPacket);
  // A Seq author wins over a Bag one; values missing from the new packet are cleared.
  xmp.LoadPacket(R"(<x:xmpmeta xmlns:x="adobe:ns:meta/">
      <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
      <rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/">
      <dc:creator><rdf:Bag><rdf:li>Bag</rdf:li></rdf:Bag></dc:creator>
      <dc:creator><rdf:Seq><rdf:li>Seq</rdf:li></rdf:Seq></dc:creator>
      </rdf:Description></rdf:RDF></x:xmpmeta>)");
  EXPECT_EQ(xmp.Author(), u"Seq");
  EXPECT_EQ(xmp.Title(), u"");
  EXPECT_EQ(xmp.Keywords(), u"");
  EXPECT_EQ(xmp.DublinCoreSubject(), u"");
}

TEST(Xmp, SettingTheSameValueTwiceChangesTheTreeOnce) {
  TMarlockPDFLibraryXMP xmp;
  xmp.SetTitle(u"A");
  xmp.SetAuthor(u"B");
  const Bytes before = xmp.SerializePacket();
  // A rewrite would move dc:title behind dc:creator.
  xmp.SetTitle(u"A");
  EXPECT_EQ(xmp.SerializePacket(), before);
  const TParsed p(before);
  EXPECT_EQ(TParsed::ChildNames(p.Nodes(kDesc)[0]),
            (std::vector<std::string>{"dc:format", "dc:description", "dc:title", "dc:creator"}));

  // A value equal to what the loaded packet holds changes nothing either: both
  // languages of the title stay.
  TMarlockPDFLibraryXMP loaded;
  loaded.LoadPacket(kForeignPacket);
  const Bytes asLoaded = loaded.SerializePacket();
  loaded.SetTitle(u"Hello");
  loaded.SetAuthor(u"Ann");
  loaded.SetModDate(u"D:20210102030405Z");
  EXPECT_EQ(loaded.SerializePacket(), asLoaded);
}

TEST(Xmp, WritesReplaceForeignShapesInTheLastMatchingDescription) {
  TMarlockPDFLibraryXMP xmp;
  xmp.LoadPacket(kForeignPacket);
  xmp.SetAuthor(u"Carol");
  xmp.SetTitle(u"New title");
  xmp.SetProducer(u"Element Producer");
  const TParsed p(xmp.SerializePacket());
  ASSERT_TRUE(p.Ok());
  const std::string d = kDesc;

  // Bag with two items -> Seq with one; several languages -> one x-default item.
  EXPECT_EQ(p.Count(d + "/dc:creator"), 1);
  EXPECT_EQ(p.Count(d + "/dc:creator/rdf:Bag"), 0);
  EXPECT_EQ(p.Count(d + "/dc:creator/rdf:Seq/rdf:li"), 1);
  EXPECT_EQ(p.String(d + "/dc:creator/rdf:Seq/rdf:li"), "Carol");
  EXPECT_EQ(p.Count(d + "/dc:title/rdf:Alt/rdf:li"), 1);
  EXPECT_EQ(p.String(d + "/dc:title/rdf:Alt/rdf:li[@xml:lang='x-default']"), "New title");

  // The dc properties went to the last dc description (prefix d), not the first.
  EXPECT_EQ(p.Count(d + "[4]/dc:title"), 1);
  EXPECT_EQ(p.Count(d + "[3]/dc:title"), 0);
  EXPECT_EQ(p.Count(d + "[4]/dc:subject"), 1);  // untouched properties stay

  // The attribute form stays beside the new child element.
  EXPECT_EQ(p.String(d + "/@pdf:Producer"), "Attr Producer");
  EXPECT_EQ(p.String(d + "/pdf:Producer"), "Element Producer");
  EXPECT_EQ(p.Count(d), 4);
}

TEST(Xmp, EmptySubjectsRemoveTheirProperty) {
  TMarlockPDFLibraryXMP xmp;
  xmp.SetDublinCoreSubject(u"tag");
  xmp.SetMediaManagementSubject(u"mm");
  {
    const TParsed p(xmp.SerializePacket());
    EXPECT_EQ(p.String(std::string(kDesc) + "/dc:subject/rdf:Bag/rdf:li"), "tag");
    EXPECT_EQ(p.String(std::string(kDesc) + "/xmpMM:subject/rdf:Seq/rdf:li"), "mm");
    // xmpMM gets a description of its own.
    EXPECT_EQ(p.Count(kDesc), 4);
  }
  xmp.SetDublinCoreSubject(u"");
  xmp.SetMediaManagementSubject(u"");
  const TParsed p(xmp.SerializePacket());
  EXPECT_EQ(p.Count("//dc:subject"), 0);
  EXPECT_EQ(p.Count("//xmpMM:subject"), 0);

  // And in a loaded packet.
  TMarlockPDFLibraryXMP loaded;
  loaded.LoadPacket(kForeignPacket);
  loaded.SetDublinCoreSubject(u"");
  EXPECT_EQ(TParsed(loaded.SerializePacket()).Count("//dc:subject"), 0);
}

TEST(Xmp, PdfDatesBecomeXmpDates) {
  struct Case {
    const char16_t* pdf;
    const char16_t* xmp;
  } cases[] = {
      {u"D:20240131235959+01'00'", u"2024-01-31T23:59:59+01:00"},
      {u"D:20240131235959-05'30", u"2024-01-31T23:59:59-05:30"},
      {u"D:20240131235959Z", u"2024-01-31T23:59:59Z"},
      {u"D:20240131235959Z00'00'", u"2024-01-31T23:59:59Z"},
      {u"2024-01-31T23:59:59Z", u"2024-01-31T23:59:59Z"},  // no D: - unchanged
      {u"yesterday", u"yesterday"},
      // Short or zone-less forms are not in the full form: kept as they are.
      {u"D:2019", u"D:2019"},
      {u"D:20240131235959", u"D:20240131235959"},
      {u"D:2024013123595+01'00'", u"D:2024013123595+01'00'"},
      {u"D:20240131235959+1'00'", u"D:20240131235959+1'00'"},
      {u"D:", u"D:"},
      {u"", u""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TMarlockPDFLibraryXMP::PdfDateToXmp(c.pdf), Text(c.xmp)) << Utf8(c.pdf);

  TMarlockPDFLibraryXMP xmp;
  xmp.SetModDate(u"D:20240131235959+01'00'");
  xmp.SetCreationDate(u"D:20240101000000Z");
  EXPECT_EQ(xmp.ModDate(), u"2024-01-31T23:59:59+01:00");
  const TParsed p(xmp.SerializePacket());
  EXPECT_EQ(p.String(std::string(kDesc) + "/xmp:ModifyDate"), "2024-01-31T23:59:59+01:00");
  EXPECT_EQ(p.String(std::string(kDesc) + "/xmp:CreateDate"), "2024-01-01T00:00:00Z");
}

TEST(Xmp, TextRoundTripsAndMarkupIsEscaped) {
  const Text title = u"\u62a5\u544a \U0001F600 \u00e9t\u00e9";
  const Text author = u"<a & b> \"q\" 'r' ]]>";
  TMarlockPDFLibraryXMP xmp;
  xmp.SetTitle(title);
  xmp.SetAuthor(author);
  xmp.SetKeywords(u"x</pdf:Keywords><evil/>");
  const Bytes out = xmp.SerializePacket();
  EXPECT_NE(out.find(Utf8(title)), Bytes::npos);  // raw UTF-8, not character references
  EXPECT_NE(out.find("&lt;a &amp; b&gt;"), Bytes::npos);
  EXPECT_EQ(out.find("<evil"), Bytes::npos);

  const TParsed p(out);
  ASSERT_TRUE(p.Ok());
  EXPECT_EQ(p.String(std::string(kDesc) + "/dc:creator/rdf:Seq/rdf:li"), Utf8(author));
  TMarlockPDFLibraryXMP again;
  again.LoadPacket(out);
  EXPECT_EQ(again.Title(), title);
  EXPECT_EQ(again.Author(), author);
  EXPECT_EQ(again.Keywords(), u"x</pdf:Keywords><evil/>");
}

TEST(Xmp, CharactersXmlCannotCarryAreLeftOutOfTheTree) {
  TMarlockPDFLibraryXMP xmp;
  const Text value =
      Text(u"a") + char16_t{0x01} + u"b" + char16_t{0xFFFF} + u"c" + char16_t{0xD800} + u"d\tx";
  xmp.SetTitle(value);
  EXPECT_EQ(xmp.Title(), value);  // the cache keeps what was set
  const Bytes out = xmp.SerializePacket();
  const TParsed p(out);
  ASSERT_TRUE(p.Ok()) << out;
  EXPECT_EQ(p.String(std::string(kDesc) + "/dc:title/rdf:Alt/rdf:li"), "abc\xEF\xBF\xBD" "d\tx");
}

TEST(Xmp, BadPacketsKeepTheTreeInHand) {
  const Bytes defaults = TMarlockPDFLibraryXMP().SerializePacket();
  const std::string deep = std::string(100000, '<') + "a";
  std::string nested;
  for (int i = 0; i < 5000; ++i) nested += "<a>";
  const Bytes bad[] = {
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF",  // cut short
      "not xml at all",
      Bytes("\0\0\0", 3),
      deep,
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" + nested,  // far beyond libxml2's depth limit
  };
  for (const Bytes& b : bad) {
    TMarlockPDFLibraryXMP xmp;
    xmp.LoadPacket(b);
    EXPECT_TRUE(xmp.LoadFailed());
    EXPECT_EQ(xmp.SerializePacket(), defaults);
    xmp.SetTitle(u"Still works");
    EXPECT_EQ(TParsed(xmp.SerializePacket()).String(std::string(kDesc) + "/dc:title"), "Still works");
  }

  // After a good load a bad one changes neither the tree nor the values.
  TMarlockPDFLibraryXMP xmp;
  xmp.LoadPacket(kForeignPacket);
  const Bytes good = xmp.SerializePacket();
  xmp.LoadPacket("<broken");
  EXPECT_TRUE(xmp.LoadFailed());
  EXPECT_EQ(xmp.Title(), u"Hello");
  EXPECT_EQ(xmp.SerializePacket(), good);

  // NUL padding after the packet, as some writers leave in the stream, is no reason to fail.
  xmp.LoadPacket(Bytes(kForeignPacket) + Bytes(16, '\0'));
  EXPECT_FALSE(xmp.LoadFailed());
  EXPECT_EQ(xmp.SerializePacket(), good);

  // Empty bytes are no packet: nothing happens.
  xmp.LoadPacket("");
  EXPECT_EQ(xmp.SerializePacket(), good);
}

TEST(Xmp, PacketsAreParsedWithoutEntitiesNetworkOrForeignEncodings) {
  // External entity: not loaded.
  TMarlockPDFLibraryXMP xxe;
  xxe.LoadPacket(R"(<?xml version="1.0"?><!DOCTYPE x:xmpmeta [<!ENTITY e SYSTEM "file:///etc/passwd">]>
<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<rdf:Description xmlns:pdf="http://ns.adobe.com/pdf/1.3/"><pdf:Producer>&e;</pdf:Producer>
</rdf:Description></rdf:RDF></x:xmpmeta>)");
  EXPECT_EQ(xxe.SerializePacket().find("root:"), Bytes::npos);
  EXPECT_EQ(xxe.Producer().find(u"root:"), Text::npos);

  // Entity expansion bomb: ends quickly, nothing expanded.
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE x:xmpmeta [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int i = 1; i < 12; ++i)
    bomb += "<!ENTITY a" + std::to_string(i) + " \"" + [&] {
      std::string s;
      for (int k = 0; k < 10; ++k) s += "&a" + std::to_string(i - 1) + ";";
      return s;
    }() + "\">";
  bomb += "]><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
          "22-rdf-syntax-ns#\"><rdf:Description xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">"
          "<pdf:Producer>&a11;</pdf:Producer></rdf:Description></rdf:RDF></x:xmpmeta>";
  TMarlockPDFLibraryXMP lol;
  lol.LoadPacket(bomb);
  EXPECT_LT(lol.Producer().size(), 1000u);
  EXPECT_LT(lol.SerializePacket().size(), 100000u);

  // A declaration naming another encoding does not change how the UTF-8 bytes read;
  // ill-formed UTF-8 becomes U+FFFD.
  TMarlockPDFLibraryXMP enc;
  enc.LoadPacket("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                 "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                 "<rdf:Description xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">"
                 "<pdf:Producer>\xC3\xA9 \xFF!</pdf:Producer></rdf:Description></rdf:RDF></x:xmpmeta>");
  EXPECT_FALSE(enc.LoadFailed());
  EXPECT_EQ(enc.Producer(), u"\u00e9 \uFFFD!");
}

TEST(Xmp, PacketWithoutXmpmetaIsKeptAsLoaded) {
  TMarlockPDFLibraryXMP xmp;
  xmp.SetTitle(u"Before");
  xmp.LoadPacket(R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:format>x</dc:format></rdf:Description>
</rdf:RDF>)");
  EXPECT_FALSE(xmp.LoadFailed());
  EXPECT_EQ(xmp.Title(), u"Before");  // nothing read
  const Bytes loaded = xmp.SerializePacket();
  xmp.SetTitle(u"After");
  EXPECT_EQ(xmp.SerializePacket(), loaded);
  EXPECT_EQ(TParsed(loaded).String("/rdf:RDF/rdf:Description/dc:format"), "x");
}

TEST(Xmp, ExiftoolReadsTheStoredPacket) {
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
  TMarlockPDFLibraryXMP xmp;
  xmp.SetTitle(u"Quarterly \u62a5\u544a");
  xmp.SetAuthor(u"Ann & Bob");
  xmp.SetModDate(u"D:20240131235959+01'00'");
  const test::TempFile file(xmp.SerializePacket(), ".xmp");
  const test::CommandResult r = test::RunCommand(
      "exiftool -charset UTF8 -s -s -XMP:Title -XMP:Creator -XMP:ModifyDate " +
      test::ShellQuote(file.Path()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Title: Quarterly \xE6\x8A\xA5\xE5\x91\x8A"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Creator: Ann & Bob"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ModifyDate: 2024:01:31 23:59:59+01:00"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace pagelume
