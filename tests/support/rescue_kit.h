#pragma once
// A synthetic exFAT rescue: the clusters of a lost folder as a disk check
// gathers them into one fragment, the folder's own entry sets in one cluster
// and the files at the clusters those sets name, with zeros as slack. Shared
// by the tests of the lost folders' names in the engine and through the
// command line.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::testing {

struct RescueRecord {
  std::u16string name;
  std::uint64_t firstCluster = 0;  // as recorded
  std::uint64_t size = 0;          // as recorded
  bool folder = false;
  bool contiguous = true;  // NoFatChain
};

// A fragment of whole clusters of `clusterSize` whose first is the volume's
// cluster `firstCluster`.
class Rescue {
 public:
  Rescue(std::uint64_t clusterSize, std::uint64_t firstCluster) : clusterSize_(clusterSize), first_(firstCluster) {}

  // Writes `bytes` at the volume's cluster `cluster` (inside the fragment).
  void Put(std::uint64_t cluster, const std::string& bytes);
  // A folder's entry sets at `cluster`, then the end-of-folder entry.
  void PutFolder(std::uint64_t cluster, const std::vector<RescueRecord>& records);
  std::uint64_t OffsetOf(std::uint64_t cluster) const { return (cluster - first_) * clusterSize_; }
  // The fragment, rounded up to whole clusters (at least `clusters`).
  std::string Bytes(std::uint64_t clusters = 0) const;

 private:
  std::uint64_t clusterSize_, first_;
  std::string bytes_;
};

// `n` bytes no kind of the catalogue tells (a fixed sequence, not all zeros).
std::string NoKindBytes(std::size_t n);


// The lost folder of the tests: its entry sets in the fragment's first
// cluster, a subfolder's after the lost folder's files, the files of tests/data/kinds
// each at the cluster its record names.
struct StandardRescue {
  struct File {
    std::string folder;  // "" in the lost folder, else the subfolder's name
    std::string name;    // UTF-8
    std::string bytes;
    std::uint64_t cluster = 0;
  };
  std::uint64_t clusterSize = 0, firstCluster = 0;
  std::vector<File> files;
  // The lost folder's records and the subfolder's, before any case adds to them.
  std::vector<RescueRecord> top, sub;
  std::uint64_t topCluster = 0, subCluster = 0;
  std::uint64_t nextFree = 0;  // the first cluster after everything placed
  std::string subName = "Trip";
};
// `subFolderFirst`: the subfolder's records take the first cluster and the
// lost folder's the second, as when the subfolder was made first.
StandardRescue MakeStandardRescue(std::uint64_t clusterSize, std::uint64_t firstCluster, bool subFolderFirst = false);
// The rescue's fragment with `extraTop` and `extraSub` records after the
// standard ones, and `extraFiles` bytes at clusters of their own.
std::string RescueBytes(const StandardRescue& rescue, const std::vector<RescueRecord>& extraTop = {},
                        const std::vector<RescueRecord>& extraSub = {},
                        const std::vector<std::pair<std::uint64_t, std::string>>& extraFiles = {},
                        std::uint64_t clusters = 0);

std::u16string Utf16(const std::string& ascii);

}  // namespace tessaro::testing
