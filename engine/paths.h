// Path resolution and access control: turns a request's file name into the
// local path in `fileName`, and decides whether the client may read, write
// or replace the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/packets.h"
#include "pipeclient/records.h"
#include "settings/settings.h"

struct ResolvedPath {
    bool overwrite = false;  // an existing file may be replaced
    std::string baseDir;     // the directory an upload must stay inside
    std::string mapName;     // the file's name in the PXE file map
};

// Resolves `name` (already free of ":" and "..", with "\" separators) for
// `session`: sets session->fileName on acceptance; otherwise returns the
// message of the refusal (sent with code 4): "Path too long" or "Access
// denied".
std::optional<ErrorMessage> resolve_path(TransferSession* session,
                                         const Settings& settings,
                                         const char* name,
                                         ResolvedPath* resolved);

// Whether the access rules let `clientAddress` (network order) make this
// request on `relativePath`; sets *overwrite to whether the rule allows "o".
bool check_access(const Settings& settings,
                  const std::string& relativePath,
                  uint32_t clientAddress,
                  int opcode,
                  bool* overwrite);

// The letters of the first rule of `group` that covers `client` (host
// order); false when no rule covers it.
bool find_access_rule(uint32_t client, const std::string& group, std::string* letters);
