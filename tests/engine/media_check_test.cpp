// The sound and video checkers on the cases the generic test does not make:
// a second file of the same kind right after the first, with no zeros between
// (its frames or pages would otherwise continue the chain), files cut on a
// frame boundary, and structures that leave the end unsure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Be;
using testing::BeAt;
using testing::Check;
using testing::Describe;
using testing::Flipped;
using testing::Kind;
using testing::Le;
using testing::LeAt;
using testing::Patched;

// Another file of the same kind straight after the end, as when the file ends
// on a sector boundary and the slack holds an older file of its kind.
TEST(MediaCheckTest, AnotherFileOfTheKindRightAfterTheEndIsNotTakenForMore) {
  const struct {
    const char* file;
    const char* next;
    Verdict verdict;
  } cases[] = {
      // The Xing byte count stops the walk where a bare MP3's frames would go on.
      {"lame-vbr.mp3", "ffmpeg-bare.mp3", Verdict::kIntact},
      {"lame-mpeg1.mp3", "lame-mpeg1.mp3", Verdict::kIntact},
      {"ffmpeg-bare.mp3", "ffmpeg-id3.mp3", Verdict::kIntact},
      {"ffmpeg-h264.mp4", "ffmpeg-mp42.mp4", Verdict::kIntact},
      {"imagemagick.heic", "imagemagick.heic", Verdict::kIntact},
      // A Segment of unknown size ends where its elements stop.
      {"ffmpeg-pipe.mkv", "ffmpeg-pipe.mkv", Verdict::kIntact},
      {"ffmpeg.mkv", "ffmpeg-audio.mkv", Verdict::kIntact},
      // The sizes the headers declare: ASF's File Properties, FLV's metadata.
      {"ffmpeg.wmv", "ffmpeg.wma", Verdict::kIntact},
      {"ffmpeg.flv", "ffmpeg.flv", Verdict::kIntact},
      {"sox.aiff", "sox.aifc", Verdict::kIntact},
      {"ffmpeg.caf", "ffmpeg.caf", Verdict::kIntact},
      {"abc2midi.mid", "abc2midi.mid", Verdict::kIntact},
      // Counted samples, then an APEv2 tag: another file's tag is not taken.
      {"ffmpeg.wv", "ffmpeg.tta", Verdict::kUnchecked},
      {"ffmpeg.tta", "ffmpeg.tta", Verdict::kIntact},
      // The header's file size, the FRM8 form's size.
      {"handmade.dsf", "handmade.dsf", Verdict::kIntact},
      {"handmade.dff", "handmade.dff", Verdict::kIntact},
      // The lengths of Monkey's Audio's descriptor, then its APEv2 tag.
      {"handmade.ape", "handmade.ape", Verdict::kIntact},
      // Musepack's packets to the stream end, then its APEv2 tag.
      {"mpcenc.mpc", "mpcenc.mpc", Verdict::kIntact},
      {"ffmpeg.y4m", "ffmpeg.y4m", Verdict::kIntact},
      {"ffmpeg.swf", "ffmpeg.swf", Verdict::kIntact},
      {"ffmpeg.mxf", "ffmpeg.mxf", Verdict::kIntact},
      // After raw frames, data that is neither a frame nor slack leaves the end unsure.
      {"ffmpeg.ac3", "sox.au", Verdict::kUnchecked},
      // FLAC frames are decoded to their exact ends.
      {"flac.flac", "flac.flac", Verdict::kIntact},
      // A chained Ogg file looks the same as one in the slack.
      {"oggenc.ogg", "oggenc.ogg", Verdict::kUnchecked},
  };
  for (const auto& c : cases) {
    const std::string file = Kind(c.file);
    const std::string name = c.file;
    const CheckResult r = Check(name.substr(name.rfind('.') + 1), file + Kind(c.next));
    EXPECT_EQ(r.verdict, c.verdict) << c.file << ": " << Describe(r);
    if (c.verdict == Verdict::kIntact) {
      EXPECT_EQ(r.length, file.size()) << c.file;
    }
  }
}

