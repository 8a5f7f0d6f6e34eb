// A program of the back-end's kind: it knows only the public header and
// libqmsdk.so, loads the library at run time and drives the service by its
// exported names. It binds its own window socket as the README describes,
// runs the device simulator (qm-devsim) as a child, and takes two terminal
// requests as WM_REQUEST_RECEIVED datagrams whose addresses it reads.
//
//   sdk_client LIBRARY DEVSIM
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "service/qmsdk.h"

extern char** environ;

namespace {

constexpr int kWaitMs = 10000;  // only a broken build waits this long

int Fail(const char* what) {
    std::fprintf(stderr, "sdk_client: %s\n", what);
    return 1;
}

long long NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Waits until fd is readable or the deadline passes.
bool Readable(int fd, long long deadline) {
    for (;;) {
        const long long left = deadline - NowMs();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    return static_cast<bool>(f << text);
}

uint64_t Le(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

struct Notice {
    const _REQUESTRECORD* record;
    const uint8_t* data;
};

int Run(void* lib, const std::string& home, const char* devsim) {
    auto getVersion = reinterpret_cast<decltype(&SDKGetVersion)>(dlsym(lib, "SDKGetVersion"));
    auto init = reinterpret_cast<decltype(&SDKInit)>(dlsym(lib, "SDKInit"));
    auto deInit = reinterpret_cast<decltype(&SDKDeInit)>(dlsym(lib, "SDKDeInit"));
    auto setParam = reinterpret_cast<decltype(&SDKSetParam)>(dlsym(lib, "SDKSetParam"));
    const char* names[] = {
        "SDKInit",      "SDKDeInit",        "SDKSendData",        "SDKSaveTxFile",
        "SDKGetRxFile", "SDKUpdateProcess", "SDKGetUpdateStatus", "SDKTestProcess",
        "SDKSetSMS",    "SDKSetHotelTitle", "SDKSetParam",        "SDKGetVersion"};
    for (const char* name : names)
        if (!dlsym(lib, name))
            return Fail(name);
    // Nothing but the API is exported.
    if (dlsym(lib, "_ZN2qm9StartLinkEjSt4spanIKNS_12StationEntryELm18446744073709551615EE"))
        return Fail("internal symbol exported");
    if (std::strcmp(getVersion(), "1.07") != 0)
        return Fail("version");

    // One station with terminals 5 and 6, each with a request to send when
    // its beacon comes.
    std::filesystem::create_directories(home + "/TXT/Swap");
    std::filesystem::create_directories(home + "/run");
    chmod((home + "/run").c_str(), 0700);
    setenv("QM_HOME", home.c_str(), 1);
    setenv("QM_RUNTIME_DIR", (home + "/run").c_str(), 1);
    if (!WriteText(home + "/TXT/基站.TXT", "1 COM3\r\n") ||
        !WriteText(home + "/TXT/点菜机.TXT", "5 1\r\n6 1\r\n") ||
        !WriteText(home + "/script", "at 0 request 1 5 0x0D hello\nat 0 request 1 6 0x0E world\n"))
        return Fail("cannot write the site");

    int out[2];
    if (pipe(out) != 0)
        return Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string script = home + "/script";
    char* argv[] = {const_cast<char*>(devsim),         const_cast<char*>("--home"),
                    const_cast<char*>(home.c_str()),   const_cast<char*>("--script"),
                    const_cast<char*>(script.c_str()), nullptr};
    pid_t sim = -1;
    const int spawned = posix_spawn(&sim, devsim, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0)
        return Fail("cannot start the device simulator");
    struct SimGuard {
        pid_t pid;
        int fd;
        ~SimGuard() {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            close(fd);
        }
    } guard{sim, out[0]};
    char ready[6] = {};
    if (!Readable(out[0], NowMs() + kWaitMs) || read(out[0], ready, 5) != 5 ||
        std::strcmp(ready, "ready") != 0)
        return Fail("the device simulator did not get ready");

    // The back-end's window: its own socket, as the README describes.
    const uint32_t handle = static_cast<uint32_t>(getpid());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/run/hwnd-%u", home.c_str(), handle);
    const int window = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (window < 0 || bind(window, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return Fail("cannot bind the window socket");

    _DEVINFO station{};
    station.hostId = 1;
    std::memcpy(station.portName, "COM3", 4);
    station.dcbCount = 2;
    station.dcbIds[0] = 5;
    station.dcbIds[1] = 6;
    setParam(5, 300, 100);  // no reply comes: the beacon moves on after 300 ms
    if (init(reinterpret_cast<void*>(uintptr_t{handle}), &station, 1) != 1) {
        close(window);
        return Fail("SDKInit did not start the station");
    }
    std::vector<Notice> notices;
    const long long deadline = NowMs() + kWaitMs;
    while (notices.size() < 2 && Readable(window, deadline)) {
        uint8_t wire[32];
        if (recv(window, wire, sizeof wire, 0) != 24 || Le(wire, 4) != WM_REQUEST_RECEIVED)
            continue;
        notices.push_back({reinterpret_cast<const _REQUESTRECORD*>(Le(wire + 8, 8)),
                           reinterpret_cast<const uint8_t*>(Le(wire + 16, 8))});
    }
    // Both notices are read only now: the first one's record and bytes are
    // still valid after a later notice.
    int rc = notices.size() == 2 ? 0 : Fail("no request notice came");
    bool seen[2] = {false, false};
    for (size_t i = 0; rc == 0 && i < notices.size(); ++i) {
        const _REQUESTRECORD& r = *notices[i].record;
        const int k = r.dcbId - 5;  // terminal 5 sent "hello" as 0x0D, 6 "world" as 0x0E
        if (r.hostId != 1 || k < 0 || k > 1 || seen[k] || r.code != 0x0D + k || r.length != 5 ||
            std::memcmp(notices[i].data, k == 0 ? "hello" : "world", 5) != 0)
            rc = Fail("the request record or bytes are wrong");
        else
            seen[k] = true;
    }
    deInit();
    close(window);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return Fail("usage: sdk_client LIBRARY DEVSIM");
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return Fail(dlerror());
    char tmpl[] = "/tmp/qmsdk-XXXXXX";
    if (!mkdtemp(tmpl))
        return Fail("mkdtemp");
    const int rc = Run(lib, tmpl, argv[2]);
    std::filesystem::remove_all(tmpl);
    dlclose(lib);
    if (rc == 0)
        std::printf("sdk_client: ok\n");
    return rc;
}
