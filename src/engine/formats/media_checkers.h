#pragma once
// The sound and video checkers, one source file per kind of structure, named
// by the table in media.cpp, and what they share.

#include <string>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

using MediaChecker = CheckResult(Fragment& f, const CheckOptions& options);

// media_iso.cpp: ISO base media (MP4, MOV, M4A, 3GP, HEIF, AVIF, CR3), top-level boxes.
MediaChecker CheckIsoMedia;
// media_mpeg_audio.cpp: MPEG audio (MP3, MP2), ID3v2 tags, frames, trailing tags.
MediaChecker CheckMpegAudio;
// media_ogg.cpp: Ogg (Vorbis, Opus, Speex, Theora, FLAC in Ogg), pages and their CRCs.
MediaChecker CheckOgg;
// media_flac.cpp: FLAC, metadata blocks, then frames with their CRC-8 and CRC-16.
MediaChecker CheckFlac;
// media_matroska.cpp: Matroska and WebM, the EBML header and the Segment's size.
MediaChecker CheckMatroska;
// media_tagged.cpp: ASF (WMV, WMA) to the File Properties object's file size;
// FLV, tags each followed by its size, to the metadata's file size.
MediaChecker CheckAsf, CheckFlv;
// media_chunks.cpp: sized forms and chunks.
MediaChecker CheckRiff, CheckAiff, CheckAu, CheckMidi, CheckCaf, CheckIvf;
// media_frames.cpp: chains of sync frames, AC-3 (with its CRCs) and AAC in ADTS.
MediaChecker CheckAc3, CheckAdts;
// media_lossless.cpp: WavPack to its total of samples, TTA by its seek table,
// Monkey's Audio by its descriptor.
MediaChecker CheckWavPack, CheckTta, CheckMonkeysAudio;
// media_musepack.cpp: Musepack SV8, packets to the stream end packet.
MediaChecker CheckMusepack;
// media_dsd.cpp: DSD audio, DSF to the header's file size, DSDIFF to its FRM8 form's.
MediaChecker CheckDsf, CheckDsdiff;
// media_plain.cpp: YUV4MPEG2 by its frames, SWF to its length.
MediaChecker CheckY4m, CheckSwf;
// media_mxf.cpp: MXF, KLV packets to the footer partition and random index pack.
MediaChecker CheckMxf;
// media_mpeg_video.cpp: MPEG program streams by packs and packets to the end
// code; transport streams (188-byte packets, 192 in BDAV) to where the sync
// pattern stops.
MediaChecker CheckMpegProgram, CheckMpegTransport, CheckBdavTransport;
// media_blocks.cpp: Creative Voice, blocks to the terminator; RealMedia,
// chunks, the DATA chunk's packets and the index chain.
MediaChecker CheckVoc, CheckRealMedia;
// media_amr.cpp: AMR and AMR-WB, frames by their header bytes.
MediaChecker CheckAmr, CheckAmrWideband;

// The most slack a file's last cluster may hold (clusters of exFAT on large
// cards reach 128 KiB; twice that, to be safe). A stream that stops with more
// than this after it in the fragment did not end there: a damaged stretch
// lies inside it, or it runs into another file.
inline constexpr std::uint64_t kMostSlack = 256 * 1024;

// CRC-16 with polynomial 0x8005, most significant bit first (FLAC, AC-3):
// `crc` is the running value, 0 to start.
std::uint16_t Crc16(std::uint16_t crc, const unsigned char* p, std::size_t n);

// Skips the ID3v2 tags at `at` (counting them in `tags`); false when one is broken.
bool SkipId3v2(Fragment& f, std::uint64_t& at, int& tags);
// The end of the tags that may follow sound (an appended ID3v2.4, APE,
// Lyrics3, ID3v1), or `at`.
std::uint64_t SkipTrailingTags(Fragment& f, std::uint64_t at);
// Whether zeros, or `nextFile` (the start of another file of the kind, when
// not null), lie at `end`.
bool SlackOrAnother(Fragment& f, std::uint64_t end, const char* nextFile);
// The verdict on sound whose own counts say it ends at `end`: intact after
// its trailing tags unless unknown data follows them.
CheckResult EndOfCountedAudio(Fragment& f, std::uint64_t end, const std::string& counted, const char* nextFile);

// The verdict on a chain of frames or tags that carries no count of its own
// and stops at `end`: intact there only when what follows is surely not of
// the file (zeros, or `nextFile`, the start of another file of its kind,
// when not null),
// or when the fragment ends there and is no run of whole sectors.
CheckResult EndOfUncountedChain(Fragment& f, std::uint64_t end, const std::string& counted, const char* nextFile);

}  // namespace tessaro::formats
