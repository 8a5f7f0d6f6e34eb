#include "link/link_params.h"

#include <mutex>

namespace qm {
namespace {

std::mutex g_titleLock;
std::array<uint8_t, kTitleSize> g_title{};

}  // namespace

LinkParams& Params() {
    static LinkParams params;
    return params;
}

void SetVenueTitle(const std::array<uint8_t, kTitleSize>& title) {
    std::lock_guard<std::mutex> hold(g_titleLock);
    g_title = title;
}

std::array<uint8_t, kTitleSize> VenueTitle() {
    std::lock_guard<std::mutex> hold(g_titleLock);
    return g_title;
}

}  // namespace qm
