// The datagram receiver of a window on arbitrary datagrams. The input is
// decoded as it is, and also sent as one datagram to a live window of this
// process, followed by a well-formed marker: the window must take the input
// as exactly the message it decodes to when it has the wire size, drop it
// otherwise, and go on to the marker either way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include "fuzz/fuzz_check.h"
#include "platform/app_log.h"
#include "platform/local_socket.h"
#include "platform/window_message.h"

namespace {

using namespace qm;

constexpr uint32_t kMarker = 0x7FFE;
constexpr uint32_t kWaitMs = 5000;  // only a broken receiver takes this long

bool SameMessage(const WindowMessage& a, const WindowMessage& b) {
    return a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam && !a.payload &&
           !b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchDir scratch;
    static const WindowHandle handle = 4200000 + static_cast<WindowHandle>(::getpid() % 100000);
    static const std::unique_ptr<MessageWindow> window = [] {
        SetDebugLevel(0);  // dropped datagrams are logged: keep QMLog.txt out of the run
        ::setenv("QM_RUNTIME_DIR", (scratch.path() / "run").c_str(), 1);
        int err = 0;
        auto w = MessageWindow::Create(handle, &err);
        QM_FUZZ_CHECK(w != nullptr);
        return w;
    }();
    static uint64_t markers = 0;

    WindowMessage decoded;
    decoded.payload = std::make_shared<int>(0);
    const bool ok = DecodeWindowMessage(data, size, &decoded);
    QM_FUZZ_CHECK(ok == (size == kWindowWireSize));
    if (ok) {
        QM_FUZZ_CHECK(!decoded.payload);
        uint8_t again[kWindowWireSize];
        EncodeWindowMessage(decoded.message, decoded.wParam, decoded.lParam, again);
        // Everything but the unused field comes back the same.
        QM_FUZZ_CHECK(std::memcmp(again, data, 4) == 0 &&
                      std::memcmp(again + 8, data + 8, 16) == 0);
        QM_FUZZ_CHECK(again[4] == 0 && again[5] == 0 && again[6] == 0 && again[7] == 0);
    }

    const std::string socket = "hwnd-" + std::to_string(handle);
    QM_FUZZ_CHECK(SendToRuntimeSocket(socket, data, size) == 0);
    uint8_t marker[kWindowWireSize];
    EncodeWindowMessage(kMarker, ++markers, -1, marker);
    QM_FUZZ_CHECK(SendToRuntimeSocket(socket, marker, sizeof marker) == 0);

    WindowMessage got;
    QM_FUZZ_CHECK(window->GetMessage(&got, kWaitMs));
    if (ok) {
        QM_FUZZ_CHECK(SameMessage(got, decoded));
        QM_FUZZ_CHECK(window->GetMessage(&got, kWaitMs));
    }
    QM_FUZZ_CHECK(got.message == kMarker && got.wParam == markers && got.lParam == -1);
    QM_FUZZ_CHECK(window->Pending() == 0);
    return 0;
}
