// Stand-in until the document operations land with their own CreateInitialDocument;
// this file is removed then.
#include "engine/facade/MarlockPDFLibraryKavrel.h"

namespace pagelume {

void TKavrel::CreateInitialDocument() {}

}  // namespace pagelume
