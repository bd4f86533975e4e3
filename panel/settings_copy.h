// The control panel's copies of the server's settings records, fetched over
// the control pipe. The status view and every settings page work on these
// same copies; each page writes only its own fields before sending a record
// back.
#pragma once

#include "pipeclient/records.h"

ServerSettings& server_settings_copy();
MulticastSettings& multicast_settings_copy();
PxeSettings& pxe_settings_copy();
