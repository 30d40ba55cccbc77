#include "support/rescue_kit.h"

#include <filesystem>

#include "support/folder_kit.h"
#include "support/temp_folder.h"

namespace tessaro::testing {

namespace fs = std::filesystem;

void Rescue::Put(std::uint64_t cluster, const std::string& bytes) {
  const std::uint64_t at = OffsetOf(cluster);
  if (bytes_.size() < at + bytes.size()) bytes_.resize(at + bytes.size(), '\0');
  bytes_.replace(at, bytes.size(), bytes);
}

void Rescue::PutFolder(std::uint64_t cluster, const std::vector<RescueRecord>& records) {
  std::string sets;
  for (const RescueRecord& r : records) {
    ExfatFile file;
    file.name = r.name;
    file.attributes = r.folder ? 0x10 : 0x20;
    file.firstCluster = r.firstCluster;
    file.size = file.validSize = r.size;
    file.contiguous = r.contiguous;
    sets += ExfatSet(file);
  }
  sets += std::string(32, '\0');  // the end of the folder
  Put(cluster, sets);
}

std::string Rescue::Bytes(std::uint64_t clusters) const {
  std::string out = bytes_;
  out.resize(std::max<std::uint64_t>(clusters * clusterSize_, (out.size() + clusterSize_ - 1) / clusterSize_ * clusterSize_),
             '\0');
  return out;
}

std::string NoKindBytes(std::size_t n) {
  std::string out(n, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

StandardRescue MakeStandardRescue(std::uint64_t clusterSize, std::uint64_t firstCluster, bool subFolderFirst) {
  StandardRescue r;
  r.clusterSize = clusterSize;
  r.firstCluster = firstCluster;
  std::uint64_t next = firstCluster;
  if (subFolderFirst) r.subCluster = next++;
  r.topCluster = next++;
  auto add = [&](const std::string& folder, const std::string& name, const std::string& bytes) {
    r.files.push_back({folder, name, bytes, next});
    RescueRecord record{Utf16(name), next, bytes.size(), false, true};
    (folder.empty() ? r.top : r.sub).push_back(record);
    next += (bytes.size() + clusterSize - 1) / clusterSize;
  };
  add("", "Photo 1.jpg", Kind("imagemagick.jpg"));
  add("", "chart.png", Kind("ffmpeg.png"));
  add("", "data.bin", NoKindBytes(3000));  // of no kind: placed by its record alone
  add("", "report.pdf", Kind("ghostscript.pdf"));
  if (!subFolderFirst) r.subCluster = next++;
  r.top.push_back({Utf16(r.subName), r.subCluster, clusterSize, true, true});
  add(r.subName, "notes.gz", Kind("gzip.gz"));
  add(r.subName, "bundle.zip", Kind("info-zip.zip"));
  r.nextFree = next;
  return r;
}

std::string RescueBytes(const StandardRescue& r, const std::vector<RescueRecord>& extraTop,
                        const std::vector<RescueRecord>& extraSub,
                        const std::vector<std::pair<std::uint64_t, std::string>>& extraFiles, std::uint64_t clusters) {
  Rescue rescue(r.clusterSize, r.firstCluster);
  std::vector<RescueRecord> top = r.top, sub = r.sub;
  top.insert(top.end(), extraTop.begin(), extraTop.end());
  sub.insert(sub.end(), extraSub.begin(), extraSub.end());
  rescue.PutFolder(r.topCluster, top);
  rescue.PutFolder(r.subCluster, sub);
  for (const StandardRescue::File& f : r.files) rescue.Put(f.cluster, f.bytes);
  for (const auto& [cluster, bytes] : extraFiles) rescue.Put(cluster, bytes);
  return rescue.Bytes(clusters);
}

}  // namespace tessaro::testing
