// Hostile files: one table of files built to break a reader (deep nesting, cycles,
// absurd counts and lengths, decompression bombs, truncation at every byte). Each row
// runs in a child process through every road that applies: the object parser, quick
// inspection (and the repaired inspection when the quick one refuses), object display,
// the full load and, when it loads, an edit, a save and a reload of the saved file.
// A row fails when a road gives anything but a clear result, when the child dies of a
// signal, when it takes too long, or when its peak memory passes a bound.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "tests/support/PdfFixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define HOSTILE_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOSTILE_SLOW_BUILD 1
#endif
#endif
#if !defined(HOSTILE_SLOW_BUILD) && !defined(__OPTIMIZE__)
#define HOSTILE_SLOW_BUILD 1
#endif

namespace pagelume {
namespace {

// Hang detectors, not benchmarks: the sanitizer and unoptimised builds are several
// times slower.
#ifdef HOSTILE_SLOW_BUILD
constexpr double kRowSecondsMax = 60;
#else
constexpr double kRowSecondsMax = 10;
#endif
constexpr long kPeakMiBDefault = 1536;
// The huge string: a file of 100 MB takes several seconds per road (each a few copies
// of it), too long for the slow builds, which get a smaller one.
#ifdef HOSTILE_SLOW_BUILD
constexpr size_t kBigStringBytes = size_t(16) << 20;
const char* const kBigStringRow = "16 MB string as the /Title";
#else
constexpr size_t kBigStringBytes = size_t(100) << 20;
const char* const kBigStringRow = "100 MB string as the /Title";
#endif
constexpr long kBigStringPeakMiB = long(kBigStringBytes >> 20) * 8 + 256;
constexpr double kBigStringSecondsMax = 6 * kRowSecondsMax;
constexpr size_t kChildMessageMax = 4000;

constexpr int64_t kInt31Max = 2147483647;
const char* const kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const char* const kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const char* const kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

std::string Num(int64_t v) { return std::to_string(v); }

Bytes BigEndian(uint64_t value, int width) {
  Bytes out(size_t(width), '\0');
  for (int i = width - 1; i >= 0; --i, value >>= 8) out[size_t(i)] = char(value & 0xFF);
  return out;
}

Bytes Deflate(ByteView data) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           uLong(data.size()));
  out.resize(size);
  return out;
}

// A file put together object by object; the offsets are kept for the cross-reference
// data written at the end (object numbers of any size, which the fixture's {{xref}}
// would expand to a table row per number).
class Builder {
 public:
  explicit Builder(const std::string& version = "1.7") : out_("%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n") {}

  void Object(int64_t number, ByteView body) {
    offsets_[number] = int64_t(out_.size());
    out_ += Num(number) + " 0 obj\n";
    out_.append(body);
    out_ += "\nendobj\n";
  }
  // `dict` is the dictionary's inside, without /Length.
  void Stream(int64_t number, const std::string& dict, ByteView data) {
    Bytes body = "<< " + dict + " /Length " + Num(int64_t(data.size())) + " >>\nstream\n";
    body.append(data);
    body += "\nendstream";
    Object(number, body);
  }
  int64_t Offset(int64_t number) const { return offsets_.at(number); }
  int64_t Here() const { return int64_t(out_.size()); }
  void Append(ByteView text) { out_.append(text); }

  // A classic table over the objects written, one subsection per run of numbers.
  Bytes Classic(const std::string& trailer) {
    const int64_t at = Here();
    std::map<int64_t, int64_t> rows = offsets_;
    rows[0] = -1;
    out_ += "xref\n";
    for (auto it = rows.begin(); it != rows.end();) {
      auto end = it;
      int64_t count = 0;
      while (end != rows.end() && end->first == it->first + count) ++end, ++count;
      out_ += Num(it->first) + " " + Num(count) + "\n";
      for (; it != end; ++it)
        out_ += it->second < 0 ? "0000000000 65535 f \n" : PadNumber(it->second, 10) + " 00000 n \n";
    }
    out_ += "trailer\n<< " + trailer + " >>\nstartxref\n" + Num(at) + "\n%%EOF\n";
    return out_;
  }
  // Object `number` as a cross-reference stream holding `data`, then startxref.
  Bytes XRefStream(int64_t number, const std::string& dict, ByteView data) {
    const int64_t at = Here();
    Stream(number, "/Type /XRef " + dict, data);
    out_ += "startxref\n" + Num(at) + "\n%%EOF\n";
    return out_;
  }

