// Flate, ASCII85, ASCIIHex and RunLength decoders, their output caps, and Flate
// against streams written by Ghostscript and read back by qpdf.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "engine/filters/MarlockPDFLibraryAscii85.h"
#include "engine/filters/MarlockPDFLibraryFlate.h"
#include "engine/filters/MarlockPDFLibrarySimpleFilters.h"
#include "tests/support/PdfFixture.h"

namespace pagelume {
namespace {

using test::HaveTool;
using test::ReadWholeFile;
using test::RunCommand;
using test::ShellQuote;
using test::TempFile;

Bytes Zlib(ByteView data, int level = Z_DEFAULT_COMPRESSION) {
  uLongf n = compressBound(uLong(data.size()));
  Bytes out(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &n,
                      reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), level),
            Z_OK);
  out.resize(n);
  return out;
}

// Equality of long byte strings, reported by size and first difference.
::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at " << i;
}

Bytes Pseudorandom(size_t n, uint32_t seed) {
  Bytes s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 24);
  }
  return s;
}

// ---- Flate -------------------------------------------------------------------

TEST(Flate, CompressWritesAZlibStreamThatZlibReads) {
  for (const Bytes& data : {Bytes("abc"), Bytes(100000, 'x'), Pseudorandom(70000, 7)}) {
    Bytes z = FlateCompress(data);
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(uint8_t(z[0]), 0x78);  // zlib header, 32K window, deflate
    uLongf n = uLongf(data.size());
    Bytes back(data.size(), '\0');
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &n,
                         reinterpret_cast<const Bytef*>(z.data()), uLong(z.size())),
              Z_OK);
    EXPECT_TRUE(SameBytes(back, data));
    EXPECT_TRUE(SameBytes(FlateDecompress(z), data));
  }
  EXPECT_EQ(FlateCompress(""), "");
}

TEST(Flate, DamagedStreamsGiveTheirGoodPrefix) {
  const Bytes text = Pseudorandom(50000, 3) + Bytes(50000, 'q');
  const Bytes z = Zlib(text);
  // Cut anywhere: a prefix of the text, never more, never an error.
  for (size_t cut : {size_t(0), size_t(1), size_t(2), z.size() / 3, z.size() / 2, z.size() - 4,
                     z.size() - 1}) {
    Bytes got = FlateDecompress(ByteView(z).substr(0, cut));
    EXPECT_TRUE(SameBytes(got, text.substr(0, got.size()))) << "cut at " << cut;
    if (cut == z.size() - 4) {
      EXPECT_TRUE(SameBytes(got, text)) << "only the checksum missing";
    }
  }
  EXPECT_GT(FlateDecompress(ByteView(z).substr(0, z.size() / 2)).size(), 20000u);

  // A wrong checksum still gives all the data; trailing junk is ignored.
  Bytes badSum = z;
  badSum.back() ^= 1;
  EXPECT_TRUE(SameBytes(FlateDecompress(badSum), text));
  EXPECT_TRUE(SameBytes(FlateDecompress(z + "\r\nendstream"), text));
}

TEST(Flate, DataErrorKeepsEverythingBeforeIt) {
  // The first part ends on a block boundary (full flush); then comes a block of
  // the reserved type 3, which inflate rejects as a data error.
  const Bytes first = Pseudorandom(30000, 9);
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, 6), Z_OK);
  Bytes out(deflateBound(&zs, uLong(first.size())) + 64, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(first.data()));
  zs.avail_in = uInt(first.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  ASSERT_EQ(deflate(&zs, Z_FULL_FLUSH), Z_OK);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_TRUE(SameBytes(FlateDecompress(out + "\x07garbage"), first));
}

TEST(Flate, InputsThatAreNotZlibStreams) {
  // Raw deflate data without header fails at its first bytes.
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes raw(256, '\0');
  Bytes hello = "hello hello hello";
  zs.next_in = reinterpret_cast<Bytef*>(hello.data());
  zs.avail_in = uInt(hello.size());
  zs.next_out = reinterpret_cast<Bytef*>(raw.data());
  zs.avail_out = uInt(raw.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  raw.resize(zs.total_out);
  deflateEnd(&zs);

  EXPECT_EQ(FlateDecompress(raw), "");
  EXPECT_EQ(FlateDecompress(""), "");
  EXPECT_EQ(FlateDecompress("plain text, not compressed"), "");
  EXPECT_EQ(FlateDecompress(Zlib("hello")), "hello");
}

TEST(Flate, PresetDictionaryEndsDecodingWithoutOutput) {
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, 6), Z_OK);
  const Bytes dict = "dictionary words";
  ASSERT_EQ(deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dict.data()), uInt(dict.size())),
            Z_OK);
  Bytes in = "dictionary words again", out(256, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_EQ(FlateDecompress(out), "");
}

