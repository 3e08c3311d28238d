#include "commands/copy_file.h"

#include "opt/lookup.h"
#include "remote/session.h"
#include "remote/upload.h"

bool copy_file(zelto::opt::TOParsing parsing)
{
    const std::string from = zelto::opt::value_of(parsing, "from");
    const std::string to = zelto::opt::value_of(parsing, "to");
    parsing.end();
    init_ssh_session();
    scp_upload(from, to);
    return true;
}
