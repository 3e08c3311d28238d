// Uploads one local file to the remote account over SCP, streamed through
// one fixed buffer whatever its size.
#pragma once

#include <string>

// Requires an open session.  The remote copy gets mode 0640.  Throws
// TUError with the line to print, including the remote scp's own complaint
// (a full disk, a missing directory) when it reports one.
void scp_upload(const std::string& from, const std::string& to);