// The frame lengths of an MP3 (its headers walked here again, the simple way:
// these files are MPEG-1 or 2 layer III at a constant rate within a frame).
std::vector<std::size_t> FrameEnds(const std::string& bytes) {
  std::vector<std::size_t> ends;
  static const int kV1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int kV2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const auto* h = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    if (h[0] != 0xFF) break;
    const int version = (h[1] >> 3) & 3;
    const int rates[] = {44100, 48000, 32000};
    const int rate = rates[(h[2] >> 2) & 3] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int bitrate = (version == 3 ? kV1 : kV2)[h[2] >> 4] * 1000;
    at += (version == 3 ? 144 : 72) * bitrate / rate + ((h[2] >> 1) & 1);
    ends.push_back(at);
  }
  return ends;
}

TEST(MediaCheckTest, AnMp3WithAByteCountCutOnAFrameBoundaryIsTruncated) {
  for (const char* name : {"lame-vbr.mp3", "lame-mpeg1.mp3", "lame-mpeg25.mp3"}) {
    const std::string file = Kind(name);
    const std::vector<std::size_t> ends = FrameEnds(file);
    ASSERT_GT(ends.size(), 3u) << name;
    ASSERT_EQ(ends.back(), file.size()) << name;
    for (const std::size_t cut : {ends[0], ends[ends.size() / 2], ends[ends.size() - 2]}) {
      const CheckResult r = Check("mp3", file.substr(0, cut));
      EXPECT_EQ(r.verdict, Verdict::kTruncated) << name << " cut at " << cut << ": " << Describe(r);
      EXPECT_EQ(r.expected, file.size()) << name;
    }
  }
}

// A bare MP3 cut on a frame boundary at a sector's end is what a disk check's
// head looks like: never intact. Frames of MPEG-1 layer III at 128 kbit/s,
// 44.1 kHz: 417 bytes, 418 with the padding bit.
TEST(MediaCheckTest, ABareMp3EndingOnAFrameAtASectorEndIsNotIntact) {
  std::string head;
  for (std::size_t frames = 1; frames < 100 && head.empty(); ++frames) {
    const std::size_t padded = (512 - frames * 417 % 512) % 512;
    if (padded > frames) continue;
    for (std::size_t i = 0; i < frames; ++i) {
      std::string frame(i < padded ? 418 : 417, '\0');
      frame[0] = '\xFF';
      frame[1] = '\xFB';
      frame[2] = i < padded ? '\x92' : '\x90';
      frame[3] = '\x64';
      head += frame;
    }
  }
  ASSERT_EQ(head.size() % 512, 0u);
  CheckResult r = Check("mp3", head);
  EXPECT_EQ(r.verdict, Verdict::kUnchecked) << Describe(r);
  // One byte less is inside the last frame; one more frame with zeros after is whole.
  r = Check("mp3", head.substr(0, head.size() - 1));
  EXPECT_EQ(r.verdict, Verdict::kTruncated) << Describe(r);
  r = Check("mp3", head + head.substr(0, 418) + std::string(100, '\0'));
  EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == head.size() + 418) << Describe(r);
  // Data after the last frame that is neither slack nor a tag leaves the end unsure.
  r = Check("mp3", Kind("ffmpeg-bare.mp3") + "xyzw" + std::string(600, 'q'));
  EXPECT_EQ(r.verdict, Verdict::kUnchecked) << Describe(r);
}

// FLAC's CRCs cover the frames, not the metadata: a change in the audio is
// found wherever it lies, and a frame cut anywhere is never whole.
TEST(MediaCheckTest, AChangeOrACutInFlacAudioIsFound) {
  const std::string file = Kind("flac.flac");  // its audio begins at 8304, after 8 KiB of padding
  for (const std::size_t at : {std::size_t{8304}, std::size_t{8400}, file.size() * 3 / 4, file.size() - 3, file.size() - 1}) {
    std::string changed = file;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    CheckResult r = Check("flac", changed);
    EXPECT_EQ(r.verdict, Verdict::kDamaged) << "changed at " << at << ": " << Describe(r);
    r = Check("flac", file.substr(0, at) + std::string(4096, '\0'));
    EXPECT_NE(r.verdict, Verdict::kIntact) << "cut at " << at << ": " << Describe(r);
  }
}

// A declared length that lies: longer says the file is cut; shorter, that
// its structure runs past its own end.
TEST(MediaCheckTest, ADeclaredLengthThatLiesIsNotBelieved) {
  const std::string wmv = Kind("ffmpeg.wmv");  // the File Properties object's file size at 70
  const std::string swf = Kind("ffmpeg.swf");  // the file length at 4
  testing::ExpectCases({
      {"ASF said longer", "wmv", Patched(wmv, 70, Le(wmv.size() + 4096)), Verdict::kTruncated, wmv.size() + 4096},
      {"ASF said shorter", "wmv", Patched(wmv, 70, Le(wmv.size() - 100)), Verdict::kDamaged},
      {"SWF said longer", "swf", Patched(swf, 4, Le(swf.size() + 4096)), Verdict::kDamaged},
      {"SWF said shorter", "swf", Patched(swf, 4, Le(swf.size() - 100)), Verdict::kDamaged},
  });
}

