// MPEG systems streams: the program stream (.mpg, packs of PES packets, each
// with its length, to the program end code) and the transport stream (.ts,
// 188-byte packets; .mts, the same with a 4-byte arrival time before each).
// Many writers (ffmpeg among them) leave the end code out and a transport
// stream has none, so the end is also where the stream stops being able to
// go on: bytes that are no start code or no sync byte, or a pack of the other
// MPEG version. A stream that simply runs to the fragment's end may go on in
// a cluster the fragment lacks.

#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {


bool StartCode(const unsigned char* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

// The system clock reference of a pack header (33 bits, 90 kHz) and the
// header's size with stuffing; false when its marker bits are wrong.
bool ReadPack(const unsigned char* h, int version, std::uint64_t& scr, std::uint64_t& length) {
  if (version == 2) {
    if ((h[4] & 0x04) == 0 || (h[6] & 0x04) == 0 || (h[8] & 0x04) == 0 || (h[9] & 0x01) == 0 || (h[12] & 0x03) != 3) {
      return false;
    }
    scr = std::uint64_t{h[4] & 0x38u} << 27 | std::uint64_t{h[4] & 0x03u} << 28 | std::uint64_t{h[5]} << 20 |
          std::uint64_t{h[6] & 0xF8u} << 12 | std::uint64_t{h[6] & 0x03u} << 13 | std::uint64_t{h[7]} << 5 |
          std::uint64_t{h[8]} >> 3;
    length = 14 + (h[13] & 7u);
    return true;
  }
  if ((h[4] & 0x01) == 0 || (h[6] & 0x01) == 0 || (h[8] & 0x01) == 0 || (h[9] & 0x80) == 0 || (h[11] & 0x01) == 0) {
    return false;
  }
  scr = std::uint64_t{h[4] & 0x0Eu} << 29 | std::uint64_t{h[5]} << 22 | std::uint64_t{h[6] & 0xFEu} << 14 |
        std::uint64_t{h[7]} << 7 | std::uint64_t{h[8]} >> 1;
  length = 12;
  return true;
}

// The verdict on a stream whose structure stops at `end` without an end mark.
CheckResult StreamStops(Fragment& f, std::uint64_t end, const std::string& counted, const std::string& why) {
  if (end == f.Size()) {
    if (EndsOnSector(f)) return Unchecked(counted + " to the fragment's end: the stream may go on");
    return Intact(end, counted + ", the fragment ends after the last");
  }
  if (f.Size() - end > kMostSlack) {
    return Unchecked(counted + ", then " + why + " at " + std::to_string(end) + ", with more after it than slack holds");
  }
  return Intact(end, counted + ", then " + why + " at " + std::to_string(end));
}

struct Continuity {
  std::uint16_t pid;
  std::uint8_t counter;
};

}  // namespace

// Program stream: a pack header (MPEG-1: 12 bytes; MPEG-2: 14 and stuffing),
// then system headers and PES packets, each with its 16-bit length, up to the
// next pack or the end code 00 00 01 B9. The first end code reached this way
// ends the file, whatever another file in the slack holds after it.
CheckResult CheckMpegProgram(Fragment& f, const CheckOptions&) {
  unsigned char h[14];
  if (!f.Read(0, h, 5) || !StartCode(h) || h[3] != 0xBA) return Damaged("no pack header at the start");
  const int version = (h[4] & 0xC0) == 0x40 ? 2 : (h[4] & 0xF0) == 0x20 ? 1 : 0;
  if (version == 0) return Damaged("a pack header of no MPEG version");
  std::uint64_t at = 0, packs = 0, packets = 0, lastScr = 0;
  const auto counted = [&] { return std::to_string(packs) + " packs, " + std::to_string(packets) + " packets"; };
  for (;;) {
    const std::size_t got = f.ReadSome(at, h, sizeof h);
    if (got < 4) {
      // Part of a start code, or the first zeros of the slack.
      if (got == 3 && StartCode(h)) return Truncated(kUnknown, "ends inside a start code after " + counted());
      if (got > 0 && !ZeroBytes(f, at, got)) return StreamStops(f, at, counted(), "bytes that cannot continue it");
      return StreamStops(f, at, counted() + " without an end code", "zeros");
    }
    if (!StartCode(h) || h[3] < 0xB9) return StreamStops(f, at, counted() + " without an end code", "no start code");
    if (h[3] == 0xB9) return Intact(at + 4, counted() + " to the program end code");
    if (h[3] == 0xBA) {
      const int next = got >= 5 ? ((h[4] & 0xC0) == 0x40 ? 2 : (h[4] & 0xF0) == 0x20 ? 1 : 0) : version;
      // One stream never changes its MPEG version: this pack is another file's.
      if (next != version) return StreamStops(f, at, counted() + " without an end code", "a pack of another stream");
      if (got < (version == 2 ? 14u : 12u)) return Truncated(kUnknown, "ends inside pack " + std::to_string(packs + 1));
      std::uint64_t scr = 0, length = 0;
      if (!ReadPack(h, version, scr, length)) return Damaged("pack " + std::to_string(packs + 1) + " has broken marker bits");
      // The clock only goes forward within one stream; where it stands or goes
      // back, the packs are another file's or a new part of this one (DVD
      // cells): unsure.
      if (packs > 0 && scr <= lastScr) {
        return Unchecked(counted() + ", then the clock does not go on at " + std::to_string(at) +
                         ": another file's packs, or a new part of this one");
      }
      lastScr = scr;
      if (!f.Holds(at, length)) return Truncated(kUnknown, "ends inside pack header " + std::to_string(packs + 1));
      at += length;
      ++packs;
      continue;
    }
    if (got < 6) return Truncated(kUnknown, "ends inside the header of packet " + std::to_string(packets + 1));
    const std::uint64_t length = 6 + std::uint64_t{Be16(h + 4)};
    if (!f.Holds(at, length)) return Truncated(kUnknown, "ends inside packet " + std::to_string(packets + 1));
    at += length;
    ++packets;
  }
}

