// Opening the caller's own files for reading without waiting on them: a
// named pipe that no process writes to would otherwise hold open() for
// ever, and a run must end.
#pragma once

#include <string>

// A descriptor in blocking mode, or -1 with errno set.  A pipe without a
// writer then reads as empty.
int open_to_read(const std::string& path);
