#include "support/temp_folder.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace tessaro::testing {

namespace {

int ProcessId() {
#if defined(_WIN32)
  return ::_getpid();
#else
  return ::getpid();
#endif
}

}  // namespace

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("tessaro-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Permissions a test took away must not keep the folder alive.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignore;
    if (!it->is_symlink(ignore)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignore);
  }
  fs::remove_all(path_, ec);
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
  const fs::path file = (path_ / PathOf(name)).make_preferred();
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return Utf8(file);
}

std::string TempFolder::Sub(const std::string& name) const {
  const fs::path folder = (path_ / PathOf(name)).make_preferred();
  fs::create_directories(folder);
  return Utf8(folder);
}

std::string NumberedName(std::string_view prefix, std::size_t n, std::string_view suffix) {
  std::string name(prefix);
  name += std::to_string(n);
  name += suffix;
  return name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Kind(const std::string& name) {
  return ReadAll((fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds" / name).string());
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(generator() & 0xFF);
  return out;
}

std::string WriteCatalogue(const TempFolder& folder, const std::string& text) {
  return folder.Write("catalogue.cfg", text);
}

std::string SharedCatalogue() { return Utf8((PathOf(TESSARO_SOURCE_DIR) / "resources" / "tessaro.cfg").make_preferred()); }

std::uint64_t HashBytes(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

FragmentSnapshot::FragmentSnapshot(const fs::path& folder) : folder_(folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = ReadAll(Utf8(entry.path()));
    entries_[Utf8(entry.path().filename())] = {HashBytes(bytes), bytes.size(), fs::last_write_time(entry.path())};
  }
}

std::string FragmentSnapshot::Changes() const {
  std::string changes;
  for (const auto& [name, before] : entries_) {
    const fs::path file = folder_ / PathOf(name);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
      changes += name + " is gone; ";
      continue;
    }
    const std::string bytes = ReadAll(Utf8(file));
    if (bytes.size() != before.size) changes += name + " changed size; ";
    else if (HashBytes(bytes) != before.hash) changes += name + " changed bytes; ";
    if (fs::last_write_time(file) != before.time) changes += name + " changed time; ";
  }
  return changes;
}

}  // namespace tessaro::testing
