// The page tree of a loaded document: finding pages through /Kids with its repairs,
// the engine content stream of the selected page, and the page size with inherited
// and missing media boxes.
#include "engine/document/MarlockPDFLibraryPageTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::BuildPdf;

std::unique_ptr<TPDFDocument> LoadOk(const std::vector<std::string>& objects, const std::string& trailer = "/Root 1 0 R") {
  auto doc = std::make_unique<TPDFDocument>();
  EXPECT_EQ(doc->LoadFromBytes(BuildPdf(objects, trailer), u""), 0);
  return doc;
}

// The object number of a page dictionary, 0 for none.
int32_t NumberOf(const TPDFDictionary* d) { return d && d->HasNumber ? d->OwnNumber : 0; }

struct Size {
  double w, h;
};

TEST(PageTree, SizeFromMediaBox) {
  struct Case {
    const char* name;
    std::vector<std::string> objects;
    Size size;
    bool gainsBox;  // the page gets /MediaBox [0 0 w h]
  };
  const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
  for (const Case& c : std::vector<Case>{
           {"own box", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>"}, {595, 842}, false},
           {"reversed corners", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox [0 792 612 0] >>"}, {612, 792}, false},
           {"box by reference", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox 4 0 R >>", "[10 10 110 60]"}, {100, 50}, false},
           {"inherited two levels up", {catalog, "<< /Type /Pages /Kids [4 0 R] /Count 1 /MediaBox [0 0 300 400] >>",
                                        "<< /Type /Page /Parent 4 0 R >>",
                                        "<< /Type /Pages /Kids [5 0 R] /Count 1 /Parent 2 0 R >>",
                                        "<< /Type /Pages /Kids [3 0 R] /Count 1 /Parent 4 0 R >>"}, {300, 400}, false},
           {"nowhere", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "<< /Type /Page /Parent 2 0 R >>"},
            {612, 792}, true},
           {"box of the wrong type", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                      "<< /Type /Page /Parent 2 0 R /MediaBox /Letter >>"}, {612, 792}, true},
           {"parent cycle", {catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 4 0 R >>", "<< /Type /Pages /Parent 5 0 R >>",
                             "<< /Type /Pages /Parent 4 0 R >>"}, {612, 792}, true},
       }) {
    auto doc = LoadOk(c.objects);
    TPDFPageTree& tree = *doc->PageTree;
    ASSERT_EQ(tree.SelectedPageNumber(), 1) << c.name;
    EXPECT_DOUBLE_EQ(tree.PageWidth(), c.size.w) << c.name;
    EXPECT_DOUBLE_EQ(tree.PageHeight(), c.size.h) << c.name;
    TPDFArray* box = As<TPDFArray>(tree.SelectedPage()->Get("MediaBox", false));
    if (c.gainsBox) {
      ASSERT_NE(box, nullptr) << c.name;
      EXPECT_EQ(box->ToText(), "[ 0 0 612 792 ]") << c.name;
    }
  }
}

TEST(PageTree, FindsPagesByAnnouncedCounts) {
  // Root: a subtree announcing 2 pages (really 3), then page 9.
  auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 3 >>",
                     "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R] /Count 2 /Parent 2 0 R >>",
                     "<< /Type /Page /Parent 3 0 R >>", "<< /Type /Page /Parent 3 0 R >>",
                     "<< /Type /Page /Parent 3 0 R >>", "<< /Type /Catalog >>", "<< /Type /Catalog >>",
                     "<< /Type /Page /Parent 2 0 R >>"});
  TPDFPageTree& tree = *doc->PageTree;
  EXPECT_EQ(tree.PageCount(), 3);
  EXPECT_EQ(NumberOf(tree.FindPage(1)), 4);
  EXPECT_EQ(NumberOf(tree.FindPage(2)), 5);
  EXPECT_EQ(NumberOf(tree.ParentNode()), 3);
  EXPECT_EQ(NumberOf(tree.FindPage(3)), 9);  // the subtree is skipped by its count
  EXPECT_EQ(NumberOf(tree.ParentNode()), 2);
  EXPECT_EQ(tree.FindPage(0), nullptr);
  EXPECT_EQ(tree.FindPage(4), nullptr);
}

TEST(PageTree, FlatTreeFindsPagesWithoutType) {
  auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
                     "<< /Type /Page /Parent 2 0 R >>", "<< /Parent 2 0 R /Contents 5 0 R >>",
                     "<< /Length 0 >>\nstream\n\nendstream"});
  EXPECT_EQ(NumberOf(doc->PageTree->FindPage(2)), 4);
}

TEST(PageTree, KidsCyclesEnd) {
  auto doc = std::make_unique<TPDFDocument>();
  // 3's /Kids lead back to the root's /Kids; page 2 does not exist.
  const int result = doc->LoadFromBytes(
      BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids 4 0 R /Count 5 >>",
                "<< /Type /Pages /Kids 4 0 R /Count 5 >>", "[5 0 R 3 0 R]", "<< /Type /Page >>"},
               "/Root 1 0 R"),
      u"");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(NumberOf(doc->PageTree->FindPage(1)), 5);
  EXPECT_EQ(doc->PageTree->FindPage(2), nullptr);
  EXPECT_EQ(doc->PageTree->FindPage(5), nullptr);
}

