#pragma once
// The metadata readers behind ContentName, one source file per family, and
// the text helpers they share. Each reader gives the raw text it found
// (UTF-8, not yet made safe), or empty. Each is given the fragment's check
// (CheckFragment's result), so a reader that must know where the file ends
// asks it rather than walking the structure again.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/format_check.h"

namespace tessaro::names {

using formats::CheckResult;
using formats::Fragment;

// Biggest piece of metadata read or inflated at once: a title, a tag, a
// property set, an XML part. Larger ones are read only this far.
inline constexpr std::size_t kMetadataBytes = 64 * 1024;

// picture_dates.cpp: EXIF DateTimeOriginal of JPEG, TIFF and the TIFF-based
// camera raws, HEIF; movie_dates.cpp: the creation time of ISO media.
std::string JpegDate(Fragment& f, const CheckResult& check);
std::string TiffDate(Fragment& f, const CheckResult& check);
std::string HeifDate(Fragment& f, const CheckResult& check);
std::string MovieDate(Fragment& f, const CheckResult& check);
// An M4A song's iTunes tags ("Artist - Title"), else its creation time.
std::string SongName(Fragment& f, const CheckResult& check);
// The EXIF date of the TIFF structure at `base`, `size` bytes long.
std::string ExifDateAt(Fragment& f, std::uint64_t base, std::uint64_t size);
// song_tags.cpp: ID3 (MP3), Vorbis comments (FLAC, Ogg Vorbis and Opus).
std::string Id3Name(Fragment& f, const CheckResult& check);
std::string FlacName(Fragment& f, const CheckResult& check);
std::string OggName(Fragment& f, const CheckResult& check);
// document_titles.cpp: OOXML and ODF titles, HTML <title>;
// compound_title.cpp: OLE2 summary information; pdf_title.cpp: PDF Info.
std::string OoxmlTitle(Fragment& f, const CheckResult& check);
std::string OdfTitle(Fragment& f, const CheckResult& check);
std::string HtmlTitle(Fragment& f, const CheckResult& check);
std::string CompoundTitle(Fragment& f, const CheckResult& check);
std::string PdfTitle(Fragment& f, const CheckResult& check);

// safe_name.cpp: SafeName, cut to kMaxNameBytes at a character boundary.
std::string BoundedSafeName(std::string_view raw);

// name_text.cpp: text helpers.
void AppendUtf8(std::string& out, std::uint32_t c);
// The UTF-8 character at `i`, moving `i` past it; a byte that begins none
// gives U+FFFD, moves by one and clears `valid`.
std::uint32_t NextCharacter(std::string_view s, std::size_t& i, bool& valid);
bool IsUtf8(std::string_view bytes);
std::string Latin1ToUtf8(std::string_view bytes);
// Windows-1252: Latin-1 with printable characters in 0x80-0x9F.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-16 to UTF-8; empty when it is no UTF-16 (a lone surrogate, an odd byte).
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
// The value of a hexadecimal digit, or -1.
int HexValue(char c);
// Text up to its first NUL.
std::string_view UpToNul(std::string_view text);
// XML/HTML character references and entities decoded (the XML five, numeric
// ones, and HTML's Latin-1 and common punctuation names when `html`).
std::string DecodeEntities(std::string_view text, bool html);
// "Artist - Title", "Title", or empty when there is no title worth a name.
std::string ArtistTitle(std::string_view artist, std::string_view title);
// "2019-07-14 15.30.12", or empty when the parts are no real moment.
std::string DateName(int year, int month, int day, int hour, int minute, int second);
// Reads up to `n` bytes at `offset` into a string (at most kMetadataBytes).
std::string ReadText(Fragment& f, std::uint64_t offset, std::size_t n);
// The whole `n` bytes at `offset` (at most kMetadataBytes); false when the
// fragment lacks any of them.
bool ReadExact(Fragment& f, std::uint64_t offset, std::size_t n, std::string& out);
// Inflates the deflate stream (raw when `raw`, else zlib-wrapped) at `offset`,
// reading no further than `limit`, into at most `maxOut` bytes. False when the
// stream is broken or cut before it gave `maxOut` bytes or ended.
bool Inflate(Fragment& f, std::uint64_t offset, std::uint64_t limit, bool raw, std::size_t maxOut, std::string& out);
// The position of `needle` in [from, limit) of the fragment, or formats::kUnknown.
std::uint64_t Find(Fragment& f, std::uint64_t from, std::uint64_t limit, std::string_view needle);

}  // namespace tessaro::names
