#pragma once
// A platform whose files live in memory, so a benchmark of identification
// measures our own work and not the kernel's.

#include <map>
#include <string>

#include "platform/platform.h"

namespace tessaro::bench {

class MemoryPlatform final : public Platform {
 public:
  void Put(const std::string& path, std::string bytes) { files_[path] = std::move(bytes); }

  bool Status(const std::string& path, FileStatus& out, int& error) override;
  FileHandle OpenRead(const std::string& path, int& error) override;
  FileHandle Create(const std::string& path, int& error) override;
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override;
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override;
  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override;
  void Close(FileHandle file) override;
  bool SameFile(const std::string& a, const std::string& b) override { return a == b; }
  bool MakeFolder(const std::string&, int& error) override {
    error = 0;
    return false;
  }
  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view, std::uint64_t)>& each) override;
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override;

 private:
  struct Open {
    const std::string* bytes = nullptr;
    std::uint64_t position = 0;
  };
  std::map<std::string, std::string> files_;
  Open open_[8];
};

}  // namespace tessaro::bench
