#include "engine/objects/MarlockPDFLibraryContainers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {
namespace {

namespace fs = std::filesystem;

std::vector<Bytes> StringsOf(const TKavrelStringList& l) {
  std::vector<Bytes> out;
  for (int i = 0; i < l.Count(); ++i) out.push_back(l.Strings(i));
  return out;
}

// ---- String lists ----------------------------------------------------------------

TEST(StringList, KeepsOrderAndCarriesObjects) {
  TKavrelStringList l;
  int a = 1, b = 2;
  EXPECT_EQ(l.Add("zeta"), 0);
  EXPECT_EQ(l.AddObject("alpha", &a), 1);
  EXPECT_EQ(l.AddObject("mid", &b), 2);
  EXPECT_EQ(StringsOf(l), (std::vector<Bytes>{"zeta", "alpha", "mid"}));
  EXPECT_EQ(l.Objects(0), nullptr);
  EXPECT_EQ(l.ObjectAs<int>(1), &a);
  EXPECT_EQ(l.Objects(3), nullptr);
  EXPECT_EQ(l.Objects(-1), nullptr);
  l.SetObject(0, &b);
  l.SetObject(7, &a);  // ignored
  EXPECT_EQ(l.Objects(0), &b);
  EXPECT_THROW(l.Strings(3), EPDFError);
  EXPECT_THROW(l.Strings(-1), EPDFError);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Capacity(), 0);
  EXPECT_THROW(l.Strings(0), EPDFError);
}

TEST(StringList, ManyItemsKeepTheirOrder) {
  TKavrelStringList l;
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(l.Add(IntToText(i)), i);
  for (int i = 0; i < 5000; i += 997) EXPECT_EQ(l.Strings(i), IntToText(i));
}

TEST(StringList, SetTextLinesAndGetText) {
  const struct {
    const char* name;
    Bytes text;
    std::vector<Bytes> lines;
  } cases[] = {
      {"empty text is one empty line", "", {""}},
      {"cr lf cr lf nul", Bytes("a\r\n\r\nb\0", 6), {"a", "b"}},
      {"only separators", Bytes("\r\n\0\n", 4), {}},
      {"no final separator", "one\ntwo", {"one", "two"}},
      {"lone cr", "x\ry", {"x", "y"}},
      {"spaces kept", " a \n", {" a "}},
  };
  for (const auto& c : cases) {
    TKavrelStringList l;
    l.Add("stale");
    l.SetTextLines(c.text);
    EXPECT_EQ(StringsOf(l), c.lines) << c.name;
  }
  TKavrelStringList l;
  EXPECT_EQ(l.GetText(), "");
  l.Add("a");
  l.Add("b");
  EXPECT_EQ(l.GetText(), "a\r\nb\r\n");
  TKavrelStringList back;
  back.SetTextLines(l.GetText());
  EXPECT_EQ(StringsOf(back), StringsOf(l));
}

TEST(StringList, SortWithAndWithoutCase) {
  int objs[4];
  const char* words[] = {"beta", "Alpha", "alpha2", "Beta0"};
  TKavrelStringList nocase;
  TKavrelCaseSensitiveStringList withcase;
  EXPECT_FALSE(nocase.CaseSensitive());
  EXPECT_TRUE(withcase.CaseSensitive());
  for (int i = 0; i < 4; ++i) {
    nocase.AddObject(words[i], &objs[i]);
    withcase.AddObject(words[i], &objs[i]);
  }
  nocase.Sort();
  withcase.Sort();
  EXPECT_EQ(StringsOf(nocase), (std::vector<Bytes>{"Alpha", "alpha2", "beta", "Beta0"}));
  EXPECT_EQ(StringsOf(withcase), (std::vector<Bytes>{"Alpha", "Beta0", "alpha2", "beta"}));
  // Objects travel with their strings.
  EXPECT_EQ(nocase.Objects(0), &objs[1]);
  EXPECT_EQ(withcase.Objects(1), &objs[3]);
}

