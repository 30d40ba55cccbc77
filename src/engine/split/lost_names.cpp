// The names a lost folder's own records give the files found in a rescue.

#include "engine/split/lost_names.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tessaro::split {

namespace {

// Cluster sizes a volume may have: 512 bytes to 32 MiB.
constexpr std::uint64_t kSmallestCluster = 512;
constexpr std::uint64_t kLargestCluster = std::uint64_t{32} << 20;
// The deepest path of folders followed up from a file.
constexpr int kMostDepth = 64;

// The extension of a recorded name, lower case, with its dot: ".jpg".
std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string extension = name.substr(dot);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A file entry the records hold in one run of clusters from its first.
bool Placeable(const folders::FolderEntry& e, std::uint64_t clusterSize) {
  return !e.isFolder && e.firstCluster >= 2 && e.size > 0 && (e.contiguous || e.size <= clusterSize);
}

bool Proven(const Piece& piece) {
  return piece.role == Piece::Role::kFile && piece.check.verdict == formats::Verdict::kIntact;
}

}  // namespace

void LostFolders::Add(const std::string& fragment, std::uint64_t offset,
                      std::shared_ptr<const folders::FolderRecords> records) {
  if (!records) return;
  Folder folder;
  folder.fragment = fragment;
  folder.offset = offset;
  // A FAT subfolder says its own first cluster in its "." entry.
  if (records->hasDotEntries) folder.selfCluster = records->selfCluster;
  const bool fat = records->system == folders::FileSystem::kFat;
  folder.records = std::move(records);
  folders_.push_back(std::move(folder));
  if (!fat || !folders_.back().records->hasDotEntries) return;
  // The chains after the folder's own, in the order the check numbers them.
  Chains chains;
  chains.folder = folders_.size() - 1;
  for (const folders::FolderEntry& e : folders_.back().records->entries) {
    if (!e.isFolder && e.firstCluster > folders_.back().records->selfCluster && e.size > 0) chains.files.push_back(&e);
  }
  std::sort(chains.files.begin(), chains.files.end(),
            [](const folders::FolderEntry* a, const folders::FolderEntry* b) { return a->firstCluster < b->firstCluster; });
  if (!chains.files.empty()) chains_.push_back(std::move(chains));
}

std::optional<Placement> LostFolders::Solve(const std::string& fragment, std::uint64_t size,
                                            const std::vector<Piece>& pieces) {
  // The recorded files by extension and size, for the proven files to meet.
  std::multimap<std::pair<std::string, std::uint64_t>, std::uint64_t> recorded;  // -> first cluster
  std::multimap<std::string, const folders::FolderEntry*> byExtension;
  for (const Folder& folder : folders_) {
    if (folder.records->system != folders::FileSystem::kExfat) continue;
    for (const folders::FolderEntry& e : folder.records->entries) {
      if (!e.isFolder && e.firstCluster >= 2 && e.size > 0 && used_.count(&e) == 0) {
        recorded.emplace(std::make_pair(ExtensionOf(e.name), e.size), e.firstCluster);
        byExtension.emplace(ExtensionOf(e.name), &e);
      }
    }
  }
  std::map<std::pair<std::uint64_t, std::uint64_t>, int> votes;  // (cluster size, first cluster) -> votes
  // A disk check numbers its fragments in the order of their first clusters,
  // and the pass takes them in that order: this one begins after the last.
  auto vote = [&](std::uint64_t cluster, std::uint64_t first) {
    if (cluster == lastCluster_ && first < lastEnd_) return;
    ++votes[{cluster, first}];
  };
  for (const Piece& piece : pieces) {
    if (piece.role != Piece::Role::kFile || Proven(piece)) continue;
    // A file whose end no check proves: a record of its kind whose size ends
    // in the piece's last cluster (a disk check's fragment is the file's
    // size rounded up to whole clusters).
    const auto range = byExtension.equal_range(Lower(piece.kind->ExtensionOrEmpty()));
    for (auto it = range.first; it != range.second; ++it) {
      const folders::FolderEntry& e = *it->second;
      for (std::uint64_t cluster = kSmallestCluster; cluster <= kLargestCluster; cluster *= 2) {
        if (piece.offset % cluster != 0 || size % cluster != 0) continue;
        if (e.size > piece.extent || piece.extent - e.size >= cluster) continue;
        const std::uint64_t before = piece.offset / cluster;
        if (e.firstCluster >= before + 2) vote(cluster, e.firstCluster - before);
      }
    }
  }
  for (const Piece& piece : pieces) {
    if (!Proven(piece)) continue;
    const auto range = recorded.equal_range({Lower(piece.kind->ExtensionOrEmpty()), piece.length});
    for (auto it = range.first; it != range.second; ++it) {
      for (std::uint64_t cluster = kSmallestCluster; cluster <= kLargestCluster; cluster *= 2) {
        if (piece.offset % cluster != 0 || size % cluster != 0) continue;
        const std::uint64_t before = piece.offset / cluster;
        if (it->second < before + 2) continue;
        vote(cluster, it->second - before);
      }
    }
  }
  // A folder's records that lie in this fragment, and the entry of its
  // parent that names its first cluster, vote the same way.
  for (const Piece& piece : pieces) {
    if (piece.role != Piece::Role::kRecords) continue;
    auto voteFor = [&](const folders::FolderEntry& e) {
      if (!e.isFolder || e.firstCluster < 2) return;
      for (std::uint64_t cluster = kSmallestCluster; cluster <= kLargestCluster; cluster *= 2) {
        if (piece.offset % cluster != 0 || size % cluster != 0) continue;
        const std::uint64_t before = piece.offset / cluster;
        if (e.firstCluster >= before + 2) vote(cluster, e.firstCluster - before);
      }
    };
    for (const Folder& folder : folders_) {
      if (folder.records->system != folders::FileSystem::kExfat || folder.records == piece.records) continue;
      for (const folders::FolderEntry& e : folder.records->entries) voteFor(e);
      for (const folders::FolderEntry& e : folder.records->deletedFolders) voteFor(e);
    }
  }
  // The cluster size is the volume's: one that an earlier fragment settled
  // counts first.
  std::optional<Placement> best;
  int second = 0;
  for (const auto& [key, count] : votes) {
    const bool known = clusterSize_ != 0 && key.first == clusterSize_;
    if (clusterSize_ != 0 && !known) continue;
    if (!best || count > best->votes) {
      if (best) second = std::max(second, best->votes);
      best = Placement{key.first, key.second, count};
    } else {
      second = std::max(second, count);
    }
  }
  // Several files agree and no other placement comes close; a single file
  // will do once the volume's cluster size is known and nothing disagrees.
  if (!best || best->votes <= second || (best->votes < 2 && (clusterSize_ == 0 || second > 0))) return std::nullopt;
  if (best->votes >= 2) clusterSize_ = best->clusterSize;
  lastCluster_ = best->clusterSize;
  lastEnd_ = best->firstCluster + size / best->clusterSize;
  for (Folder& folder : folders_) {
    if (folder.fragment == fragment && folder.offset % best->clusterSize == 0 &&
        folder.records->system == folders::FileSystem::kExfat) {
      folder.selfCluster = best->firstCluster + folder.offset / best->clusterSize;
    }
  }
  return best;
}

