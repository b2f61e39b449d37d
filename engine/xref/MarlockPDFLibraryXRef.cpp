#include "engine/xref/MarlockPDFLibraryXRef.h"

#include <algorithm>
#include <exception>

#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Windows of the backward searches at the end of the file.
constexpr int64_t kTailWindow = 1024;
constexpr int64_t kEofWindowStep = 1020;        // 4 bytes of overlap for "%%EOF"
constexpr int64_t kStartXRefWindowStep = 1016;  // 8 bytes of overlap for "startxref"
// Identifying a section: a small window around its offset, widened past runs of NUL/LF.
constexpr int64_t kSectionWindow = 40;
constexpr int64_t kSectionWindowBack = 10;
constexpr int64_t kWidenStep = 2048;
constexpr int kWidenRounds = 10;
// Classic tables.
constexpr int64_t kSubsectionHeader = 30;
// Entries are nominally 20 bytes; reading 21 per entry keeps " \r\n"-terminated tables whole.
constexpr int64_t kEntryReadLength = 21;
// Entries are read in windows of this size: a table of any length costs one small buffer
// instead of a copy of the whole table (fresh memory is what a large table costs most).
constexpr int64_t kEntryWindow = 64 * 1024;
// Bytes of an entry up to and including its kind letter.
constexpr int64_t kEntryHead = 18;
constexpr int64_t kTrailerWindowStep = 2048;
constexpr int kTrailerAttempts = 5;
// Forward keyword search.
constexpr int64_t kSearchBlock = 64 * 1024;


// Negation that cannot overflow.
int64_t Negated(int64_t v) { return v == INT64_MIN ? INT64_MIN : -v; }

// a + b; false when it overflows.
bool Add(int64_t a, int64_t b, int64_t& out) { return !__builtin_add_overflow(a, b, &out); }

// a + b held at the ends of the range: positions only move by amounts read from the file,
// but a section offset can be any 64-bit value.
int64_t Plus(int64_t a, int64_t b) {
  int64_t out;
  if (Add(a, b, out)) return out;
  return b > 0 ? INT64_MAX : INT64_MIN;
}

ByteView Field(ByteView s, size_t start, size_t length) {
  if (start >= s.size()) return {};
  return s.substr(start, length);
}

// Decimal digits of a non-negative number.
Bytes DecimalText(int64_t v) { return IntToText(v); }

// The first occurrence of a keyword in a text that only grows: later calls go on where the
// last one stopped, so checking a growing text costs its length once.
class TGrowingFind {
 public:
  TGrowingFind(ByteView keyword) : keyword_(keyword) {}
  size_t Find(ByteView text, size_t from) {
    if (found_ != ByteView::npos) return found_;
    size_t start = std::max(from, next_);
    size_t hit = text.find(keyword_, start);
    if (hit != ByteView::npos) return found_ = hit;
    if (text.size() + 1 > keyword_.size()) next_ = std::max(start, text.size() + 1 - keyword_.size());
    return ByteView::npos;
  }

 private:
  ByteView keyword_;
  size_t next_ = 0;
  size_t found_ = ByteView::npos;
};

// Whether the growing head of a cross-reference stream holds its whole dictionary:
// "<<", then "stream"; when /Index stands between them, its "[" and "]" must be there
// and a "stream" after them.
class THeadCheck {
 public:
  bool Complete(ByteView text) {
    size_t open = open_.Find(text, 0);
    if (open == ByteView::npos) return false;
    size_t stream = stream_.Find(text, open + 2);
    size_t index = index_.Find(text, open + 2);
    if (stream != ByteView::npos && (index == ByteView::npos || index > stream)) return true;
    if (index == ByteView::npos) return false;
    size_t left = left_.Find(text, index + 6);
    if (left == ByteView::npos) return false;
    size_t right = right_.Find(text, left + 1);
    if (right == ByteView::npos) return false;
    return afterIndex_.Find(text, right + 1) != ByteView::npos;
  }

