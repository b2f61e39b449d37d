// libFuzzer entry point; the body is FuzzTargets.cpp's FuzzInspect.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pagelume::fuzz::FuzzInspect(data, size);
  return 0;
}
