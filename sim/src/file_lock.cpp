// Advisory file locks of the state directory.
#include "sim/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

} // namespace sim
