#include "remote/upload.h"

#include "remote/error.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

TLocalFile::TLocalFile(std::string path_) : path(std::move(path_))
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw TUError(TCode::local_file, "Unable to define file size");
    if (!S_ISREG(st.st_mode))
        throw TUError(TCode::local_file, "Not a regular file: " + path);
    // O_NONBLOCK: should a pipe have taken the file's place meanwhile, the
    // open does not wait for a writer, and the check below refuses it.
    fd_.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd_)
        throw TUError(TCode::local_file, "Unable to open the file " + path);
    if (fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw TUError(TCode::local_file, "Not a regular file: " + path);
    size_ = st.st_size;
}

TUpload scp_upload(const TLocalFile& file, const std::string& command, const std::string& before)
{
    // Exactly the announced size is sent: a file that grows meanwhile
    // would corrupt the stream, one that shrinks would leave the remote
    // side waiting for ever.  The closing zero byte asks the sink for its
    // verdict on the whole file; without it a write error on the remote
    // side goes unreported.
    off_t left = file.size();
    bool closed = false;
    TInput input(before + "C0640 " + std::to_string(file.size()) + " file\n",
                 [&](char* buffer, size_t room) -> size_t {
                     if (left == 0) {
                         if (closed)
                             return 0;
                         closed = true;
                         buffer[0] = '\0';
                         return 1;
                     }
                     size_t n = 0;
                     try {
                         n = read_some(file.fd(), buffer, std::min<off_t>(left, room));
                     } catch (const TSysError&) {
                         // Reported as a file that shrank: either way the size is not met.
                     }
                     if (n == 0)
                         throw TUError(TCode::local_file,
                                       "Failed to read from the file " + file.path);
                     left -= n;
                     return n;
                 });

    // The sink says 0 when it starts, when it has made the file and when
    // it has all of it; 1 or 2 and a line when it refuses.
    TUpload upload;
    enum { verdicts, refusal, rest } part = verdicts;
    TKeptText out(kOutCap, 4096), err(kErrCap, 0);
    auto take = [&](const char* data, size_t size) {
        for (; size > 0 && part != rest; ++data, --size) {
            if (part == refusal) {
                if (*data == '\n')
                    part = rest;
                else if (upload.refusal.size() < 4096)
                    upload.refusal += *data;
            } else if (*data == '\0') {
                if (++upload.accepted == 3)
                    part = rest;
            } else {
                input.stop();
                if (*data == 1 || *data == 2) {
                    part = refusal;
                } else {
                    part = rest;
                    break;
                }
            }
        }
        out.add(data, size);
    };
    const bool killed = !ssh_exec_streams(open_channel(), command, input, false, take,
                                          [&](const char* p, size_t n) { err.add(p, n); })
                             .empty();
    upload.run = {-1, std::move(out.text()), std::move(err.text())};
    upload.run.status = wrapper_status(upload.run.out, killed, false);
    return upload;
}
