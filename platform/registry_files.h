#pragma once
// File operations of the registry store: reading a file together with the
// identity of the version read, replacing a file atomically, and the
// cross-process lock that serialises writers. Internal to the platform layer.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What tells one version of a file from another. A file replaced by
// replaceFileAtomically always gets a new identity: its modification time is
// set strictly after the one of the file it replaces.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedSeconds = 0;
  int64_t changedNanoseconds = 0;

  bool operator==(const FileIdentity&) const = default;
};

enum class FileStatus { Ok, Missing, Failed };

// The identity of the file now on disk.
FileStatus statFile(const std::string& path, FileIdentity* identity, std::string* error);

// Reads a whole file; identity is that of the version read.
FileStatus readWholeFile(const std::string& path, std::string* bytes, FileIdentity* identity, std::string* error);

// Writes bytes to a temporary file in the same folder and renames it over
// path, so readers see the old or the new file, never a part. previous is
// the identity of the file being replaced (nullptr when there is none);
// written receives the identity of the new file.
bool replaceFileAtomically(const std::string& path, std::string_view bytes, const FileIdentity* previous,
                           FileIdentity* written, std::string* error);

// An advisory lock on a lock file, held until destruction. Exclusive locks
// exclude every other lock on the same file, in this or any other process;
// shared locks exclude only exclusive ones.
class FileLock {
 public:
  enum class Mode { Shared, Exclusive };
  FileLock(const std::string& lockPath, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;

  bool held() const { return handle_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  intptr_t handle_ = -1;
  std::string error_;
};

}  // namespace platform
