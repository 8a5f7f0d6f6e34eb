// qm-post: posts a window message or sets a named event from the shell, so
// that a back-end in any language (or a test script) can talk to the manager
// the way the README's integrator section describes.
//
//   qm-post HANDLE MESSAGE WPARAM LPARAM
//   qm-post --set-event NAME
//   qm-post --help | --version
//
// Options for the tests, which need a second process that owns a window or
// waits on an event (listed last in --help):
//   qm-post --listen HANDLE COUNT [TIMEOUT_MS]
//       creates the window, prints "ready", then one line
//       "MESSAGE WPARAM LPARAM" per message; ends after COUNT messages.
//   qm-post --wait-event NAME [TIMEOUT_MS]
//       binds the named event (waiting while a live owner holds it), prints
//       "ready", and prints "set" when it is set.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/version.h"
#include "platform/window_message.h"

namespace {

constexpr uint32_t kDefaultListenMs = 10000;

void Usage(FILE* to) {
    std::fputs(
        "usage: qm-post HANDLE MESSAGE WPARAM LPARAM\n"
        "       qm-post --set-event NAME\n"
        "       qm-post --help | --version\n"
        "\n"
        "Posts one window message to the window HANDLE (a positive number below\n"
        "2^31), or sets the named event NAME, in the runtime folder of the QM\n"
        "manager ($QM_RUNTIME_DIR, else $XDG_RUNTIME_DIR/qm, else /tmp/qm-<uid>).\n"
        "Numbers are decimal, or hexadecimal with 0x; LPARAM may be negative.\n"
        "The post never waits for the window. Exit status 0 when the message was\n"
        "delivered to the window's queue (or the event to its waiter), 1 otherwise.\n"
        "\n"
        "Messages of the manager: 1280 WM_POS_NOTICE, 1536 WM_REQUEST_RECEIVED,\n"
        "1025 WM_TRAY_NOTIFY. Example: qm-post 4242 1280 0 3 tells the manager\n"
        "with window 4242 that R3.txt is ready; qm-post --set-event __QM_MUTEXT\n"
        "closes the running manager.\n"
        "\n"
        "For tests, a window or an event waiter of its own, which prints \"ready\" once\n"
        "it is there and ends with status 1 when the next message, or the set, does\n"
        "not come within TIMEOUT_MS (default 10000):\n"
        "  --listen HANDLE COUNT [TIMEOUT_MS]   print COUNT messages, one line\n"
        "                                       \"MESSAGE WPARAM LPARAM\" each\n"
        "  --wait-event NAME [TIMEOUT_MS]       print \"set\" once NAME is set\n",
        to);
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "qm-post: %s\n", reason.c_str());
    return 1;
}

// Whole-string numbers only: "12x" or "" is an error, not 12 or 0. Decimal
// unless prefixed 0x, so that "010" is ten as a shell user expects.
bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out) {
    if (!text)
        return false;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    // strtoull would take blanks and a sign; a number here starts with a digit.
    const unsigned char first = static_cast<unsigned char>(*text);
    if (base == 10 ? !std::isdigit(first) : !std::isxdigit(first))
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, base);
    if (errno != 0 || *end != '\0' || value > max)
        return false;
    *out = value;
    return true;
}

