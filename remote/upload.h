// Uploads one local file to the remote account over SCP, streamed through
// one fixed buffer whatever its size.
#pragma once

#include <sys/types.h>

#include <string>

// A local regular file open for reading, closed with the object.
class TLocalFile {
public:
    // Checks and opens path before anything remote happens: throws TUError
    // "Unable to define file size" when it cannot be examined, "Not a
    // regular file: PATH" for a directory, device or pipe (which would never
    // end, or end at once), "Unable to open the file PATH" when unreadable.
    explicit TLocalFile(std::string path);
    ~TLocalFile();
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    const std::string path;
    int fd() const { return fd_; }
    off_t size() const { return size_; }

private:
    int fd_ = -1;
    off_t size_ = 0;
};

// Requires an open session.  Sends exactly file.size() bytes to the remote
// path `to` with mode 0640 and waits for the remote side's verdict on the
// whole file.  Throws TUError with the line to print, including the remote
// scp's own complaint (a full disk) when it reports one.
void scp_upload(const TLocalFile& file, const std::string& to);
