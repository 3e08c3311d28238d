// Installing the game server: sh/launch_install.sh starts the install
// script (sh/install_script.sh) detached, which downloads and unpacks it;
// install-status reads its progress (sh/install_state.sh), install-cancel
// ends it (sh/install_cancel.sh); check-install tells whether a directory
// holds a server.
#pragma once

#include "opt/parsing.h"

#include <string>

bool install(zelto::opt::TOParsing parsing);
bool check_install(zelto::opt::TOParsing parsing);

// How far the install in a temporary directory that install printed got:
// downloading (with the bytes so far), extracting, installing, ok, failed
// (with the stage, its status and the end of its log), cancelled or
// interrupted.
bool install_status(zelto::opt::TOParsing parsing);
bool install_cancel(zelto::opt::TOParsing parsing);

// text with each URL's user information and every word's query string
// hidden ("http://u:p@h/p?t" as "http://…@h/p?…"): a download's log goes to
// the panel's customer, a token in the URL must not.
std::string hide_url_secrets(const std::string& text);

// Whether dir holds start.sh and mods/bf2/init.con.  Needs the session.
bool check_bf2_dir(const std::string& dir);
