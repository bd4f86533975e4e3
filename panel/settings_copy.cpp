#include "panel/settings_copy.h"

namespace {

ServerSettings g_server{};
MulticastSettings g_multicast{};
PxeSettings g_pxe{};

}  // namespace

ServerSettings& server_settings_copy() { return g_server; }
MulticastSettings& multicast_settings_copy() { return g_multicast; }
PxeSettings& pxe_settings_copy() { return g_pxe; }