bool ParseSigned(const char* text, int64_t* out) {
    if (!text || !*text)
        return false;
    const bool negative = text[0] == '-';
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (!ParseUnsigned(negative ? text + 1 : text, limit, &magnitude))
        return false;
    // Two's complement: -(2^63) comes out right through the unsigned negation.
    *out = negative ? static_cast<int64_t>(~magnitude + 1) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseHandle(const char* text, qm::WindowHandle* out) {
    uint64_t value = 0;
    if (!ParseUnsigned(text, 0x7FFFFFFFu, &value) || value == 0)
        return false;
    *out = static_cast<qm::WindowHandle>(value);
    return true;
}

bool ParseTimeout(int argc, char** argv, int index, uint32_t* out) {
    *out = kDefaultListenMs;
    if (argc <= index)
        return true;
    uint64_t value = 0;
    if (!ParseUnsigned(argv[index], 0xFFFFFFFEu, &value))
        return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

int Post(char** argv) {
    qm::WindowHandle handle = 0;
    uint64_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
    if (!ParseHandle(argv[1], &handle))
        return Fail("bad window handle: " + std::string(argv[1]));
    if (!ParseUnsigned(argv[2], 0xFFFFFFFFu, &message)) {
        return Fail("bad message number: " + std::string(argv[2]));
    }
    if (!ParseUnsigned(argv[3], UINT64_MAX, &wParam)) {
        return Fail("bad WPARAM: " + std::string(argv[3]));
    }
    if (!ParseSigned(argv[4], &lParam))
        return Fail("bad LPARAM: " + std::string(argv[4]));

    if (qm::PostMessage(handle, static_cast<uint32_t>(message), wParam, lParam))
        return 0;
    const int e = errno;
    if (e == ENOENT || e == ECONNREFUSED)
        return Fail("no window " + std::to_string(handle));
    if (e == EAGAIN)
        return Fail("the queue of window " + std::to_string(handle) + " is full");
    return Fail("cannot post to window " + std::to_string(handle) + ": " + std::strerror(e));
}

int SetEvent(const char* name) {
    if (!qm::ValidEventName(name))
        return Fail("bad event name: " + std::string(name));
    if (qm::SetNamedEvent(name))
        return 0;
    const int e = errno;
    if (e == ENOENT || e == ECONNREFUSED) {
        return Fail(std::string("nobody waits for event ") + name + "; the set is lost");
    }
    return Fail(std::string("cannot set event ") + name + ": " + std::strerror(e));
}

int Listen(int argc, char** argv) {
    qm::WindowHandle handle = 0;
    uint64_t count = 0;
    uint32_t timeoutMs = 0;
    if (argc < 4 || !ParseHandle(argv[2], &handle) || !ParseUnsigned(argv[3], UINT32_MAX, &count) ||
        !ParseTimeout(argc, argv, 4, &timeoutMs)) {
        return Fail("usage: qm-post --listen HANDLE COUNT [TIMEOUT_MS]");
    }
    int err = 0;
    auto window = qm::MessageWindow::Create(handle, &err);
    if (!window)
        return Fail("cannot create window " + std::to_string(handle) + ": " + std::strerror(err));
    std::printf("ready\n");
    std::fflush(stdout);
    for (uint64_t i = 0; i < count; ++i) {
        qm::WindowMessage msg;
        if (!window->GetMessage(&msg, timeoutMs))
            return Fail("no message in time");
        std::printf("%" PRIu32 " %" PRIu64 " %" PRId64 "\n", msg.message, msg.wParam, msg.lParam);
        std::fflush(stdout);
    }
    return 0;
}

int WaitEvent(int argc, char** argv) {
    uint32_t timeoutMs = 0;
    if (argc < 3 || !ParseTimeout(argc, argv, 3, &timeoutMs)) {
        return Fail("usage: qm-post --wait-event NAME [TIMEOUT_MS]");
    }
    const qm::Event never(qm::Event::Mode::kManualReset, false);
    int err = 0;
    auto listener = qm::NamedEventListener::Create(argv[2], never, &err);
    if (!listener)
        return Fail(std::string("cannot wait for event ") + argv[2] + ": " + std::strerror(err));
    std::printf("ready\n");
    std::fflush(stdout);
    if (!listener->Wait(timeoutMs))
        return Fail("event not set in time");
    std::printf("set\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qm-post %s\n", qm::kVersion);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--listen") == 0)
        return Listen(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--wait-event") == 0)
        return WaitEvent(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--set-event") == 0)
        return SetEvent(argv[2]);
    if (argc == 5)
        return Post(argv);
    return Fail("expected HANDLE MESSAGE WPARAM LPARAM or --set-event NAME (see --help)");
}