// Transport stream: packets of 188 bytes (192 in BDAV, after a 4-byte arrival
// time), each beginning with the sync byte 0x47. The walk stops where the
// sync pattern does; within the walk, each stream's continuity counter must
// step on, since a break means either lost packets or another file's packets
// glued on, and the end is then unsure. (The arrival times of BDAV cannot
// tell: some writers make them run backwards.)
CheckResult CheckTransportStream(Fragment& f, std::size_t packetSize) {
  const std::size_t sync = packetSize - 188;
  unsigned char p[192];
  Continuity streams[64];
  std::size_t known = 0;
  std::uint64_t at = 0, packets = 0;
  // Whether each packet since the last aligned unit's start opened its stream.
  const std::uint64_t unit = 32 * std::uint64_t{packetSize};
  bool fresh = false;
  const auto counted = [&] { return std::to_string(packets) + " packets"; };
  for (;; at += packetSize, ++packets) {
    const std::size_t got = f.ReadSome(at, p, packetSize);
    if (got == 0) break;
    if (packets == 0 && (got <= sync || p[sync] != 0x47)) return Damaged("no sync byte at the start");
    if (got < packetSize) {
      if (ZeroBytes(f, at, got)) return StreamStops(f, at, counted(), "zeros");
      if (got > sync && p[sync] != 0x47) return StreamStops(f, at, counted(), "a byte that is no sync");
      return Truncated(kUnknown, "ends inside packet " + std::to_string(packets + 1));
    }
    if (p[sync] != 0x47) {
      return StreamStops(f, at, counted(), ZeroBytes(f, at, packetSize) ? "zeros" : "a byte that is no sync");
    }
    const unsigned char* ts = p + sync;
    const std::uint16_t pid = static_cast<std::uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
    const unsigned control = ts[3] >> 4 & 3;
    const std::uint8_t counter = ts[3] & 15;
    const bool discontinuity = (control & 2) != 0 && ts[4] > 0 && (ts[5] & 0x80) != 0;
    if (at % unit == 0) fresh = true;
    if (pid != 0x1FFF && (control & 1) != 0 && (counter != 0 || (ts[1] & 0x40) == 0)) fresh = false;
    // Null packets and packets without payload do not step the counter.
    if (pid == 0x1FFF || (control & 1) == 0) continue;
    std::size_t i = 0;
    while (i < known && streams[i].pid != pid) ++i;
    if (i == known) {
      if (known == sizeof streams / sizeof streams[0]) continue;
      streams[known++] = {pid, counter};
      continue;
    }
    const std::uint8_t previous = streams[i].counter;
    if (!discontinuity && counter != previous && counter != ((previous + 1) & 15)) {
      // A BDAV file holds whole aligned units of 32 packets, and a muxer
      // opens every stream of a file with a first packet of counter 0: when
      // every packet since a unit's start did so, up to this one that breaks
      // the count, the next file began at that unit. Elsewhere the break may
      // be packets lost from a recording, which the rest of the file follows.
      // Files joined end to end (copy /b) look the same, but go on for far
      // longer than the slack of a cluster could (which StreamStops tells).
      const std::uint64_t unitStart = at - at % unit;
      if (sync == 4 && fresh && unitStart > 0) {
        packets = unitStart / packetSize;
        return StreamStops(f, unitStart, counted(), "another stream's first packets");
      }
      return Unchecked(counted() + ", then the continuity of stream " + std::to_string(pid) + " breaks at " +
                       std::to_string(at) + ": packets lost, or another file's");
    }
    streams[i].counter = counter;
  }
  // The pattern runs to the fragment's end, which may be where a longer file
  // was cut on a packet boundary.
  return Unchecked(counted() + " to the fragment's end: the stream may go on");
}

CheckResult CheckMpegTransport(Fragment& f, const CheckOptions&) { return CheckTransportStream(f, 188); }

CheckResult CheckBdavTransport(Fragment& f, const CheckOptions&) { return CheckTransportStream(f, 192); }

extern const FormatRow kMpegProgramRow{.extensions = {"mpg"}, .checker = CheckMpegProgram, .knowsWhenCut = false};
extern const FormatRow kMpegTransportRow{.extensions = {"ts"}, .checker = CheckMpegTransport, .knowsWhenCut = false};
extern const FormatRow kBdavTransportRow{.extensions = {"mts"}, .checker = CheckBdavTransport, .knowsWhenCut = false};

}  // namespace tessaro::formats
