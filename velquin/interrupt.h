// Ctrl+C for the commands that run until interrupted (transfers --watch,
// log --follow): the first interrupt asks them to end after their current
// step; they wait between polls in short steps so that they end at once.
#pragma once

// Installs the handler of SIGINT (on Windows the C runtime raises it for
// Ctrl+C and Ctrl+Break from the console).
void catch_interrupt();

bool interrupted();

// Waits about a second; false when interrupted meanwhile.
bool wait_a_second();