 private:
  Bytes out_;
  std::map<int64_t, int64_t> offsets_;
};

// Catalog (with `catalogExtra`), pages node and page, then `more` as objects 4, 5, ...
Bytes Basic(const std::string& catalogExtra, const std::vector<Bytes>& more = {},
            const std::string& trailerExtra = "") {
  Builder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
  b.Object(2, kPages);
  b.Object(3, kPage);
  for (size_t i = 0; i < more.size(); ++i) b.Object(int64_t(4 + i), more[i]);
  return b.Classic("/Size " + Num(int64_t(4 + more.size())) + " /Root 1 0 R " + trailerExtra);
}

Bytes StreamObject(const std::string& dict, ByteView data) {
  Bytes body = "<< " + dict + " /Length " + Num(int64_t(data.size())) + " >>\nstream\n";
  body.append(data);
  return body + "\nendstream";
}

// A zlib stream of `prefix` and then `mebibytes` MiB of `fill` bytes: one deflated MiB
// whose blocks are repeated (they decode alike anywhere, as the window holds only that
// byte); the checksum at the end is that of the first MiB.
Bytes FlateBomb(size_t mebibytes, char fill = '\0', ByteView prefix = {}) {
  const Bytes chunk(size_t(1) << 20, fill);
  Bytes buffer(size_t(2) << 20, '\0');
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  auto run = [&](ByteView in, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = uInt(buffer.size());
    deflate(&z, flush);
    return buffer.substr(0, buffer.size() - z.avail_out);
  };
  Bytes out = run(prefix, Z_SYNC_FLUSH);
  const Bytes block = run(chunk, Z_SYNC_FLUSH);
  const Bytes tail = run({}, Z_FINISH);
  deflateEnd(&z);
  for (size_t i = 0; i < mebibytes; ++i) out += block;
  return out + tail;
}

// LZW codes (early change) that define one code after another without a clear code,
// then keep sending the last code of the full table, each time one byte longer.
Bytes LzwNeverCleared(size_t codesWhenFull) {
  Bytes out;
  uint64_t bits = 0;
  int held = 0;
  auto put = [&](uint32_t code, int width) {
    bits = bits << width | code;
    held += width;
    while (held >= 8) out += char((bits >> (held - 8)) & 0xFF), held -= 8;
  };
  int width = 9;
  uint32_t growAt = 510, next = 258;
  put(0, width);
  for (size_t full = 0; full < codesWhenFull;) {
    put(next, width);
    if (next == growAt && width < 12) growAt = (1u << ++width) - 2;
    if (next < 4095)
      ++next;
    else
      ++full;
  }
  if (held > 0) out += char((bits << (8 - held)) & 0xFF);
  return out;
}

// Classic files of three objects plus an information dictionary; one small file read
// from classic data, the other through a cross-reference stream and an object stream.
Bytes SmallClassic() {
  return Basic("", {"<< /Title (Small) /Author <FEFF00410062> /CreationDate (D:20240101000000Z) >>"},
               "/Info 4 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> <0123456789ABCDEF0123456789ABCDEF>]");
}

// Objects 1 and 2 live in object stream 4, whose data `deflate` compresses (given the
// stream's text); 5 is the cross-reference stream.
Bytes SmallWithStreams(const std::function<Bytes(const Bytes&)>& deflate = [](const Bytes& text) {
  return Deflate(text);
}) {
  const Bytes o1 = kCatalog, o2 = kPages;
  const Bytes head = "1 0 2 " + Num(int64_t(o1.size()) + 1) + " ";
  Builder b;
  b.Object(3, kPage);
  b.Stream(4, "/Type /ObjStm /N 2 /First " + Num(int64_t(head.size())) + " /Filter /FlateDecode",
           deflate(head + o1 + " " + o2));
  Bytes rows = BigEndian(0, 1) + BigEndian(0, 4) + BigEndian(0, 2);
  rows += BigEndian(2, 1) + BigEndian(4, 4) + BigEndian(0, 2);
  rows += BigEndian(2, 1) + BigEndian(4, 4) + BigEndian(1, 2);
  rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(3)), 4) + BigEndian(0, 2);
  rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(4)), 4) + BigEndian(0, 2);
  rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Here()), 4) + BigEndian(0, 2);
  return b.XRefStream(5, "/Size 6 /W [1 4 2] /Root 1 0 R", rows);
}

