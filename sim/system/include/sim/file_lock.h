// Files of a state directory, shared by the simulated PC's processes: advisory locks, and whole
// files read and written so that a reader never sees half of one.
#pragma once

#include <string>

namespace sim {

// Opens (creating it) `path` and takes flock `operation` on it (LOCK_EX, LOCK_SH, optionally
// with LOCK_NB). Returns the descriptor holding the lock, or -1 when the file cannot be opened
// or the lock cannot be had; closing the descriptor gives the lock up.
int lockFile(const std::string& path, int operation);

// Holds an exclusive lock for as long as it lives.
class ScopedFileLock {
  public:
    explicit ScopedFileLock(const std::string& path);
    ~ScopedFileLock();
    ScopedFileLock(const ScopedFileLock&) = delete;
    ScopedFileLock& operator=(const ScopedFileLock&) = delete;
    bool held() const { return m_fd >= 0; }

  private:
    int m_fd;
};

// Reads the whole file; false when it cannot be opened.
bool readStateFile(const std::string& path, std::string* contents);
// Writes through a temporary file and a rename.
bool writeStateFileAtomically(const std::string& path, const std::string& contents);

} // namespace sim
