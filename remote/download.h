// Downloads one remote file: the receiving side of the SCP protocol,
// spoken over one exec channel with an scp source (scp -f) that a remote
// command runs, the file streamed through one fixed buffer whatever its
// size into sinks of the caller's.
#pragma once

#include "remote/exec.h"

#include <cstddef>
#include <functional>
#include <string>

// Told the size the remote side announced before any byte of the file;
// throws to refuse it.
using TSizeSink = std::function<void(long long size)>;
// Takes each chunk of the file as it arrives; throws to end the download.
using TChunkSink = std::function<void(const char* data, size_t size)>;

// What came of a download: the remote command's run (its output but the
// SCP stream) and whether the file came whole, vouched for by the sender.
struct TDownload {
    TExecResult run;
    bool whole = false;
};

// Runs command on channel, which goes with the call.  The command reads
// `before` off its standard input and either fails a step of its own, its
// output then its own (returned, whole false), or runs an scp source on
// the rest of its input and on its output; passes exactly the announced
// size to sink, the receive window widened as window asks.
// Throws TUError: "Unable to open the scp channel: MESSAGE" (the source's
// refusal), "Failed to copy content: MESSAGE" midway or for a malformed
// record, "Timed out after 30 s" when no file is announced in that time,
// the run's bound or interruption, and what the sinks throw.
TDownload scp_download(TChannel channel, const std::string& command, const std::string& before,
                       const TSizeSink& begin, const TChunkSink& sink,
                       TWindowTuner* window = nullptr);