// ---- Integer lists -----------------------------------------------------------------

TEST(IntegerList, AddGetIndexOfSort) {
  TKavrelIntegerList l;
  for (int32_t v : {5, INT32_MAX, -3, 5, INT32_MIN}) l.Add(v);
  EXPECT_EQ(l.Count(), 5);
  EXPECT_EQ(l.Get(1), INT32_MAX);
  EXPECT_EQ(l.IndexOf(5), 0);
  EXPECT_EQ(l.IndexOf(42), -1);
  EXPECT_THROW(l.Get(5), EPDFError);
  EXPECT_THROW(l.Get(-1), EPDFError);
  // Values 2^31 and more apart still sort correctly.
  l.Sort();
  const std::vector<int32_t> expected{INT32_MIN, -3, 5, 5, INT32_MAX};
  for (int i = 0; i < l.Count(); ++i) EXPECT_EQ(l.Get(i), expected[i]) << i;
}

TEST(SortedInt64List, NextAbove) {
  TKVLSortedInt64List l;
  for (int64_t v : {30, 10, 20}) l.Add(v);
  EXPECT_THROW(l.NextAbove(15), EPDFError);  // not sorted yet
  l.Sort();
  const struct {
    int64_t key, expected;
  } cases[] = {{15, 20}, {20, 30}, {30, 30}, {35, 30}, {5, 10}, {10, 20}, {INT64_MIN, 10}, {INT64_MAX, 30}};
  for (const auto& c : cases) EXPECT_EQ(l.NextAbove(c.key), c.expected) << c.key;

  TKVLSortedInt64List dup;
  for (int64_t v : {10, 20, 20, 20, 30}) dup.Add(v);  // ascending: usable without Sort
  EXPECT_EQ(dup.NextAbove(20), 30);
  EXPECT_EQ(dup.NextAbove(19), 20);
  TKVLSortedInt64List tail;
  for (int64_t v : {10, 20, 20}) tail.Add(v);
  EXPECT_EQ(tail.NextAbove(20), 20);

  TKVLSortedInt64List empty;
  EXPECT_THROW(empty.NextAbove(0), EPDFError);
}

