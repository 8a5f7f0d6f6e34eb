#include "platform/app_log.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace qm {
namespace {

std::atomic<uint32_t> g_debugLevel{kDefaultDebugLevel};
std::mutex g_logLock;

}  // namespace

uint32_t DebugLevel() {
    return g_debugLevel.load(std::memory_order_relaxed);
}

void SetDebugLevel(uint32_t level) {
    g_debugLevel.store(level, std::memory_order_relaxed);
}

int FormatAppLogLine(char* out, size_t size, const tm& local, const char* text, uint32_t hostNumber,
                     uint32_t dcbNumber) {
    return std::snprintf(out, size, "[QMAPP] %.2d-%.2d %.2d:%.2d:%.2d (HostID %.3u  DCBID %.3u)%s",
                         local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                         hostNumber & 0xFFu, dcbNumber & 0xFFu, text ? text : "");
}

void AppLog(const char* text, uint32_t hostNumber, uint32_t dcbNumber) {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    std::string line(64 + (text ? std::char_traits<char>::length(text) : 0), '\0');
    int n = FormatAppLogLine(line.data(), line.size(), local, text, hostNumber, dcbNumber);
    if (n < 0)
        return;
    line.resize(static_cast<size_t>(n));
    line += "\r\n";

    std::lock_guard<std::mutex> hold(g_logLock);
    FILE* f = std::fopen("QMLog.txt", "ab");
    if (!f)
        return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
}

}  // namespace qm
