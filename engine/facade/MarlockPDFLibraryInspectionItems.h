// Positions of the inspection list's items, shared by the quick and the repaired
// inspection so that both lists have the same layout.
#pragma once

#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

inline constexpr int kItemSecurity = 13;          // "None", "User" or "Owner"
inline constexpr int kItemFirstQuestion = 20;     // questions 0 to 10 go to items 20 to 30
inline constexpr int kItemSecondQuestion = 41;    // questions 11 to 13 go to items 41 to 43
inline constexpr int kItemFormFields = 31;
inline constexpr int kLastQuestionOfFirstRun = 10;
inline constexpr int kLastQuestion = 13;

// Fills items 20 to 30 and 41 to 43 with `answer(question)` and item 13 with the security
// word; `openedWithOwner` is asked only for an encrypted file.
template <class Answer, class OwnerCheck>
void FillSecurityItems(std::vector<Bytes>& items, Answer answer, OwnerCheck openedWithOwner) {
  for (int q = 0; q <= kLastQuestion; ++q) {
    const int item = q <= kLastQuestionOfFirstRun ? kItemFirstQuestion + q
                                                  : kItemSecondQuestion + q - kLastQuestionOfFirstRun - 1;
    items[size_t(item)] = answer(q);
  }
  if (items[kItemFirstQuestion] == "0")
    items[kItemSecurity] = "None";
  else
    items[kItemSecurity] = openedWithOwner() ? "Owner" : "User";
}

}  // namespace pagelume
