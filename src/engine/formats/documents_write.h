#pragma once
// Windows Write and Word for DOS documents (documents_write.cpp). Word for
// DOS files are .doc files too: the compound file checker hands them here.

#include <cstddef>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

// Whether `head` (its first `n` bytes) begins a Write or Word for DOS document.
bool IsWordForDos(const unsigned char* head, std::size_t n);

// Intact at the pages of 128 bytes that its header counts.
CheckResult CheckWrite(Fragment& f, const CheckOptions& options);

}  // namespace tessaro::formats
