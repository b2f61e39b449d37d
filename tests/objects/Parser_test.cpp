// The object parser: what each input yields, how far it reads, and that whatever
// it yields is written back (ToText) as text that parses to the same object.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "engine/objects/MarlockPDFLibraryStructure.h"

namespace pagelume {
namespace {

// A compact, writer-independent picture of a parsed object.
std::string Describe(const TPDFObject* obj) {
  if (obj == nullptr) return "<none>";
  if (As<TPDFNull>(obj)) return "null";
  if (auto* b = As<TPDFBoolean>(obj)) return b->Truth ? "true" : "false";
  if (auto* n = As<TPDFNumeric>(obj)) {
    const double x = n->Amount + 0.0;  // no "-0"
    char buf[64];
    if (x == std::floor(x) && std::fabs(x) < 1e15) {
      std::snprintf(buf, sizeof buf, "%.0f", x);
    } else {
      std::snprintf(buf, sizeof buf, "%.10g", x);
    }
    return buf;
  }
  if (auto* s = As<TPDFString>(obj)) {
    std::string out = s->Notation == 1 ? "h\"" : "\"";
    for (unsigned char c : s->BytesValue) {
      if (c >= 0x20 && c < 0x7F && c != '\\') {
        out += char(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
      }
    }
    return out + "\"";
  }
  if (auto* n = As<TPDFName>(obj)) return "/" + n->NameBytes;
  if (auto* r = As<TPDFIndRef>(obj)) return std::to_string(r->RefNumber) + " " + std::to_string(r->RefGeneration) + " R";
  if (auto* a = As<TPDFArray>(obj)) {
    std::string out = "[";
    for (int i = 0; i < a->Count(); ++i) out += (i ? ", " : "") + Describe(a->Item(i));
    return out + "]";
  }
  if (auto* d = As<TPDFDictionary>(obj)) {
    std::string out = "{";
    for (int i = 0; i < d->Count(); ++i) {
      auto [k, v] = d->PairAt(i);
      out += (i ? ", " : "") + Describe(k) + ": " + Describe(v);
    }
    return out + "}";
  }
  return "?";
}

// Structural equality; numbers agree to the four decimals that are written.
bool SameObject(const TPDFObject* a, const TPDFObject* b) {
  if (a == nullptr || b == nullptr || a->KindCode != b->KindCode) return false;
  switch (a->KindCode) {
    case '0': return true;
    case 'B': return As<TPDFBoolean>(a)->Truth == As<TPDFBoolean>(b)->Truth;
    case 'n': {
      const double x = As<TPDFNumeric>(a)->Amount, y = As<TPDFNumeric>(b)->Amount;
      return std::fabs(x - y) <= 0.5e-4 + std::fabs(x) * 1e-12;
    }
    case 's':
      return As<TPDFString>(a)->BytesValue == As<TPDFString>(b)->BytesValue &&
             As<TPDFString>(a)->Notation == As<TPDFString>(b)->Notation;
    case 'N': return As<TPDFName>(a)->NameBytes == As<TPDFName>(b)->NameBytes;
    case 'I':
      return As<TPDFIndRef>(a)->RefNumber == As<TPDFIndRef>(b)->RefNumber &&
             As<TPDFIndRef>(a)->RefGeneration == As<TPDFIndRef>(b)->RefGeneration;
    case 'A': {
      auto *x = As<TPDFArray>(a), *y = As<TPDFArray>(b);
      if (x->Count() != y->Count()) return false;
      for (int i = 0; i < x->Count(); ++i)
        if (!SameObject(x->Item(i), y->Item(i))) return false;
      return true;
    }
    case 'D': {
      auto *x = As<TPDFDictionary>(a), *y = As<TPDFDictionary>(b);
      if (x->Count() != y->Count()) return false;
      for (int i = 0; i < x->Count(); ++i) {
        if (!SameObject(x->PairAt(i).first, y->PairAt(i).first)) return false;
        if (!SameObject(x->PairAt(i).second, y->PairAt(i).second)) return false;
      }
      return true;
    }
  }
  return false;
}

bool AllUnmodified(const TPDFObject* obj) {
  if (obj->Modified) return false;
  if (auto* a = As<TPDFArray>(obj)) {
    for (const TPDFObject* item : a->Items)
      if (!AllUnmodified(item)) return false;
  }
  if (auto* d = As<TPDFDictionary>(obj)) {
    for (const TPDFPair& p : d->Pairs)
      if (!AllUnmodified(p.Key) || !AllUnmodified(p.Value)) return false;
  }
  return true;
}

// ToText of `obj` parses back to the same object, reading all of the text but a
// final line feed. Returns a failure message, or "" when it holds.
std::string RoundTripFailure(const TPDFObject* obj) {
  Bytes text;
  try {
    obj->ToText(text);
  } catch (const EPDFError&) {
    return "";  // numbers too large to write are refused, not written wrongly
  }
  if (text.find("% bug") != Bytes::npos) return "";  // a dropped pair, by design
  // In a file an object is always followed by something; a bare "/" at the very end
  // of a text is not a name.
  const Bytes input = text + "\n";
  TPDFStructure other;
  size_t consumed = 0;
  TPDFObject* back = other.ParseAt(input, 1, consumed);
  const size_t expected = text.size() - (text.back() == '\n' ? 1 : 0);
  if (!SameObject(obj, back) || consumed != expected) {
    return "wrote [" + text + "] which parses as " + Describe(back) + " consuming " + std::to_string(consumed);
  }
  return "";
}

// Parses the exact bytes of `text` from a buffer of exactly that size, so that the
// sanitizers see any read past the end.
TPDFObject* ParseExact(TPDFStructure& s, ByteView text, size_t& consumed) {
  std::unique_ptr<char[]> buf(new char[text.size() + 1]);
  if (!text.empty()) std::memcpy(buf.get(), text.data(), text.size());
  return s.ParseAt(ByteView(buf.get(), text.size()), 1, consumed);
}

struct ParseCase {
  const char* name;
  std::string input;
  std::string expected;  // Describe() of the result
  size_t consumed;
};

TEST(Parser, YieldsTheDescribedObjects) {
  const std::string big = "1" + std::string(400, '0');
  const ParseCase cases[] = {
      {"page dictionary", "<</Type/Page/Parent 3 0 R/MediaBox[0 0 612 792]>>",
       "{/Type: /Page, /Parent: 3 0 R, /MediaBox: [0, 0, 612, 792]}", 49},
      {"repeated key replaces in place", "<< /A 1 /B 3 /A 2 >>", "{/A: 2, /B: 3}", 20},
      {"empty dictionary", "<<>>", "{}", 4},
      {"<<> is a hex string", "<<>", "h\"\"", 3},
      {"key without value", "<< /A >>", "{}", 8},
      {"non-name key ends the dictionary", "<< /A 1 2 3 >>", "{/A: 1}", 11},
      {"unclosed dictionary", "<< /A [1 2", "{/A: [1, 2]}", 10},
      {"comments inside", "<< %c\n/A %d\r 1 >>", "{/A: 1}", 17},
      {"mixed array", "[1 2 3 0 R 4]", "[1, 2, 3 0 R, 4]", 13},
      {"reference array", "[1 0 R 2 0 R]", "[1 0 R, 2 0 R]", 13},
      {"empty array", "[]", "[]", 2},
      {"unclosed array", "[1 2", "[1, 2]", 4},
      {"array stops at junk", "[1 } 2]", "[1]", 3},
      {"bracket as last character", "[", "null", 0},
      {"number before obj", "12 0 obj", "12", 2},
      {"leading spaces count", "  12", "12", 4},
      {"reference", "12 0 R", "12 0 R", 6},
      {"R needs no delimiter", "1 0Rx", "1 0 R", 4},
      {"reference after comment", "7 %x\n 0 R", "7 0 R", 9},
      {"negative reference", "-5 0 R", "-5 0 R", 6},
      {"generation with a point", "4 2.5 R", "4 2 R", 7},
      {"real is never a reference", "1.5 0 R", "1.5", 3},
      {"leading point", ".5", "0.5", 2},
      {"negative leading point", "-.5", "-0.5", 3},
      {"trailing point", "5.", "5", 2},
      {"lone point", ".", "0", 1},
      {"lone minus", "-", "0", 1},
      {"exponent", "1E3", "1000", 3},
      {"negative exponent", "25E-2", "0.25", 5},
      {"non-integer exponent is 0", "1E3E4", "1", 5},
      {"lower-case e is not an exponent", "1e3", "1", 1},
      {"nine digits", "123456789", "123456789", 9},
      {"long integer", "12345678901234", "12345678901234", 14},
      {"second point ends the number", "1.2.3", "1.2", 3},
      {"many fraction digits", "0." + std::string(400, '1'), "0.1111111111", 402},
      {"plus sign", "+5", "null", 0},
      {"double overflow", big, "null", 0},
      {"double overflow by exponent", "1E400", "null", 0},
      {"reference number beyond 64 bits", "<</K 99999999999999999999 0 R>>", "null", 0},
      {"reference number beyond 32 bits", "[5000000000 0 R]", "null", 0},
      {"reference from exponent", "1E2 0 R", "100 0 R", 7},
      {"escaped parentheses", "(a\\(b\\)c)", "\"a(b)c\"", 9},
      {"octal escape", "(x\\101y)", "\"xAy\"", 8},
      {"octal escape of two digits then digit", "(\\0613)", "\"13\"", 7},
      {"octal escape drops high bits", "(\\777)", "\"\\xFF\"", 6},
      {"unknown escape", "(\\8\\q)", "\"8q\"", 6},
      {"control escapes", "(\\n\\r\\t\\b\\f)", "\"\\x0A\\x0D\\x09\\x08\\x0C\"", 12},
      {"line continuation", "(a\\\nb)", "\"ab\"", 6},
      {"line continuation CR LF", "(a\\\r\nb)", "\"ab\"", 7},
      {"CR LF becomes LF", "(a\r\nb)", "\"a\\x0Ab\"", 6},
      {"lone CR becomes LF", "(a\rb)", "\"a\\x0Ab\"", 5},
      {"nested parentheses", "(a(b)c)", "\"a(b)c\"", 7},
      {"unterminated string", "(abc", "null", 0},
      {"backslash near the end does not escape", "(a\\)", "\"a\\x5C\"", 4},
      {"escaped parenthesis before the end", "(a\\))", "\"a)\"", 5},
      {"open parenthesis as last character", "(", "null", 0},
      {"hex with spaces", "<48 65 6c>", "h\"Hel\"", 10},
      {"hex with odd digits", "<ABC>", "h\"\\xAB\\xC0\"", 5},
      {"empty hex", "<>", "h\"\"", 2},
      {"hex junk ignored", "<4 1 z>", "h\"A\"", 7},
      {"hex without closing", "<4142", "h\"A@\"", 5},
      {"name escape", "/A#42C", "/ABC", 6},
      {"short name escape stays", "/A#4", "/A#4", 4},
      {"name ends at brace", "/Name}", "/Name", 5},
      {"empty name", "/ ", "/", 1},
      {"slash as last character reads as the empty name", "/", "/", 1},
      {"true", "true", "true", 4},
      {"true followed by a letter", "truex", "null", 0},
      {"true before bracket", "true]", "true", 4},
      {"false", "false/", "false", 5},
      {"null keyword", "null", "null", 4},
      {"keyword obj", "obj", "null", 0},
      {"closing bracket", "]", "null", 0},
      {"brace", "{1}", "null", 0},
      {"empty text", "", "null", 0},
      {"whitespace only keeps the last character", "  ", "null", 1},
      {"comment only", "% nothing\n", "null", 9},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPDFStructure s;
    size_t consumed = 99;
    TPDFObject* obj = ParseExact(s, c.input, consumed);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(Describe(obj), c.expected);
    EXPECT_EQ(consumed, c.consumed);
    EXPECT_TRUE(AllUnmodified(obj));
    EXPECT_EQ(RoundTripFailure(obj), "");
  }
}

TEST(Parser, ParseAtStartsAtAOneBasedPosition) {
  TPDFStructure s;
  size_t consumed = 0;
  const Bytes text = "1 0 obj\n<< /K 12 0 R >>\nendobj";
  TPDFObject* obj = s.ParseAt(text, 9, consumed);
  EXPECT_EQ(Describe(obj), "{/K: 12 0 R}");
  EXPECT_EQ(consumed, 15u);
  EXPECT_EQ(Describe(s.ParseAt(text, 1, consumed)), "1");
  EXPECT_EQ(consumed, 1u);
  // Outside the text: nothing is read.
  EXPECT_EQ(Describe(s.ParseAt(text, text.size() + 1, consumed)), "null");
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(Describe(s.ParseAt(text, 0, consumed)), "null");
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(Describe(s.Parse("[/A]")), "[/A]");
}

TEST(Parser, NestingIsBoundedAndNeverOverflowsTheStack) {
  auto nested = [](size_t levels, const char* open, const char* close) {
    Bytes t;
    for (size_t i = 0; i < levels; ++i) t += open;
    for (size_t i = 0; i < levels; ++i) t += close;
    return t;
  };
  struct Case {
    size_t levels;
    const char* open;
    const char* close;
    bool ok;
  };
  const Case cases[] = {
      {size_t(kParserMaxDepth), "[", "]", true},
      {size_t(kParserMaxDepth) + 1, "[", "]", false},
      {600, "[", "]", false},
      {100000, "[", "]", false},
      {size_t(kParserMaxDepth), "<</A ", ">>", true},
      {600, "<</A ", ">>", false},
      {100000, "<</A [", "]>>", false},
      {100000, "<<", "", false},  // each level's key is the next level
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.levels) + " x " + c.open);
    TPDFStructure s;
    const Bytes text = nested(c.levels, c.open, c.close);
    size_t consumed = 99;
    TPDFObject* obj = ParseExact(s, text, consumed);
    if (c.ok) {
      EXPECT_EQ(consumed, text.size());
      EXPECT_NE(As<TPDFNull>(obj), obj);
      EXPECT_EQ(RoundTripFailure(obj), "");
    } else {
      EXPECT_NE(As<TPDFNull>(obj), nullptr);
      EXPECT_EQ(consumed, 0u);
    }
  }
}

TEST(Parser, EveryTruncationOfASampleIsSafe) {
  const Bytes sample =
      "<</Type/Page/Parent 3 0 R/MediaBox[0 0 612 792]/Name(Hi\\(x\\)\\101\r\n)/H<41 42>"
      "/K[1 0 R 2 0 R %c\n 3 0 R]/N null/T true/F false/R -.5/E 1E2/Sub<</A#20B[[/X]]>>>>";
  TPDFStructure full;
  EXPECT_EQ(Describe(full.Parse(sample)),
            "{/Type: /Page, /Parent: 3 0 R, /MediaBox: [0, 0, 612, 792], /Name: \"Hi(x)A\\x0A\", "
            "/H: h\"AB\", /K: [1 0 R, 2 0 R, 3 0 R], /N: null, /T: true, /F: false, /R: -0.5, /E: 100, "
            "/Sub: {/A B: [[/X]]}}");
  for (size_t cut = 0; cut <= sample.size(); ++cut) {
    SCOPED_TRACE(cut);
    TPDFStructure s;
    size_t consumed = 0;
    TPDFObject* obj = ParseExact(s, ByteView(sample).substr(0, cut), consumed);
    ASSERT_NE(obj, nullptr);
    EXPECT_LE(consumed, cut);
    EXPECT_EQ(RoundTripFailure(obj), "");
    // From "<</T" on, every prefix still yields the dictionary, read as far as it goes.
    if (cut >= 4) {
      EXPECT_NE(As<TPDFDictionary>(obj), nullptr);
    }
  }
}

TEST(Parser, JunkNeverCrashesAndWhatIsReadWritesBack) {
  const char alphabet[] = "<<>>[]()/\\#%{} \n\r0123456789.-+ERtruefalsenull obj";
  std::mt19937 rng(20240131);
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
  std::uniform_int_distribution<size_t> length(0, 48);
  for (int round = 0; round < 3000; ++round) {
    Bytes text;
    for (size_t n = length(rng); n > 0; --n) text += alphabet[pick(rng)];
    if (round % 7 == 0 && !text.empty()) text[text.size() / 2] = char(rng() & 0xFF);
    SCOPED_TRACE(text);
    TPDFStructure s;
    size_t consumed = 0;
    TPDFObject* obj = ParseExact(s, text, consumed);
    ASSERT_NE(obj, nullptr);
    EXPECT_LE(consumed, text.size());
    EXPECT_TRUE(AllUnmodified(obj));
    EXPECT_EQ(RoundTripFailure(obj), "");
  }
}

TEST(Parser, LongArraysAndDictionariesParseInOnePass) {
  // A large reference array and a dictionary with many (and repeated) keys.
  Bytes kids = "[";
  for (int i = 1; i <= 20000; ++i) kids += std::to_string(i) + " 0 R ";
  kids += "]";
  Bytes dict = "<<";
  for (int i = 0; i < 20000; ++i) dict += "/K" + std::to_string(i % 15000) + " " + std::to_string(i) + " ";
  dict += ">>";
  TPDFStructure s;
  auto* a = As<TPDFArray>(s.Parse(kids));
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->Count(), 20000);
  EXPECT_EQ(As<TPDFIndRef>(a->Item(19999))->RefNumber, 20000);
  auto* d = As<TPDFDictionary>(s.Parse(dict));
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->Count(), 15000);
  // A repeated key keeps its first position and takes the later value.
  EXPECT_EQ(Describe(d->PairAt(3).first), "/K3");
  EXPECT_EQ(Describe(d->PairAt(3).second), "15003");
  EXPECT_EQ(Describe(d->PairAt(14999).second), "14999");
  EXPECT_EQ(d->IndexOfKey("K100"), 100);
  // Replaced pairs let go of their old key and value; the dictionary still holds
  // exactly one key and one value per pair.
  EXPECT_EQ(d->PairAt(3).first->HoldCount, 1u);
  EXPECT_EQ(RoundTripFailure(d), "");
}

}  // namespace
}  // namespace pagelume
