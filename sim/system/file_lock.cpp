// Advisory file locks of the state directory.
#include "sim/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {

int lockFile(const std::string& path, int operation) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    while (flock(fd, operation) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

ScopedFileLock::ScopedFileLock(const std::string& path) : m_fd(lockFile(path, LOCK_EX)) {}

ScopedFileLock::~ScopedFileLock() {
    if (m_fd >= 0)
        close(m_fd);
}

bool readStateFile(const std::string& path, std::string* contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    *contents = text.str();
    return true;
}

bool writeStateFileAtomically(const std::string& path, const std::string& contents) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !(out << contents) || !out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace sim
