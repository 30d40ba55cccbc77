// A stand-in for the skinning library, built only for the tests and never
// shipped: it writes down how export 3 was called, into the file named by
// TESSARO_SKIN_RECORD, so the test sees what the program handed over.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

extern "C" __declspec(dllexport) int WINAPI SkinDoubleLoad(char* skinFile, int flag) {
  const char* record = std::getenv("TESSARO_SKIN_RECORD");
  if (record == nullptr) return 0;
  if (std::FILE* out = std::fopen(record, "wb")) {
    std::fprintf(out, "%s|%d", skinFile != nullptr ? skinFile : "(null)", flag);
    std::fclose(out);
  }
  return 1;
}
