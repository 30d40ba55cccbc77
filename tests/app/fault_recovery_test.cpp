// Faults at every point of a recovery, injected through the platform seam or
// made for real while the pass runs, each on every fragment of the folder in
// turn. Each must give its message, its counter and its output as the failure
// table says, and leave the pass to go on: every other fragment is copied
// whole, and no fragment is changed by the program.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFaultCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[Word document]\noffset=0\nsignature=504B0304\naddon=776F72642F\npostfix=.docx\n";

constexpr std::uint64_t kChunk = MainDialog::kCopyChunk;

struct Fragment {
  std::string name;
  std::string output;  // its output's name
  std::string bytes;
};

// Four fragments: two pictures, a document whose kind needs the content scan
// (its content string lies 120,000 bytes in, in the first half), and a text.
std::vector<Fragment> MakeFragments() {
  std::string word = Bytes({0x50, 0x4B, 0x03, 0x04}) + RandomBytes(300000 - 4, 7);
  word.replace(120000, 5, "word/");
  std::string text;
  while (text.size() < 5000) text += "a line of a lost letter\n";
  text.resize(5000);
  return {{"F0.CHK", "F0.jpg", Jpeg(100000)},
          {"F1.CHK", "F1.docx", word},
          {"F2.CHK", "F2.jpg", Jpeg(40000)},
          {"F3.CHK", "F3.txt", text}};
}

// What happens to the faulted fragment.
enum class Output { kNone, kWhole, kPrefix };

struct Expect {
  std::string caption;           // empty: no message box
  std::string text;
  Output output = Output::kNone;
  std::uint64_t outputBytes = 0;  // for kPrefix: its length on disk
  std::string outputSource;       // for kWhole/kPrefix: the bytes it is a copy (prefix) of
  std::uint64_t counted = 0;      // what m_copiedBytes grows by for it
  bool changesFragment = false;   // the test itself changes or removes it
};

struct FaultPoint {
  const char* name;
  bool onlyContentKind;  // the fault needs a kind with content strings
  // Arms the fault for fragment `f` (path `path`, output path `out`) and
  // returns what must follow.
  std::function<Expect(FaultyPlatform&, RecordingWindow&, const Fragment& f, const std::string& path,
                       const std::string& out)>
      arm;
};

std::uint64_t WholeChunksBelow(std::uint64_t limit) { return limit / kChunk * kChunk; }

void Truncate(const std::string& path, std::uint64_t size) { fs::resize_file(path, size); }