 private:
  TGrowingFind open_{"<<"}, stream_{"stream"}, index_{"/Index"}, left_{"["}, right_{"]"},
      afterIndex_{"stream"};
};

int64_t NumberValue(TPDFObject* obj, int64_t def) {
  TPDFNumeric* n = As<TPDFNumeric>(obj);
  return n ? n->AsInt64(def) : def;
}

int32_t IntegerValue(TPDFObject* obj, int32_t def) {
  TPDFNumeric* n = As<TPDFNumeric>(obj);
  return n ? n->AsInteger() : def;
}

}  // namespace

TPDFXRefReader::TPDFXRefReader(TKavrelWideFileStream& stream)
    : source_(std::make_unique<TKVLFileStreamSource>(stream)) {
  Start();
}

TPDFXRefReader::TPDFXRefReader(const char* image, uint64_t length)
    : source_(std::make_unique<TKVLMemorySource>(ByteView(image, image ? size_t(length) : 0))) {
  Start();
}

void TPDFXRefReader::Start() {
  size_ = source_->Size();
  // Whatever the file says, the reader reads a bounded multiple of its size.
  int64_t perByte = 0;
  if (__builtin_mul_overflow(size_, kXRefReadBudgetPerByte, &perByte) ||
      !Add(perByte, kXRefReadBudgetBase, readBudget_))
    readBudget_ = INT64_MAX;
}

TPDFXRefReader::~TPDFXRefReader() = default;

Bytes TPDFXRefReader::ReadAt(int64_t count, int64_t position) {
  int64_t pos;
  if (!Add(position, BaseOffset, pos)) return {};
  if (pos < 0) pos = 0;
  if (count < 1 || pos >= size_ || readBudget_ <= 0) return {};
  if (count > size_ - pos) count = size_ - pos;
  if (count > readBudget_) count = readBudget_;
  Bytes out(size_t(count), '\0');
  size_t got = source_->ReadAt(pos, size_t(count), out.data());
  out.resize(got);
  readBudget_ -= int64_t(got);
  return out;
}

// The first `keyword` at or after `from`, read in overlapping blocks; -1 when none.
int64_t TPDFXRefReader::FindForward(ByteView keyword, int64_t from) {
  const int64_t overlap = int64_t(keyword.size()) - 1;
  for (int64_t at = from;;) {
    Bytes block = ReadAt(kSearchBlock, at);
    size_t hit = block.find(keyword);
    if (hit != Bytes::npos) return at + int64_t(hit);
    if (int64_t(block.size()) < kSearchBlock) return -1;
    at = Plus(at, kSearchBlock - overlap);
  }
}

int64_t TPDFXRefReader::FindStartXRef() {
  // The end marker: normally the last "%%EOF"; a file cut off after "%%E" ends in that.
  int64_t marker = -1;
  const int64_t tailStart = std::max<int64_t>(0, size_ - 10);
  Bytes tail = ReadAt(10, size_ - 10);
  size_t e = tail.find("%%E");
  if (e != Bytes::npos && tail.compare(e, 5, "%%EOF") != 0) {
    marker = tailStart + int64_t(tail.rfind("%%E"));
  } else {
    for (int64_t k = 0;; ++k) {
      int64_t start = std::max<int64_t>(0, size_ - kTailWindow - k * kEofWindowStep);
      Bytes window = ReadAt(kTailWindow, start);
      size_t hit = window.rfind("%%EOF");
      if (hit != Bytes::npos) {
        marker = start + int64_t(hit);
        break;
      }
      if (start == 0) return 0;
    }
  }

  int64_t keyword = -1;
  for (int64_t k = 0;; ++k) {
    int64_t end = marker - k * kStartXRefWindowStep;
    int64_t start = std::max<int64_t>(0, end - kTailWindow);
    Bytes window = ReadAt(end - start, start);
    size_t hit = window.rfind("startxref");
    if (hit != Bytes::npos) {
      keyword = start + int64_t(hit);
      break;
    }
    if (start == 0) return 0;
  }

  // The value is on the last non-empty line before the marker; a "%" comment is cut off.
  Bytes between = ReadAt(marker - (keyword + 9), keyword + 9);
  int64_t value = 0;
  size_t lineStart = 0;
  for (size_t i = 0; i <= between.size(); ++i) {
    if (i < between.size() && between[i] != '\r' && between[i] != '\n' && between[i] != '\0') continue;
    if (i > lineStart) {
      Bytes line = Trim(ByteView(between).substr(lineStart, i - lineStart));
      size_t comment = line.find('%');
      if (comment != Bytes::npos) line = Trim(ByteView(line).substr(0, comment));
      value = ToInt64(line, 0);
    }
    lineStart = i + 1;
  }
  return value;
}

