// Micro-benchmarks of the hot paths, with the shipped catalogue:
//   - the catalogue load, and the hexadecimal decoding in it;
//   - the signature test of one file against the whole catalogue;
//   - the content scan of one 256 KiB chunk for all the catalogue's content strings;
//   - the copy loop of the recovery, on real files in a temporary folder.
// Run: build/.../bin/tessaro-bench [--benchmark_filter=REGEX]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/main_dialog.h"
#include "catalog/fragment_engine.h"
#include "catalog/hex.h"
#include "engine/find_bytes.h"
#include "memory_platform.h"

namespace fs = std::filesystem;
using namespace tessaro;

namespace {

const std::string kCatalogue = TESSARO_SOURCE_DIR "/resources/tessaro.cfg";
const std::string kSamples = TESSARO_SOURCE_DIR "/tests/data/kinds";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(bytes.data() + i, &v, 8);
  }
  return bytes;
}

// The real sample files, one of each kind, in name order.
std::vector<std::pair<std::string, std::string>> Samples() {
  std::vector<std::pair<std::string, std::string>> samples;
  if (!fs::is_directory(kSamples)) return samples;
  for (const auto& entry : fs::directory_iterator(kSamples)) {
    if (entry.is_regular_file()) samples.emplace_back(entry.path().filename().string(), ReadAll(entry.path()));
  }
  std::sort(samples.begin(), samples.end());
  return samples;
}

// A window that shows nothing: the passes' calls into it cost only the call.
class NullWindow final : public DialogWindow {
 public:
  void SetItemText(int, const std::string&) override {}
  void EnableItem(int, bool) override {}
  void SetProgressRange(int, int, int) override {}
  void SetProgressPos(int, int) override { ++positions; }
  void DeleteAllListRows(int) override {}
  void InsertListColumn(int, int, const std::string&, int) override {}
  void SetListExtendedStyle(int, std::uint32_t) override {}
  void InsertListRow(int, int, const std::string&) override {}
  void SetListCell(int, int, int, const std::string&) override {}
  void MessageBox(const std::string& text, const std::string&) override { messages += text; }
  std::string ChooseFolder(const std::string&) override { return {}; }
  int OpenDocument(const std::string&) override { return 2; }
  void ShowAbout() override {}
  bool ShowOptions(RecoveryOptions&) override { return false; }
  void ServeUntil(const std::function<bool()>& done) override {
    while (!done()) {
    }
  }
  long positions = 0;
  std::string messages;
};

// ------------------------------------------------------------- the catalogue

void BM_LoadCatalogue(benchmark::State& state) {
  for (auto _ : state) {
    FragmentEngine engine(kCatalogue);
    if (!engine.ready) state.SkipWithError(engine.lastError);
    benchmark::DoNotOptimize(engine.kindCount);
  }
}
BENCHMARK(BM_LoadCatalogue)->Unit(benchmark::kMicrosecond);

void BM_DecodeHex(benchmark::State& state) {
  FragmentEngine engine(kCatalogue);
  std::vector<std::string> texts;
  std::size_t digits = 0;
  for (int i = 0; i < engine.kindCount; ++i) {
    const FileTypeRecord& kind = *engine.kinds[static_cast<std::size_t>(i)];
    for (const auto& t : kind.signatures) texts.push_back(t);
    for (const auto& t : kind.addons) texts.push_back(t);
  }
  for (const auto& t : texts) digits += t.size();
  std::string bytes;
  std::size_t bad = 0;
  for (auto _ : state) {
    for (const auto& t : texts) {
      DecodeHex(t, bytes, bad);
      benchmark::DoNotOptimize(bytes.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * digits));
  state.counters["texts"] = static_cast<double>(texts.size());
}
BENCHMARK(BM_DecodeHex);

// ------------------------------------------------------- the signature test

// One identification of a file held in memory: status, open, head read, the
// signature test against every possible kind, close. arg 0: every real sample
// in turn; arg 1: a head of random bytes that no kind takes (every kind whose
// first byte could fit is tried, then the text test); arg 2: plain text.
void BM_SignatureTest(benchmark::State& state) {
  bench::MemoryPlatform platform;
  FragmentEngine engine(kCatalogue, platform);
  std::vector<std::string> paths;
  if (state.range(0) == 0) {
    for (auto& [name, bytes] : Samples()) {
      // Only the head is read for a signature-only kind; for the others the
      // whole (small) sample is scanned, as a real run would.
      paths.push_back("/s/" + name);
      platform.Put(paths.back(), bytes);
    }
  } else if (state.range(0) == 1) {
    std::string bytes = RandomBytes(65536, 7);
    bytes[0] = '\x01';  // no kind begins so, and the text test fails at once
    paths.push_back("/random");
    platform.Put(paths.back(), bytes);
  } else {
    std::string text;
    while (text.size() < 8192) text += "The quick brown fox jumps over the lazy dog.\r\n";
    paths.push_back("/text");
    platform.Put(paths.back(), text);
  }
  if (paths.empty()) {
    state.SkipWithError("no samples in tests/data/kinds");
    return;
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine.IdentifyFile(paths[next].c_str()));
    if (++next == paths.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["kinds"] = engine.kindCount;
}
BENCHMARK(BM_SignatureTest)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"file"});

