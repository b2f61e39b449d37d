// The texts in which the property display shows inspection items: dates, file sizes,
// page counts and the kind of encryption. The window and the command-line tool both
// show them, so they are made here once.
#pragma once

#include <cstdint>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// Below 1024: "512B"; then KB, MB, GB with two decimals and thousands separators
// ("1.50 KB", "1,536.00 GB"), always with a decimal point and ',' as separator.
Text FileSizeText(int64_t bytes);

// A stored PDF date as yyyy/mm/dd hh:mm:ss: the 14 digits after "D:" (the prefix may be
// missing), fields not stored filled with their earliest value. Empty stays empty; a
// text that does not start with a year is shown as stored.
Text DateDisplayText(TextView stored);

// Item 9 followed by " pages".
Text PagesText(TextView pageCount);

// From item 20 (encrypted: "1") and item 30 (the encryption kind code).
Text EncryptionText(TextView encrypted, TextView kindCode);

}  // namespace pagelume
