#pragma once
// The picture family's checkers, split over several sources; images.cpp holds
// the table that names them.

#include "engine/formats/byte_reader.h"
#include "engine/formats/format_check.h"

namespace tessaro::formats::images {

// The bytes of one value of a TIFF field type (BYTE, ASCII, SHORT, LONG,
// RATIONAL, their signed kinds, FLOAT, DOUBLE, IFD); 0 for a type TIFF does
// not define. The TIFF checker and the raws built on TIFF read IFDs alike.
inline unsigned TiffTypeSize(unsigned type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

CheckResult CheckJpeg(Fragment& f, const CheckOptions& options);
CheckResult CheckTiff(Fragment& f, const CheckOptions& options);
CheckResult CheckEmf(Fragment& f, const CheckOptions& options);
CheckResult CheckWmf(Fragment& f, const CheckOptions& options);
CheckResult CheckHdr(Fragment& f, const CheckOptions& options);
CheckResult CheckExr(Fragment& f, const CheckOptions& options);
CheckResult CheckPcx(Fragment& f, const CheckOptions& options);
CheckResult CheckDds(Fragment& f, const CheckOptions& options);
CheckResult CheckJ2k(Fragment& f, const CheckOptions& options);
CheckResult CheckJp2(Fragment& f, const CheckOptions& options);
// Camera raws: those built on TIFF (image_raw.cpp) and those of their makers'
// own layouts (image_raw_blocks.cpp).
CheckResult CheckCr2(Fragment& f, const CheckOptions& options);
CheckResult CheckNef(Fragment& f, const CheckOptions& options);
CheckResult CheckArw(Fragment& f, const CheckOptions& options);
CheckResult CheckOrf(Fragment& f, const CheckOptions& options);
CheckResult CheckRw2(Fragment& f, const CheckOptions& options);
CheckResult CheckRaf(Fragment& f, const CheckOptions& options);
CheckResult CheckCrw(Fragment& f, const CheckOptions& options);
CheckResult CheckMrw(Fragment& f, const CheckOptions& options);

}  // namespace tessaro::formats::images