std::optional<PlacedFile> LostFolders::PairChain(std::uint64_t size, const Piece* first,
                                                 const std::function<bool(const std::string&)>& known,
                                                 const std::function<bool(std::uint64_t)>& endsAt) {
  // The cluster size is a power of two that divides the fragment's size.
  std::uint64_t cluster = kSmallestCluster;
  while (cluster < std::uint64_t{65536} && size % (cluster * 2) == 0) cluster *= 2;
  if (size == 0 || size % kSmallestCluster != 0) return std::nullopt;
  const bool atStart = first != nullptr && first->offset == 0;
  const std::string kind = atStart ? Lower(first->kind->ExtensionOrEmpty()) : std::string();
  auto agrees = [&](const folders::FolderEntry& e) {
    // A file whose check proves its end pairs with the record of exactly
    // that size; one whose end is not proven, with a record whose size ends
    // in the fragment's last cluster and whose name does not say another
    // kind; a chain cut short, with a record of its kind that is longer.
    if (atStart && Proven(*first)) return first->length == e.size;
    const std::string extension = ExtensionOf(e.name);
    // A fragment of no kind (the tail of a broken chain, often) pairs only
    // with a record of a kind the catalogue does not know, and only where
    // its bytes may end at the record's size.
    if (e.size <= size && size - e.size < cluster) {
      if (atStart) return extension.empty() || extension == kind;
      return (extension.empty() || !known(extension)) && endsAt(e.size);
    }
    return atStart && e.size > size && !extension.empty() && extension == kind;
  };
  // A record whose name says the kind found agrees more than one whose name
  // says no kind at all: among the few records looked at, it is taken first,
  // and records of kinds the catalogue knows are passed over only for such a
  // one (a fragment of no kind, the tail of a broken chain often, would else
  // take a record further on and leave the fragments before it without
  // theirs).
  auto says = [&](const folders::FolderEntry& e) {
    return (atStart && Proven(*first)) || (!kind.empty() && ExtensionOf(e.name) == kind);
  };
  for (Chains& chains : chains_) {
    // A record whose chain the check did not give back (or gave back under
    // another number) is passed over, a few at most.
    std::size_t window = 0;
    while (window < 3 && chains.next + window < chains.files.size()) ++window;
    bool agreeing[3] = {}, strong = false;
    for (std::size_t k = 0; k < window; ++k) {
      const folders::FolderEntry& e = *chains.files[chains.next + k];
      agreeing[k] = agrees(e);
      strong |= agreeing[k] && says(e);
    }
    for (std::size_t k = 0; k < window; ++k) {
      const folders::FolderEntry& e = *chains.files[chains.next + k];
      if (!agreeing[k] || (strong && !says(e))) continue;
      // Passing over a record of a kind the catalogue knows leaves it to its
      // own fragment, which comes later; only a record that says so may.
      bool passesKnown = false;
      for (std::size_t j = 0; j < k; ++j) {
        const std::string skipped = ExtensionOf(chains.files[chains.next + j]->name);
        passesKnown |= !skipped.empty() && known(skipped);
      }
      if (passesKnown && !says(e)) continue;
      chains.next += k + 1;
      PlacedFile file;
      file.entry = &e;
      file.offset = 0;
      file.size = std::min(e.size, size);
      file.folders = PathOf(chains.folder);
      file.name = e.name;
      used_.insert(&e);
      return file;
    }
  }
  return std::nullopt;
}