// Cut exactly where a page or a box ends, the structure itself must show
// that more was to come: streams not ended, a movie without its box.
TEST(MediaCheckTest, AFileCutWhereAPageOrBoxEndsIsNotIntact) {
  for (const char* name : {"oggenc.ogg", "ffmpeg.ogv", "ffmpeg.opus", "speexenc.spx", "ffmpeg-flac.oga"}) {
    const std::string file = Kind(name);
    for (std::size_t at = file.find("OggS", 1); at != std::string::npos; at = file.find("OggS", at + 1)) {
      const CheckResult r = Check("ogg", file.substr(0, at));
      EXPECT_EQ(r.verdict, Verdict::kTruncated) << name << " cut at page " << at << ": " << Describe(r);
    }
  }
  for (const char* name : {"ffmpeg-h264.mp4", "ffmpeg.mov", "imagemagick.heic", "handmade-canon.cr3"}) {
    const std::string file = Kind(name);
    std::size_t at = 0;
    for (;;) {
      at += BeAt(file, at);
      if (at >= file.size()) break;
      const CheckResult r = Check("mp4", file.substr(0, at));
      EXPECT_NE(r.verdict, Verdict::kIntact) << name << " cut after the box ending at " << at << ": " << Describe(r);
    }
  }
}

// A syncsafe number as ID3v2 writes its sizes.
std::string Syncsafe(std::uint32_t n) {
  return std::string{static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F),
                     static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
}

// An APE tag of one item, version 2000; `header` puts the 32-byte header first.
std::string ApeTag(bool header, std::uint32_t footerSize = 0) {
  const std::string item = Le(5) + Le(0) + std::string("Title\0", 6) + "Tones";
  const std::uint32_t size = footerSize != 0 ? footerSize : static_cast<std::uint32_t>(item.size() + 32);
  const auto part = [&](std::uint32_t flags) {
    return "APETAGEX" + Le(2000) + Le(size) + Le(1) + Le(flags) + std::string(8, '\0');
  };
  return (header ? part(0xA0000000u) : "") + item + part(header ? 0x80000000u : 0);
}

// Tags after MP3 frames belong to the file, in the orders writers put them:
// an ID3v2.4 tag appended with its footer, an APE tag with or without its
// header, a Lyrics3 block, an ID3v1 tag last. Each is taken only whole and as
// its layout says; what is not a tag is no more of the file.
TEST(MediaCheckTest, TagsAfterTheFramesArePartOfTheFile) {
  const std::string id3v1 = "TAG" + std::string(125, 'a');
  const std::string enhanced = "TAG+" + std::string(223, 'e');
  const std::string frame = "TIT2" + Syncsafe(6) + std::string("\0\0\x03Tones", 8);
  const std::string appended = std::string("ID3\x04\0\x10", 6) + Syncsafe(frame.size()) + frame +
                               std::string("3DI\x04\0\x10", 6) + Syncsafe(frame.size());
  const std::string fields = "IND00002" + std::string("10") + "LYR00011" + "[00:01]Tone";
  const std::string lyrics3 = "LYRICSBEGIN" + fields + "0000" + std::to_string(11 + fields.size()) + "LYRICS200";
  const std::string lyrics1 = "LYRICSBEGIN[00:01]Tone" + std::string("LYRICSEND");
  const struct {
    const char* what;
    std::string tags;
    std::size_t taken;  // how many of the bytes of `tags` are the file's
  } cases[] = {
      {"ID3v1", id3v1, id3v1.size()},
      {"APEv2 with its header", ApeTag(true), ApeTag(true).size()},
      {"APEv2 with its header, then ID3v1", ApeTag(true) + id3v1, ApeTag(true).size() + id3v1.size()},
      {"APEv2 without a header", ApeTag(false), ApeTag(false).size()},
      {"APEv2 without a header, then ID3v1", ApeTag(false) + id3v1, ApeTag(false).size() + id3v1.size()},
      {"ID3v2.4 appended with its footer", appended, appended.size()},
      {"Lyrics3v2, then ID3v1", lyrics3 + id3v1, lyrics3.size() + id3v1.size()},
      {"Lyrics3v1, then ID3v1", lyrics1 + id3v1, lyrics1.size() + id3v1.size()},
      {"Enhanced TAG+, then ID3v1", enhanced + id3v1, enhanced.size() + id3v1.size()},
      {"all of them", appended + ApeTag(false) + lyrics3 + id3v1,
       appended.size() + ApeTag(false).size() + lyrics3.size() + id3v1.size()},
      // Not whole, or not as the layout says: no part of the file.
      {"ID3v2.4 appended without its footer", appended.substr(0, appended.size() - 10), 0},
      {"APEv2 whose footer counts another size", ApeTag(false, 100), 0},
      {"Lyrics3v2 whose size is wrong", Patched(lyrics3, lyrics3.size() - 10, "8") + id3v1, 0},
      {"Lyrics3v1 without ID3v1", lyrics1, 0},
      {"the next file's ID3v2.4 tag with its footer", appended + Kind("lame-mpeg1.mp3"), 0},
  };
  for (const char* name : {"lame-vbr.mp3", "ffmpeg-bare.mp3", "ffmpeg-id3.mp3"}) {
    const std::string file = Kind(name);
    for (const auto& c : cases) {
      const CheckResult r = Check("mp3", file + c.tags + std::string(300, '\0'));
      // Bytes that are no tag end a file of counted frames, and leave the end
      // of a bare chain unsure.
      if (c.taken == 0 && r.verdict != Verdict::kIntact) continue;
      EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == file.size() + c.taken)
          << name << " with " << c.what << ": " << Describe(r) << ", expected " << file.size() + c.taken;
    }
  }
}

