#include "remote/upload.h"

#include "remote/error.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

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

namespace {

// Range [offset, offset + count) of the file, read at its place through the
// input's one buffer, then trailer.
TInput::TSource range_source(const TLocalFile& file, off_t offset, off_t count, std::string trailer)
{
    return [&file, offset, count, trailer](char* buffer, size_t room) mutable -> size_t {
        if (count == 0) {
            const size_t n = trailer.size();
            std::memcpy(buffer, trailer.data(), n);
            trailer.clear();
            return n;
        }
        size_t n = 0;
        try {
            n = pread_some(file.fd(), buffer, std::min<off_t>(count, room), offset);
        } catch (const TSysError&) {
            // Reported as a file that shrank: either way the size is not met.
        }
        if (n == 0)
            throw TUError(TCode::local_file, "Failed to read from the file " + file.path);
        offset += n;
        count -= n;
        return n;
    };
}

}  // namespace

TRangedUpload ranged_upload(const TLocalFile& file, size_t channels, const TRangeCommand& command)
{
    std::vector<TTogether> runs;
    runs.push_back({.channel = open_channel()});
    while (runs.size() < channels) {
        TChannel more = try_open_channel();
        if (!more)
            break;
        runs.push_back({.channel = std::move(more)});
    }

    const size_t n = runs.size();
    std::vector<std::unique_ptr<TInput>> inputs;
    std::vector<TKeptText> outs, errs;
    std::vector<TInput::TSource> sources;
    for (size_t i = 0; i < n; ++i) {
        const off_t begin = file.size() / n * i;
        const off_t end = i + 1 == n ? file.size() : file.size() / n * (i + 1);
        auto [line, text] = command(i, begin, end - begin);
        runs[i].command = std::move(line);
        // The ranges share one chunk's memory: a large upload costs what a
        // small one does.
        inputs.push_back(std::make_unique<TInput>(std::move(text), nullptr,
                                                  std::max<size_t>(TInput::kChunk / n, 64 << 10)));
        // A lead alone is told at once that there is nothing to wait for.
        const bool told = i == 0 && n > 1;
        if (i > 0 || told)
            inputs[i]->hold_open();
        sources.push_back(range_source(file, begin, end - begin, told ? "" : "whole\n"));
        outs.emplace_back(kOutCap, 4096);
        errs.emplace_back(kErrCap, 0);
    }
    inputs[0]->follow(std::move(sources[0]));

    TRangedUpload upload;
    std::string first_line;  // the lead's, until its line break
    bool named = false;
    size_t whole = 1;  // runs ended with status 0, the lead counted
    auto stop_all = [&] {
        for (auto& input : inputs)
            input->stop();
    };
    for (size_t i = 0; i < n; ++i) {
        runs[i].input = inputs[i].get();
        runs[i].err = [&errs, i](const char* p, size_t size) { errs[i].add(p, size); };
        runs[i].out = [&, i](const char* p, size_t size) {
            outs[i].add(p, size);
            if (i != 0 || named)
                return;
            const char* end = static_cast<const char*>(std::memchr(p, '\n', size));
            first_line.append(p, end ? end - p : size);
            if (!end && first_line.size() < 64)
                return;
            named = true;
            // Another first line is no upload of the lead's: nothing more goes
            // anywhere, and the lead removes what it made.
            if (first_line.size() != 13 || first_line.compare(0, 7, "upload ") != 0) {
                upload.failed = 0;
                return stop_all();
            }
            for (size_t k = 1; k < n; ++k) {
                inputs[k]->add(first_line + "\n");
                inputs[k]->follow(std::move(sources[k]));
                inputs[k]->let_end();
            }
        };
    }
    // The first range to fail stops the rest, whose failures follow from
    // it, but for the lead's: a lead that fails with a complaint of its own
    // has removed the upload, which the other ranges may have failed on.
    int first = -1;
    ssh_exec_together(runs, [&](size_t i) {
        std::string out = outs[i].text();
        if (wrapper_status(out, false, false) != 0) {
            if (first < 0)
                first = static_cast<int>(i);
            stop_all();
        } else if (i != 0 && ++whole == n && first < 0) {
            inputs[0]->add("whole\n");
            inputs[0]->let_end();
        }
    });
    for (size_t i = 0; i < n; ++i) {
        upload.runs.push_back({-1, std::move(outs[i].text()), std::move(errs[i].text())});
        upload.runs[i].status = wrapper_status(upload.runs[i].out, runs[i].killed, false);
        if (upload.runs[i].status != 0 && first < 0)
            first = static_cast<int>(i);
    }
    const bool lead_failed = upload.runs[0].status != 0;
    if (upload.failed < 0 && first >= 0)
        upload.failed = lead_failed && !upload.runs[0].err.empty() ? 0 : first;
    return upload;
}
