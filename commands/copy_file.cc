#include "commands/copy_file.h"

#include "remote/session.h"
#include "remote/upload.h"

using zelto::opt::req_arg;

bool copy_file(zelto::opt::TOParsing parsing)
{
    std::string from;
    std::string to;
    {
        auto r = parsing("from", req_arg);
        if (r.found)
            from = r.entry->second.value;
    }
    {
        auto r = parsing("to", req_arg);
        if (r.found)
            to = r.entry->second.value;
    }
    parsing.end();
    init_ssh_session();
    scp_upload(from, to);
    return true;
}
