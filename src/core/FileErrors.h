#pragma once

#include "core/RuntimeError.h"

#include <QString>

#include <unistd.h>

namespace kallomir {

// The program's error for a failed system call on a file (errno); a full disk is always
// called so, whichever call noticed it (a write, a flush, a close).
RuntimeError FileError(int error, const QString& path);

// A file descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closing can be where a network or full disk reports a lost write.
    int release() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

}  // namespace kallomir