void Append(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<FaultPoint> Points() {
  std::vector<FaultPoint> points;
  points.push_back({"StatusQuery", false, [](FaultyPlatform& p, RecordingWindow&, const Fragment& f,
                                             const std::string& path, const std::string&) {
                      p.FailStatus(f.name, EIO, 1);
                      Expect e;
                      e.caption = "Get File Info Error";
                      e.text = "cann't get " + path + " information, err:" + std::to_string(EIO) + "\n";
                      return e;
                    }});
  points.push_back({"OpenOfTheIdentification", false,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string&, const std::string&) {
                      p.FailOpen(f.name, EACCES, 1);
                      Expect e;
                      e.counted = f.bytes.size();
                      return e;
                    }});
  points.push_back({"ShortReadOfTheHead", false,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string&, const std::string&) {
                      p.ShortReadAfter(f.name, 10, 1);
                      Expect e;
                      e.counted = f.bytes.size();
                      return e;
                    }});
  points.push_back({"ShortReadOfTheContentScan", true,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string&, const std::string&) {
                      p.ShortReadAfter(f.name, 100000, 1);
                      Expect e;
                      e.counted = f.bytes.size();
                      return e;
                    }});
  // The one open serves the copy too: the file is only taken back to its start.
  points.push_back({"RewindForTheCopy", false, [](FaultyPlatform& p, RecordingWindow&, const Fragment& f,
                                                  const std::string& path, const std::string&) {
                      p.FailRewind(f.name, EIO);
                      Expect e;
                      e.caption = "Open File Error";
                      e.text = "Open file " + path + " for read failed";
                      e.counted = f.bytes.size();
                      return e;
                    }});
  points.push_back({"CreateOfTheOutput", false, [](FaultyPlatform& p, RecordingWindow&, const Fragment& f,
                                                   const std::string&, const std::string& out) {
                      p.FailCreate(f.output, EACCES);
                      Expect e;
                      e.caption = "Open File Error";
                      e.text = "Create file " + out + " for write failed";
                      e.counted = f.bytes.size();
                      return e;
                    }});
  points.push_back({"ShortReadOfTheCopy", false, [](FaultyPlatform& p, RecordingWindow&, const Fragment& f,
                                                    const std::string& path, const std::string&) {
                      const std::uint64_t limit = f.bytes.size() - 1000;
                      p.ShortReadAfter(f.name, limit, 2);
                      Expect e;
                      e.caption = "read File Error";
                      e.text = "read file " + path + " error";
                      e.output = Output::kPrefix;
                      e.outputBytes = WholeChunksBelow(limit);
                      e.outputSource = f.bytes;
                      e.counted = WholeChunksBelow(limit);
                      return e;
                    }});
  points.push_back({"WriteOfTheCopy", false, [](FaultyPlatform& p, RecordingWindow&, const Fragment& f,
                                                const std::string&, const std::string& out) {
                      const std::uint64_t limit = f.bytes.size() - 1000;
                      p.FailWriteAfter(f.output, limit, ENOSPC);
                      Expect e;
                      e.caption = "write File Error";
                      e.text = "write file " + out + " error";
                      e.output = Output::kPrefix;
                      e.outputBytes = limit;  // what fitted before the disk was full
                      e.outputSource = f.bytes;
                      e.counted = WholeChunksBelow(limit);
                      return e;
                    }});
  points.push_back({"VanishesAfterTheScan", false, [](FaultyPlatform&, RecordingWindow& w, const Fragment& f,
                                                      const std::string& path, const std::string&) {
                      w.onText = [name = f.name, path](int id, const std::string& text) {
                        if (id == ids::kCurrentFile && text == name) fs::remove(path);
                      };
                      Expect e;
                      e.caption = "Get File Info Error";
                      e.text = "cann't get " + path + " information, err:" + std::to_string(ENOENT) + "\n";
                      e.changesFragment = true;
                      return e;
                    }});
  // Once open, the fragment is read through its handle to the end: one that
  // is removed meanwhile is still copied whole.
  points.push_back({"VanishesBetweenIdentificationAndCopy", false,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string& path,
                       const std::string&) {
                      p.onRewind = [path](const std::string& file) {
                        if (file == path) fs::remove(path);
                      };
                      Expect e;
                      e.output = Output::kWhole;
                      e.outputSource = f.bytes;
                      e.counted = f.bytes.size();
                      e.changesFragment = true;
                      return e;
                    }});
  points.push_back({"ShrinksBetweenIdentificationAndCopy", false,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string& path,
                       const std::string&) {
                      const std::uint64_t half = f.bytes.size() / 2;
                      p.onRewind = [path, half](const std::string& file) {
                        if (file == path) Truncate(path, half);
                      };
                      Expect e;
                      e.caption = "read File Error";
                      e.text = "read file " + path + " error";
                      e.output = Output::kPrefix;
                      e.outputBytes = WholeChunksBelow(half);
                      e.outputSource = f.bytes;
                      e.counted = WholeChunksBelow(half);
                      e.changesFragment = true;
                      return e;
                    }});
  points.push_back({"GrowsBetweenIdentificationAndCopy", false,
                    [](FaultyPlatform& p, RecordingWindow&, const Fragment& f, const std::string& path,
                       const std::string&) {
                      p.onRewind = [path](const std::string& file) {
                        if (file == path) Append(path, RandomBytes(70000, 3));
                      };
                      // The copy takes the size the status query gave: the
                      // fragment as it was identified, whole.
                      Expect e;
                      e.output = Output::kWhole;
                      e.outputSource = f.bytes;
                      e.counted = f.bytes.size();
                      e.changesFragment = true;
                      return e;
                    }});
  points.push_back({"GrowsBetweenScanAndStatus", false, [](FaultyPlatform&, RecordingWindow& w, const Fragment& f,
                                                           const std::string& path, const std::string&) {
                      const std::string extra = RandomBytes(70000, 4);
                      w.onText = [name = f.name, path, extra](int id, const std::string& text) {
                        if (id == ids::kCurrentFile && text == name) Append(path, extra);
                      };
                      Expect e;
                      e.output = Output::kWhole;
                      e.outputSource = f.bytes + extra;
                      e.counted = f.bytes.size() + extra.size();
                      e.changesFragment = true;
                      return e;
                    }});
  points.push_back({"ShrinksBetweenScanAndStatus", false, [](FaultyPlatform&, RecordingWindow& w, const Fragment& f,
                                                             const std::string& path, const std::string&) {
                      const std::uint64_t half = f.bytes.size() / 2;
                      w.onText = [name = f.name, path, half](int id, const std::string& text) {
                        if (id == ids::kCurrentFile && text == name) Truncate(path, half);
                      };
                      Expect e;
                      e.output = Output::kWhole;
                      e.outputSource = f.bytes.substr(0, half);
                      e.counted = half;
                      e.changesFragment = true;
                      return e;
                    }});
  return points;
}