std::vector<Bytes> EveryPrefix(const Bytes& whole) {
  std::vector<Bytes> out;
  for (size_t n = 0; n < whole.size(); ++n) out.push_back(whole.substr(0, n));
  return out;
}

// ---- the roads ------------------------------------------------------------------------------

bool Clear(int32_t code) { return code == kErrorFile || code == kErrorPassword || code == kErrorStructure; }

// Runs every road over one file; appends each unclear result to `faults` and a short
// account of the results to `outcome`.
void RunRoads(const std::string& path, std::string& faults, std::string& outcome) {
  const Text file = Utf8ToText(path);
  auto fault = [&](const std::string& what) { faults += what + "; "; };
  TMarlockPDFLibrary1711 engine;

  const int32_t handle = engine.OpenInspection(file, u"");
  if (handle != 0 ? engine.ErrorCode != kErrorNone : !Clear(engine.ErrorCode))
    fault("OpenInspection gave " + Num(handle) + " with code " + Num(engine.ErrorCode));
  outcome += handle ? "insp ok" : "insp " + Num(engine.ErrorCode);
  if (handle == 0 && engine.ErrorCode == kErrorStructure) {
    const int32_t repaired = engine.OpenRepairedInspection(file, u"");
    if (repaired != 0 ? engine.ErrorCode != kErrorNone : !Clear(engine.ErrorCode))
      fault("OpenRepairedInspection gave " + Num(repaired) + " with code " + Num(engine.ErrorCode));
    outcome += repaired ? ", repaired ok" : ", repaired " + Num(engine.ErrorCode);
  }
  // The trailer and the catalog; a bomb shown decoded on request runs to the filters' cap.
  for (int32_t number : {0, 1}) {
    Bytes shown;
    const int32_t result = engine.ShowObject(file, u"", number, number == 1, shown);
    if (result == kShowFailed ? !Clear(engine.ErrorCode) : result < kShowFound || result > kShowUndecodable)
      fault("ShowObject " + Num(number) + " gave " + Num(result) + " with code " + Num(engine.ErrorCode));
  }

  if (!engine.LoadDocument(file, u"")) {
    if (!Clear(engine.ErrorCode)) fault("LoadDocument failed with code " + Num(engine.ErrorCode));
    outcome += ", load " + Num(engine.ErrorCode);
    return;
  }
  outcome += ", load ok";
  engine.SelectedPageWidth();
  engine.WriteInfoField(2, u"Hostile");
  engine.WritePageLayout(1);
  test::TempFile saved;
  if (!engine.SaveDocument(Utf8ToText(saved.Path()))) {
    outcome += ", save 0";
    return;
  }
  outcome += ", saved";
  TMarlockPDFLibrary1711 again;
  if (!again.LoadDocument(Utf8ToText(saved.Path()), u""))
    fault("the saved file does not load (code " + Num(again.ErrorCode) + ")");
  else if (again.ReadInfoField(2) != u"Hostile")
    fault("the saved file lost the edited title");
  if (!again.OpenInspection(Utf8ToText(saved.Path()), u""))
    fault("the saved file does not open for inspection (code " + Num(again.ErrorCode) + ")");
}

// ---- the table ------------------------------------------------------------------------------

enum class TExpect { Anything, Readable };

struct HostileRow {
  const char* name;
  std::function<std::vector<Bytes>()> files;
  std::function<Bytes()> objectText;  // also given to the object parser alone, when set
  TExpect expect = TExpect::Anything;  // Readable: inspection (or repaired) and load succeed
  long peakMiB = kPeakMiBDefault;
  double secondsMax = kRowSecondsMax;
};

// gtest prints a parameter by its name, not its bytes.
void PrintTo(const HostileRow& row, std::ostream* os) { *os << row.name; }

std::function<std::vector<Bytes>()> One(std::function<Bytes()> make) {
  return [make] { return std::vector<Bytes>{make()}; };
}

