// Files of sized chunks or a sized header: RIFF and AIFF (a form whose size
// says where the file ends), AU (a data size), MIDI (a count of tracks), CAF
// (chunks with 64-bit sizes) and IVF (a count of frames).

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// A form ("RIFF" little-endian, "FORM" big-endian) at `start`: its size, a
// form type, then chunks (id, size, data, a pad byte to an even size) that
// fill it. `chunks` counts them.
CheckResult WalkForm(Fragment& f, std::uint64_t start, const char* magic, bool bigEndian, std::uint64_t& chunks) {
  unsigned char head[12];
  if (!f.Read(start, head, 12) || std::memcmp(head, magic, 4) != 0) return Damaged(std::string("no ") + magic + " header");
  const auto size32 = [bigEndian](const unsigned char* p) { return bigEndian ? Be32(p) : Le32(p); };
  const std::uint64_t end = start + 8 + std::uint64_t{size32(head + 4)};
  if (end < start + 12) return Damaged(std::string("impossible ") + magic + " size");
  std::uint64_t at = start + 12;
  bool padLeftOut = false;
  while (at < end) {
    unsigned char chunk[8];
    // A chunk header that reaches past the form would be read from the slack.
    if (end - at < 8) return Damaged("a chunk header runs past the " + std::string(magic) + " size at " + std::to_string(at));
    if (!f.Read(at, chunk, 8)) return Truncated(end, "ends inside chunk " + std::to_string(chunks + 1));
    const std::uint32_t size = size32(chunk + 4);
    const std::uint64_t next = at + 8 + size + (size & 1);
    // A writer may leave the last pad byte out of the form's size.
    if (next > end && next - 1 != end) {
      return Damaged("chunk at " + std::to_string(at) + " runs past the " + magic + " size");
    }
    padLeftOut = next > end;
    ++chunks;
    at = next;
  }
  if (end > f.Size()) return Truncated(end, std::string("the ") + magic + " size says " + std::to_string(end) + " bytes");
  // Such a writer still writes the pad byte, a zero, as the last byte of the
  // form; a byte other than zero there is another file's, and a fragment
  // that ends first never held one.
  if (padLeftOut && ZeroBytes(f, end, 1)) return Intact(end + 1, "then the last chunk's pad byte");
  return Intact(end, "");
}

CheckResult CheckForm(Fragment& f, const char* magic, bool bigEndian) {
  std::uint64_t chunks = 0;
  CheckResult form = WalkForm(f, 0, magic, bigEndian, chunks);
  if (form.verdict != Verdict::kIntact) return form;
  // An AVI past 1 GiB (OpenDML) goes on in further "RIFF" forms of type
  // "AVIX", one right after another.
  unsigned char type[4];
  std::uint64_t extensions = 0;
  if (std::memcmp(magic, "RIFF", 4) == 0 && f.Read(8, type, 4) && std::memcmp(type, "AVI ", 4) == 0) {
    for (unsigned char next[12]; f.Read(form.length, next, 12) && std::memcmp(next, "RIFF", 4) == 0 &&
                                  std::memcmp(next + 8, "AVIX", 4) == 0;) {
      CheckResult more = WalkForm(f, form.length, magic, bigEndian, chunks);
      if (more.verdict != Verdict::kIntact) return more;
      form = more;
      ++extensions;
    }
  }
  std::string counted = std::to_string(chunks) + " chunks fill the " + magic + " size";
  if (extensions > 0) counted += " and those of " + std::to_string(extensions) + " AVIX forms";
  if (!form.detail.empty()) counted += ", " + form.detail;
  return Intact(form.length, counted);
}

bool KnownCafChunk(const unsigned char* type) {
  static const char* const kTypes[] = {"desc", "data", "pakt", "chan", "kuki", "info", "free", "mark", "regn",
                                       "inst", "midi", "ovvw", "peak", "edct", "uuid", "strg", "umid", "lyrc"};
  for (const char* known : kTypes) {
    if (std::memcmp(type, known, 4) == 0) return true;
  }
  return false;
}

}  // namespace

CheckResult CheckRiff(Fragment& f, const CheckOptions&) { return CheckForm(f, "RIFF", false); }

CheckResult CheckAiff(Fragment& f, const CheckOptions&) { return CheckForm(f, "FORM", true); }

// AU: ".snd", the offset of the data, its size (all ones when not known).
CheckResult CheckAu(Fragment& f, const CheckOptions&) {
  unsigned char head[24];
  if (!f.Read(0, head, 24) || std::memcmp(head, ".snd", 4) != 0) return Damaged("no AU header");
  const std::uint64_t offset = Be32(head + 4);
  const std::uint32_t size = Be32(head + 8);
  if (offset < 24) return Damaged("impossible data offset");
  if (size == 0xFFFFFFFFu) return Unchecked("the data size is not given");
  const std::uint64_t end = offset + size;
  if (end > f.Size()) return Truncated(end, "the header says " + std::to_string(end) + " bytes");
  return Intact(end, "the header's data size");
}