TEST(Flate, OutputCapStopsABombWithoutExhaustingMemory) {
  const Bytes bomb = Zlib(Bytes(10 << 20, '\0'), 9);  // 10 MiB of zeros, about 10 KB
  ASSERT_LT(bomb.size(), 20000u);
  Bytes got = FlateDecompress(bomb, 1 << 20);
  EXPECT_EQ(got.size(), size_t(1) << 20);
  EXPECT_EQ(got.find_first_not_of('\0'), Bytes::npos);
  EXPECT_LE(got.capacity(), size_t(3) << 19);
  // Below the cap nothing is cut.
  EXPECT_EQ(FlateDecompress(bomb, 11 << 20).size(), size_t(10) << 20);
}

TEST(Flate, DefaultCapIsTheLargerOfOneGibAnd200TimesTheInput) {
  EXPECT_EQ(DefaultOutputCap(0), kOutputCapFloor);
  EXPECT_EQ(DefaultOutputCap(1000), kOutputCapFloor);
  EXPECT_EQ(DefaultOutputCap(size_t(10) << 20), size_t(2000) << 20);
  EXPECT_EQ(DefaultOutputCap(~size_t(0) / 2), ~size_t(0));  // saturates
  EXPECT_EQ(ResolveOutputCap(kDefaultOutputCap, 5), kOutputCapFloor);
  EXPECT_EQ(ResolveOutputCap(77, 5), 77u);
}

// Deflate blocks that each add 1 MiB of zeros to zeros already written, repeated:
// about 1 KB of input per MiB of output, so a 2.3 MB stream inflates to over 2 GiB.
Bytes HugeZeroBomb(size_t mebibytes) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, 9), Z_OK);
  Bytes zeros(1 << 20, '\0');
  auto chunk = [&](int flush) {
    Bytes out(1 << 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
    zs.avail_in = uInt(zeros.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&zs, flush), Z_OK);
    out.resize(out.size() - zs.avail_out);
    return out;
  };
  Bytes head = chunk(Z_FULL_FLUSH);  // header and a first MiB
  chunk(Z_SYNC_FLUSH);
  Bytes block = chunk(Z_SYNC_FLUSH);  // a block that only refers back to zeros
  deflateEnd(&zs);
  Bytes bomb = head;
  bomb.reserve(head.size() + block.size() * mebibytes);
  for (size_t i = 1; i < mebibytes; ++i) bomb += block;
  return bomb;
}

TEST(Flate, DefaultCapStopsABombBeyond200TimesItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "inflating 1 GiB under the sanitizers takes minutes; the optimised build runs this";
#endif
  const Bytes small = HugeZeroBomb(8);
  ASSERT_EQ(FlateDecompress(small).size(), size_t(8) << 20) << "the repeated block must inflate";

  const Bytes bomb = HugeZeroBomb(2100);  // 2100 MiB of zeros from about 2 MB
  ASSERT_LT(bomb.size() * kOutputCapFactor, kOutputCapFloor);
  Bytes got = FlateDecompress(bomb);
  EXPECT_EQ(got.size(), kOutputCapFloor);
  EXPECT_LE(got.capacity(), kOutputCapFloor + kOutputCapFloor / 8);
}

// ---- ASCII85, ASCIIHex, RunLength ---------------------------------------------

struct DecodeCase {
  const char* name;
  Bytes input;
  Bytes expected;
};

