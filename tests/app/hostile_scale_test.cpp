// Both passes at the sizes the program promises to take: 100,000 fragments, a
// 5 GiB fragment, catalogues of 300 and 301 kinds. The biggest ones write
// gigabytes and run only where TESSARO_SLOW_TESTS is set (the sanitizer stage
// of CI); elsewhere they are skipped, saying so.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

bool SlowTestsWanted() {
  const char* wanted = std::getenv("TESSARO_SLOW_TESTS");
  return wanted != nullptr && std::string(wanted) == "1";
}

struct Rig {
  explicit Rig(const std::string& catalogue) {
    dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, catalogue), platform);
    dialog->OnInitDialog();
  }
  ~Rig() { dialog.reset(); }
  void Detect(const std::string& from) {
    dialog->SetSourceFolder(from);
    dialog->OnDetect();
    dialog->WaitForWorker();
  }
  void Recover(const std::string& from, const std::string& to) {
    dialog->SetSourceFolder(from);
    dialog->SetDestFolder(to);
    dialog->OnRecover();
    dialog->WaitForWorker();
  }
  TempFolder config;
  RecordingWindow window;
  FaultyPlatform platform;
  std::unique_ptr<MainDialog> dialog;
};

// Writes `bytes` with the system calls alone: fast enough for 100,000 files.
void WriteQuickly(const std::string& path, const std::string& bytes) {
#if defined(_WIN32)
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) << path;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
#endif
}

// Appends `bytes` at the end of the file.
void Append(const std::string& path, const std::string& bytes) {
  std::ofstream(PathOf(path), std::ios::binary | std::ios::app) << bytes;
}

TEST(HostileScaleTest, HundredThousandFragments) {
  if (!SlowTestsWanted()) GTEST_SKIP() << "100,000 files: set TESSARO_SLOW_TESTS=1 to run";
  constexpr int kFiles = 100000;
  TempFolder source;
  TempFolder dest;
  for (int i = 0; i < kFiles; ++i) {
    // Every third one a picture, every third a text, the rest no kind.
    std::string bytes = i % 3 == 0   ? Bytes({0xFF, 0xD8, 0xFF}) + std::to_string(i)
                        : i % 3 == 1 ? "text " + std::to_string(i) + "\n"
                                     : std::string(1, '\0') + std::to_string(i);
    WriteQuickly(source.str() + "/F" + std::to_string(i) + ".CHK", bytes);
  }
  const FragmentSnapshot before(source.path());

  Rig rig(kSmallCatalogue);
  rig.Detect(source.str());
  const auto rows = rig.window.Rows();
  EXPECT_EQ(rows.at(0).at(2), std::to_string((kFiles + 2) / 3));   // .jpg
  EXPECT_EQ(rows.at(4).at(2), std::to_string((kFiles + 1) / 3));   // .txt
  EXPECT_EQ(rig.window.Position(ids::kTotalProgress), 100);

  rig.Recover(source.str(), dest.str());
  EXPECT_EQ(rig.window.Text(ids::kFileCount), std::to_string(kFiles));
  EXPECT_EQ(rig.window.Text(ids::kProcessedCount), std::to_string(kFiles));
  EXPECT_TRUE(rig.window.Boxes().empty());
  std::size_t outputs = 0;
  std::uint64_t outputBytes = 0;
  for (const auto& entry : fs::directory_iterator(dest.path())) {
    ++outputs;
    outputBytes += entry.file_size();
  }
  EXPECT_EQ(outputs, static_cast<std::size_t>((kFiles + 2) / 3 + (kFiles + 1) / 3));
  EXPECT_EQ(rig.dialog->m_copiedBytes, rig.dialog->m_totalBytes);
  std::uint64_t sampled = 0;
  for (int i = 0; i < kFiles; i += 997) {
    const std::string fragment = ReadAll(source.str() + "/F" + std::to_string(i) + ".CHK");
    if (i % 3 == 2) continue;
    const std::string output = dest.str() + "/F" + std::to_string(i) + (i % 3 == 0 ? ".jpg" : ".txt");
    EXPECT_EQ(ReadAll(output), fragment) << output;
    ++sampled;
  }
  EXPECT_GT(sampled, 50u);
  EXPECT_GT(outputBytes, 0u);
  EXPECT_EQ(before.Changes(), "");
}