bool TPDFXRefReader::ReadSection(int64_t offset) { return Section(offset, 0); }

bool TPDFXRefReader::Section(int64_t offset, int depth) {
  if (OnSection) OnSection(offset);
  bool ok = false;
  // Each offset is read once per reader: a chain that comes back to a section read before
  // (a cycle of any length, or the trailer retries below following the same links again)
  // fails at once instead of reading it again.
  if (depth < kXRefMaxChainDepth && sectionsRead_ < kXRefMaxSections && seenSections_.insert(offset).second) {
    ++sectionsRead_;
    try {
      ok = SectionContent(offset, depth);
    } catch (const std::exception&) {
      // An owner's event or a dictionary that cannot be written: the section fails.
      ok = false;
    }
  }
  if (!ok && OnSection) OnSection(Negated(offset));
  return ok;
}

bool TPDFXRefReader::SectionContent(int64_t offset, int depth) {
  int64_t position = 0;
  switch (Locate(offset, position)) {
    case TSectionKind::Classic:
      return ClassicTrailer(ClassicEntries(position), depth);
    case TSectionKind::Stream: {
      int64_t prev = 0;
      if (!XRefStream(position, prev)) return false;
      if (prev < 1) return true;
      ++PrevCount;
      return Section(prev, depth + 1);
    }
    case TSectionKind::None:
      break;
  }
  return false;
}

__attribute__((noinline)) TPDFXRefReader::TSectionKind TPDFXRefReader::Locate(int64_t offset, int64_t& position) {
  int64_t windowStart = offset < kSectionWindowBack ? 0 : offset - kSectionWindowBack;
  Bytes window = ReadAt(kSectionWindow, windowStart);
  auto find = [&](size_t& tx, size_t& x, size_t& ob) {
    tx = window.find("txref");
    x = window.find("xref");
    ob = window.find(" obj");
    return tx != Bytes::npos || x != Bytes::npos || ob != Bytes::npos;
  };
  size_t tx, x, ob;
  if (!find(tx, x, ob)) {
    // The offset may point into a run of line feeds or NULs in front of the keyword.
    for (int k = 1; k <= kWidenRounds; ++k) {
      Bytes wide = ReadAt(kWidenStep * k, offset);
      size_t skip = 0;
      while (skip + 1 < wide.size() && (wide[skip] == '\0' || wide[skip] == '\n')) ++skip;
      int64_t first = Plus(offset, int64_t(skip));
      windowStart = first < kSectionWindowBack - 1 ? 0 : first - (kSectionWindowBack - 1);
      window = ReadAt(kSectionWindow, windowStart);
      if (find(tx, x, ob)) break;
    }
  }
  if (tx != Bytes::npos && x == tx + 1) x = Bytes::npos;  // the tail of "startxref"
  if (x == Bytes::npos && ob != Bytes::npos) {
    position = Plus(windowStart, int64_t(ob) + 4);
    return TSectionKind::Stream;
  }
  if (x != Bytes::npos && (ob == Bytes::npos || x < ob)) {
    position = Plus(windowStart, int64_t(x) + 4);
    return TSectionKind::Classic;
  }
  return TSectionKind::None;
}

