// Object arena: time per object to parse, build and free 10^4, 10^5 and 10^6
// objects. Every phase should cost the same per object at every size; the last
// column shows the growth of the per-object time against the size before.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/objects/MarlockPDFLibraryStructure.h"

using namespace pagelume;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

struct Phase {
  const char* name;
  double seconds;
  size_t objects;
};

// One object per ParseAt call, as a loader reads a file: small dictionaries of
// seven objects each (dictionary, two keys, a number, an array, a reference, a real).
Phase Parse(TPDFStructure& s, size_t n, std::vector<TPDFObject*>& parsed) {
  std::string text;
  const size_t count = n / 7;
  for (size_t i = 0; i < count; ++i)
    text += "<</K " + std::to_string(i) + "/A[" + std::to_string(i + 1) + " 0 R 2.5]>>\n";
  const size_t before = s.LiveCount();
  const auto t0 = Clock::now();
  size_t pos = 1;
  for (size_t i = 0; i < count; ++i) {
    size_t consumed = 0;
    parsed.push_back(s.ParseAt(text, pos, consumed));
    pos += consumed;
  }
  return {"parse", Seconds(t0), s.LiveCount() - before};
}

// Factories into containers: dictionaries with shared keys, filled arrays.
Phase Build(TPDFStructure& s, size_t n, std::vector<TPDFObject*>& built) {
  const size_t before = s.LiveCount();
  const auto t0 = Clock::now();
  TPDFArray* kids = s.NewEmptyArray();
  built.push_back(kids);
  while (s.LiveCount() - before < n) {
    TPDFDictionary* d = s.NewDictionary();
    TPDFNumeric* num = s.NewNumber(1.5);
    TPDFName* name = s.NewName("Page");
    TPDFArray* box = s.NewEmptyArray();
    TPDFNumeric* w = s.NewNumber(612);
    box->Append(w);
    d->Put("Type", name);
    d->Put("Count", num);
    d->Put("MediaBox", box);
    kids->Append(d);
    built.insert(built.end(), {d, num, name, box, w});
  }
  return {"build", Seconds(t0), s.LiveCount() - before};
}

// Releases everything built, containers first (each one's members become free
// only once their container is gone), oldest first: the worst order for an arena
// that would search or shift its slots.
Phase Release(TPDFStructure& s, std::vector<TPDFObject*>& built) {
  const size_t before = s.LiveCount();
  const auto t0 = Clock::now();
  for (TPDFObject* obj : built)
    if (As<TPDFArray>(obj) || As<TPDFDictionary>(obj)) s.Release(obj);
  for (TPDFObject* obj : built)
    if (!As<TPDFArray>(obj) && !As<TPDFDictionary>(obj)) s.Release(obj);
  built.clear();
  return {"release", Seconds(t0), before - s.LiveCount()};
}

// Discards the parsed dictionaries with their trees.
Phase Discard(TPDFStructure& s, std::vector<TPDFObject*>& parsed) {
  const size_t before = s.LiveCount();
  const auto t0 = Clock::now();
  for (TPDFObject* obj : parsed) obj->Discard();
  parsed.clear();
  return {"discard", Seconds(t0), before - s.LiveCount()};
}

}  // namespace

int main() {
  const size_t sizes[] = {10000, 100000, 1000000};
  std::printf("%-9s %-8s %10s %12s %12s %8s\n", "objects", "phase", "counted", "total ms", "ns/object",
              "growth");
  double previous[4] = {0, 0, 0, 0};
  for (const size_t n : sizes) {
    TPDFStructure s;
    std::vector<TPDFObject*> parsed, built;
    Phase phases[4];
    phases[0] = Parse(s, n, parsed);
    phases[1] = Build(s, n, built);
    phases[2] = Release(s, built);
    phases[3] = Discard(s, parsed);
    for (int i = 0; i < 4; ++i) {
      const Phase& p = phases[i];
      const double perObject = p.objects ? p.seconds * 1e9 / double(p.objects) : 0;
      char growth[16] = "-";
      if (previous[i] > 0) std::snprintf(growth, sizeof growth, "x%.2f", perObject / previous[i]);
      std::printf("%-9zu %-8s %10zu %12.2f %12.1f %8s\n", n, p.name, p.objects, p.seconds * 1e3, perObject,
                  growth);
      previous[i] = perObject;
    }
    std::printf("  (kept: %zu shared key names, freed with the arena)\n", s.LiveCount());
  }
  return 0;
}