// --------------------------------------------------------- the content scan

// All content strings of the catalogue looked for in one 256 KiB chunk in which
// none occurs, the worst case: the whole chunk is gone through for each.
// arg 0: bytes of a compressed stream (random); 1: XML text; 2: UTF-16 text
// with zero bytes, as in DOC files. arg 1 of the second pair: the filter on (1)
// or one needle at a time (0).
void BM_ContentScan(benchmark::State& state) {
  FragmentEngine engine(kCatalogue);
  std::vector<std::string> needles;
  for (int i = 0; i < engine.kindCount; ++i) {
    for (const auto& n : engine.kinds[static_cast<std::size_t>(i)]->addonBytes) needles.push_back(n);
  }
  std::string chunk;
  if (state.range(0) == 0) {
    chunk = RandomBytes(FragmentEngine::kChunkSize, 11);
  } else {
    const std::string line = "<w:p><w:r><w:t xml:space=\"preserve\">Lorem ipsum dolor sit amet, "
                             "consectetur adipiscing elit</w:t></w:r></w:p>\n";
    while (chunk.size() < FragmentEngine::kChunkSize) chunk += line;
    if (state.range(0) == 2) {
      std::string wide;
      for (char c : chunk) {
        wide.push_back(c);
        wide.push_back('\0');
      }
      chunk = wide;
    }
    chunk.resize(FragmentEngine::kChunkSize);
  }
  std::vector<unsigned char> found(needles.size(), 0);
  NeedleSet set;
  set.Reserve(needles.size());
  set.UseFastPath(state.range(1) != 0);
  const auto* data = reinterpret_cast<const unsigned char*>(chunk.data());
  std::size_t hits = 0;
  for (auto _ : state) {
    std::fill(found.begin(), found.end(), 0);
    set.Clear();
    for (std::size_t i = 0; i < needles.size(); ++i) {
      set.Add(reinterpret_cast<const unsigned char*>(needles[i].data()), needles[i].size(), &found[i]);
    }
    set.Search(data, chunk.size());
    hits = static_cast<std::size_t>(std::count(found.begin(), found.end(), 1));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
  state.counters["strings"] = static_cast<double>(needles.size());
  state.counters["found"] = static_cast<double>(hits);
}
BENCHMARK(BM_ContentScan)
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->ArgNames({"data", "filter"});

// ------------------------------------------------------------ the copy loop

// A folder with one recognisable fragment of `size` bytes: a real JPEG whose
// tail is padded with random bytes (the copy does not care what it copies).
struct CopyFixture {
  explicit CopyFixture(std::size_t size) {
    root = fs::temp_directory_path() / ("tessaro-bench-" + std::to_string(::getpid()));
    fs::create_directories(root / "in");
    fs::create_directories(root / "out");
    std::string bytes;
    for (auto& [name, sample] : Samples()) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
        bytes = sample;
        break;
      }
    }
    if (bytes.empty()) bytes = "\xFF\xD8\xFF\xE0";
    bytes += RandomBytes(size > bytes.size() ? size - bytes.size() : 0, 3);
    std::ofstream(root / "in" / "FILE0000.CHK", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~CopyFixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
};

// A whole recovery pass over that one fragment: identification, then the copy
// in 32,768-byte chunks with the bars moved after each.
void BM_CopyLoop(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  CopyFixture fixture(size);
  NullWindow window;
  MainDialog dialog(window, kCatalogue);
  dialog.OnInitDialog();
  dialog.SetSourceFolder((fixture.root / "in").string());
  dialog.SetDestFolder((fixture.root / "out").string());
  for (auto _ : state) {
    dialog.m_stopRequested = 0;
    dialog.RunRecoveryPass();
  }
  if (!window.messages.empty()) state.SkipWithError(window.messages.c_str());
  if (fs::file_size(fixture.root / "out" / "FILE0000.jpg") != size) state.SkipWithError("the copy is not whole");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["positions"] = benchmark::Counter(static_cast<double>(window.positions), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CopyLoop)->Arg(64 << 10)->Arg(16 << 20)->ArgNames({"bytes"})->Unit(benchmark::kMicrosecond);

// The same bytes moved through the platform layer alone, 32,768 at a time:
// what the copy loop costs without identification and bars.
void BM_PlatformCopy(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  CopyFixture fixture(size);
  Platform& system = SystemPlatform();
  const std::string from = (fixture.root / "in" / "FILE0000.CHK").string();
  const std::string to = (fixture.root / "out" / "copy").string();
  std::vector<unsigned char> buffer(MainDialog::kCopyChunk);
  for (auto _ : state) {
    int error = 0;
    const FileHandle in = system.OpenRead(from, error);
    const FileHandle out = system.Create(to, error);
    for (std::size_t done = 0; done < size;) {
      const std::size_t n = std::min(buffer.size(), size - done);
      if (system.Read(in, buffer.data(), n) != n || !system.Write(out, buffer.data(), n, error)) {
        state.SkipWithError("copy failed");
        break;
      }
      done += n;
    }
    system.Close(in);
    system.Close(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_PlatformCopy)->Arg(16 << 20)->ArgNames({"bytes"})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