__attribute__((noinline)) int64_t TPDFXRefReader::ClassicEntries(int64_t cursor) {
  for (;;) {
    Bytes header = ReadAt(kSubsectionHeader, cursor);
    if (header.empty() || header.substr(0, 3).find('%') != Bytes::npos || header.find("trailer") != Bytes::npos)
      break;
    size_t i = 0;
    auto skipToDigit = [&] {
      while (i < header.size() && !IsDigit(header[i])) ++i;
    };
    auto takeDigits = [&] {
      size_t start = i;
      while (i < header.size() && IsDigit(header[i])) ++i;
      return ByteView(header).substr(start, i - start);
    };
    skipToDigit();
    ByteView firstText = takeDigits();
    skipToDigit();
    ByteView countText = takeDigits();
    skipToDigit();
    cursor = Plus(cursor, int64_t(i));
    int32_t first = ToInt(firstText, -1);
    int32_t count = ToInt(countText, 0);
    if (first < 0 || count <= 0) break;

    ++SubsectionCount;
    // At most count x 21 bytes from the cursor are the section's entries; `win` holds
    // [winAt, winAt + win.size()) of them, and `end` is where they end once known.
    const int64_t total = int64_t(count) * kEntryReadLength;
    Bytes win;
    int64_t winAt = 0;
    int64_t end = INT64_MAX;
    auto fill = [&](int64_t from) {
      const int64_t want = std::min(kEntryWindow, total - from);
      win = want > 0 ? ReadAt(want, Plus(cursor, from)) : Bytes();
      winAt = from;
      if (int64_t(win.size()) < want || from + want >= total) end = from + int64_t(win.size());
    };
    auto winEnd = [&] { return winAt + int64_t(win.size()); };
    fill(0);
    {
      const ByteView d(win);
      // A table written as starting at 1 whose first entry is the head of the free list.
      if (first == 1 && ToInt64(Field(d, 0, 10), -1) == 0 && ToInt(Field(d, 11, 5), -1) == 65535) first = 0;
    }

    // An entry is offset(10) space generation(5) space kind, then any run of spaces, CR
    // and LF, so 19-, 20- and 21-byte entries all line up.
    int64_t p = 0;
    int64_t number = first;
    for (int32_t n = 0; n < count && p < end && number <= INT32_MAX; ++n, ++number) {
      if (winEnd() - p < kEntryHead && winEnd() < end) fill(p);
      if (p >= end) break;
      const ByteView d = ByteView(win).substr(size_t(p - winAt));
      if (d.substr(0, 7) == "trailer") break;
      if (int64_t(d.size()) >= kEntryHead) {
        const int64_t position = ToInt64(d.substr(0, 10), -1);
        const int32_t generation = ToInt(d.substr(11, 5), -1);
        if (position >= 0 && generation >= 0 && OnEntry) OnEntry(int32_t(number), generation, d[17], position);
      }
      p += kEntryHead;
      for (;;) {
        while (p < winEnd() && (win[size_t(p - winAt)] == ' ' || win[size_t(p - winAt)] == '\r' ||
                                win[size_t(p - winAt)] == '\n'))
          ++p;
        if (p < winEnd() || winEnd() >= end) break;
        fill(p);
      }
    }
    cursor = Plus(cursor, std::min(p, end));
  }
  return cursor;
}