// A sparse fragment of 5 GiB: identified from its head alone, copied whole,
// checksum equal, and the counters and bars carried in 64 bits.
TEST(HostileScaleTest, FiveGibibyteFragmentIsCopiedWhole) {
  if (!SlowTestsWanted()) GTEST_SKIP() << "writes 5 GiB: set TESSARO_SLOW_TESTS=1 to run";
  constexpr std::uint64_t kSize = 5ull << 30;
  TempFolder source;
  TempFolder dest;
  // Marks past 2 GiB and 4 GiB and at the very end, so a copy that wraps a
  // 32-bit count or stops short differs. Each is appended to sparse zeros:
  // the test itself needs no 64-bit seek.
  const std::string path = source.Write("BIG.CHK", "\xFF\xD8\xFF\xE0");
  fs::resize_file(path, (2ull << 30) + 7);
  Append(path, "two");
  fs::resize_file(path, (4ull << 30) + 11);
  Append(path, "four");
  fs::resize_file(path, kSize - 3);
  Append(path, "end");
  ASSERT_EQ(fs::file_size(path), kSize);
  const auto sum = [](const std::string& file) {
    std::uint64_t hash = 1469598103934665603ull;
    std::ifstream in(PathOf(file), std::ios::binary);
    std::vector<std::uint64_t> words(1 << 17);
    std::uint64_t total = 0;
    for (;;) {
      in.read(reinterpret_cast<char*>(words.data()), static_cast<std::streamsize>(words.size() * 8));
      const auto n = static_cast<std::size_t>(in.gcount());
      if (n == 0) break;
      total += n;
      for (std::size_t i = 0; i < n / 8; ++i) hash = (hash ^ words[i]) * 1099511628211ull;
    }
    return std::make_pair(total, hash);
  };
  // The fragment's checksum, size and time, kept here as FragmentSnapshot
  // keeps them, but streamed: the snapshot holds each file in memory.
  const auto expected = sum(path);
  const auto timeBefore = fs::last_write_time(path);

  Rig rig("[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n");
  std::uint64_t readBeforeTheCopy = UINT64_MAX;
  // The copy reads the fragment again from its start, through the handle
  // the identification read.
  rig.platform.onRewind = [&](const std::string& rewound) {
    if (rewound == path) readBeforeTheCopy = rig.platform.BytesRead("BIG.CHK");
  };
  rig.Recover(source.str(), dest.str());
  rig.platform.onRewind = nullptr;
  EXPECT_TRUE(rig.window.Boxes().empty());
  EXPECT_LE(readBeforeTheCopy, 4096u) << "identification of a signature-only kind read more than the head";
  EXPECT_EQ(rig.dialog->m_copiedBytes, kSize);
  EXPECT_EQ(rig.dialog->m_totalBytes, kSize);
  EXPECT_EQ(rig.window.Position(ids::kFileProgress), 100);
  const std::string output = dest.str() + "/BIG.jpg";
  EXPECT_EQ(sum(output), expected);
  fs::remove(output);
  EXPECT_EQ(sum(path), expected);
  EXPECT_EQ(fs::last_write_time(path), timeBefore);
}

std::string Kinds(int n) {
  std::string catalogue;
  for (int i = 0; i < n; ++i) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", i);
    catalogue += "[kind " + std::to_string(i) + "]\noffset=0\nsig=4B" + hex + "\npostfix=.k" + std::to_string(i) + "\n";
  }
  return catalogue;
}

// 300 kinds fill the table: the last one is listed, counted and recovered.
// 301 are refused at start-up with the reason, and the passes then run
// through the folder without a kind, copying nothing.
TEST(HostileScaleTest, ThreeHundredKindsWorkAndThreeHundredAndOneAreRefused) {
  TempFolder source;
  const std::string last = Bytes({0x4B, 0x01, 0x2B, 0x00});  // "4B012B": kind 299
  source.Write("LAST.CHK", last);
  source.Write("FIRST.CHK", Bytes({0x4B, 0x00, 0x00, 0x01}));
  const FragmentSnapshot before(source.path());
  {
    TempFolder dest;
    Rig rig(Kinds(300));
    EXPECT_EQ(rig.window.Text(ids::kKindCount), "300");
    ASSERT_EQ(rig.window.Rows().size(), 300u);
    EXPECT_EQ(rig.window.Rows()[299][1], ".k299");
    rig.Detect(source.str());
    EXPECT_EQ(rig.window.Rows()[299][2], "1");
    EXPECT_EQ(rig.window.Rows()[0][2], "1");
    rig.Recover(source.str(), dest.str());
    EXPECT_EQ(ReadAll(dest.str() + "/LAST.k299"), last);
  }
  {
    TempFolder dest;
    Rig rig(Kinds(301));
    const std::vector<Box> boxes = rig.window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "error");
    EXPECT_NE(boxes[0].text.find("301 kinds"), std::string::npos) << boxes[0].text;
    EXPECT_TRUE(rig.window.Rows().empty());
    rig.Detect(source.str());
    rig.Recover(source.str(), dest.str());
    EXPECT_EQ(rig.window.Text(ids::kProcessedCount), "2");
    EXPECT_EQ(std::distance(fs::directory_iterator(dest.path()), fs::directory_iterator()), 0);
    EXPECT_EQ(rig.window.Boxes().size(), 1u) << "the passes showed a message";
  }
  EXPECT_EQ(before.Changes(), "");
}

}  // namespace
}  // namespace tessaro::testing
