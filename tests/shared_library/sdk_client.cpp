// A program of the back-end's kind: it knows only the public header and
// libqmsdk.so, loads the library at run time and drives the service by its
// exported names.
#include <dlfcn.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "service/qmsdk.h"

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "sdk_client: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: sdk_client LIBRARY");
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) return Fail(dlerror());

    auto getVersion = reinterpret_cast<decltype(&SDKGetVersion)>(dlsym(lib, "SDKGetVersion"));
    auto init = reinterpret_cast<decltype(&SDKInit)>(dlsym(lib, "SDKInit"));
    auto deInit = reinterpret_cast<decltype(&SDKDeInit)>(dlsym(lib, "SDKDeInit"));
    const char* names[] = {"SDKInit",          "SDKDeInit",        "SDKSendData",
                           "SDKSaveTxFile",    "SDKGetRxFile",     "SDKUpdateProcess",
                           "SDKGetUpdateStatus", "SDKTestProcess", "SDKSetSMS",
                           "SDKSetHotelTitle", "SDKSetParam",      "SDKGetVersion"};
    for (const char* name : names)
        if (!dlsym(lib, name)) return Fail(name);
    // Nothing but the API is exported.
    if (dlsym(lib, "_ZN2qm9StartLinkEjPK8_DEVINFOj")) return Fail("internal symbol exported");
    if (std::strcmp(getVersion(), "1.07") != 0) return Fail("version");

    // A program folder with one station on a pseudo-terminal.
    char tmpl[] = "/tmp/qmsdk-XXXXXX";
    if (!mkdtemp(tmpl)) return Fail("mkdtemp");
    const std::string home = tmpl;
    std::filesystem::create_directories(home + "/ports");
    std::filesystem::create_directories(home + "/TXT/Swap");
    std::filesystem::create_directories(home + "/run");
    chmod((home + "/run").c_str(), 0700);
    setenv("QM_HOME", home.c_str(), 1);
    setenv("QM_RUNTIME_DIR", (home + "/run").c_str(), 1);
    int master = -1, slave = -1;
    char path[128];
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) return Fail("openpty");
    std::filesystem::create_symlink(path, home + "/ports/COM3");

    _DEVINFO station{};
    station.hostId = 1;
    std::memcpy(station.portName, "COM3", 4);
    station.dcbCount = 1;
    station.dcbIds[0] = 5;
    void* window = reinterpret_cast<void*>(uintptr_t{9});
    int started = init(window, &station, 1);
    deInit();
    int rc = started == 1 ? 0 : Fail("SDKInit did not start the station");
    close(master);
    close(slave);
    std::filesystem::remove_all(home);
    dlclose(lib);
    if (rc == 0) std::printf("sdk_client: ok\n");
    return rc;
}