bool TPDFXRefReader::ClassicTrailer(int64_t cursor, int depth) {
  cursor = FindForward("trailer", cursor);
  if (cursor < 0) return false;
  for (int k = 1; k <= kTrailerAttempts; ++k) {
    Bytes text = ReadAt(kTrailerWindowStep * k, cursor);
    size_t keyword = text.find("trailer");
    if (keyword == Bytes::npos) continue;
    text.erase(0, keyword + 7);
    if (text.find("<<") == Bytes::npos || text.find(">>") == Bytes::npos) continue;

    bool hasXRefStm = false, hasPrev = false;
    int64_t xrefStm = 0, prev = 0;
    {
      auto structure = std::make_unique<TPDFStructure>();  // off the stack of the recursion
      TPDFDictionary* dict = As<TPDFDictionary>(structure->Parse(text));
      if (!dict) continue;
      if (OnTrailer) OnTrailer(dict->ToText());
      if (TPDFObject* v = dict->Get("XRefStm", false); As<TPDFNumeric>(v)) {
        hasXRefStm = true;
        xrefStm = NumberValue(v, 0);
      }
      if (TPDFObject* v = dict->Get("Prev", false); As<TPDFNumeric>(v)) {
        hasPrev = true;
        prev = NumberValue(v, 0);
      }
    }
    if (hasXRefStm) {
      XRefStmSeen = true;
      Section(xrefStm, depth + 1);  // its outcome does not decide the table's
    }
    if (!hasPrev) return true;
    if (prev == LastPrev) continue;
    LastPrev = prev;
    if (prev <= 0) return true;
    ++PrevCount;
    if (Section(prev, depth + 1)) return true;
  }
  return false;
}

