// The run's local descriptors and the loops their system calls go through:
// one owner that frees a handle whichever way its scope ends, calls tried
// again when a signal interrupts them, short writes finished, and failures
// that name the call and its errno.
#pragma once

#include "remote/error.h"

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

// Owns one handle and frees it with Free once: at the end of its scope, a
// throw included, or on reset.  A move hands the handle on.
template <class Handle, void (*Free)(Handle), Handle None> class TOwned {
public:
    TOwned() = default;
    explicit TOwned(Handle handle) : handle_(handle) {}
    ~TOwned() { reset(); }
    TOwned(TOwned&& other) noexcept : handle_(other.release()) {}
    TOwned& operator=(TOwned&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != None; }
    Handle release() { return std::exchange(handle_, None); }
    void reset(Handle handle = None)
    {
        if (const Handle old = std::exchange(handle_, handle); old != None)
            Free(old);
    }

private:
    Handle handle_ = None;
};

void close_fd(int fd);
void close_file(std::FILE* file);
using TFd = TOwned<int, close_fd, -1>;
using TFile = TOwned<std::FILE*, close_file, nullptr>;

// Opens the caller's own file for reading without waiting on it: a named
// pipe that no process writes to would otherwise hold open() for ever.  The
// descriptor is in blocking mode (a pipe without a writer then reads as
// empty), or none, errno set.
TFd open_to_read(const std::string& path);

// A system call that failed, not merely interrupted: the message names the
// call and its errno ("read: Is a directory").  Callers whose error line is
// worded otherwise reword it, keeping the errno's text.
class TSysError : public TUError {
public:
    TSysError(const char* call, int error);
    // Throws "LINE: <the errno's text>".
    [[noreturn]] void reword(TCode code, const std::string& line) const;

    const char* call;
    int error;
};

// Calls call again while a signal interrupts it; another failure (a
// negative result) throws TSysError naming the call.
template <class Call> auto retry_eintr(const char* name, Call call)
{
    for (;;) {
        const auto rc = call();
        if (rc >= 0)
            return rc;
        if (errno != EINTR)
            throw TSysError(name, errno);
    }
}

// What one read(2) or pread(2) gives: 0 at the end.
size_t read_some(int fd, void* buffer, size_t size);
size_t pread_some(int fd, void* buffer, size_t size, off_t at);

// fd's bytes to its end, or as soon as more than cap came.
std::string read_all(int fd, size_t cap = SIZE_MAX);

// All of data, however many writes it takes.  A write that takes nothing
// fails as a full disk (ENOSPC).
void write_all(int fd, const void* data, size_t size);

// Waits at most timeout_ms for events on fd and returns the ones that came,
// 0 for none.  A signal ends the wait like the time-out, so that the
// caller's loop checks the run's bound before it waits again.
short wait_fd(int fd, short events, int timeout_ms);
