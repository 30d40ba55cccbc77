#pragma once
// The checkers of documents, programs, data and fonts, spread over a few
// files of this family, and the small helpers they share. Private to the
// family: documents.cpp holds the table that names them.

#include <cstddef>
#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

CheckResult CheckText(Fragment& f, const CheckOptions& options);
// PostScript text, or the DOS binary header's sections.
CheckResult CheckEps(Fragment& f, const CheckOptions& options);
CheckResult CheckPdf(Fragment& f, const CheckOptions& options);
CheckResult CheckCompound(Fragment& f, const CheckOptions& options);
CheckResult CheckSqlite(Fragment& f, const CheckOptions& options);
CheckResult CheckSfnt(Fragment& f, const CheckOptions& options);
CheckResult CheckWoff(Fragment& f, const CheckOptions& options);
CheckResult CheckElf(Fragment& f, const CheckOptions& options);
CheckResult CheckPe(Fragment& f, const CheckOptions& options);
CheckResult CheckJavaClass(Fragment& f, const CheckOptions& options);
CheckResult CheckWasm(Fragment& f, const CheckOptions& options);
CheckResult CheckPythonBytecode(Fragment& f, const CheckOptions& options);

}  // namespace tessaro::formats
