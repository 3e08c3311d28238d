// Uploads one local file to the remote account over SCP, streamed through
// one fixed buffer whatever its size.
#pragma once

#include "remote/exec.h"

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// A local regular file open for reading, closed with the object.
class TLocalFile {
public:
    // Checks and opens path before anything remote happens: throws TUError
    // "Unable to define file size" when it cannot be examined, "Not a
    // regular file: PATH" for a directory, device or pipe (which would never
    // end, or end at once), "Unable to open the file PATH" when unreadable.
    explicit TLocalFile(std::string path);

    const std::string path;
    int fd() const { return fd_.get(); }
    off_t size() const { return size_; }

private:
    TFd fd_;
    off_t size_ = 0;
};

// What came of an upload: the remote command's run (its output after
// scp's verdicts), the number of scp's zero-byte verdicts, 3 for a whole
// file, and its refusal, when it sent one.
struct TUpload {
    TExecResult run;
    int accepted = 0;
    std::string refusal;  // "scp: /x: No space left on device"
};

// Requires an open session.  Runs command, which reads `before` off its
// standard input and then gives the rest to an scp sink (scp -t) writing
// one file of mode 0640; sends exactly file.size() bytes to it in the SCP
// protocol without waiting for its verdicts on the way, so the whole upload
// costs one channel and no round trip of its own.  Stops sending at the
// sink's refusal or any other output.
TUpload scp_upload(const TLocalFile& file, const std::string& command, const std::string& before);

// A large file as byte ranges, one to a channel of the connection, so that
// each range has a window of its own: up to `channels` channels, as many as
// the server grants, at least one.  command(i, offset, count) gives range
// i's command line and the start of its input.  Command 0 leads: the first
// line of its output names the place of the upload ("upload XXXXXX"),
// which the others get as the first line after their start; then each
// range's bytes go, read at its offset.  The others' ranges are followed by
// the line "whole"; the lead's gets it only once every other command has
// ended with status 0, and never after a failure: the lead then removes
// the upload.
struct TRangedUpload {
    std::vector<TExecResult> runs;  // the lead's first
    int failed = -1;                // the run that failed first, or -1
};
using TRangeCommand =
    std::function<std::pair<std::string, std::string>(size_t index, off_t offset, off_t count)>;
TRangedUpload ranged_upload(const TLocalFile& file, size_t channels, const TRangeCommand& command);
