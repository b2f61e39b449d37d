// The object parser: one recursive scanner that reads a single PDF object straight
// from the text, classifying by its first character. Positions are 1-based, as the
// callers count them. Bad input never raises out of ParseAt: what cannot be read
// ends the enclosing container, and a hard error (nesting too deep, a number out of
// range) turns the whole parse into a null object.
#include <cmath>
#include <limits>
#include <unordered_map>

#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Capacity reserved ahead for an array of references, at most (the array still
// grows past it); the hint is an allocation driven by file data.
constexpr size_t kArrayHintMax = 1 << 16;
// Fraction digits that take part in a number's value; more cannot change the
// four decimals that are written back, and could only overflow.
constexpr int kFractionDigitsMax = 20;
// Dictionaries with more pairs than this look repeated keys up through a hash
// index, so a huge dictionary does not cost quadratic time.
constexpr size_t kLinearKeysMax = 16;

// Abandons the whole parse (see ParseAt).
struct ParseAbort {};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Digits with an optional '-' as a 32-bit integer; 0 when it is not one or does not fit.
int32_t Int32OrZero(ByteView s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return 0;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return 0;
    v = v * 10 + (s[i] - '0');
    if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return 0;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return 0;
  return int32_t(v);
}

// Digit-by-digit reading: spaces, any number of '-', integer digits, '.', fraction digits.
double DecimalForm(ByteView s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  while (i < s.size() && s[i] == '-') {
    negative = true;
    ++i;
  }
  double v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) v = v * 10 + (s[i] - '0');
  if (i < s.size() && s[i] == '.') {
    double f = 0;
    int k = 0;
    for (++i; i < s.size() && IsDigit(s[i]); ++i) {
      if (k < kFractionDigitsMax) {
        f = f * 10 + (s[i] - '0');
        ++k;
      }
    }
    if (k > 0) v += f / std::pow(10.0, k);
  }
  if (!std::isfinite(v)) throw ParseAbort{};
  return negative ? -v : v;
}

// Mantissa "E" exponent; an exponent that is not an integer counts as 0.
double ExponentForm(ByteView s) {
  const size_t e = s.find('E');
  const double mantissa = DecimalForm(s.substr(0, e));
  const int32_t exponent = Int32OrZero(s.substr(e + 1));
  if (exponent == 0) return mantissa;
  const double scale = std::pow(10.0, double(exponent));
  const double v = mantissa * scale;
  if (!std::isfinite(scale) || !std::isfinite(v)) throw ParseAbort{};
  return v;
}

// An object or generation number of a reference, truncated toward zero. Numbers
// beyond 32 bits cannot name an object; wrapping them would point at another one.
int32_t RefPart(double v) {
  const double t = std::trunc(v);
  if (!(t >= double(std::numeric_limits<int32_t>::min()) && t <= double(std::numeric_limits<int32_t>::max())))
    throw ParseAbort{};
  return int32_t(t);
}

class Scanner {
 public:
  Scanner(TPDFStructure& s, ByteView text, size_t start) : pos(start), s_(s), t_(text), size_(text.size()) {}

  void SkipWhite() {
    for (;;) {
      const size_t before = pos;
      while (pos < size_ && IsWhite(At(pos))) ++pos;
      while (pos < size_ && At(pos) == '%') {
        while (pos < size_ && At(pos) != '\r' && At(pos) != '\n') ++pos;
      }
      if (pos == before) return;
    }
  }

  // One object at `pos`, or null when nothing could be read there (`pos` unchanged).
  // `depth` is the number of arrays and dictionaries around it.
  TPDFObject* Read(int depth) {
    if (pos > size_) return nullptr;
    const char c = At(pos);
    const size_t left = size_ - pos;
    TPDFObject* obj = nullptr;
    if (left >= 3 && c == '<' && At(pos + 1) == '<') {
      obj = ReadDictionary(depth);
    } else if (left >= 1 && c == '[') {
      obj = ReadArray(depth);
    } else if (Keyword("true")) {
      pos += 4;
      obj = s_.NewBoolean(true);
    } else if (Keyword("false")) {
      pos += 5;
      obj = s_.NewBoolean(false);
    } else if (Keyword("null")) {
      pos += 4;
      obj = s_.NewNull();
    } else if (c == '-' || c == '.' || IsDigit(c)) {
      obj = ReadNumber();
    } else if (left >= 1 && c == '(') {
      obj = ReadLiteralString();
    } else if (left >= 1 && c == '<') {
      obj = ReadHexString();
    } else if (c == '/') {  // "/" alone is the empty name, also as the last byte
      obj = ReadName();
    }
    if (obj != nullptr) obj->SetModified(false);
    return obj;
  }