std::optional<std::pair<std::size_t, std::string>> LostFolders::ParentOf(std::size_t index) const {
  const Folder& folder = folders_[index];
  if (!folder.selfCluster) return std::nullopt;
  for (std::size_t j = 0; j < folders_.size(); ++j) {
    if (j == index) continue;
    for (const auto* list : {&folders_[j].records->entries, &folders_[j].records->deletedFolders}) {
      for (const folders::FolderEntry& e : *list) {
        if (e.isFolder && e.firstCluster == *folder.selfCluster) return std::make_pair(j, e.name);
      }
    }
  }
  return std::nullopt;
}

std::vector<std::size_t> LostFolders::AncestryOf(std::size_t index) const {
  std::vector<std::size_t> chain{index};
  for (int depth = 0; depth < kMostDepth; ++depth) {
    const auto parent = ParentOf(chain.back());
    if (!parent) break;
    const auto seen = std::find(chain.begin(), chain.end(), parent->first);
    if (seen != chain.end()) {
      // Records that make folders each other's ancestors: the loop's first
      // folder in fragment order is its top, so every path agrees on one tree.
      const auto top = std::min_element(seen, chain.end());
      chain.erase(top + 1, chain.end());
      break;
    }
    chain.push_back(parent->first);
  }
  return chain;
}

std::vector<std::string> LostFolders::PathOf(std::size_t index) const {
  const std::vector<std::size_t> chain = AncestryOf(index);
  std::vector<std::string> path;
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) path.push_back(ParentOf(chain[i])->second);
  // The top is named after its fragment: the k-th folder of the fragment
  // that no records name is "NAME (k)".
  const Folder& top = folders_[chain.back()];
  int k = 1;
  for (std::size_t j = 0; j < chain.back(); ++j) {
    if (folders_[j].fragment == top.fragment && folders_[j].records != top.records && AncestryOf(j).size() == 1) ++k;
  }
  path.push_back(k == 1 ? top.fragment : top.fragment + " (" + std::to_string(k) + ")");
  std::reverse(path.begin(), path.end());
  return path;
}

std::vector<PlacedFile> LostFolders::Place(std::uint64_t size, const Placement& placement,
                                           const std::vector<Piece>& pieces) {
  std::vector<PlacedFile> placed;
  const std::uint64_t cluster = placement.clusterSize;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    if (folders_[i].records->system != folders::FileSystem::kExfat) continue;
    for (const folders::FolderEntry& e : folders_[i].records->entries) {
      if (!Placeable(e, cluster) || e.firstCluster < placement.firstCluster) continue;
      const std::uint64_t clusters = e.firstCluster - placement.firstCluster;
      if (clusters > size / cluster) continue;
      const std::uint64_t offset = clusters * cluster;
      if (e.size > size - offset) continue;
      // What the content split found there must not say otherwise: no proven
      // file that begins elsewhere covers the start, no records lie there.
      bool refused = false;
      for (const Piece& piece : pieces) {
        // Nor may it run over a proven file that begins after it, or cut
        // short the proven file that begins where it does.
        if (Proven(piece) && piece.offset > offset && piece.offset - offset < e.size) refused = true;
        if (Proven(piece) && piece.offset == offset && piece.length > e.size) refused = true;
        const bool covers = piece.offset <= offset && offset < piece.offset + piece.extent;
        if (!covers) continue;
        if (piece.role == Piece::Role::kRecords) refused = true;
        if (Proven(piece) && piece.offset != offset && offset < piece.offset + piece.length) refused = true;
      }
      if (refused) continue;
      PlacedFile file;
      file.entry = &e;
      file.offset = offset;
      file.size = e.size;
      file.folders = PathOf(i);
      file.name = e.name;
      placed.push_back(std::move(file));
    }
  }
  std::sort(placed.begin(), placed.end(), [](const PlacedFile& a, const PlacedFile& b) { return a.offset < b.offset; });
  // Records that overlap (a damaged folder) place nothing twice.
  std::vector<PlacedFile> kept;
  for (PlacedFile& file : placed) {
    if (!kept.empty() && file.offset < kept.back().offset + kept.back().size) continue;
    used_.insert(file.entry);
    kept.push_back(std::move(file));
  }
  return kept;
}

}  // namespace tessaro::split
