#pragma once
// The sound and video checkers, one source file per format, named by the table
// in media.cpp.

#include <string>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

// ISO base media (MP4, MOV, M4A, 3GP, HEIF, AVIF, CR3): top-level boxes.
CheckResult CheckIsoMedia(Fragment& f, const CheckOptions& options);
// MPEG audio (MP3): ID3v2 tags, frames, trailing tags.
CheckResult CheckMpegAudio(Fragment& f, const CheckOptions& options);
// Ogg (Vorbis, Opus, Speex, Theora, FLAC in Ogg): pages and their CRCs.
CheckResult CheckOgg(Fragment& f, const CheckOptions& options);
// FLAC: metadata blocks, then frames with their CRC-8 and CRC-16.
CheckResult CheckFlac(Fragment& f, const CheckOptions& options);

// Matroska and WebM: the EBML header and the Segment's size.
CheckResult CheckMatroska(Fragment& f, const CheckOptions& options);

// ASF (WMV, WMA): objects filling the File Properties object's file size.
CheckResult CheckAsf(Fragment& f, const CheckOptions& options);
// FLV: tags, each followed by its size, to the metadata's file size.
CheckResult CheckFlv(Fragment& f, const CheckOptions& options);

// Whether the `n` bytes at `offset` (those the fragment holds) are all zero.
bool ZeroBytes(Fragment& f, std::uint64_t offset, std::size_t n);

// The verdict on a chain of frames or tags that carries no count of its own
// and stops at `end`: intact there only when what follows is surely not of
// the file (zeros, or `nextFile`, the start of another file of its kind),
// or when the fragment ends there and is no run of whole sectors.
CheckResult EndOfUncountedChain(Fragment& f, std::uint64_t end, const std::string& counted, const char* nextFile);

}  // namespace tessaro::formats
