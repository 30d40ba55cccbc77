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

using testing::BeAt;
using testing::Check;
using testing::Describe;
using testing::Kind;
using testing::Le;
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

// Tags after MP3 frames belong to the file: an ID3v1 tag (after frames the
// Xing/Info count ends, or after a bare chain) and an APEv2 tag with its header.
TEST(MediaCheckTest, TagsAfterTheFramesArePartOfTheFile) {
  std::string id3v1 = "TAG" + std::string(125, 'a');
  std::string ape = "APETAGEX" + std::string(24, '\0');
  ape[8] = '\xD0';
  ape[9] = '\x07';        // version 2000
  ape[12] = 32;            // size: the footer only
  ape[23] = '\xA0';       // a header, and this is it
  std::string footer = ape;
  footer[23] = '\x80';
  ape += footer;
  for (const char* name : {"lame-vbr.mp3", "ffmpeg-bare.mp3", "ffmpeg-id3.mp3"}) {
    const std::string file = Kind(name);
    for (const std::string& tags : {id3v1, ape, ape + id3v1}) {
      const CheckResult r = Check("mp3", file + tags + std::string(300, '\0'));
      EXPECT_TRUE(r.verdict == Verdict::kIntact && r.length == file.size() + tags.size())
          << name << " with " << tags.size() << " bytes of tags: " << Describe(r);
    }
  }
}

// Headers whose counts and sizes say something other than the file holds, or
// say nothing: never intact at the length the file has.
TEST(MediaCheckTest, CountsAndSizesThatDisagreeOrAreNotGiven) {
  const auto patched = [](const std::string& name, std::size_t at, const std::string& bytes) {
    return Patched(Kind(name), at, bytes);
  };
  const std::string midi = Kind("abc2midi.mid");
  const std::string caf = Kind("ffmpeg.caf");
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

}  // namespace
}  // namespace tessaro::formats
