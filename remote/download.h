// Downloads one remote file over SCP, streamed through one fixed buffer
// whatever its size, into a sink of the caller's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Takes each chunk as it arrives; throws to end the download.
using TChunkSink = std::function<void(const char* data, size_t size)>;

// Requires an open session.  Passes exactly the size the remote side
// announced to sink and returns once the remote side vouched for the whole
// file.  Throws TUError: "Unable to open the scp channel: MESSAGE" (the
// remote scp's complaint), "Failed to copy content: MESSAGE" midway, the
// run's bound or interruption, "Timed out after 30 s" when the remote side
// announces no file in that time.
void scp_download(const std::string& from, const TChunkSink& sink);
