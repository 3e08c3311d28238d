#include "commands/fetch_file.h"

#include "commands/checks.h"
#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/bound.h"
#include "remote/download.h"
#include "remote/error.h"
#include "remote/io.h"
#include "remote/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// What a fetch may bring unless --max-size says otherwise: a sparse remote
// file costs the account nothing and the caller's disk its whole size.
constexpr long long kDefaultMaxSize = 1LL << 30;
constexpr long long kMaxMaxSize = 1LL << 62;

// The widest receive window a download grants: one channel moves at most
// one window per round trip, and the 2 MiB it opens with (sshd's own too)
// caps a download near 20 MB/s at 100 ms.  Past 16 MiB, sshd slowed the
// download down instead (measured at 24 and 32 MiB).
constexpr unsigned kMaxWindow = 16u << 20;

// The window's tuner; none for the benchmark's BF2_BENCH_ONE_CHANNEL,
// which keeps libssh2's.
std::optional<TWindowTuner> window_tuner()
{
    const char* bench = std::getenv("BF2_BENCH_ONE_CHANNEL");
    if (bench && *bench == '1')
        return std::nullopt;
    return TWindowTuner(LIBSSH2_CHANNEL_WINDOW_DEFAULT, kMaxWindow);
}

// The new file, made by mkstemp (mode 0600) beside the target so that the
// rename cannot cross file systems; removed unless it was kept, also by
// the alarm that ends a stuck run.
class TTempFile {
public:
    TTempFile(const std::string& dir, const std::string& name, std::string target)
        : target_(std::move(target)),
          path_(dir + "/." + name.substr(0, kNameRoom) + ".bf2ctl-XXXXXX")
    {
        fd_.reset(mkstemp(path_.data()));
        if (!fd_)
            fail();
        add_cleanup(path_);
    }
    ~TTempFile()
    {
        if (!kept_)
            unlink(path_.c_str());
        drop_cleanup(path_);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    void write_all(const char* data, size_t size)
    {
        try {
            ::write_all(fd_.get(), data, size);
        } catch (const TSysError& e) {
            fail(e.error);
        }
        written_ += size;
        // The disk starts on what came so far while the rest arrives, so
        // that keep()'s fsync waits only for the last part: a 256 MiB
        // file's fsync took 0.13 s of a 1 s download, 3 ms with this.
        if (written_ - flushed_ >= kFlushStep) {
            sync_file_range(fd_.get(), flushed_, written_ - flushed_, SYNC_FILE_RANGE_WRITE);
            flushed_ = written_;
        }
    }

    // On disk before the rename: a crash then leaves the old file or the
    // whole new one, never a renamed but empty file.
    void keep(const std::string& dir)
    {
        if (fsync(fd_.get()) != 0 || close(fd_.release()) != 0)
            fail();
        if (rename(path_.c_str(), target_.c_str()) != 0)
            fail();
        kept_ = true;
        drop_cleanup(path_);
        if (const TFd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir_fd)
            fsync(dir_fd.get());
    }

private:
    [[noreturn]] void fail(int error = errno)
    {
        throw TUError(TCode::local_file, "Failed to write into the local file " + target_ + ": " +
                                             std::strerror(error));
    }

    static constexpr off_t kFlushStep = 8 << 20;
    // The most of the target's name that the temporary one takes: it must
    // fit a name's 255 bytes with its dot and suffix.
    static constexpr size_t kNameRoom = 255 - (sizeof "..bf2ctl-XXXXXX" - 1);

    std::string target_;
    std::string path_;
    TFd fd_;
    bool kept_ = false;
    off_t written_ = 0, flushed_ = 0;
};

// The target's directory, checked before connecting.
std::string local_dir(const std::string& to)
{
    const size_t slash = to.rfind('/');
    const std::string dir = slash == 0 ? "/" : to.substr(0, slash);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        access(dir.c_str(), W_OK | X_OK) != 0)
        throw TUError(TCode::local_file, "Local directory missing or not writable: " + dir);
    return dir;
}

}  // namespace

bool fetch_file(zelto::opt::TOParsing parsing)
{
    const std::string from = zelto::opt::value_of(parsing, "from");
    const std::string to = zelto::opt::value_of(parsing, "to");
    // Optional, so looked up without a report; a bad value is reported as
    // the option library reports one.
    auto given = parsing["max-size"];
    parsing.end();
    const long long max_size = zelto::opt::number_or(given, kMaxMaxSize, kDefaultMaxSize);
    chk_abs_path(from, "from");
    chk_abs_path(to, "to");
    const std::string dir = local_dir(to);
    init_ssh_session();

    // One channel: sh/fetch_file.sh checks the file and hands it to scp.
    // The new file is made once the size is known and allowed.  As root, a
    // symlink the account planted would hand over any file of the host.
    const TCommandLine fetch = program_command(programs::fetch_file, {{"FROM", from}});
    std::optional<TTempFile> file;
    std::optional<TWindowTuner> window = window_tuner();
    TDownload download = scp_download(
        open_channel(), fetch.line, fetch.input,
        [&](long long size) {
            if (size > max_size)
                throw_step(programs::fetch_file, "size",
                           {{"FROM", from}, {"max", std::to_string(max_size)}});
            file.emplace(dir, to.substr(to.rfind('/') + 1), to);
        },
        [&](const char* data, size_t size) { file->write_all(data, size); },
        window ? &*window : nullptr);
    if (download.whole && download.run.status == 0) {
        file->keep(dir);
        return true;
    }
    // An scp that ended without a word never began; one that ended badly
    // after the whole file still failed it.
    if (download.run.status == 0)
        throw_step(programs::fetch_file, "scp", {{"cut", "Unable to open the scp channel"}},
                   download.run.out);
    const std::string cut =
        download.whole ? "Failed to copy content" : "Unable to open the scp channel";
    throw_step_failure(programs::fetch_file, download.run, {{"FROM", from}, {"cut", cut}});
}
