#include "app/pos_bridge.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/site_files.h"
#include "platform/app_log.h"
#include "platform/back_end_file.h"
#include "platform/files.h"
#include "service/code_table.h"
#include "service/service.h"
#include "site/station_lookup.h"

namespace qm {
namespace {

// An empty reply still answers the terminal: one blank slot.
constexpr uint32_t kEmptyReplyLength = 20;

void MarkLoggedOn(SiteContext& site, uint8_t hostId, uint8_t dcbId) {
    for (uint32_t i = 0; i < site.stationCount; ++i) {
        if (site.stations[i].hostId != hostId)
            continue;
        uint8_t slot = FindDcbSlot(site, i, dcbId);
        if (slot != 255)
            site.stations[i].dcbState[slot] = 1;
        return;
    }
}

}  // namespace

int ForwardReply(SiteContext& site, uint8_t hostId) {
    if (!site.replyBuffer)
        return 0;
    std::memset(site.replyBuffer.get(), ' ', kReplyBufferSize);
    ReplyResult reply;
    if (!service::ReadReplyFile(hostId, {site.replyBuffer.get(), kReplyBufferSize}, &reply)) {
        LogError("SDKGetRxFile Error", hostId, 0);
        return 0;
    }
    if (reply.code == kCodeLogon && site.replyBuffer[0] == 0x01)
        MarkLoggedOn(site, hostId, reply.dcbId);
    const uint32_t length = reply.length == 0 ? kEmptyReplyLength : reply.length;
    // Sent by the link on a thread of its own: the window goes on with the
    // next notice at once, whatever the terminal does.
    return service::QueueReply(reply.dcbId, hostId, reply.code, {site.replyBuffer.get(), length})
               ? 1
               : 0;
}

LogonVerdict ReadLogonVerdict(const SiteContext& site) {
    FileHandle f = OpenBackEndFile(site.txtDir, "DL.txt");
    if (!f)
        return LogonVerdict::kNone;
    char line[50] = {};
    if (!std::fgets(line, sizeof line, f.get()))
        line[0] = '\0';
    return line[0] == '1' ? LogonVerdict::kAccepted : LogonVerdict::kRejected;
}

}  // namespace qm