std::vector<HostileRow> Rows() {
  std::vector<HostileRow> rows;
  auto add = [&](const char* name, std::function<Bytes()> make, TExpect expect = TExpect::Anything,
                 std::function<Bytes()> objectText = nullptr) {
    rows.push_back({name, One(std::move(make)), std::move(objectText), expect});
  };

  // Too deep for the parser, so the catalog reads as null and the load refuses the file.
  add("10^6 nested arrays", [] { return Basic("/Deep " + Bytes(1000000, '[')); }, TExpect::Anything,
      [] { return Bytes(1000000, '['); });

  add("/Prev cycle through three sections", [] {
    return test::FillTemplate(
        "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
        "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
        "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>\nendobj\n"
        "{{mark:a}}xref\n0 4\n0000000000 65535 f \n{{offset10:1}} 00000 n \n{{offset10:2}} 00000 n \n"
        "{{offset10:3}} 00000 n \ntrailer\n<< /Size 4 /Root 1 0 R /Prev {{pos:c}} >>\n"
        "{{mark:b}}xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 4 /Root 1 0 R /Prev {{pos:a}} >>\n"
        "{{mark:c}}xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 4 /Root 1 0 R /Prev {{pos:b}} >>\n"
        "startxref\n{{pos:c}}\n%%EOF\n");
  }, TExpect::Readable);

  add("xref stream /W [8 8 8] with /Index [0 2^31]", [] {
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, kPages);
    b.Object(3, kPage);
    Bytes rows = BigEndian(0, 8) + BigEndian(0, 8) + BigEndian(65535, 8);
    for (int n = 1; n <= 3; ++n) rows += BigEndian(1, 8) + BigEndian(uint64_t(b.Offset(n)), 8) + BigEndian(0, 8);
    rows += BigEndian(1, 8) + BigEndian(uint64_t(b.Here()), 8) + BigEndian(0, 8);
    return b.XRefStream(4, "/Size 2147483648 /W [8 8 8] /Index [0 2147483648] /Root 1 0 R", rows);
  }, TExpect::Readable);

  add("classic subsection claiming 2^31-1 entries", [] {
    Bytes pdf = Basic("");
    const size_t table = pdf.rfind("xref\n0 4\n");
    pdf.replace(table, 9, "xref\n0 2147483647\n");
    return pdf;
  });

  add("/Length 2^62", [] {
    return Basic("/Metadata 4 0 R",
                 {"<< /Type /Metadata /Subtype /XML /Length 4611686018427387904 >>\nstream\n<x/>\nendstream"});
  }, TExpect::Readable);

  add("/Length far past the end of the file", [] {
    return Basic("/Metadata 4 0 R",
                 {"<< /Type /Metadata /Subtype /XML /Length 1000000000 >>\nstream\n<x/>\nendstream"});
  }, TExpect::Readable);

  add("Flate bomb as XMP metadata", [] {
    return Basic("/Metadata 4 0 R",
                 {StreamObject("/Type /Metadata /Subtype /XML /Filter /FlateDecode", FlateBomb(2048))});
  }, TExpect::Readable);

  add("Flate bomb as the information /Title", [] {
    return Basic("", {"<< /Title 5 0 R >>", StreamObject("/Filter /FlateDecode", FlateBomb(2048))},
                 "/Info 4 0 R");
  }, TExpect::Readable);

  add("Flate bomb as the cross-reference stream", [] {
    // 2 GiB of zeros where a million entries need 4 MB.
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, kPages);
    b.Object(3, kPage);
    return b.XRefStream(4, "/Size 1000000 /W [1 2 1] /Root 1 0 R /Filter /FlateDecode", FlateBomb(2048));
  });

  add("LZW stream that never clears its table", [] {
    return Basic("/Metadata 4 0 R",
                 {StreamObject("/Type /Metadata /Subtype /XML /Filter /LZWDecode", LzwNeverCleared(60000))});
  }, TExpect::Readable);

  // Data of 64 KiB and more goes straight to the file, and once went ahead of the text
  // still buffered before it.
  add("stream of 100 KB written past the output buffer", [] {
    return Basic("/Metadata 4 0 R", {StreamObject("/Type /Metadata /Subtype /XML", Bytes(100000, ' '))});
  }, TExpect::Readable);

  add("/Kids cycle", [] {
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, "<< /Type /Pages /Kids [4 0 R 3 0 R 2 0 R] /Count 3 >>");
    b.Object(3, kPage);
    b.Object(4, "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R 4 0 R] /Count 2 >>");
    return b.Classic("/Size 5 /Root 1 0 R");
  });

  add("/Parent cycle", [] {
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.Object(3, "<< /Type /Page /Parent 4 0 R >>");
    b.Object(4, "<< /Type /Pages /Parent 5 0 R /Kids [3 0 R] /Count 1 >>");
    b.Object(5, "<< /Type /Pages /Parent 3 0 R /Kids [4 0 R] /Count 1 >>");
    return b.Classic("/Size 6 /Root 1 0 R");
  }, TExpect::Readable);

  add("object stream that names itself", [] {
    // Object 1 and object stream 4 itself are said to be inside object stream 4.
    Builder b;
    const Bytes head = "1 0 4 " + Num(int64_t(std::strlen(kCatalog)) + 1) + " ";
    b.Object(2, kPages);
    b.Object(3, kPage);
    b.Stream(4, "/Type /ObjStm /N 2 /First " + Num(int64_t(head.size())) + " /Extends 4 0 R",
             head + kCatalog + " << /Type /ObjStm /N 1 /First 0 /Length 0 >>");
    Bytes rows = BigEndian(0, 1) + BigEndian(0, 4) + BigEndian(0, 2);
    rows += BigEndian(2, 1) + BigEndian(4, 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(2)), 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(3)), 4) + BigEndian(0, 2);
    rows += BigEndian(2, 1) + BigEndian(4, 4) + BigEndian(1, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Here()), 4) + BigEndian(0, 2);
    return b.XRefStream(5, "/Size 6 /W [1 4 2] /Root 1 0 R", rows);
  });

  add("Flate bomb as an object stream", [] {
    // The catalog and the pages root, then 2 GiB of spaces.
    return SmallWithStreams([](const Bytes& text) { return FlateBomb(2048, ' ', text); });
  }, TExpect::Readable);

  add("object stream with /N 2^31-1 and /First past its data", [] {
    Builder b;
    b.Object(2, kPages);
    b.Object(3, kPage);
    b.Stream(4, "/Type /ObjStm /N 2147483647 /First 99999999", "1 0 " + Bytes(kCatalog));
    Bytes rows = BigEndian(0, 1) + BigEndian(0, 4) + BigEndian(0, 2);
    rows += BigEndian(2, 1) + BigEndian(4, 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(2)), 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(3)), 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Offset(4)), 4) + BigEndian(0, 2);
    rows += BigEndian(1, 1) + BigEndian(uint64_t(b.Here()), 4) + BigEndian(0, 2);
    return b.XRefStream(5, "/Size 6 /W [1 4 2] /Root 1 0 R", rows);
  });

  add("/Count 2^31-1", [] {
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>");
    b.Object(3, kPage);
    return b.Classic("/Size 4 /Root 1 0 R");
  }, TExpect::Readable);

  add("object number 2^31-1", [] {
    Builder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Big 2147483647 0 R >>");
    b.Object(2, kPages);
    b.Object(3, kPage);
    b.Object(kInt31Max, "(the last number there is)");
    return b.Classic("/Size 2147483648 /Root 1 0 R");
  }, TExpect::Readable);

  add("page tree sharing its kids 40 levels deep", [] {
    // 2^40 pages by walking, 2 objects per level.
    Builder b;
    b.Object(1, kCatalog);
    b.Object(2, "<< /Type /Pages /Kids [10 0 R] /Count 1099511627776 >>");
    for (int n = 10; n < 50; ++n)
      b.Object(n, "<< /Type /Pages /Kids [" + Num(n + 1) + " 0 R " + Num(n + 1) + " 0 R] /Count 2 >>");
    b.Object(50, "<< /Type /Page /Parent 49 0 R /MediaBox [0 0 612 792] >>");
    return b.Classic("/Size 51 /Root 1 0 R");
  }, TExpect::Readable);

  add("page tree 10^5 levels deep", [] {
    Builder b;
    b.Object(1, kCatalog);
    constexpr int kLevels = 100000;
    b.Object(2, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>");
    for (int n = 10; n < 10 + kLevels; ++n)
      b.Object(n, "<< /Type /Pages /Kids [" + Num(n + 1) + " 0 R] /Parent " + Num(n == 10 ? 2 : n - 1) +
                      " 0 R /Count 1 >>");
    b.Object(10 + kLevels, "<< /Type /Page /Parent " + Num(9 + kLevels) + " 0 R /MediaBox [0 0 612 792] >>");
    return b.Classic("/Size " + Num(11 + kLevels) + " /Root 1 0 R");
  }, TExpect::Readable);

  add(kBigStringRow, [] {
    Bytes title = "<< /Title (";
    title.append(kBigStringBytes, 'A');
    return Basic("", {title + ") >>"}, "/Info 4 0 R");
  }, TExpect::Readable, [] { return "(" + Bytes(kBigStringBytes, 'A') + ")"; });
  rows.back().peakMiB = kBigStringPeakMiB;
  rows.back().secondsMax = kBigStringSecondsMax;

  add("only a header", [] { return Bytes("%PDF-1.7"); });

  add("trailer /Root a reference cycle", [] {
    Builder b;
    b.Object(1, "5 0 R");
    b.Object(2, kPages);
    b.Object(3, kPage);
    b.Object(4, "<< /Type /Catalog /Pages 4 0 R >>");
    b.Object(5, "1 0 R");
    return b.Classic("/Size 6 /Root 1 0 R");
  });

  add("trailer with 10^5 nested dictionaries before /Root", [] {
    Bytes deep;
    for (int i = 0; i < 100000; ++i) deep += "<< /A ";
    for (int i = 0; i < 100000; ++i) deep += ">> ";
    return Basic("", {}, "/Deep " + deep);
  }, TExpect::Anything, [] {
    Bytes deep;
    for (int i = 0; i < 100000; ++i) deep += "<< /A ";
    return deep;
  });

  for (const char* revision : {"/V 1 /R 2", "/V 5 /R 6 /OE <00> /UE <00> /Perms <00>"}) {
    const std::string encrypt = revision;
    rows.push_back({encrypt.find("/R 2") != std::string::npos ? "/Encrypt R2 with 1 MB /O and /U"
                                                              : "/Encrypt R6 with 1 MB /O and /U",
                    One([encrypt] {
                      const Bytes big(size_t(1) << 20, 'A');
                      return Basic("", {"<< /Filter /Standard " + encrypt + " /P -4 /O (" + big + ") /U (" +
                                        big + ") >>"},
                                   "/Encrypt 4 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00>]");
                    }),
                    nullptr});
  }

  add("XMP packet with a billion laughs", [] {
    Bytes entities = "<!DOCTYPE x:xmpmeta [\n<!ENTITY a0 \"laugh\">\n";
    for (int i = 1; i <= 9; ++i) {
      entities += "<!ENTITY a" + Num(i) + " \"";
      for (int k = 0; k < 10; ++k) entities += "&a" + Num(i - 1) + ";";
      entities += "\">\n";
    }
    entities += "]>\n";
    const Bytes packet = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n" + entities +
                         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                         "rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title><rdf:Alt>"
                         "<rdf:li xml:lang=\"x-default\">&a9;</rdf:li></rdf:Alt></dc:title></rdf:Description>"
                         "</rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
    return Basic("/Metadata 4 0 R", {StreamObject("/Type /Metadata /Subtype /XML", packet)});
  }, TExpect::Readable);

  rows.push_back({"every prefix of a small classic file", [] { return EveryPrefix(SmallClassic()); }, nullptr});
  rows.push_back({"every prefix of a small file with object streams",
                  [] { return EveryPrefix(SmallWithStreams()); }, nullptr});
  return rows;
}