TEST(SortedInt64List, GrowsPastInitialCapacity) {
  TKVLSortedInt64List l;
  for (int64_t v = 5000; v > 0; --v) l.Add(v * 4'000'000'000LL);
  l.Sort();
  EXPECT_EQ(l.Count(), 5000);
  EXPECT_EQ(l.Get(0), 4'000'000'000LL);
  EXPECT_EQ(l.NextAbove(4'000'000'000LL), 8'000'000'000LL);
  EXPECT_THROW(l.Get(5000), EPDFError);
}

TEST(IntegerPairList, SortAndLookup) {
  TKVLIntegerPairList l;
  for (int i = 2999; i >= 0; --i) l.AddPair(i * 2, i);
  l.AddPair(10, -1);  // a second pair with key 10, added later
  EXPECT_EQ(l.Lookup(10, -99), 5);  // before sorting: scanned, first pair wins
  l.SortByKey();
  EXPECT_EQ(l.Count(), 3001);
  EXPECT_EQ(l.KeyAt(0, -1), 0);
  EXPECT_EQ(l.ValueAt(3000, -1), 2999);
  EXPECT_EQ(l.KeyAt(3001, -7), -7);
  EXPECT_EQ(l.ValueAt(-1, -7), -7);
  const struct {
    int32_t key, expected;
  } cases[] = {{0, 0}, {10, 5}, {5998, 2999}, {7, -99}, {-2, -99}, {6000, -99}};
  for (const auto& c : cases) EXPECT_EQ(l.Lookup(c.key, -99), c.expected) << c.key;
  l.Clear();
  EXPECT_EQ(l.Lookup(0, -99), -99);
}

TEST(SortedUniqueIntegerList, MarkNewAndContains) {
  TKVLSortedUniqueIntegerList s;
  EXPECT_FALSE(s.Contains(70000));
  EXPECT_TRUE(s.MarkNew(70000));
  EXPECT_FALSE(s.MarkNew(70000));
  EXPECT_TRUE(s.Contains(70000));
  EXPECT_FALSE(s.Contains(70001));
  EXPECT_FALSE(s.Contains(4464));  // same low half-word, other page
  EXPECT_TRUE(s.MarkNew(0));
  EXPECT_TRUE(s.MarkNew(UINT32_MAX));
  EXPECT_TRUE(s.Contains(UINT32_MAX));
  s.Clear();
  EXPECT_FALSE(s.Contains(70000));
  EXPECT_TRUE(s.MarkNew(70000));
}

// ---- File stream ---------------------------------------------------------------------

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "pagelume-fs-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Text Name(const char* leaf) const { return Utf8ToText((dir_ / leaf).string()); }
  void WriteFile(const char* leaf, const std::string& data) const {
    std::ofstream(dir_ / leaf, std::ios::binary) << data;
  }
  std::string ReadFile(const char* leaf) const {
    std::ifstream in(dir_ / leaf, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(FileStreamTest, MissingFileRaisesError) {
  try {
    TKavrelWideFileStream f(Name("missing.pdf"), kFileShareDenyWrite);
    FAIL() << "opened a missing file";
  } catch (const EFileCreateError& e) {
    EXPECT_STREQ(e.what(), "Error");
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing.pdf"));
}

TEST_F(FileStreamTest, ModeValidity) {
  WriteFile("a.bin", "abc");
  const uint32_t valid[] = {0x00, 0x01, 0x02, 0x10, 0x20, 0x22, 0x30, 0x40, 0x42};
  for (uint32_t m : valid) EXPECT_NO_THROW(TKavrelWideFileStream(Name("a.bin"), m)) << std::hex << m;
  const uint32_t invalid[] = {0x03, 0x23, 0x50, 0xF0, 0x04, 0x100, 0xFF00, 0xFFFE};
  for (uint32_t m : invalid)
    EXPECT_THROW(TKavrelWideFileStream(Name("a.bin"), m), EFileCreateError) << std::hex << m;
  EXPECT_EQ(ReadFile("a.bin"), "abc");
}

TEST_F(FileStreamTest, CreateTruncatesAndReadsBack) {
  WriteFile("out.pdf", "old content that must go");
  {
    TKavrelWideFileStream f(Name("out.pdf"), kFileCreate);
    EXPECT_EQ(f.Size(), 0);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Seek(6, TSeekOrigin::Beginning), 6);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(f.Read(buf, sizeof buf), 0);  // at end
    EXPECT_EQ(f.Seek(-5, TSeekOrigin::End), 6);
    EXPECT_EQ(f.Seek(-1, TSeekOrigin::Current), 5);
    EXPECT_EQ(f.Position(), 5);
    EXPECT_EQ(f.Seek(-1, TSeekOrigin::Beginning), -1);
  }
  EXPECT_EQ(ReadFile("out.pdf"), "hello world");
}

TEST_F(FileStreamTest, SixtyFourBitOffsets) {
  TKavrelWideFileStream f(Name("big.bin"), kFileCreate);
  const int64_t far = 5'000'000'000LL;  // past 4 GiB; sparse, so cheap
  ASSERT_EQ(f.Seek(far, TSeekOrigin::Beginning), far);
  ASSERT_EQ(f.Write("x", 1), 1);
  EXPECT_EQ(f.Size(), far + 1);
  EXPECT_EQ(f.Seek(-1, TSeekOrigin::End), far);
  char c = 0;
  EXPECT_EQ(f.Read(&c, 1), 1);
  EXPECT_EQ(c, 'x');
}

TEST_F(FileStreamTest, TransfersFailQuietlyAgainstTheAccessMode) {
  WriteFile("ro.bin", "data");
  TKavrelWideFileStream reader(Name("ro.bin"), kFileOpenRead | kFileShareDenyWrite);
  EXPECT_EQ(reader.Write("zz", 2), 0);
  TKavrelWideFileStream writer(Name("ro.bin"), kFileOpenWrite | kFileShareDenyNone);
  char buf[4];
  EXPECT_EQ(writer.Read(buf, 4), 0);
  EXPECT_EQ(writer.Write("DA", 2), 2);
  // A second reader shares the file with the first.
  TKavrelWideFileStream second(Name("ro.bin"), kFileOpenRead | kFileShareDenyWrite);
  EXPECT_EQ(second.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "DAta");
  EXPECT_EQ(reader.Read(buf, 4), 4);
}

TEST_F(FileStreamTest, NonAsciiUtf16NameReachesTheDisk) {
  const Text leaf = u"Bericht \u2013 \u00DCbersicht \u4E2D\u6587 \U0001F600.pdf";
  const Text name = Utf8ToText(dir_.string()) + u"/" + leaf;
  {
    auto f = OpenFileStream(name, kFileCreate);
    EXPECT_EQ(f->Write("%PDF-1.4", 8), 8);
  }
  const Bytes utf8Leaf = TextToUtf8(leaf);
  EXPECT_TRUE(fs::exists(dir_ / utf8Leaf));
  EXPECT_EQ(ReadFile(utf8Leaf.c_str()), "%PDF-1.4");
  EXPECT_TRUE(FileExists(name));
  EXPECT_TRUE(CanOpen(name, static_cast<int>(kFileShareDenyWrite)));
  EXPECT_TRUE(DeleteFileByName(name));
  EXPECT_FALSE(FileExists(name));
  EXPECT_FALSE(DeleteFileByName(name));
}

TEST_F(FileStreamTest, RefusesDirectoriesAndCutNames) {
  const Text dirName = Utf8ToText(dir_.string());
  EXPECT_FALSE(FileExists(dirName));
  EXPECT_THROW(TKavrelWideFileStream(dirName, kFileOpenRead), EFileCreateError);
  EXPECT_THROW(TKavrelWideFileStream(u"", kFileCreate), EFileCreateError);
  // A NUL would cut the name short and create "cut" instead.
  const Text withNul = Name("cut") + Text(1, u'\0') + u"rest";
  EXPECT_THROW(TKavrelWideFileStream(withNul, kFileCreate), EFileCreateError);
  EXPECT_FALSE(fs::exists(dir_ / "cut"));
  EXPECT_FALSE(FileExists(withNul));
}

TEST_F(FileStreamTest, CanOpenCreatesWithMinusOne) {
  WriteFile("keep.bin", "12345");
  EXPECT_FALSE(CanOpen(Name("new.bin"), static_cast<int>(kFileShareDenyWrite)));
  EXPECT_TRUE(CanOpen(Name("new.bin"), -1));
  EXPECT_TRUE(fs::exists(dir_ / "new.bin"));
  EXPECT_TRUE(CanOpen(Name("keep.bin"), kFileOpenReadWrite));
  EXPECT_EQ(ReadFile("keep.bin"), "12345");
  EXPECT_TRUE(CanOpen(Name("keep.bin"), -1));
  EXPECT_EQ(ReadFile("keep.bin"), "");
  EXPECT_FALSE(CanOpen(Name("keep.bin"), -2));
}

TEST_F(FileStreamTest, FullPathAndTempFolder) {
  const fs::path cwd = fs::current_path();
  EXPECT_EQ(TextToUtf8(FullPath(u"doc.pdf")), (cwd / "doc.pdf").string());
  EXPECT_EQ(TextToUtf8(FullPath(u"/a/b/../c/./d.pdf")), "/a/c/d.pdf");
  EXPECT_EQ(FullPath(u""), u"");

  const char* old = getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir_.c_str(), 1);
  EXPECT_EQ(TextToUtf8(TempFolder()), dir_.string() + "/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempFolder(), u"/tmp/");
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace pagelume