// Every change the snapshot saw, as "name what" entries.
std::vector<std::string> ChangeEntries(const std::string& changes) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < changes.size()) {
    std::size_t end = changes.find("; ", start);
    if (end == std::string::npos) end = changes.size();
    entries.push_back(changes.substr(start, end - start));
    start = end + 2;
  }
  return entries;
}

// A dialog on its own window and platform, made afresh for every run so that
// no fault or hook of one run reaches the next.
struct Rig {
  explicit Rig(const std::string& catalogue) {
    dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, catalogue), platform);
    dialog->OnInitDialog();
  }
  ~Rig() { dialog.reset(); }
  void Recover(const std::string& from, const std::string& to) {
    dialog->SetSourceFolder(from);
    dialog->SetDestFolder(to);
    dialog->OnRecover();
    dialog->WaitForWorker();
  }
  void Detect(const std::string& from) {
    dialog->SetSourceFolder(from);
    dialog->OnDetect();
    dialog->WaitForWorker();
  }
  TempFolder config;
  RecordingWindow window;
  FaultyPlatform platform;
  std::unique_ptr<MainDialog> dialog;
};

class FaultRecoveryTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultRecoveryTest, EachFragmentInTurnGivesTheTableRowAndThePassGoesOn) {
  const FaultPoint point = Points()[GetParam()];
  const std::vector<Fragment> fragments = MakeFragments();
  int runs = 0;
  for (const Fragment& faulted : fragments) {
    const bool isContentKind = faulted.output.ends_with(".docx");
    if (point.onlyContentKind && !isContentKind) continue;
    SCOPED_TRACE(std::string(point.name) + " on " + faulted.name);
    ++runs;

    TempFolder from;
    TempFolder to;
    for (const Fragment& f : fragments) from.Write(f.name, f.bytes);
    FragmentSnapshot before(from.path());
    Rig rig(kFaultCatalogue);
    RecordingWindow& window = rig.window;
    const std::unique_ptr<MainDialog>& dialog = rig.dialog;

    const std::string path = JoinPath(from.str(), faulted.name);
    const std::string out = JoinPath(to.str(), faulted.output);
    const Expect expect = point.arm(rig.platform, window, faulted, path, out);
    rig.Recover(from.str(), to.str());
    window.onText = nullptr;
    rig.platform.onOpenRead = nullptr;
    rig.platform.onRewind = nullptr;

    // The message, once, or none.
    const std::vector<Box> boxes = window.Boxes();
    if (expect.caption.empty()) {
      EXPECT_TRUE(boxes.empty()) << boxes.front().caption << ": " << boxes.front().text;
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].caption, expect.caption);
      EXPECT_EQ(boxes[0].text, expect.text);
    }

    // The faulted fragment's output.
    std::error_code ec;
    switch (expect.output) {
      case Output::kNone:
        EXPECT_FALSE(fs::exists(out, ec)) << out;
        break;
      case Output::kWhole:
        EXPECT_EQ(HashBytes(ReadAll(out)), HashBytes(expect.outputSource));
        EXPECT_EQ(fs::file_size(out, ec), expect.outputSource.size());
        break;
      case Output::kPrefix: {
        const std::string kept = ReadAll(out);
        EXPECT_EQ(kept.size(), expect.outputBytes);
        EXPECT_TRUE(expect.outputSource.compare(0, kept.size(), kept) == 0) << "the kept part is not the fragment's start";
        break;
      }
    }

    // Every other fragment: copied whole; the counter holds them all plus the
    // faulted fragment's share.
    std::uint64_t others = 0;
    for (const Fragment& f : fragments) {
      if (f.name == faulted.name) continue;
      others += f.bytes.size();
      const std::string output = JoinPath(to.str(), f.output);
      EXPECT_EQ(ReadAll(output), f.bytes) << f.output << " is not its fragment's copy";
    }
    EXPECT_EQ(dialog->m_copiedBytes, others + expect.counted);
    std::size_t outputs = 0;
    for (const auto& entry : fs::directory_iterator(to.path())) {
      (void)entry;
      ++outputs;
    }
    EXPECT_EQ(outputs, fragments.size() - (expect.output == Output::kNone ? 1 : 0));

    // The pass went on to its end and the window is idle again.
    EXPECT_EQ(window.Text(ids::kProcessedCount), std::to_string(fragments.size()));
    EXPECT_EQ(window.Text(ids::kFileCount), std::to_string(fragments.size()));
    EXPECT_EQ(window.Position(ids::kTotalProgress), 100);
    for (int position : window.PositionHistory(ids::kTotalProgress)) EXPECT_LE(position, 100);
    EXPECT_EQ(EnabledEight(window), kIdle);
    EXPECT_FALSE(dialog->WorkerAlive());

    // No fragment changed, except the one the test itself changed.
    for (const std::string& change : ChangeEntries(before.Changes())) {
      EXPECT_TRUE(expect.changesFragment && change.starts_with(faulted.name + " ")) << change;
    }
  }
  EXPECT_GT(runs, 0);
}