TEST(PageTree, MissingKidsBecomeBlankPages) {
  auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Kids [3 0 R 40 0 R 4 0 R] /Count 2 >>",
                     "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 2 0 R >>"});
  TPDFPageTree& tree = *doc->PageTree;
  // The walk for page 2 repairs the missing element and goes on without counting it.
  TPDFDictionary* second = tree.FindPage(2);
  EXPECT_EQ(NumberOf(second), 4);
  auto* kids = doc->GetPagesRoot()->GetArray("Kids");
  auto* repaired = As<TPDFDictionary>(kids->Item(1) ? As<TPDFIndRef>(kids->Item(1))->Resolve() : nullptr);
  ASSERT_NE(repaired, nullptr);
  EXPECT_EQ(repaired->TypeName(), "Page");
  EXPECT_EQ(As<TPDFIndRef>(repaired->Get("Parent", false))->RefNumber, 2);
  EXPECT_EQ(repaired->GetArray("MediaBox")->ToText(), "[ 0 0 612 792 ]");
  // Later walks count it.
  EXPECT_EQ(tree.FindPage(2), repaired);
}

TEST(PageTree, HugeCountAllocatesNothing) {
  auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>",
                     "<< /Type /Page /Parent 2 0 R >>"});
  TPDFPageTree& tree = *doc->PageTree;
  EXPECT_EQ(tree.PageCount(), 2147483647);
  EXPECT_EQ(NumberOf(tree.FindPage(1)), 3);
  EXPECT_EQ(tree.FindPage(2000000000), nullptr);
  tree.SelectPage(2147483647);
  EXPECT_EQ(tree.SelectedPageNumber(), 0);
  EXPECT_DOUBLE_EQ(tree.PageWidth(), 0);
}

TEST(PageTree, WrongPagesTypeUsesTheLastPagesDictionary) {
  auto doc = LoadOk({"<< /Type /Catalog /Pages 3 0 R >>", "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
                     "<< /Type /Page /Kids [4 0 R] /Count 1 >>", "<< /Type /Page /Parent 2 0 R >>"});
  EXPECT_EQ(NumberOf(doc->PageTree->Root()), 2);
  EXPECT_EQ(NumberOf(doc->PageTree->SelectedPage()), 4);
}

// The number of the last element of page 1's /Contents, and how many there are.
std::pair<int32_t, int> LastContent(TPDFDocument& doc) {
  auto* contents = doc.PageTree->SelectedPage()->GetArray("Contents");
  if (contents == nullptr) return {0, 0};
  auto* ref = As<TPDFIndRef>(contents->Item(contents->Count() - 1));
  return {ref ? ref->RefNumber : -1, contents->Count()};
}

TEST(PageTree, EngineContentStream) {
  const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
  const std::string pages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::string> more;
    int count;      // elements of /Contents after the load
    int32_t last;   // the last element's number
  };
  const std::string engine = "<< /LC /eZLT /Length 0 >>\nstream\n\nendstream";
  for (const Case& c : std::vector<Case>{
           {"no contents", "<< /Type /Page >>", {}, 1, 4},
           {"one stream", "<< /Type /Page /Contents 4 0 R >>", {"<< /Length 3 >>\nstream\nq Q\nendstream"}, 2, 5},
           {"array by reference", "<< /Type /Page /Contents 4 0 R >>", {"[5 0 R]", "<< /Length 0 >>\nstream\n\nendstream"}, 2, 6},
           {"already the engine's", "<< /Type /Page /Contents [4 0 R] >>", {engine}, 1, 4},
           {"a missing element", "<< /Type /Page /Contents [9 0 R 4 0 R] >>", {engine}, 2, 4},
       }) {
    std::vector<std::string> objects = {catalog, pages, c.page};
    objects.insert(objects.end(), c.more.begin(), c.more.end());
    auto doc = LoadOk(objects);
    const auto [last, count] = LastContent(*doc);
    EXPECT_EQ(count, c.count) << c.name;
    EXPECT_EQ(last, c.last) << c.name;
    const auto& streams = doc->PageTree->ContentStreams();
    ASSERT_EQ(int(streams.size()), c.count) << c.name;
    EXPECT_EQ(streams.back()->StreamDict->GetName("LC")->NameBytes, "eZLT") << c.name;
    // Selecting the page again adds nothing.
    doc->PageTree->SelectPage(1);
    EXPECT_EQ(LastContent(*doc).second, c.count) << c.name;
  }
}

TEST(PageTree, FullEngineStreamGetsASuccessor) {
  for (size_t size : {kEngineStreamBytesMax, kEngineStreamBytesMax + 1}) {
    auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                       "<< /Type /Page /Contents [4 0 R] >>",
                       "<< /LC /eZLT /Length " + std::to_string(size) + " >>\nstream\n" + std::string(size, ' ') +
                           "\nendstream"});
    EXPECT_EQ(LastContent(*doc).second, size > kEngineStreamBytesMax ? 2 : 1) << size;
  }
}

TEST(PageTree, ContentsOfAnotherKindAreLeftAlone) {
  auto doc = LoadOk({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Contents (text) >>"});
  EXPECT_EQ(doc->PageTree->SelectedPageNumber(), 1);
  EXPECT_TRUE(doc->PageTree->ContentStreams().empty());
  EXPECT_NE(As<TPDFString>(doc->PageTree->SelectedPage()->Get("Contents", false)), nullptr);
}

}  // namespace
}  // namespace pagelume