// A form's last chunk of odd size carries a pad byte, which belongs to the
// file whether or not the writer's form size counts it; a byte that is no
// pad (not zero) is slack, and a pad byte never written is not made up.
TEST(MediaCheckTest, TheLastChunksPadByteBelongsToTheFile) {
  const std::string wav = Kind("sox.wav");
  const std::string aiff = Kind("sox.aiff");
  // An INFO list whose comment of three bytes leaves the list odd.
  const std::string list = "LIST" + Le(15) + "INFOICMT" + Le(3) + std::string("ab\0", 3);
  const std::string anno = "ANNO" + testing::Be(3) + "abc";
  const auto form = [](const std::string& file, const std::string& chunk, bool countsPad, bool bigEndian) {
    const std::uint64_t size = file.size() - 8 + chunk.size() + (countsPad ? 1 : 0);
    return Patched(file, 4, bigEndian ? testing::Be(size) : Le(size)) + chunk;
  };
  const std::string wavCounted = form(wav, list, true, false);
  const std::string wavUncounted = form(wav, list, false, false);
  const std::string aiffUncounted = form(aiff, anno, false, true);
  const std::string zeros(300, '\0');
  testing::ExpectCases({
      {"RIFF size counting the pad byte", "wav", wavCounted + '\0' + zeros, Verdict::kIntact, wavCounted.size() + 1},
      {"RIFF size leaving the pad byte out", "wav", wavUncounted + '\0' + zeros, Verdict::kIntact, wavUncounted.size() + 1},
      {"RIFF pad byte ending the fragment", "wav", wavUncounted + '\0', Verdict::kIntact, wavUncounted.size() + 1},
      {"RIFF pad byte never written, the fragment ends", "wav", wavUncounted, Verdict::kIntact, wavUncounted.size()},
      {"RIFF pad byte never written, other bytes follow", "wav", wavUncounted + "RIFF" + zeros, Verdict::kIntact,
       wavUncounted.size()},
      {"FORM size leaving the pad byte out", "aiff", aiffUncounted + '\0' + zeros, Verdict::kIntact,
       aiffUncounted.size() + 1},
  });
}