TEST(Ascii85, Cases) {
  const std::vector<DecodeCase> cases = {
      {"hello world", "87cURD]i,\"Ebo80~>", "Hello World!"},
      {"no end marker", "87cURD]i,\"Ebo80", "Hello World!"},
      {"whitespace inside", " 87cU\tRD]i,\r\n\"Ebo 80~>", "Hello World!"},
      {"z group", "z~>", Bytes(4, '\0')},
      {"two digits one byte", "!!~>", Bytes(1, '\0')},
      {"partial groups", "9jqo^BlbD-BleB1DJ+*+F(f,q~>", "Man is distinguished"},
      {"three digits two bytes", "6@!ZaF!,C5+D#8\"BQRfsDCt~>", "Bytes of eighteen."},
      {"four digits three bytes", "@:E^~>", "abc"},
      {"single digit yields nothing", "87cURD]i,\"Ebo80E~>", "Hello World!"},
      {"z drops a partial group", "87cUzs8W-!", Bytes(4, '\0') + "\xFF\xFF\xFF\xFF"},
      {"highest group", "s8W-!", "\xFF\xFF\xFF\xFF"},
      {"group beyond 2^32 wraps", "uuuuu", "\x08\x78\x0E\xC4"},
      {"data after marker ignored", "!!~>87cUR", Bytes(1, '\0')},
      {"stops at other bytes", "87cUR\fD]i,", "Hell"},
      {"stops at NUL", Bytes("87cUR\0D]i,", 10), "Hell"},
      {"empty", "", ""},
      {"marker only", "~>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Ascii85Decode(c.input), c.expected) << c.name;
}

TEST(AsciiHex, Cases) {
  const std::vector<DecodeCase> cases = {
      {"spaced with marker", "48 65 6C 6C 6F>", "Hello"},
      {"odd count padded", "414", "\x41\x40"},
      {"lower case", "6a6B", "jk"},
      {"line breaks and tabs", "4\n8\t6\r5", "He"},
      {"letter beyond F gives zero", "4G41", Bytes("\0A", 2)},
      {"odd invalid digit", "41Z", Bytes("A\0", 2)},
      {"data after marker kept", "41>42", "AB"},
      {"empty", "", ""},
      {"only marker", ">", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AsciiHexDecode(c.input), c.expected) << c.name;
}

TEST(RunLength, Cases) {
  const std::vector<DecodeCase> cases = {
      {"literal then run", "\x02" "abc\xFE" "x\x80", "abcxxx"},
      {"stops at end code", Bytes("\x00" "a\x80\x00" "b", 5), "a"},
      {"no end code", "\x01" "ab\xFF" "c", "abcc"},
      {"longest run", "\x81z", Bytes(128, 'z')},
      {"longest literal", Bytes(1, '\x7F') + Bytes(128, 'k'), Bytes(128, 'k')},
      {"literal cut short", "\x05" "ab", "ab"},
      {"run without its byte", "\x02" "abc\xF0", "abc"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RunLengthDecode(c.input), c.expected) << c.name;
}

TEST(SimpleFilters, EachDecoderStopsAtItsCap) {
  EXPECT_EQ(RunLengthDecode("\x81z\x81z\x81z", 200), Bytes(200, 'z'));
  EXPECT_EQ(RunLengthDecode("\x04" "abcde", 3), "abc");
  EXPECT_EQ(Ascii85Decode("zzzz", 6), Bytes(6, '\0'));
  EXPECT_EQ(Ascii85Decode("87cURD]i,\"Ebo80", 5), "Hello");
  EXPECT_EQ(AsciiHexDecode("414243", 2), "AB");
  EXPECT_EQ(AsciiHexDecode("41424", 2), "AB");
}

// ---- Against streams written by Ghostscript ------------------------------------

// Object number and raw data of each stream in a file whose dictionary contains
// `marker`: the bytes between "stream" + EOL and the next "endstream".
struct RawStream {
  int number;
  Bytes data;
};
std::vector<RawStream> ScanStreams(const Bytes& file, const Bytes& marker) {
  std::vector<RawStream> found;
  size_t at = 0;
  while ((at = file.find(" 0 obj", at)) != Bytes::npos) {
    size_t numStart = file.rfind('\n', at);
    numStart = numStart == Bytes::npos ? 0 : numStart + 1;
    int number = std::atoi(file.c_str() + numStart);
    size_t end = file.find("endobj", at);
    size_t s = file.find("stream", at);
    at += 6;
    if (s == Bytes::npos || end == Bytes::npos || s > end) continue;
    if (file.substr(at, s - at).find(marker) == Bytes::npos) continue;
    s += 6;
    if (file[s] == '\r') ++s;
    if (file[s] == '\n') ++s;
    found.push_back({number, file.substr(s, file.find("endstream", s) - s)});
  }
  return found;
}

const char* kPicture =
    "0 1 19 { /i exch def i 20 div 1 i 20 div sub 0.5 setrgbcolor i 10 mul i 7 mul 60 40 rectfill } for\n"
    "/Helvetica findfont 24 scalefont setfont 0 0 1 setrgbcolor 20 100 moveto (Pagelume) show\n"
    "0 0 0 setrgbcolor 5 setlinewidth 10 10 moveto 190 140 lineto stroke showpage\n";

TEST(FlateOracle, GhostscriptStreamsDecodeAsQpdfDecodesThem) {
  if (!HaveTool("gs") || !HaveTool("qpdf")) GTEST_SKIP() << "needs gs and qpdf";
  TempFile ps(kPicture, ".ps"), pdf, data;
  auto r = RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" +
                      ShellQuote(pdf.Path()) + " " + ShellQuote(ps.Path()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  auto streams = ScanStreams(ReadWholeFile(pdf.Path()), "/FlateDecode");
  ASSERT_FALSE(streams.empty());
  for (const auto& s : streams) {
    r = RunCommand("qpdf --show-object=" + std::to_string(s.number) + " --filtered-stream-data " +
                   ShellQuote(pdf.Path()) + " > " + ShellQuote(data.Path()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(SameBytes(FlateDecompress(s.data), ReadWholeFile(data.Path()))) << "object " << s.number;
  }
}

}  // namespace
}  // namespace pagelume
