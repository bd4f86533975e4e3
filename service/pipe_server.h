// The server's end of the control pipe: the listener, which accepts the
// control panels, and one connection per panel, which decides the panel's
// write permission on its first message and then answers its requests.
#pragma once

// Starts the listener on the pipe named by the environment (run sequence,
// after the banner).
void start_pipe_listener();

// Ends the listener and every connection, and waits until their threads have
// finished (run sequence, once the server has ended). Searches and streams
// still open on a connection are closed with it.
void stop_pipe_listener();