  size_t pos;  // 1-based

 private:
  char At(size_t p) const { return t_[p - 1]; }  // 1 <= p <= size_

  bool Keyword(ByteView word) const {
    const size_t n = word.size();
    if (size_ - pos + 1 < n || t_.substr(pos - 1, n) != word) return false;
    return pos + n - 1 == size_ || IsWhite(At(pos + n)) || IsDelimiter(At(pos + n));
  }

  TPDFObject* ReadDictionary(int depth) {
    if (depth >= kParserMaxDepth) throw ParseAbort{};
    pos += 2;
    TPDFDictionary* d = s_.NewDictionary();
    std::unordered_map<ByteView, size_t> index;  // key bytes -> pair, for large dictionaries
    for (;;) {
      SkipWhite();
      TPDFObject* key = Read(depth + 1);
      SkipWhite();
      TPDFObject* value = Read(depth + 1);
      auto* name = As<TPDFName>(key);
      if (name == nullptr || value == nullptr) break;
      if (d->Pairs.size() < kLinearKeysMax && index.empty()) {
        d->PutPair(name, value);
        continue;
      }
      if (index.empty()) {
        for (size_t i = 0; i < d->Pairs.size(); ++i) index.emplace(d->Pairs[i].Key->NameBytes, i);
      }
      // A repeated key replaces the earlier pair in place, as PutPair does.
      const auto [it, added] = index.try_emplace(ByteView(name->NameBytes), d->Pairs.size());
      TPDFStructure::Hold(name);
      TPDFStructure::Hold(value);
      if (added) {
        d->Pairs.push_back({name, value});
      } else {
        TPDFPair& p = d->Pairs[it->second];
        TPDFStructure::Unhold(p.Key);
        TPDFStructure::Unhold(p.Value);
        p = {name, value};
      }
    }
    if (pos < size_ && At(pos) == '>' && At(pos + 1) == '>') pos += 2;
    return d;
  }

  TPDFObject* ReadArray(int depth) {
    if (depth >= kParserMaxDepth) throw ParseAbort{};
    pos += 1;
    TPDFArray* a = s_.NewEmptyArray();
    for (;;) {
      SkipWhite();
      TPDFObject* item = Read(depth + 1);
      if (item == nullptr) break;
      a->Append(item);
      if (a->Count() == 1 && As<TPDFIndRef>(item) != nullptr && pos < size_ && At(pos) != ']')
        a->Reserve(int(CountReferencesAhead(pos + 1)));
    }
    if (pos <= size_ && At(pos) == ']') ++pos;
    return a;
  }

  // The 'R's of the references still to come in this array. Counting stops at the
  // first character that cannot belong to a run of references, so each array's
  // text is scanned once and nested or broken arrays are not rescanned.
  size_t CountReferencesAhead(size_t from) const {
    size_t count = 0;
    for (size_t p = from; p <= size_ && count < kArrayHintMax; ++p) {
      const char c = At(p);
      if (c == 'R') {
        ++count;
      } else if (!IsDigit(c) && !IsWhite(c) && c != '.' && c != '-') {
        break;
      }
    }
    return count;
  }

  TPDFObject* ReadNumber() {
    const size_t start = pos;
    bool dot = At(pos) == '.';
    bool exponent = false;
    size_t end = pos + 1;
    for (; end <= size_; ++end) {
      const char c = At(end);
      if (IsDigit(c) || c == 'E') {
        exponent = exponent || c == 'E';
      } else if (c == '.' && !dot) {
        dot = true;
      } else {
        break;
      }
    }
    if (exponent) {
      for (end = pos + 1; end <= size_; ++end) {
        const char c = At(end);
        if (!IsDigit(c) && c != '.' && c != '-' && c != 'E') break;
      }
    }
    Bytes token(t_.substr(start - 1, end - start));
    pos = end;
    if (token.front() == '.') token.insert(token.begin(), '0');
    if (token.back() == '.') token += '0';
    double value;
    if (exponent) {
      value = ExponentForm(token);
    } else if (dot || token.size() > 8) {
      value = DecimalForm(token);
    } else {
      value = Int32OrZero(token == "-" ? ByteView("0") : ByteView(token));
    }
    if (!dot) {
      if (TPDFObject* ref = ReferenceAhead(value)) return ref;
    }
    return s_.NewNumber(value);
  }