// An AVI past 1 GiB goes on in "AVIX" forms right after its first: they are
// the file's, and one cut short leaves it truncated.
TEST(MediaCheckTest, AnOpenDmlAvisFurtherFormsBelongToIt) {
  const std::string avi = Kind("ffmpeg.avi");
  const std::string frame = "00dc" + Le(9) + std::string(9, 'v') + '\0';
  const std::string movi = "LIST" + Le(4 + frame.size()) + "movi" + frame;
  const std::string avix = "RIFF" + Le(4 + movi.size()) + "AVIX" + movi;
  testing::ExpectCases({
      {"two AVIX forms", "avi", avi + avix + avix + std::string(300, '\0'), Verdict::kIntact, avi.size() + 2 * avix.size()},
      {"an AVIX form cut short", "avi", avi + avix.substr(0, avix.size() - 5), Verdict::kTruncated, avi.size() + avix.size()},
      {"a WAV form after an AVI", "avi", avi + Kind("sox.wav"), Verdict::kIntact, avi.size()},
  });
}

// Headers whose counts and sizes say something other than the file holds, or
// say nothing: never intact at the length the file has.
TEST(MediaCheckTest, CountsAndSizesThatDisagreeOrAreNotGiven) {
  const auto patched = [](const std::string& name, std::size_t at, const std::string& bytes) {
    return Patched(Kind(name), at, bytes);
  };
  const std::string midi = Kind("abc2midi.mid");
  const std::string caf = Kind("ffmpeg.caf");
  const std::string mpc = Kind("mpcenc.mpc");
  const std::string sv7 = Kind("handmade-sv7.1.mpc");
  const std::string sv7Tag = Kind("handmade-sv7.0.mpc").substr(sv7.size());  // the same stream, then an APEv2 tag
  const std::string mkv = Kind("ffmpeg.mkv");
  const std::size_t segment = mkv.find("\x18\x53\x80\x67");
  ASSERT_EQ(mkv[segment + 4], '\x01');  // an eight-byte size
  const std::string shortSegment = Patched(mkv, segment + 12, std::string(1, static_cast<char>(mkv[segment + 12] - 1)));
  testing::ExpectCases({
      {"MIDI counting two tracks", "mid", patched("abc2midi.mid", 10, std::string("\0\x02", 2)), Verdict::kTruncated},
      {"MIDI without its end of track", "mid", patched("abc2midi.mid", midi.size() - 2, "\x2E"), Verdict::kDamaged},
      {"AU of unknown data size", "au", patched("sox.au", 8, "\xFF\xFF\xFF\xFF"), Verdict::kUnchecked},
      {"CAF data to the end", "caf", patched("ffmpeg.caf", caf.find("data") + 4, std::string(8, '\xFF')), Verdict::kUnchecked},
      {"IVF counting fewer frames", "ivf", patched("ffmpeg.ivf", 24, std::string("\x03", 1)), Verdict::kUnchecked},
      {"WavPack of unknown length", "wv", patched("ffmpeg.wv", 12, "\xFF\xFF\xFF\xFF"), Verdict::kUnchecked},
      {"Monkey's Audio before version 3.98", "ape", patched("handmade.ape", 4, Le(3970, 2)), Verdict::kUnchecked},
      {"Monkey's Audio whose frames run past the file", "ape", patched("handmade.ape", 24, Le(4000)),
       Verdict::kTruncated, 52 + 24 + 4 + 44 + 4000},
      {"Monkey's Audio whose seek table misses the frames", "ape", patched("handmade.ape", 52 + 24, Le(200)),
       Verdict::kDamaged},
      {"Musepack whose stream header is changed", "mpc", Flipped(Kind("mpcenc.mpc"), 12, 0x01), Verdict::kDamaged},
      {"Musepack without its stream end", "mpc", mpc.substr(0, mpc.find("SE\x03")), Verdict::kTruncated},
      {"Musepack packets under a version 7 header", "mpc", "MP+\x17" + mpc.substr(4), Verdict::kDamaged},
      {"Musepack SV7 counting a frame more", "mpc", patched("handmade-sv7.1.mpc", 4, "\x0D"), Verdict::kTruncated},
      {"Musepack SV7 counting no frames", "mpc", patched("handmade-sv7.1.mpc", 4, Le(0)), Verdict::kUnchecked},
      // Its last frame's count of samples fills a word of its own.
      {"Musepack SV7 without that word", "mpc", sv7.substr(0, sv7.size() - 4), Verdict::kTruncated, sv7.size()},
      {"Musepack SV7 with a tag in that word's place", "mpc", sv7.substr(0, sv7.size() - 4) + sv7Tag, Verdict::kIntact,
       sv7.size() - 4 + sv7Tag.size()},
      {"Musepack SV7, then another", "mpc", sv7 + Kind("handmade-sv7.0.mpc"), Verdict::kIntact, sv7.size()},
      {"Matroska elements past the Segment", "mkv", shortSegment, Verdict::kDamaged},
  });
}

