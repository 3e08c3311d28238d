// Backups of an account's directories, kept on the account: --backup makes
// one (sh/backup.sh), --list-backups lists a backup directory
// (sh/list_backups.sh), --restore makes a directory what a backup holds
// (sh/restore.sh).
#pragma once

#include "opt/parsing.h"

#include <string>
#include <vector>

bool backup(zelto::opt::TOParsing parsing);
bool list_backups(zelto::opt::TOParsing parsing);
bool restore(zelto::opt::TOParsing parsing);

// The path without empty and "." components and without a trailing '/'
// ("/" stays); ".." is kept, as only the host knows where it leads.
std::string clean_path(const std::string& path);

// Whether the clean path inner is outer or lies under it, as far as the
// text shows: never when either holds "..".
bool lies_in(const std::string& inner, const std::string& outer);

// The --exclude globs, one a line, anchored at the directory: a leading
// "/" or "./" and a trailing "/" dropped.  Empty when a glob is empty or
// holds a line break.
std::vector<std::string> exclude_globs(const std::string& list);

// The epoch seconds of a backup name's YYYYmmddTHHMMSSZ, or -1.
long long stamp_seconds(const std::string& stamp);