  // After an integer: "g R" makes it a reference; otherwise nothing moves.
  TPDFObject* ReferenceAhead(double first) {
    const size_t back = pos;
    SkipWhite();
    if (pos <= size_ && IsDigit(At(pos))) {
      const size_t start = pos;
      bool dot = false;
      while (pos <= size_ && (IsDigit(At(pos)) || (At(pos) == '.' && !dot))) {
        dot = dot || At(pos) == '.';
        ++pos;
      }
      Bytes token(t_.substr(start - 1, pos - start));
      if (token.back() == '.') token += '0';
      const double second = dot ? DecimalForm(token) : Int32OrZero(token);
      SkipWhite();
      if (pos <= size_ && At(pos) == 'R') {
        ++pos;
        return s_.NewRef(RefPart(first), RefPart(second));
      }
    }
    pos = back;
    return nullptr;
  }

  TPDFObject* ReadLiteralString() {
    // Find the closing parenthesis, counting nested pairs.
    int64_t open = 1;
    size_t p = pos + 1;
    for (; p <= size_; ++p) {
      const char c = At(p);
      if (c == '\\' && p + 2 <= size_) {
        const char next = At(p + 1);
        if (next == '(' || next == ')' || next == '\\') {
          ++p;
          continue;
        }
      }
      if (c == '(') {
        ++open;
      } else if (c == ')' && --open == 0) {
        break;
      }
    }
    if (p > size_) return nullptr;  // unterminated: nothing read
    const ByteView raw = t_.substr(pos, p - pos - 1);
    pos = p + 1;

    Bytes out;
    out.reserve(raw.size());
    const size_t n = raw.size();
    for (size_t k = 0; k < n;) {
      const char c = raw[k];
      if (c == '\\' && k + 1 < n) {
        const char next = raw[k + 1];
        if (next >= '0' && next <= '7') {
          unsigned v = 0;
          size_t m = k + 1;
          for (int digits = 0; digits < 3 && m < n && raw[m] >= '0' && raw[m] <= '7'; ++digits, ++m)
            v = v * 8 + unsigned(raw[m] - '0');
          out += char(v & 0xFF);
          k = m;
          continue;
        }
        k += 2;
        switch (next) {
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case '\n': break;  // line continuation
          case '\r':
            if (k < n && raw[k] == '\n') ++k;
            break;
          default: out += next;
        }
      } else if (c == '\r') {
        out += '\n';
        ++k;
        if (k < n && raw[k] == '\n') ++k;
      } else {
        out += c;
        ++k;
      }
    }
    return s_.NewString(out, 0);
  }

  TPDFObject* ReadHexString() {
    // Up to the next '>'; without one, the last character stands in for it.
    const size_t close = t_.find('>', pos);  // 0-based search from 1-based pos + 1
    ByteView raw;
    if (close != ByteView::npos) {
      raw = t_.substr(pos, close - pos);
      pos = close + 2;
    } else {
      raw = t_.substr(pos, size_ - 1 - pos);
      pos = size_ + 1;
    }
    Bytes out;
    out.reserve(raw.size() / 2 + 1);
    int high = -1;
    for (const char c : raw) {
      const int v = HexValue(c);
      if (v < 0) continue;  // whitespace and junk are ignored
      if (high < 0) {
        high = v;
      } else {
        out += char(high * 16 + v);
        high = -1;
      }
    }
    if (high >= 0) out += char(high * 16);  // odd count: a 0 is appended
    return s_.NewString(out, 1);
  }

  TPDFObject* ReadName() {
    size_t end = pos + 1;
    while (end <= size_ && !IsWhite(At(end)) && !IsDelimiter(At(end))) ++end;
    const ByteView raw = t_.substr(pos, end - pos - 1);
    pos = end;
    Bytes out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '#' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0) {
        out += char(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
        i += 2;
      } else {
        out += raw[i];
      }
    }
    return s_.NewName(out);
  }

  TPDFStructure& s_;
  ByteView t_;
  size_t size_;
};

}  // namespace

TPDFObject* TPDFStructure::ParseAt(ByteView text, size_t start, size_t& consumed) {
  consumed = 0;
  if (start < 1 || start > text.size()) return NewNull();
  Scanner scanner(*this, text, start);
  TPDFObject* obj = nullptr;
  try {
    scanner.SkipWhite();
    obj = scanner.Read(0);
  } catch (const ParseAbort&) {
    return NewNull();
  } catch (const std::exception&) {
    return NewNull();  // out of memory on hostile input: still no exception out of the parser
  }
  consumed = scanner.pos - start;
  return obj != nullptr ? obj : NewNull();
}

}  // namespace pagelume
