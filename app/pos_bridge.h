// The bridge to the POS back-end: a terminal's request becomes a request
// file and a notice; the back-end's reply file goes back to the terminal.
#pragma once

#include <cstdint>

#include "site/site_context.h"

namespace qm {

// Takes over the reply file of the host and hands it to the link for the
// terminal it answers. Non-zero when the reply was handed to the link.
int ForwardReply(SiteContext& site, uint8_t hostId);

enum class LogonVerdict { kNone, kAccepted, kRejected };
// Reads the back-end's verdict from TXT/DL.txt: none when the file is missing.
LogonVerdict ReadLogonVerdict(const SiteContext& site);

}  // namespace qm