INSTANTIATE_TEST_SUITE_P(AtEveryPoint, FaultRecoveryTest, ::testing::Range<std::size_t>(0, Points().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                           return std::string(Points()[param.param].name);
                         });

// The system's own platform, untouched, but for hooks before each open for
// reading and each rewind: the copy runs through the kernel's file-to-file copy where there
// is one, with its own way of meeting a fragment that changed under it.
class HookedSystemPlatform final : public Platform {
 public:
  std::function<void(const std::string&)> onOpenRead;
  std::function<void()> onRewind;
  bool Rewind(FileHandle file, int& error) override {
    if (onRewind) onRewind();
    return real_.Rewind(file, error);
  }
  bool Status(const std::string& path, FileStatus& out, int& error) override { return real_.Status(path, out, error); }
  FileHandle OpenRead(const std::string& path, int& error) override {
    if (onOpenRead) onOpenRead(path);
    return real_.OpenRead(path, error);
  }
  FileHandle Create(const std::string& path, int& error) override { return real_.Create(path, error); }
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override { return real_.Read(file, buffer, n); }
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override {
    return real_.ReadAt(file, offset, buffer, n);
  }
  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override {
    return real_.Write(file, buffer, n, error);
  }
  void Close(FileHandle file) override { real_.Close(file); }
  CopyResult CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n, int& error) override {
    return real_.CopyChunk(source, dest, buffer, n, error);
  }
  bool SameFile(const std::string& a, const std::string& b) override { return real_.SameFile(a, b); }
  bool MakeFolder(const std::string& path, int& error) override { return real_.MakeFolder(path, error); }
  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view, std::uint64_t)>& each) override {
    return real_.ListFolder(folder, each);
  }
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override {
    return real_.StartWorker(std::move(body), handle);
  }

 private:
  Platform& real_ = SystemPlatform();
};

