// The object model: the exact text each object writes, and the arena's rules for
// what may be freed (Release, Discard, Remove, Clear) and how keys are shared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>

#include "engine/objects/MarlockPDFLibraryStructure.h"

namespace pagelume {
namespace {

TPDFDictionary* ParseDict(TPDFStructure& s, ByteView text) {
  auto* d = As<TPDFDictionary>(s.Parse(text));
  EXPECT_NE(d, nullptr) << text;
  return d;
}

// ---------------------------------------------------------------------------
// Writing

TEST(ToText, SimpleObjects) {
  TPDFStructure s;
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    TPDFObject* obj;
    Bytes text;
  };
  const Case cases[] = {
      {s.NewNull(), "null"},
      {s.NewBoolean(true), "true"},
      {s.NewBoolean(false), "false"},
      {s.NewNumber(3), "3"},
      {s.NewNumber(1.5), "1.5"},
      {s.NewNumber(0.25), "0.25"},
      {s.NewNumber(-0.5), "-0.5"},
      {s.NewNumber(12.34567), "12.3457"},
      {s.NewNumber(0.00004), "0"},
      {s.NewNumber(-0.00001), "0"},
      {s.NewNumber(612), "612"},
      {s.NewNumber(-1234567.00005), "-1234567"},
      {s.NewString("a(b)c\\\n", 0), "(a\\(b\\)c\\\\\\n)"},
      {s.NewString(Bytes("\b\t\f\r\x0B\x80\x00z", 8), 0), Bytes("(\\b\\t\\f\\r\x0B\x80\x00z)", 14)},
      {s.NewString("", 0), "()"},
      {s.NewString(Bytes("H\xFF\x00", 3), 1), "<48FF00>"},
      {s.NewString("abc", 7), ""},
      {s.NewName("A B#"), "/A#20B#23"},
      {s.NewName(""), "/"},
      {s.NewName("a%()/<>[]{}\x7F\xE9~!"), "/a#25#28#29#2F#3C#3E#5B#5D#7B#7D#7F#E9~!"},
      {s.NewRef(12, 0), "12 0 R"},
      {s.NewRef(-3, 65535), "-3 65535 R"},
      {s.NewEmptyArray(), "[ ]"},
      {s.NewIntegerArray({0, 0, 612, 792}), "[ 0 0 612 792 ]"},
      {s.NewRealArray({0.5, -2.25}), "[ 0.5 -2.25 ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.obj->ToText(), c.text);
  }
  // A number that does not fit the written form is refused, not written wrongly.
  for (const double bad : {1e15, -1e15, inf, -inf, std::nan("")}) {
    EXPECT_THROW(s.NewNumber(bad)->ToText(), EPDFError) << bad;
    EXPECT_THROW(s.NewRealArray({1, bad})->ToText(), EPDFError) << bad;
  }
}

TEST(ToText, Dictionaries) {
  TPDFStructure s;
  TPDFDictionary* one = s.NewDictionary();
  one->Put("Type", s.NewName("Page"));
  EXPECT_EQ(one->ToText(), "<<\n/Type /Page\n>>\n");
  EXPECT_EQ(s.NewDictionary()->ToText(), "<<\n>>\n");

  // A dictionary value ends with its own line feed: no blank line after it.
  TPDFDictionary* outer = s.NewDictionary();
  TPDFDictionary* inner = s.NewDictionary();
  inner->Put("A", s.NewNumber(1));
  outer->Put("R", inner);
  outer->Put("B", s.NewIntegerArray({2}));
  EXPECT_EQ(outer->ToText(), "<<\n/R <<\n/A 1\n>>\n/B [ 2 ]\n>>\n");
  TPDFArray* withDict = s.NewArray({inner, s.NewNumber(2)});
  EXPECT_EQ(withDict->ToText(), "[ <<\n/A 1\n>>\n2 ]");

  // A pair that cannot be written becomes a comment line; the others are kept.
  TPDFDictionary* bug = s.NewDictionary();
  bug->Put("A", s.NewNumber(1));
  bug->Put("Big", s.NewNumber(1e15));
  bug->Put("Deep", s.NewRealArray({1, std::nan("")}));
  bug->Put("C", s.NewNumber(2));
  EXPECT_EQ(bug->ToText(), "<<\n/A 1\n% bug \n% bug \n/C 2\n>>\n");
  // ... also when nested, and the text still parses back.
  outer->Put("Bug", bug);
  TPDFStructure other;
  auto* back = As<TPDFDictionary>(other.Parse(outer->ToText()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetDictionary("Bug")->ToText(), "<<\n/A 1\n/C 2\n>>\n");
}

TEST(ToText, LongReferenceArraysWrapAfterEightyCharacters) {
  TPDFStructure s;
  TPDFArray* a = s.NewEmptyArray();
  for (int i = 1; i <= 30; ++i) a->Append(s.NewRef(i, 0));
  EXPECT_EQ(a->ToText(),
            "[ 1 0 R 2 0 R 3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 9 0 R 10 0 R 11 0 R 12 0 R 13 0 R \n"
            "14 0 R 15 0 R 16 0 R 17 0 R 18 0 R 19 0 R 20 0 R 21 0 R 22 0 R 23 0 R 24 0 R 25 0 R \n"
            "26 0 R 27 0 R 28 0 R 29 0 R 30 0 R ]");
  // Appending to text already present counts from the array's own start.
  Bytes out = "prefix ";
  a->ToText(out);
  EXPECT_EQ(out, "prefix " + a->ToText());
}

TEST(ToText, StreamsAndRawData) {
  TPDFStructure s;
  TPDFDictionary* dict = s.NewDictionary();
  dict->Put("Length", s.NewRef(9, 0));
  TPDFStream* st = s.NewStreamWith(dict, "stored");
  EXPECT_FALSE(st->IsModified());
  EXPECT_EQ(st->ToText(), "<<\n/Length 9 0 R\n>>\nstream\nstored\nendstream");
  // SetRaw replaces an indirect /Length by the number, in place.
  st->SetRaw("abc");
  EXPECT_EQ(st->ToText(), "<<\n/Length 3\n>>\nstream\nabc\nendstream");
  // ... and a number /Length keeps its object.
  TPDFNumeric* length = dict->GetNumber("Length");
  st->SetRaw("abcdef");
  EXPECT_EQ(dict->GetNumber("Length"), length);
  EXPECT_EQ(length->Amount, 6);
  // Uncompressed content drops a /Filter that no longer applies.
  TPDFStream* content = s.NewStreamWith(ParseDict(s, "<</Filter/FlateDecode/Length 99>>"), "xyz");
  content->SetContent("abc", false);
  EXPECT_EQ(content->ToText(), "<<\n/Length 3\n>>\nstream\nabc\nendstream");
  const Bytes file = "xxBORROWEDxx";
  st->SetRawBorrowed(ByteView(file).substr(2, 8));
  EXPECT_TRUE(st->RawData.borrowed());
  EXPECT_EQ(st->ToText(), "<<\n/Length 8\n>>\nstream\nBORROWED\nendstream");
}

TEST(ToText, NestingTooDeepToWriteFailsInsteadOfCrashing) {
  TPDFStructure s;
  TPDFArray* top = s.NewEmptyArray();
  TPDFArray* a = top;
  for (int i = 0; i < 100000; ++i) {
    TPDFArray* next = s.NewEmptyArray();
    a->Append(next);
    a = next;
  }
  EXPECT_THROW(top->ToText(), EPDFError);
  // A cycle made by code is caught the same way.
  TPDFArray* loop = s.NewEmptyArray();
  loop->Append(loop);
  EXPECT_THROW(loop->ToText(), EPDFError);
  loop->SetModified(false);
  EXPECT_FALSE(loop->IsModified());
  TPDFDictionary* holder = s.NewDictionary();
  holder->PutPair(s.NewName("Me"), holder);
  Bytes text;
  EXPECT_NO_THROW(holder->ToText(text));
  EXPECT_NE(text.find("% bug \n"), Bytes::npos);
}

// ---------------------------------------------------------------------------
// Values and flags

TEST(Objects, AsIntegerRoundsHalfToEvenAndKeepsTheLow32Bits) {
  TPDFStructure s;
  const struct {
    double x;
    int32_t want;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-0.4, 0}, {612.6, 613}, {4294967297.0, 1},
               {-4294967297.0, -1}, {1e30, 0}, {std::numeric_limits<double>::infinity(), 0},
               {std::nan(""), 0}};
  for (const auto& c : cases) EXPECT_EQ(s.NewNumber(c.x)->AsInteger(), c.want) << c.x;
  EXPECT_EQ(s.NewNumber(4294967297.0)->AsInt64(), 4294967297LL);
  EXPECT_EQ(s.NewNumber(1e30)->AsInt64(-7), -7);
}

TEST(Objects, FactoriesAndSettersSetModifiedAsDescribed) {
  TPDFStructure s;
  EXPECT_FALSE(s.NewNull()->Modified);
  EXPECT_FALSE(s.NewBoolean(true)->Modified);
  EXPECT_FALSE(s.NewRef(1, 0)->Modified);
  EXPECT_FALSE(s.NewDictionary()->Modified);
  EXPECT_FALSE(s.NewEmptyArray()->Modified);
  EXPECT_FALSE(s.NewArray({})->Modified);
  EXPECT_FALSE(s.NewStreamWith(s.NewDictionary(), "x")->Modified);
  EXPECT_TRUE(s.NewName("A")->Modified);
  EXPECT_TRUE(s.NewNumber(1)->Modified);
  EXPECT_TRUE(s.NewString("a", 0)->Modified);
  EXPECT_TRUE(s.NewStringText(u"a", 0)->Modified);
  EXPECT_TRUE(s.NewIntegerArray({1})->Modified);
  EXPECT_TRUE(s.NewArray({s.NewNull()})->Modified);

  // Parsed objects start clean; a changed value is reported by its containers,
  // except by a stream, which answers for itself only.
  auto* page = ParseDict(s, "<</Kids[<</N 1>>]/Box[0 0 1 1]>>");
  EXPECT_FALSE(page->IsModified());
  page->GetArray("Kids")->Item(0)->SetModified(true);
  EXPECT_TRUE(page->GetArray("Kids")->IsModified());
  EXPECT_TRUE(page->IsModified());
  EXPECT_FALSE(page->Modified);
  TPDFStream* st = s.NewStreamWith(ParseDict(s, "<</Length 1>>"), "x");
  st->StreamDict->GetNumber("Length")->SetAmount(2);
  EXPECT_TRUE(st->StreamDict->IsModified());
  EXPECT_FALSE(st->IsModified());
  auto* b = s.NewBoolean(false);
  b->SetTruth(true);
  EXPECT_FALSE(b->Modified);
}

TEST(Objects, StringTextModes) {
  TPDFStructure s;
  const struct {
    int mode;
    Text text;
    Bytes bytes;
    uint8_t notation;
  } cases[] = {
      {0, u"abc", "abc", 0},
      {0, u"\u4E2D", Bytes("\xFE\xFF\x4E\x2D", 4), 0},
      {1, u"ab", Bytes("\xFE\xFF\x00\x61\x00\x62", 6), 0},
      {2, u"abc", "abc", 1},
      {3, u"a", Bytes("\xFE\xFF\x00\x61", 4), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TPDFString* str = s.NewStringText(c.text, c.mode);
    EXPECT_EQ(str->BytesValue, c.bytes);
    EXPECT_EQ(str->Notation, c.notation);
    EXPECT_EQ(str->GetText(), c.text);
  }
  TPDFString* str = s.NewString("keep", 1);
  str->SetModified(false);
  str->SetText(u"other", 4);
  EXPECT_EQ(str->BytesValue, "keep");
  EXPECT_EQ(str->Notation, 1);
}

TEST(Objects, OffsetReferencesReachesEveryReferenceButNoKeys) {
  TPDFStructure s;
  auto* d = ParseDict(s, "<</P 3 0 R/K[1 0 R<</X 2 0 R>>]/N 5>>");
  TPDFStream* st = s.NewStreamWith(d, "");
  st->OffsetReferences(10);
  EXPECT_EQ(d->ToText(), "<<\n/P 13 0 R\n/K [ 11 0 R <<\n/X 12 0 R\n>>\n]\n/N 5\n>>\n");
  EXPECT_TRUE(st->Modified);
  TPDFArray* empty = s.NewEmptyArray();
  empty->OffsetReferences(1);
  EXPECT_FALSE(empty->Modified);
}

// ---------------------------------------------------------------------------
// Dictionaries

TEST(Dictionary, LookupsFollowReferencesThroughTheHook) {
  TPDFStructure s;
  TPDFNumeric* target = s.NewNumber(42.4);
  TPDFName* typeName = s.NewName("Catalog");
  s.ResolveReference = [&](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    return number == 7 ? static_cast<TPDFObject*>(target) : number == 8 ? typeName : nullptr;
  };
  auto* d = ParseDict(s, "<</N 7 0 R/M 9 0 R/I 12.5/Type/Page/T 8 0 R/S(x)>>");
  EXPECT_EQ(d->Get("N", true), target);
  EXPECT_NE(As<TPDFIndRef>(d->Get("N", false)), nullptr);
  EXPECT_EQ(d->Get("M", true), nullptr);
  EXPECT_EQ(d->Get("Missing", true), nullptr);
  EXPECT_EQ(d->GetInteger("N", -1), 42);
  EXPECT_EQ(d->GetInteger("I", -1), 12);
  EXPECT_EQ(d->GetInteger("M", -1), -1);
  EXPECT_EQ(d->GetInteger("S", -1), -1);
  EXPECT_EQ(d->GetNumber("N"), target);
  EXPECT_EQ(d->GetString("S")->BytesValue, "x");
  EXPECT_EQ(d->GetName("N"), nullptr);
  EXPECT_EQ(d->TypeName(), "Page");
  // TypeName does not resolve.
  auto* t = ParseDict(s, "<</Type 8 0 R>>");
  EXPECT_EQ(t->TypeName(), "");
  EXPECT_EQ(t->GetName("Type"), typeName);
  // Keys are compared byte for byte, case included.
  EXPECT_EQ(d->IndexOfKey("type"), -1);
  EXPECT_EQ(d->PairAt(6).first, nullptr);
  EXPECT_EQ(d->PairAt(-1).second, nullptr);
  s.ResolveReference = nullptr;
  EXPECT_EQ(d->Get("N", true), nullptr);
}

TEST(Dictionary, PutKeepsPositionsAndPutPairReplacesTheKeyObject) {
  TPDFStructure s;
  auto* d = ParseDict(s, "<</A 1/B 2/C 3>>");
  TPDFName* oldKey = d->PairAt(1).first;
  TPDFObject* oldValue = d->PairAt(1).second;
  d->Put("B", s.NewNumber(20));
  EXPECT_EQ(d->ToText(), "<<\n/A 1\n/B 20\n/C 3\n>>\n");
  EXPECT_NE(d->PairAt(1).first, oldKey);
  EXPECT_TRUE(d->PairAt(1).first->IsSharedKey);
  TPDFName* newKey = s.NewName("A");
  EXPECT_EQ(d->PutPair(newKey, s.NewNumber(10)), 0);
  EXPECT_EQ(d->PairAt(0).first, newKey);
  EXPECT_EQ(d->PutPair(s.NewName("D"), s.NewNumber(4)), 3);
  EXPECT_EQ(d->ToText(), "<<\n/A 10\n/B 20\n/C 3\n/D 4\n>>\n");
  // The replaced objects were not released: they are still alive and can go now.
  EXPECT_EQ(oldKey->NameBytes, "B");
  EXPECT_EQ(oldKey->HoldCount, 0u);
  const size_t live = s.LiveCount();
  s.Release(oldKey);
  s.Release(oldValue);
  EXPECT_EQ(s.LiveCount(), live - 2);
}

TEST(Dictionary, PutOfItselfStoresNothingButMarksModified) {
  TPDFStructure s;
  TPDFDictionary* d = s.NewDictionary();
  d->Put("Kids", d);
  EXPECT_EQ(d->Count(), 0);
  EXPECT_TRUE(d->Modified);
  EXPECT_EQ(d->HoldCount, 0u);
  const size_t live = s.LiveCount();
  s.Release(d);
  EXPECT_EQ(s.LiveCount(), live - 1);
}

TEST(Dictionary, UnlinkAndRemoveOfAbsentKeysChangeNothing) {
  TPDFStructure s;
  auto* d = ParseDict(s, "<</A 1/B 2/C 3>>");
  const size_t live = s.LiveCount();
  d->Unlink("X");
  d->Remove("X");
  EXPECT_FALSE(d->Modified);
  TPDFObject* b = d->Get("B", false);
  d->Unlink("B");
  EXPECT_TRUE(d->Modified);
  EXPECT_EQ(d->ToText(), "<<\n/A 1\n/C 3\n>>\n");
  EXPECT_EQ(s.LiveCount(), live);  // Unlink releases nothing
  EXPECT_EQ(b->HoldCount, 0u);
}

TEST(Dictionary, RemoveDiscardsContainersAndReleasesOrdinaryKeys) {
  TPDFStructure s;
  auto* page = ParseDict(s, "<</Type/Page/Contents[<</Length 1>> <</K(x)>>]/Extra<</E[/F]>>/Num 5>>");
  TPDFDictionary* first = As<TPDFDictionary>(page->GetArray("Contents")->Item(0));
  TPDFObject* lengthValue = first->Get("Length", false);
  TPDFName* lengthKey = first->PairAt(0).first;
  TPDFObject* kValue = As<TPDFDictionary>(page->GetArray("Contents")->Item(1))->Get("K", false);
  const size_t live = s.LiveCount();

  // The array and its items go; the items' own members stay. "Contents" is a
  // frequent key and is kept for sharing.
  page->Remove("Contents");
  EXPECT_EQ(s.LiveCount(), live - 3);
  EXPECT_EQ(lengthKey->NameBytes, "Length");
  EXPECT_EQ(lengthKey->HoldCount, 0u);
  EXPECT_EQ(As<TPDFNumeric>(lengthValue)->Amount, 1);
  EXPECT_EQ(As<TPDFString>(kValue)->BytesValue, "x");
  EXPECT_NE(s.FindName("Contents"), nullptr);

  // A dictionary value is discarded with its whole tree; the ordinary key is released.
  page->Remove("Extra");
  EXPECT_EQ(s.LiveCount(), live - 3 - 5);
  EXPECT_EQ(s.FindName("Extra"), nullptr);
  EXPECT_EQ(s.FindName("F"), nullptr);
  // Other values are left to the arena.
  page->Remove("Num");
  EXPECT_EQ(s.LiveCount(), live - 3 - 5 - 1);
  EXPECT_EQ(page->ToText(), "<<\n/Type /Page\n>>\n");
}

TEST(Dictionary, RemoveKeepsWhatIsStillHeldElsewhere) {
  TPDFStructure s;
  auto* page = ParseDict(s, "<</Contents[<</Length 1>>]/Annots[]>>");
  TPDFArray* contents = page->GetArray("Contents");
  TPDFObject* item = contents->Item(0);
  page->GetArray("Annots")->Append(item);
  TPDFDictionary* keeper = s.NewDictionary();
  keeper->Put("Keep", contents);
  const size_t live = s.LiveCount();
  // The array is still held by `keeper`: nothing is freed, nothing is lost.
  page->Remove("Contents");
  EXPECT_EQ(s.LiveCount(), live);
  EXPECT_EQ(contents->ToText(), "[ <<\n/Length 1\n>>\n]");
  // Once free, the array goes, but its item is held by /Annots and stays.
  keeper->Remove("Keep");
  EXPECT_EQ(s.LiveCount(), live - 1);
  EXPECT_EQ(page->GetArray("Annots")->Item(0), item);
  EXPECT_EQ(item->HoldCount, 1u);
}

TEST(Dictionary, DiscardAndClear) {
  TPDFStructure s;
  const size_t base = s.LiveCount();
  auto* d = ParseDict(s, "<</A<</B[1 2]>>/C(x)/Type/Page>>");
  TPDFName* sharedKey = s.KeyName("Shared");
  d->PutPair(sharedKey, s.NewNumber(9));
  // Discard frees the dictionary and its tree, except what is shared or held;
  // the array's items are only released (and nothing else holds them).
  TPDFNumeric* held = As<TPDFNumeric>(d->GetDictionary("A")->GetArray("B")->Item(0));
  TPDFArray* other = s.NewArray({held});
  d->Discard();
  EXPECT_EQ(s.LiveCount(), base + 3);  // the shared key, the held number, `other`
  EXPECT_EQ(held->HoldCount, 1u);
  EXPECT_EQ(s.FindName("Shared"), sharedKey);
  EXPECT_EQ(s.FindName("Page"), nullptr);

  // Clear releases every key and value once, however often it occurs.
  auto* c = ParseDict(s, "<</X 1/Y 2>>");
  TPDFNumeric* twice = s.NewNumber(3);
  c->Put("P", twice);
  c->Put("Q", twice);
  c->Put("R", other);
  const size_t before = s.LiveCount();
  c->Clear();
  EXPECT_EQ(c->Count(), 0);
  EXPECT_TRUE(c->Modified);
  // Gone: X, Y, 1, 2, `twice`, `other`; the keys put by code are shared and stay.
  EXPECT_EQ(s.LiveCount(), before - 6);
  EXPECT_NE(s.FindName("P"), nullptr);
  EXPECT_EQ(held->HoldCount, 0u);
}

TEST(Dictionary, DiscardOfAHeldDictionaryLosesNothing) {
  TPDFStructure s;
  auto* d = ParseDict(s, "<</A 1/B<</C 2>>>>");
  TPDFArray* holder = s.NewArray({d});
  const size_t live = s.LiveCount();
  d->Discard();
  EXPECT_EQ(s.LiveCount(), live);
  EXPECT_EQ(d->ToText(), "<<\n/A 1\n/B <<\n/C 2\n>>\n>>\n");
  EXPECT_EQ(holder->Item(0), d);
}

TEST(Dictionary, AssignFromSharesWithinAnArenaAndCopiesThroughTextAcross) {
  TPDFStructure s;
  auto* src = ParseDict(s, "<</A 1/B[2 3 0 R]>>");
  TPDFDictionary* same = s.NewDictionary();
  same->Put("Old", s.NewNumber(0));
  same->AssignFrom(*src);
  EXPECT_EQ(same->PairAt(1).second, src->PairAt(1).second);
  EXPECT_EQ(src->PairAt(1).second->HoldCount, 2u);
  EXPECT_TRUE(same->Modified);

  TPDFStructure t;
  TPDFDictionary* copy = t.NewDictionary();
  const size_t before = t.LiveCount();
  copy->AssignFrom(*src);
  EXPECT_EQ(copy->ToText(), src->ToText());
  EXPECT_EQ(As<TPDFArray>(copy->PairAt(1).second)->Structure, &t);
  // Only the copied members were added: the parsed vehicle dictionary is gone.
  EXPECT_EQ(t.LiveCount(), before + 6);
  EXPECT_EQ(copy->PairAt(0).first->HoldCount, 1u);
}

// ---------------------------------------------------------------------------
// Arrays and streams

TEST(Array, ItemsReplaceAndReserve) {
  TPDFStructure s;
  TPDFArray* a = s.NewIntegerArray({1, 2, 3});
  EXPECT_EQ(a->Item(-1), nullptr);
  EXPECT_EQ(a->Item(3), nullptr);
  TPDFObject* old = a->Item(1);
  TPDFArray* elsewhere = s.NewArray({a->Item(2)});
  const size_t live = s.LiveCount();
  a->SetModified(false);
  a->ReplaceItem(5, s.NewNull());
  EXPECT_FALSE(a->Modified);
  a->ReplaceItem(1, s.NewNumber(20));  // the old item is freed
  EXPECT_EQ(s.LiveCount(), live + 2 - 1);
  a->ReplaceItem(2, s.NewNumber(30));  // still held by `elsewhere`: kept
  EXPECT_EQ(s.LiveCount(), live + 3 - 1);
  EXPECT_EQ(a->ToText(), "[ 1 20 30 ]");
  EXPECT_EQ(elsewhere->ToText(), "[ 3 ]");
  a->ReplaceItem(0, a->Item(0));  // replacing an item by itself keeps it
  EXPECT_EQ(a->ToText(), "[ 1 20 30 ]");
  (void)old;
  a->Reserve(100);
  EXPECT_GE(a->Items.capacity(), 103u);
  a->Append(s.NewNull());
  EXPECT_EQ(a->Count(), 4);
  a->ClearItems();
  EXPECT_EQ(a->Count(), 0);
  EXPECT_EQ(elsewhere->Item(0)->HoldCount, 1u);
}

TEST(Stream, HoldsItsDictionaryWithoutCountingItAsHeld) {
  TPDFStructure s;
  auto* dict = ParseDict(s, "<</Length 3/Filter/FlateDecode>>");
  TPDFStream* st = s.NewStreamWith(dict, "abc");
  EXPECT_FALSE(st->Holds(dict));
  EXPECT_TRUE(st->Holds(dict->Get("Filter", false)));
  const size_t live = s.LiveCount();
  // Releasing the live dictionary directly must not leave the stream dangling.
  s.Release(dict);
  EXPECT_EQ(s.LiveCount(), live);
  EXPECT_EQ(st->StreamDict->GetInteger("Length", 0), 3);
  // ReplaceDictionary lets the old one go.
  st->ReplaceDictionary(s.NewDictionary());
  EXPECT_EQ(s.LiveCount(), live);
  // Discard takes the stream with its dictionary.
  TPDFStream* other = s.NewStreamWith(ParseDict(s, "<</A/B>>"), "x");
  const size_t withOther = s.LiveCount();
  other->Discard();
  EXPECT_EQ(s.LiveCount(), withOther - 4);
  EXPECT_EQ(s.FindName("A"), nullptr);
}

// ---------------------------------------------------------------------------
// The arena

TEST(Arena, ReleaseFreesOnlyWhatNothingNeeds) {
  TPDFStructure s;
  TPDFStructure other;
  TPDFNumeric* n = s.NewNumber(1);
  TPDFArray* a = s.NewArray({n});
  const size_t live = s.LiveCount();
  s.Release(n);  // held by a live array: survives
  EXPECT_EQ(s.LiveCount(), live);
  EXPECT_EQ(n->ToText(), "1");
  a->ClearItems();
  s.Release(n);
  EXPECT_EQ(s.LiveCount(), live - 1);

  TPDFNumeric* foreign = other.NewNumber(2);
  s.Release(foreign);  // another arena's object is never freed here
  EXPECT_EQ(other.LiveCount(), 1u);
  EXPECT_EQ(foreign->ToText(), "2");

  TPDFName* key = s.KeyName("Anything");
  s.Release(key);  // shared keys stay until the arena goes
  EXPECT_EQ(s.FindName("Anything"), key);

  // An indirect object belongs to the document's table and is not freed.
  TPDFDictionary* indirect = s.NewDictionary();
  indirect->AssignNumber(5, 0);
  s.Release(indirect);
  EXPECT_TRUE(s.Owns(indirect));
  s.Release(nullptr);
}

TEST(Arena, KeyNameSharesFrequentKeysOnly) {
  TPDFStructure s;
  auto* parsed = ParseDict(s, "<</Type/Page/Foo 1>>");
  TPDFName* type = s.KeyName("Type");
  EXPECT_EQ(type, parsed->PairAt(0).first);  // the first such name in the arena
  EXPECT_TRUE(type->IsSharedKey);
  EXPECT_EQ(s.KeyName("Type"), type);
  TPDFName* foo1 = s.KeyName("Foo");
  TPDFName* foo2 = s.KeyName("Foo");
  EXPECT_NE(foo1, foo2);
  EXPECT_NE(foo1, parsed->PairAt(1).first);
  EXPECT_TRUE(foo2->IsSharedKey);
  // Dictionaries built by code share one /Length key object.
  TPDFDictionary* d1 = s.NewDictionary();
  TPDFDictionary* d2 = s.NewDictionary();
  d1->Put("Length", s.NewNumber(1));
  d2->Put("Length", s.NewNumber(2));
  EXPECT_EQ(d1->PairAt(0).first, d2->PairAt(0).first);
  for (const char* key : {"MediaBox", "eZLT", "Kavrel", "FlateDecode", "Type1"})
    EXPECT_TRUE(TPDFStructure::IsFrequentKey(key)) << key;
  for (const char* key : {"Typ", "ype", "", "Info", "type", "Type1C"})
    EXPECT_FALSE(TPDFStructure::IsFrequentKey(key)) << key;
}

TEST(Arena, FindNameAnswersTheEarliestLiveNameAfterReleasesAndRenames) {
  TPDFStructure s;
  TPDFName* renamed = s.NewName("Z");  // created first, named X later
  TPDFName* x1 = s.NewName("X");
  TPDFName* x2 = s.NewName("X");
  TPDFName* x3 = s.NewName("X");
  EXPECT_EQ(s.FindName("X"), x1);
  s.Release(x1);
  EXPECT_EQ(s.FindName("X"), x2);
  renamed->SetNameBytes("X");
  EXPECT_EQ(s.FindName("X"), renamed);
  EXPECT_EQ(s.FindName("Z"), nullptr);
  EXPECT_TRUE(renamed->Modified);
  x2->SetNameBytes("Y");
  s.Release(renamed);
  EXPECT_EQ(s.FindName("X"), x3);
  x2->SetNameBytes("X");  // back between the others
  EXPECT_EQ(s.FindName("X"), x2);
  s.Release(x2);
  s.Release(x3);
  EXPECT_EQ(s.FindName("X"), nullptr);
  EXPECT_EQ(s.LiveCount(), 0u);
}

TEST(Arena, ManyReleasesKeepOrderAndIdentity) {
  // Enough releases to squeeze out the holes; FindName and Release still agree.
  TPDFStructure s;
  std::vector<TPDFName*> names;
  for (int i = 0; i < 5000; ++i) names.push_back(s.NewName(i % 2 ? "odd" : "even"));
  for (int i = 0; i < 4000; ++i) s.Release(names[size_t(i)]);
  EXPECT_EQ(s.LiveCount(), 1000u);
  EXPECT_EQ(s.FindName("even"), names[4000]);
  EXPECT_EQ(s.FindName("odd"), names[4001]);
  for (int i = 4000; i < 5000; ++i) EXPECT_TRUE(s.Owns(names[size_t(i)]));
  s.Reset();
  EXPECT_EQ(s.LiveCount(), 0u);
  EXPECT_EQ(s.FindName("odd"), nullptr);
}

TEST(Arena, ResetRestoresTheDefaultsAndKeepsTheHooks) {
  TPDFStructure s;
  s.Decimals = 2;
  s.MultiLine = false;
  s.ResolveReference = [](TPDFIndRef*, int32_t, int32_t) -> TPDFObject* { return nullptr; };
  s.NewNumber(1);
  s.Reset();
  EXPECT_EQ(s.Decimals, 4);
  EXPECT_TRUE(s.MultiLine);
  EXPECT_EQ(s.NumberPattern, "0.0000");
  EXPECT_TRUE(bool(s.ResolveReference));
  EXPECT_EQ(s.LiveCount(), 0u);
}

// Random edits against a model that keeps its own copy of who holds what, so that
// it never looks at a freed object: HoldCount must equal the number of places
// holding an object, and Release must free exactly when the model says nothing
// needs the object.
TEST(Arena, HoldCountsStayExactThroughRandomEdits) {
  TPDFStructure s;
  std::mt19937 rng(7);
  auto rnd = [&](size_t n) { return n == 0 ? 0 : size_t(rng() % n); };

  struct Info {
    char kind;
    bool keep;  // a shared key or an indirect object
    std::vector<TPDFObject*> held;
  };
  std::map<TPDFObject*, Info> model;
  std::vector<TPDFObject*> order;  // model's objects in a stable order, for picking

  auto members = [](TPDFObject* o) {
    std::vector<TPDFObject*> m;
    if (auto* a = As<TPDFArray>(o)) m = a->Items;
    if (auto* d = As<TPDFDictionary>(o)) {
      for (const TPDFPair& p : d->Pairs) {
        m.push_back(p.Key);
        m.push_back(p.Value);
      }
    }
    if (auto* st = As<TPDFStream>(o)) m.push_back(st->StreamDict);
    return m;
  };
  // Only while every object of the model is alive.
  std::function<void(TPDFObject*)> adopt = [&](TPDFObject* o) {
    if (model.count(o) == 0) {
      model[o];
      order.push_back(o);
    }
    const auto* n = As<TPDFName>(o);
    model[o] = {o->KindCode, o->HasNumber || (n && n->IsSharedKey), members(o)};
    for (TPDFObject* m : model[o].held)
      if (model.count(m) == 0) adopt(m);
  };
  auto refresh = [&]() {
    for (TPDFObject* o : std::vector<TPDFObject*>(order)) adopt(o);
  };
  auto holders = [&](const TPDFObject* o) {
    uint32_t count = 0;
    for (const auto& [c, info] : model) count += uint32_t(std::count(info.held.begin(), info.held.end(), o));
    return count;
  };
  // Releases in order, each seeing the frees before it.
  auto forget = [&](const std::vector<TPDFObject*>& released) {
    for (TPDFObject* o : released) {
      auto it = model.find(o);
      if (it == model.end() || it->second.keep || holders(o) != 0) continue;
      model.erase(it);
      order.erase(std::find(order.begin(), order.end(), o));
    }
  };
  auto any = [&]() { return order[rnd(order.size())]; };
  auto pick = [&](char kind) -> TPDFObject* {
    std::vector<TPDFObject*> of;
    for (TPDFObject* o : order)
      if (model[o].kind == kind) of.push_back(o);
    return of.empty() ? nullptr : of[rnd(of.size())];
  };
  const char* keys[] = {"Type", "Length", "K1", "K2", "K3"};

  for (int step = 0; step < 1500; ++step) {
    switch (rnd(12)) {
      case 0: adopt(s.NewNumber(double(step))); break;
      case 1: adopt(s.NewName(keys[rnd(5)])); break;
      case 2: adopt(s.NewEmptyArray()); break;
      case 3: adopt(s.NewDictionary()); break;
      case 4: adopt(s.NewStreamWith(As<TPDFDictionary>(s.Parse("<</Length 0/K1 1>>")), "")); break;
      case 5:
        if (auto* a = As<TPDFArray>(pick('A')); a && !order.empty()) a->Append(any());
        refresh();
        break;
      case 6:
        if (auto* a = As<TPDFArray>(pick('A')); a && a->Count() > 0) {
          const int i = int(rnd(size_t(a->Count())));
          TPDFObject* old = a->Item(i);
          TPDFObject* item = any();
          model[a].held[size_t(i)] = item;
          a->ReplaceItem(i, item);
          forget({old});
        }
        break;
      case 7:
        if (auto* d = As<TPDFDictionary>(pick('D'))) d->Put(keys[rnd(5)], any());
        refresh();  // nothing was freed; take in the new key and the holdings
        break;
      case 8:
        if (auto* d = As<TPDFDictionary>(pick('D')); d && pick('N')) d->PutPair(As<TPDFName>(pick('N')), any());
        refresh();
        break;
      case 9:
        if (auto* d = As<TPDFDictionary>(pick('D'))) {
          if (rnd(3) == 0) {
            const std::vector<TPDFObject*> old = model[d].held;
            model[d].held.clear();
            d->Clear();
            forget(old);
          } else if (rnd(2) == 0) {
            d->Unlink(keys[rnd(5)]);
            refresh();
          } else if (auto* other = As<TPDFDictionary>(pick('D'))) {
            d->AssignFrom(*other);
            refresh();
          }
        }
        break;
      case 10:
        if (auto* st = As<TPDFStream>(pick('S')); st && pick('D')) {
          TPDFObject* old = st->StreamDict;
          auto* dict = As<TPDFDictionary>(pick('D'));
          model[st].held = {dict};
          st->ReplaceDictionary(dict);
          forget({old});
        }
        break;
      case 11:
        if (!order.empty()) {
          TPDFObject* o = any();
          if (rnd(20) == 0) {
            o->AssignNumber(step, 0);
            model[o].keep = true;
          }
          s.Release(o);
          forget({o});
        }
        break;
    }
    ASSERT_EQ(s.LiveCount(), model.size()) << "step " << step;
    std::map<const TPDFObject*, uint32_t> counts;
    for (const auto& [c, info] : model)
      for (const TPDFObject* m : info.held) ++counts[m];
    for (const auto& [o, info] : model) ASSERT_EQ(o->HoldCount, counts[o]) << "step " << step;
    refresh();  // everything in the model is alive now
  }
}

}  // namespace
}  // namespace pagelume