// MIDI: "MThd" with the number of tracks, then that many "MTrk" chunks, each
// ending with the end-of-track event.
CheckResult CheckMidi(Fragment& f, const CheckOptions&) {
  unsigned char head[14];
  if (!f.Read(0, head, 14) || std::memcmp(head, "MThd", 4) != 0) return Damaged("no MThd header");
  const std::uint32_t headerSize = Be32(head + 4);
  const unsigned tracks = Be16(head + 10);
  if (headerSize < 6 || Be16(head + 8) > 2 || tracks == 0) return Damaged("an impossible MThd header");
  std::uint64_t at = 8 + std::uint64_t{headerSize};
  for (unsigned found = 0; found < tracks;) {
    unsigned char chunk[8];
    if (!f.Read(at, chunk, 8)) return Truncated(kUnknown, "ends before track " + std::to_string(found + 1));
    const std::uint32_t size = Be32(chunk + 4);
    for (int i = 0; i < 4; ++i) {
      if (chunk[i] < 0x20 || chunk[i] > 0x7E) return Damaged("no chunk at " + std::to_string(at));
    }
    if (!f.Holds(at + 8, size)) return Truncated(kUnknown, "ends inside track " + std::to_string(found + 1));
    if (std::memcmp(chunk, "MTrk", 4) == 0) {
      unsigned char last[3];
      if (size < 3 || !f.Read(at + 8 + size - 3, last, 3) || last[0] != 0xFF || last[1] != 0x2F || last[2] != 0) {
        return Damaged("track " + std::to_string(found + 1) + " does not end with its end-of-track event");
      }
      ++found;
    }
    at += 8 + std::uint64_t{size};
  }
  return Intact(at, std::to_string(tracks) + (tracks == 1 ? " track" : " tracks") + ", each ending properly");
}

// CAF: "caff", then chunks with 64-bit sizes; nothing counts them, so the
// file ends where no chunk of a known type follows.
CheckResult CheckCaf(Fragment& f, const CheckOptions&) {
  unsigned char head[8];
  if (!f.Read(0, head, 8) || std::memcmp(head, "caff", 4) != 0 || Be16(head + 4) != 1) return Damaged("no CAF header");
  std::uint64_t at = 8;
  std::uint64_t chunks = 0;
  bool data = false;
  for (;;) {
    unsigned char chunk[12];
    const std::size_t got = f.ReadSome(at, chunk, sizeof chunk);
    if (got < sizeof chunk || !KnownCafChunk(chunk)) break;
    const std::uint64_t size = Be64(chunk + 4);
    if (chunks == 0 && std::memcmp(chunk, "desc", 4) != 0) return Damaged("no desc chunk first");
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (size == UINT64_MAX) return Unchecked("the data chunk runs to the end of the file, wherever that is");
      data = true;
    }
    if (size > UINT64_MAX / 2 || !f.Holds(at + 12, size)) {
      return Truncated(kUnknown, "ends inside chunk " + std::to_string(chunks + 1) + " at " + std::to_string(at));
    }
    at += 12 + size;
    ++chunks;
  }
  if (!data) return Truncated(kUnknown, "no data chunk");
  return EndOfUncountedChain(f, at, std::to_string(chunks) + " chunks", "caff");
}

// IVF: "DKIF", a 32-byte header with the number of frames, then frames
// (size, timestamp, data).
CheckResult CheckIvf(Fragment& f, const CheckOptions&) {
  unsigned char head[32];
  if (!f.Read(0, head, 32) || std::memcmp(head, "DKIF", 4) != 0 || Le16(head + 4) != 0) return Damaged("no IVF header");
  const std::uint32_t frames = Le32(head + 24);
  if (frames == 0) return Unchecked("the header does not count the frames");
  std::uint64_t at = Le16(head + 6);
  if (at < 32) return Damaged("impossible header size");
  std::uint64_t lastTime = 0;
  for (std::uint32_t i = 0; i < frames; ++i) {
    unsigned char frame[12];
    if (!f.Read(at, frame, 12)) return Truncated(kUnknown, "ends before frame " + std::to_string(i + 1));
    const std::uint32_t size = Le32(frame);
    if (!f.Holds(at + 12, size)) return Truncated(kUnknown, "ends inside frame " + std::to_string(i + 1));
    at += 12 + std::uint64_t{size};
    lastTime = Le64(frame + 4);
  }
  // A writer that stopped counting (the header written once at the start)
  // leaves more frames after the count: the next frame's time follows on.
  unsigned char next[12];
  if (f.Read(at, next, 12) && Le32(next) != 0 && f.Holds(at + 12, Le32(next)) && Le64(next + 4) > lastTime &&
      Le64(next + 4) - lastTime <= 1000) {
    return Unchecked("more frames follow the " + std::to_string(frames) + " the header counts");
  }
  return Intact(at, std::to_string(frames) + " frames, as the header counts");
}

extern const FormatRow kRiffRow{.extensions = {"avi", "wav", "webp"}, .checker = CheckRiff};
extern const FormatRow kAiffRow{.extensions = {"aifc", "aiff"}, .checker = CheckAiff};
extern const FormatRow kAuRow{.extensions = {"au"}, .checker = CheckAu};
extern const FormatRow kCafRow{.extensions = {"caf"}, .checker = CheckCaf};
extern const FormatRow kIvfRow{.extensions = {"ivf"}, .checker = CheckIvf};
extern const FormatRow kMidiRow{.extensions = {"mid"}, .checker = CheckMidi};

}  // namespace tessaro::formats
