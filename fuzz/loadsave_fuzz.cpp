// libFuzzer entry point; the body is FuzzTargets.cpp's FuzzLoadSave.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pagelume::fuzz::FuzzLoadSave(data, size);
  return 0;
}
