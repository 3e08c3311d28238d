#include "remote/io.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

void close_fd(int fd) { close(fd); }

void close_file(std::FILE* file) { std::fclose(file); }

TFd open_to_read(const std::string& path)
{
    TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd)
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

TSysError::TSysError(const char* call, int error)
    : TUError(TCode::internal, std::string(call) + ": " + std::strerror(error)), call(call),
      error(error)
{
}

void TSysError::reword(TCode code, const std::string& line) const
{
    throw TUError(code, line + ": " + std::strerror(error));
}

size_t read_some(int fd, void* buffer, size_t size)
{
    return retry_eintr("read", [&] { return read(fd, buffer, size); });
}

size_t pread_some(int fd, void* buffer, size_t size, off_t at)
{
    return retry_eintr("pread", [&] { return pread(fd, buffer, size, at); });
}

std::string read_all(int fd, size_t cap)
{
    std::string text;
    char buffer[8192];
    while (text.size() <= cap) {
        const size_t n = read_some(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        text.append(buffer, n);
    }
    return text;
}

void write_all(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const size_t n = retry_eintr("write", [&] { return write(fd, p, size); });
        if (n == 0)
            throw TSysError("write", ENOSPC);
        p += n;
        size -= n;
    }
}

short wait_fd(int fd, short events, int timeout_ms)
{
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready < 0 && errno != EINTR)
        throw TSysError("poll", errno);
    return ready > 0 ? p.revents : 0;
}