TEST(MediaCheckTest, BoxesThatLeaveTheEndUnsureOrTheFileIncomplete) {
  const std::string mp4 = Kind("ffmpeg-h264.mp4");  // ftyp 32, free 8, mdat 2057, moov 1510
  std::string open = mp4;
  open[40] = open[41] = open[42] = open[43] = 0;  // mdat of size 0: to the end of the file
  std::string unknown = mp4 + std::string("\0\0\0\x10zzzz", 8) + std::string(8, 'x');
  testing::ExpectCases({
      {"an mdat running to the end", "mp4", open, Verdict::kUnchecked},
      {"no moov", "mp4", mp4.substr(0, 32 + 8 + 2057), Verdict::kTruncated},
      {"a box of unknown type after the end", "mp4", unknown, Verdict::kUnchecked},
      {"a second moov", "mp4", mp4 + mp4.substr(32 + 8 + 2057), Verdict::kUnchecked},
  });
}

// DSD audio states its sizes twice (DSF: the file's size, the data chunk's,
// the metadata pointer; DSDIFF: the form's size and each chunk's): where they
// disagree the file is damaged, not cut where one of them says.
TEST(MediaCheckTest, DsdSizesThatDisagreeAreDamaged) {
  const std::string dsf = Kind("handmade.dsf");  // DSD 28, fmt 52, data 12 + 8192, ID3v2 41
  const std::string dff = Kind("handmade.dff");  // FRM8 16, FVER 16, PROP, DSD sound
  const std::uint64_t dataEnd = 28 + 52 + 12 + 8192;
  const std::size_t sound = dff.size() - 12 - 5000;  // the last chunk: 2,500 bytes of each channel
  ASSERT_EQ(LeAt(dsf, 20, 8), dataEnd);
  ASSERT_EQ(dff.substr(sound, 4), "DSD ");
  // The tag of the DSF file, in a chunk of its own.
  const std::string tag = dsf.substr(dataEnd);
  const std::string id3Chunk = "ID3 " + Be(tag.size(), 8) + tag + std::string(tag.size() % 2, '\0');
  testing::ExpectCases({
      {"DSF", "dsf", dsf, Verdict::kIntact, dsf.size()},
      {"DSF without its tag, the pointer kept", "dsf", dsf.substr(0, dataEnd), Verdict::kTruncated, dsf.size()},
      {"DSF whose tag is gone and the file size says so", "dsf",
       Patched(Patched(dsf.substr(0, dataEnd), 12, Le(dataEnd, 8)), 20, Le(0, 8)), Verdict::kIntact, dataEnd},
      {"DSF whose file size stops inside the sound", "dsf", Patched(Patched(dsf, 12, Le(dataEnd - 512, 8)), 20, Le(0, 8)),
       Verdict::kDamaged},
      {"DSF whose metadata pointer lies inside the sound", "dsf", Patched(dsf, 20, Le(dataEnd - 41, 8)), Verdict::kDamaged},
      {"DSF whose data chunk is not whole blocks", "dsf", Patched(dsf, 28 + 52 + 4, Le(12 + 8000, 8)), Verdict::kDamaged},
      {"DSDIFF", "dff", dff, Verdict::kIntact, dff.size()},
      {"DSDIFF whose sound runs past the form", "dff", Patched(dff, sound + 4, Be(dff.size(), 8)), Verdict::kDamaged},
      {"DSDIFF whose form ends inside the sound", "dff", Patched(dff, 4, Be(dff.size() - 12 - 100, 8)),
       Verdict::kDamaged},
      {"DSDIFF whose form is longer than the fragment", "dff", Patched(dff, 4, Be(dff.size() - 12 + 10, 8)) + std::string(10, 'x'),
       Verdict::kDamaged},
      {"DSDIFF cut", "dff", dff.substr(0, dff.size() - 1), Verdict::kTruncated, dff.size()},
      {"DSDIFF with an ID3 chunk appended after the form", "dff", dff + id3Chunk, Verdict::kIntact,
       dff.size() + id3Chunk.size()},
      {"DSDIFF whose appended ID3 chunk is cut", "dff", dff + id3Chunk.substr(0, 30), Verdict::kTruncated,
       dff.size() + id3Chunk.size()},
  });
}

}  // namespace
}  // namespace tessaro::formats
