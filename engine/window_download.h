// Downloads whose client negotiated windowsize: the blocks of a window leave
// together, and the client acknowledges the window's last block. An
// acknowledgement of an earlier block starts the next window after it; a
// time-out sends the window again from the block after the last one
// acknowledged; a repeated acknowledgement is waited past.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/retransmit_timer.h"
#include "engine/transfer.h"
#include "pipeclient/records.h"

// The data phase of a windowed download, after the option phase; `timer`
// goes on with the round trips measured there.
TransferResult send_windows(TransferSession* session,
                            const TransferSettings& settings,
                            RetransmitTimer& timer);

// The count of blocks acknowledged that a 16-bit acknowledgement names,
// given `acked` blocks acknowledged before and `sent` blocks sent: a count
// from acked to sent whose low 16 bits are `number`; none for any other.
std::optional<uint32_t> acknowledged_count(uint32_t acked, uint32_t sent, uint16_t number);
