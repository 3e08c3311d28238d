// Opens the run's SSH connection to port 22 and logs in with the password.
#pragma once

// Fills ssh_sock and ssh_session; throws TUError with the line to print.
// Whatever it created before a failure stays recorded for main's teardown.
void init_ssh_session();
