// The bodies of the fuzz targets. The libFuzzer entry points in fuzz/*_fuzz.cpp and
// the regression test that replays tests/regress/<target>/ call the same functions.
// Each one returns normally for any input; a broken invariant aborts the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pagelume::fuzz {

// Parses an object, writes it back and parses that text again: the second writing
// must equal the first.
void FuzzParser(const uint8_t* data, size_t size);
// A stream whose /Filter chain and /DecodeParms come from the first bytes and whose
// data is the rest, decoded under a small output cap.
void FuzzFilters(const uint8_t* data, size_t size);
// The cross-reference reader over the bytes in memory, from startxref and from an
// offset chosen by the input.
void FuzzXRef(const uint8_t* data, size_t size);
// Quick inspection of the bytes as a file: all items, without and with a password,
// plus the trailer and object 1 as ShowObject gives them.
void FuzzInspect(const uint8_t* data, size_t size);
// Load, a few edits, save, and a reload of the saved file, which must load.
void FuzzLoadSave(const uint8_t* data, size_t size);

// The function for a target name ("parser", "filters", "xref", "inspect", "loadsave"),
// or null.
using TargetFunction = void (*)(const uint8_t*, size_t);
TargetFunction FindTarget(const std::string& name);

// The user password the seed files are encrypted with; the targets try it after "".
inline constexpr char16_t kFuzzPassword[] = u"fuzz";

}  // namespace pagelume::fuzz