// A row's name as a test or file name: letters and digits, the rest as underscores.
std::string RowFileName(const char* rowName) {
  std::string name;
  for (const char* p = rowName; *p; ++p) {
    if (std::isalnum(static_cast<unsigned char>(*p)) != 0)
      name += *p;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name;
}

// ---- running a row in a child ---------------------------------------------------------------

// In the child: builds the row's files and runs the roads; returns the exit status and
// leaves an account (and any faults) in `message`.
int RunRowInChild(const HostileRow& row, std::string& message) {
  if (row.objectText) {
    TPDFStructure structure;
    TPDFObject* obj = structure.Parse(row.objectText());
    try {
      obj->ToText();
    } catch (const EPDFError&) {
      // a structure too deep to write is refused by the writer, which is fine
    }
  }
  std::vector<Bytes> files = row.files();
  // For replaying a row by hand: PAGELUME_HOSTILE_KEEP names a folder for the row's file.
  if (const char* keep = std::getenv("PAGELUME_HOSTILE_KEEP"); keep && files.size() == 1)
    std::ofstream(std::string(keep) + "/" + RowFileName(row.name) + ".pdf", std::ios::binary) << files[0];
  int failures = 0;
  std::map<std::string, int> outcomes;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string faults, outcome;
    {
      test::TempFile file(files[i]);
      Bytes().swap(files[i]);
      RunRoads(file.Path(), faults, outcome);
    }
    const bool readable = outcome.find("insp ok") != std::string::npos ||
                          outcome.find("repaired ok") != std::string::npos;
    if (row.expect == TExpect::Readable && (!readable || outcome.find("load ok") == std::string::npos))
      faults += "expected a readable file; ";
    ++outcomes[outcome];
    if (!faults.empty() && failures++ < 3)
      message += (files.size() > 1 ? "file " + Num(int64_t(i)) + ": " : "") + faults + "[" + outcome + "] ";
  }
  std::string summary;
  for (const auto& [outcome, count] : outcomes)
    summary += (files.size() > 1 ? Num(count) + "x " : "") + outcome + " | ";
  message = (failures ? "FAULTS " + message + " -- " : "") + summary.substr(0, summary.size() - 3);
  return failures ? 1 : 0;
}

