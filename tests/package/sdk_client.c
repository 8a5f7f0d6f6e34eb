/*
 * A back-end's smallest program, in C, built against the installed header
 * and library only (pkg-config qmsdk): it sets up a one-station site in a
 * fresh folder, runs the device simulator on it, starts the service there
 * with SDKInit, waits for the request a terminal sends and ends the service.
 * Exit status 0 when the station was opened and the request came.
 *
 *   sdk_client DEVSIM
 */
#define _GNU_SOURCE
#include <qm/qmsdk.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kWaitMs = 10000 }; /* only a broken installation waits this long */

static int Fail(const char* what) {
    fprintf(stderr, "sdk_client: %s\n", what);
    return 1;
}

static long long NowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

/* Waits until fd is readable or the deadline passes. */
static int Readable(int fd, long long deadline) {
    for (;;) {
        const long long left = deadline - NowMs();
        if (left <= 0)
            return 0;
        struct pollfd p = {fd, POLLIN, 0};
        const int n = poll(&p, 1, (int)left);
        if (n > 0)
            return 1;
        if (n < 0 && errno != EINTR)
            return 0;
    }
}

static int WriteText(const char* dir, const char* name, const char* text) {
    char path[4096];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= (int)sizeof path)
        return 0;
    FILE* f = fopen(path, "wb");
    if (!f)
        return 0;
    const size_t n = strlen(text);
    const int ok = fwrite(text, 1, n, f) == n;
    return fclose(f) == 0 && ok;
}

static int MakeFolder(const char* dir, const char* name) {
    char path[4096];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= (int)sizeof path)
        return 0;
    return mkdir(path, 0700) == 0;
}

/* Starts the simulator on home with its stdout on a pipe; its pid, or -1. */
static pid_t StartDevsim(const char* devsim, const char* home, int* out) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    char script[4096];
    snprintf(script, sizeof script, "%s/script", home);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* argv[] = {(char*)devsim, "--home", (char*)home, "--script", script, NULL};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, devsim, &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    *out = fds[0];
    return pid;
}

/* Waits for one WM_REQUEST_RECEIVED and checks its record. */
static int AwaitRequest(int window) {
    const long long deadline = NowMs() + kWaitMs;
    while (Readable(window, deadline)) {
        uint8_t wire[32];
        if (recv(window, wire, sizeof wire, 0) != 24)
            continue;
        uint32_t message;
        uint64_t wParam, lParam;
        memcpy(&message, wire, 4);
        memcpy(&wParam, wire + 8, 8);
        memcpy(&lParam, wire + 16, 8);
        if (message != WM_REQUEST_RECEIVED)
            continue;
        const _REQUESTRECORD* r = (const _REQUESTRECORD*)(uintptr_t)wParam;
        const uint8_t* data = (const uint8_t*)(uintptr_t)lParam;
        if (r->hostId != 1 || r->dcbId != 5 || r->code != 0x0D || r->length != 5 ||
            memcmp(data, "hello", 5) != 0)
            return Fail("the request record or bytes are wrong");
        return 0;
    }
    return Fail("no request notice came");
}

static int Run(const char* devsim, const char* home) {
    /* A socket's path has room for 107 bytes: the site lies in /tmp. */
    char run[64];
    if (snprintf(run, sizeof run, "%s/run", home) >= (int)sizeof run)
        return Fail("the site's path is too long");
    if (!MakeFolder(home, "TXT") || !MakeFolder(home, "TXT/Swap") || !MakeFolder(home, "run") ||
        !WriteText(home, "TXT/基站.TXT", "1 COM3\r\n") ||
        !WriteText(home, "TXT/点菜机.TXT", "5 1\r\n") ||
        !WriteText(home, "script", "at 0 request 1 5 0x0D hello\n"))
        return Fail("cannot write the site");
    setenv("QM_HOME", home, 1);
    setenv("QM_RUNTIME_DIR", run, 1);
    if (SDKGetVersion() == NULL || SDKGetVersion()[0] == '\0')
        return Fail("no version");

    int out = -1;
    const pid_t sim = StartDevsim(devsim, home, &out);
    if (sim < 0)
        return Fail("cannot start the device simulator");
    char ready[6] = {0};
    int rc = 0;
    if (!Readable(out, NowMs() + kWaitMs) || read(out, ready, 5) != 5 ||
        strcmp(ready, "ready") != 0)
        rc = Fail("the device simulator did not get ready");

    /* The back-end's window: a socket of its own, named by its handle. */
    const uint32_t handle = (uint32_t)getpid();
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (snprintf(addr.sun_path, sizeof addr.sun_path, "%s/hwnd-%u", run, handle) >=
        (int)sizeof addr.sun_path)
        rc = Fail("the window socket's path is too long");
    const int window = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (rc == 0 && (window < 0 || bind(window, (struct sockaddr*)&addr, sizeof addr) != 0))
        rc = Fail("cannot bind the window socket");

    if (rc == 0) {
        _DEVINFO station;
        memset(&station, 0, sizeof station);
        station.hostId = 1;
        memcpy(station.portName, "COM3", 4);
        station.dcbCount = 1;
        station.dcbIds[0] = 5;
        if (SDKInit((void*)(uintptr_t)handle, &station, 1) != 1) {
            rc = Fail("SDKInit did not open the station");
        } else {
            rc = AwaitRequest(window);
            SDKDeInit();
        }
    }
    if (window >= 0)
        close(window);
    kill(sim, SIGTERM);
    waitpid(sim, NULL, 0);
    close(out);
    return rc;
}

int main(int argc, char** argv) {
    if (argc != 2)
        return Fail("usage: sdk_client DEVSIM");
    char home[] = "/tmp/qmsdk-c-XXXXXX";
    if (!mkdtemp(home))
        return Fail("mkdtemp");
    const int rc = Run(argv[1], home);
    char command[4096];
    snprintf(command, sizeof command, "rm -rf '%s'", home);
    if (system(command) != 0)
        fprintf(stderr, "sdk_client: %s left behind\n", home);
    if (rc == 0)
        printf("sdk_client: ok\n");
    return rc;
}
