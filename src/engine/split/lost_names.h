#pragma once
// The names a lost folder's own records give the files found in a rescue.
//
// An exFAT rescue (fsck.exfat -s) gives back the clusters no live entry
// reaches, run by run in ascending order, each run one fragment: inside a
// fragment, the file whose first cluster is c begins at (c - c0) x the cluster
// size, where c0 is the fragment's own first cluster. Neither is written
// anywhere in the fragment, so both are solved from the records and the files
// the content split found: every file whose record agrees with it (the same
// extension, the proven length its record's size) votes for one cluster size
// and one c0, and the placement stands only when several agree and no other
// comes close. A record is then used where it places a file its clusters hold
// in one run (NoFatChain) inside the fragment; its exact size cuts the file
// there, whether or not any checker knows where the file ends.
//
// Records are kept for the whole pass (a folder's records usually lie in the
// first fragment, its files in those after it); memory grows with the number
// of records, not with the fragments' sizes.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/folders/folder_records.h"
#include "engine/split/fragment_split.h"

namespace tessaro::split {

// One file as its folder's records place it in a fragment.
struct PlacedFile {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  // The folders from the lost folder down, each as recorded (raw, to be made
  // safe); the lost folder whose own name is recorded nowhere is named after
  // the fragment its records lie in.
  std::vector<std::string> folders;
  std::string name;  // as recorded (raw)
  const folders::FolderEntry* entry = nullptr;
};

struct Placement {
  std::uint64_t clusterSize = 0;
  std::uint64_t firstCluster = 0;  // the fragment's own
  int votes = 0;
};

class LostFolders {
 public:
  // Records found in the fragment named `fragment` (its name without the
  // extension) at `offset`, with the fragment's placement when it is known.
  void Add(const std::string& fragment, std::uint64_t offset, std::shared_ptr<const folders::FolderRecords> records);

  // The placement of a fragment of `size` bytes in which the content split
  // found `pieces` (its records among them, already added), or none when it
  // is not confirmed. Also remembers it for the records in that fragment.
  std::optional<Placement> Solve(const std::string& fragment, std::uint64_t size, const std::vector<Piece>& pieces);

  // The files the records place in that fragment, in fragment order, none
  // overlapping another or a proven file found that begins elsewhere.
  // A record placed once is not placed again.
  std::vector<PlacedFile> Place(std::uint64_t size, const Placement& placement, const std::vector<Piece>& pieces);

  // FAT: a disk check numbers the lost chains in the order of their first
  // clusters, so a lost folder's records name the fragments after its own,
  // file by file in that order. The record the fragment of `size` bytes,
  // whose first file found is `first` (null: none), pairs with, placed at
  // offset 0 and cut at its recorded size: the next record of a lost folder
  // whose size ends in the fragment's last cluster and whose extension the
  // kind found agrees with (a chain cut short pairs with the kind alone, a
  // fragment of no kind only with a record of a kind the catalogue does not
  // know).
  // None when no record confirms it; a fragment that pairs with none (the
  // tail of a broken chain) leaves the records for the fragments after it.
  // `known` says whether the catalogue knows an extension (".jpg").
  // `endsAt` says whether a file may end at an offset of the fragment: only
  // zeros follow it to the end of its sector. A fragment of no kind pairs only
  // with a record whose size it may end at, since nothing else tells that the
  // record's size is its end: the tail of a broken chain whose bytes run on
  // past a record's size is not cut there.
  std::optional<PlacedFile> PairChain(std::uint64_t size, const Piece* first,
                                      const std::function<bool(const std::string&)>& known,
                                      const std::function<bool(std::uint64_t)>& endsAt);

  bool Empty() const { return folders_.empty(); }

 private:
  struct Folder {
    std::string fragment;
    std::uint64_t offset = 0;
    std::shared_ptr<const folders::FolderRecords> records;
    std::optional<std::uint64_t> selfCluster;  // once its fragment's placement is known
  };
  // The folder whose records name folder `index`, and the name they give.
  std::optional<std::pair<std::size_t, std::string>> ParentOf(std::size_t index) const;
  // Folder `index`, its parent, and so on up to the top of its tree.
  std::vector<std::size_t> AncestryOf(std::size_t index) const;
  // The path of folder `index` from its lost top down.
  std::vector<std::string> PathOf(std::size_t index) const;

  std::vector<Folder> folders_;
  // FAT: per lost folder (index into folders_), its files' records by first
  // cluster, and how many of them have been paired or passed.
  struct Chains {
    std::size_t folder = 0;
    std::vector<const folders::FolderEntry*> files;
    std::size_t next = 0;
  };
  std::vector<Chains> chains_;
  std::uint64_t clusterSize_ = 0;  // the volume's, once a fragment settled it
  // The last placement's cluster size and the cluster after its fragment.
  std::uint64_t lastCluster_ = 0;
  std::uint64_t lastEnd_ = 0;
  std::unordered_set<const folders::FolderEntry*> used_;
};

}  // namespace tessaro::split