struct RowResult {
  bool finished = false;
  int status = 0;
  double seconds = 0;
  long peakMiB = 0;
  std::string message;
};

// A child still running at twice its bound is killed.
RowResult RunRow(const HostileRow& row) {
  RowResult result;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string message;
    int code = 2;
    try {
      code = RunRowInChild(row, message);
    } catch (const std::exception& e) {
      message = std::string("exception: ") + e.what();
    }
    if (message.size() > kChildMessageMax) message.resize(kChildMessageMax);
    if (::write(pipeFds[1], message.data(), message.size()) < 0) code = 3;
    ::_exit(code);
  }
  ::close(pipeFds[1]);
  struct rusage usage {};
  int status = 0;
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (done == pid) {
      result.finished = true;
      break;
    }
    if (done < 0) break;
    if (result.seconds > 2 * row.secondsMax) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = status;
  result.peakMiB = usage.ru_maxrss / 1024;  // KiB on Linux
  char buffer[kChildMessageMax];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) result.message.append(buffer, size_t(n));
  ::close(pipeFds[0]);
  return result;
}

class HostileFile : public testing::TestWithParam<HostileRow> {};

TEST_P(HostileFile, EndsQuicklyWithAClearResultAndBoundedMemory) {
  const HostileRow& row = GetParam();
  const RowResult r = RunRow(row);
  std::printf("[hostile] %-52s %7.2f s %6ld MiB  %s\n", row.name, r.seconds, r.peakMiB, r.message.c_str());
  std::fflush(stdout);
  ASSERT_TRUE(r.finished) << row.name << ": still running after " << r.seconds << " s, killed";
  ASSERT_FALSE(WIFSIGNALED(r.status)) << row.name << ": died of signal " << WTERMSIG(r.status) << " ("
                                      << strsignal(WTERMSIG(r.status)) << ")";
  EXPECT_EQ(WEXITSTATUS(r.status), 0) << row.name << ": " << r.message;
  EXPECT_LE(r.seconds, row.secondsMax) << row.name << " took " << r.seconds << " s";
  EXPECT_LE(r.peakMiB, row.peakMiB) << row.name << " peaked at " << r.peakMiB << " MiB";
}

std::string RowTestName(const testing::TestParamInfo<HostileRow>& info) { return RowFileName(info.param.name); }

INSTANTIATE_TEST_SUITE_P(Rows, HostileFile, testing::ValuesIn(Rows()), RowTestName);

}  // namespace
}  // namespace pagelume