TEST(FaultSystemCopyTest, FragmentThatShrinksOrGrowsBeforeTheCopyKeepsOnlyWholeChunks) {
  for (const bool shrink : {true, false}) {
    SCOPED_TRACE(shrink ? "shrinks" : "grows");
    TempFolder config, source, dest;
    const std::string bytes = Jpeg(100000);
    const std::string other = Jpeg(70000);
    const std::string path = source.Write("F0.CHK", bytes);
    source.Write("F1.CHK", other);
    const FragmentSnapshot before(source.path());
    HookedSystemPlatform platform;
    std::string opened;
    platform.onOpenRead = [&](const std::string& file) { opened = file; };
    // Between the identification of F0 and its copy, once.
    platform.onRewind = [&] {
      if (opened != path) return;
      opened.clear();
      if (shrink) {
        Truncate(path, 50000);
      } else {
        Append(path, RandomBytes(70000, 5));
      }
    };
    RecordingWindow window;
    auto dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, kFaultCatalogue), platform);
    dialog->OnInitDialog();
    dialog->SetSourceFolder(source.str());
    dialog->SetDestFolder(dest.str());
    dialog->OnRecover();
    dialog->WaitForWorker();
    platform.onRewind = nullptr;
    platform.onOpenRead = nullptr;

    const std::string kept = ReadAll(dest.str() + "/F0.jpg");
    if (shrink) {
      ASSERT_EQ(window.Boxes().size(), 1u);
      EXPECT_EQ(window.Boxes()[0].caption, "read File Error");
      // Of the chunk that fell short nothing stays, however much the kernel had copied of it.
      EXPECT_EQ(kept.size(), 32768u);
      EXPECT_EQ(dialog->m_copiedBytes, 32768u + other.size());
    } else {
      EXPECT_TRUE(window.Boxes().empty());
      EXPECT_EQ(kept.size(), bytes.size());
      EXPECT_EQ(dialog->m_copiedBytes, bytes.size() + other.size());
    }
    EXPECT_EQ(bytes.compare(0, kept.size(), kept), 0);
    EXPECT_EQ(HashBytes(ReadAll(dest.str() + "/F1.jpg")), HashBytes(other));
    EXPECT_EQ(window.Text(ids::kProcessedCount), "2");
    for (const std::string& change : ChangeEntries(before.Changes())) {
      EXPECT_TRUE(change.starts_with("F0.CHK ")) << change;  // only what the test itself did
    }
  }
}

// The detection pass under the same faults: the faulted fragment is simply
// not counted, no message is shown, and every other fragment is counted.
TEST(FaultDetectionTest, AFaultAnywhereInTheIdentificationOnlyLosesThatFragmentsCount) {
  const std::vector<Fragment> fragments = MakeFragments();
  TempFolder source;
  for (const Fragment& f : fragments) source.Write(f.name, f.bytes);
  const FragmentSnapshot before(source.path());
  struct Arm {
    const char* name;
    std::function<void(FaultyPlatform&, const Fragment&)> arm;
  };
  const std::vector<Arm> arms = {
      {"status", [](FaultyPlatform& p, const Fragment& f) { p.FailStatus(f.name, EIO); }},
      {"open", [](FaultyPlatform& p, const Fragment& f) { p.FailOpen(f.name, EACCES); }},
      {"head", [](FaultyPlatform& p, const Fragment& f) { p.ShortReadAfter(f.name, 10); }},
      {"content scan", [](FaultyPlatform& p, const Fragment& f) { p.ShortReadAfter(f.name, 100000); }},
  };
  for (const Arm& arm : arms) {
    for (const Fragment& faulted : fragments) {
      SCOPED_TRACE(std::string(arm.name) + " fault on " + faulted.name);
      Rig rig(kFaultCatalogue);
      arm.arm(rig.platform, faulted);
      rig.Detect(source.str());
      auto Count = [&rig](std::size_t row) { return rig.window.Rows().at(row).at(2); };
      // Rows: 0 pictures (.jpg), 1 documents (.docx); the text kind has no row.
      int pictures = 0, documents = 0;
      for (const Fragment& f : fragments) {
        const bool lost = f.name == faulted.name && (std::string(arm.name) != "content scan" || f.bytes.size() > 100000);
        if (lost) continue;
        if (f.output.ends_with(".jpg")) ++pictures;
        if (f.output.ends_with(".docx")) ++documents;
      }
      EXPECT_EQ(Count(0), std::to_string(pictures));
      EXPECT_EQ(Count(1), std::to_string(documents));
      EXPECT_TRUE(rig.window.Boxes().empty());
      EXPECT_EQ(rig.window.Position(ids::kTotalProgress), 100);
      EXPECT_EQ(EnabledEight(rig.window), kIdle);
    }
  }
  EXPECT_EQ(before.Changes(), "");
}

}  // namespace
}  // namespace tessaro::testing