__attribute__((noinline)) bool TPDFXRefReader::XRefStream(int64_t position, int64_t& prev) {
  XRefStreamSeen = true;
  prev = 0;

  // The head: enough text to hold the whole dictionary and the "stream" keyword. Capped,
  // so that a file without the keyword is not read again and again in growing steps.
  Bytes head;
  THeadCheck check;
  for (;;) {
    int64_t want = std::min<int64_t>(kXRefHeadStep, kXRefHeadMax - int64_t(head.size()));
    Bytes step = ReadAt(want, Plus(position, int64_t(head.size())));
    head += step;
    if (check.Complete(head) || int64_t(step.size()) < want || int64_t(head.size()) >= kXRefHeadMax) break;
  }

  Bytes dictText;
  {
    TPDFStructure structure;
    size_t consumed = 0;
    TPDFDictionary* dict = As<TPDFDictionary>(structure.ParseAt(head, 1, consumed));
    if (!dict) return false;
    TPDFName* type = As<TPDFName>(dict->Get("Type", false));
    if (!type || type->NameBytes != "XRef" || !As<TPDFNumeric>(dict->Get("Size", false))) return false;
    dictText = dict->ToText();

    // The stream's own object number, from "N 0 obj" in front of the section.
    int32_t own = 0;
    {
      int64_t start = position < 19 ? 0 : position - 19;
      Bytes t = ReadAt(Plus(position, 1) - start, start);
      auto dropUntil = [&](ByteView suffix) {
        while (!t.empty() && !EndsWith(t, suffix)) t.pop_back();
      };
      dropUntil("obj");
      dropUntil("0");
      dropUntil(" ");
      while (!t.empty() && t.back() == ' ') t.pop_back();
      size_t digits = t.size();
      while (digits > 0 && IsDigit(t[digits - 1])) --digits;
      own = ToInt(ByteView(t).substr(digits), 0);
    }

    // Subsections as (first number, count) pairs.
    std::vector<std::pair<int64_t, int64_t>> subsections;
    if (TPDFArray* index = As<TPDFArray>(dict->Get("Index", false))) {
      for (int i = 0; i + 1 < index->Count(); i += 2)
        subsections.emplace_back(IntegerValue(index->Item(i), 0), IntegerValue(index->Item(i + 1), 0));
    } else {
      subsections.emplace_back(0, IntegerValue(dict->Get("Size", false), 0));
    }
    prev = NumberValue(dict->Get("Prev", false), 0);

    TPDFArray* w = As<TPDFArray>(dict->Get("W", false));
    if (w && w->Count() >= 3) {
      int32_t widths[3];
      for (int i = 0; i < 3; ++i) widths[i] = IntegerValue(w->Item(i), 0);

      // The data: the first "stream" after the dictionary and after every ">>" that
      // precedes it; the text before `from` counts as blanked out.
      int64_t dataStart = -1;
      size_t from = std::min(consumed, head.size());
      for (;;) {
        size_t keyword = head.find("stream", from);
        size_t close = head.find(">>", from);
        if (close != Bytes::npos && (keyword == Bytes::npos || close < keyword)) {
          from = close + 2;
          continue;
        }
        if (keyword == Bytes::npos) break;  // no data
        size_t i = keyword + 6;
        while (i < head.size() && (head[i] == 0 || head[i] == 9 || head[i] == 12 || head[i] == 32)) ++i;
        if (i < head.size() && head[i] == '\r') {
          ++i;
          if (i < head.size() && head[i] == '\n') ++i;
          dataStart = Plus(position, int64_t(i));
        } else if (i < head.size() && head[i] == '\n') {
          dataStart = Plus(position, int64_t(i + 1));
        }
        break;
      }
      TPDFNumeric* length = As<TPDFNumeric>(dict->Get("Length", false));
      if (dataStart >= 0 && length && length->AsInteger() >= 0) {
        int entryWidth = 0;
        for (int width : widths) entryWidth += width >= 1 && width <= 8 ? width : 0;
        // No more data is decoded than the announced entries fill.
        int64_t entries = 0;
        for (const auto& [first, count] : subsections)
          if (count > 0) entries = std::min(kXRefStreamEntriesMax, entries + std::min(count, kXRefStreamEntriesMax));
        Bytes decoded;
        bool readable = true;
        try {
          TPDFStream* stream = structure.NewStreamWith(dict, ReadAt(length->AsInteger(), dataStart));
          stream->Decoded(decoded, size_t(entries) * size_t(entryWidth));
        } catch (const EPDFError&) {
          readable = false;
        }
        if (readable) {
          // Entries are reported while the decoded data hold a whole entry; the entries
          // announced beyond that (a short stream, or a huge /Size or /Index) are not
          // reported, and an entry of zero bytes can never be backed by data.
          size_t cursor = 0;
          auto field = [&](int width) -> uint64_t {
            if (width < 1 || width > 8) return 0;
            uint64_t v = 0;
            for (int i = 0; i < width; ++i) v = (v << 8) | uint8_t(decoded[cursor++]);
            return v;
          };
          const Bytes ownText = own > 0 ? DecimalText(own) : Bytes();
          bool ownChecked = false, ownIsThere = true;
          for (const auto& [first, count] : subsections) {
            for (int64_t j = first, n = 0; n < count && entryWidth > 0; ++j, ++n) {
              if (decoded.size() - cursor < size_t(entryWidth) || j > INT32_MAX) break;
              uint64_t type = widths[0] == 0 ? 1 : field(widths[0]);
              uint64_t f2 = field(widths[1]);
              uint64_t f3 = field(widths[2]);
              if (j < 0) continue;  // object numbers are never negative
              int64_t pos = f2 > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(f2);
              int32_t second = f3 > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(f3);
              char kind;
              switch (type) {
                case 0:
                  kind = 'f';
                  break;
                case 1:
                  kind = 'n';
                  if (widths[2] == 0) second = 0;
                  // An entry for this stream itself that points at its own number's
                  // digits in place of an offset.
                  if (own > 0 && j == own && pos == j) {
                    if (!ownChecked) {
                      ownIsThere = ReadAt(int64_t(ownText.size()), pos) == ownText;
                      ownChecked = true;
                    }
                    if (!ownIsThere) pos = dataStart;
                  }
                  break;
                case 2:
                  kind = 'c';
                  break;
                default:
                  kind = ' ';
                  pos = 0;
                  second = 0;
              }
              if (OnEntry) OnEntry(int32_t(j), second, kind, pos);
            }
            if (entryWidth == 0 || cursor + size_t(entryWidth) > decoded.size()) break;
          }
        }
      }
    }
  }

  if (OnTrailer) OnTrailer(dictText);
  return true;
}

}  // namespace pagelume
