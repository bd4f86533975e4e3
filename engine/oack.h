// The option acknowledgement that a worker sends for a request with options.
#pragma once

#include "pipeclient/records.h"

// Builds the acknowledgement of the accepted options in `packet` and sends
// it on the connected data socket; returns the length sent or -1.
int send_oack(TransferSession* session);
