// Multicast groups of the multicast option, and PXE multicast: which group a
// read request joins, who is the group's master client, and which files the
// PXE port sends to a configured group.
#pragma once

#include <cstdint>
#include <string>

#include "pipeclient/records.h"
#include "settings/settings.h"

// Puts a read request whose multicast option was accepted into a group:
// joins the running group of the same file, block size and mode (returns 0),
// or opens a new group on the first free port as its master (returns 1).
// When every port is taken the option is dropped and the request goes on as
// an ordinary transfer (returns 0).
int assign_multicast(TransferSession* session, const Settings& settings);

// Whether no active group member uses `port`.
bool multicast_port_free(uint16_t port);

// Called when a member's transfer ends: the next member of its group becomes
// master. Returns that member, or null.
TransferSession* hand_over_master(TransferSession* session);

// Whether `session` is master of its group now (another worker may promote
// it at any time).
bool is_master(const TransferSession* session);

// What the PXE port does with a read request without options for `mapName`
// (the file's name below the root, "\" separators).
enum class PxeOutcome { kOrdinary, kMulticast, kAbsorbed };
PxeOutcome find_pxe_mapping(TransferSession* session,
                            const Settings& settings,
                            const std::string& mapName);
