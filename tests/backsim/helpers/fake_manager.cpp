// qm-fake-manager: a stand-in for the manager in the back-end simulator's
// process tests. Started by qm-backsim as "qm-fake-manager <handle>", it plays
// the manager's side of the contract once and reports on standard output,
// one line each, prefixed "fake: ":
//
//   home                  its QM_HOME
//   R1 ok|bad ...         a request KT from DCB 007 (T1.txt, notice 1): the
//                         reply R1.txt must be there, headed "KT   007", when
//                         notice 1 comes back
//   R2 ok|bad ...         a terminal logon DL from DCB 007 (T2.txt)
//   DL <first line>       an operator logon (DL.txt, notice 10)
//   data-ready            notice 11 answered
//   done                  then every further notice: "notice <n>" (for 0
//                         also "DX <hex of DX.txt>", and DX.txt is deleted as
//                         the manager does), until the close event:
//   closing               and the exit status from $QM_FAKE_EXIT (default 0)
//
// Every wait is bounded; a lost notice ends it with 4.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/event.h"
#include "platform/files.h"
#include "platform/named_event.h"
#include "platform/window_message.h"
#include "service/qmsdk.h"

namespace {

constexpr uint32_t kNoticeWaitMs = 5000;
constexpr uint32_t kIdleWaitMs = 20000;
constexpr int kLostNotice = 4;

qm::WindowHandle g_backEnd = 0;
std::string g_txt;

void Say(const std::string& text) {
    std::printf("fake: %s\n", text.c_str());
    std::fflush(stdout);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

void Post(int64_t code) {
    qm::PostMessage(g_backEnd, WM_POS_NOTICE, 0, code);
}

// A notice that is not the one awaited, handled as the manager would.
void Other(int64_t code) {
    Say("notice " + std::to_string(code));
    if (code == QM_NOTICE_SHORT_MESSAGE) {
        const std::string path = g_txt + "/DX.txt";
        Say("DX " + Hex(ReadAll(path)));
        ::unlink(path.c_str());
    }
}

bool AwaitNotice(qm::MessageWindow& window, int64_t code) {
    qm::WindowMessage message;
    while (window.GetMessage(&message, kNoticeWaitMs)) {
        if (message.message == WM_POS_NOTICE && message.lParam == code) {
            return true;
        }
        Other(message.lParam);
    }
    Say("lost notice " + std::to_string(code));
    return false;
}

bool Exchange(qm::MessageWindow& window, int host, const std::string& header,
              const std::string& body) {
    const std::string name = std::to_string(host) + ".txt";
    WriteAll(g_txt + "/T" + name, header + "\r\n" + body);
    Post(host);
    if (!AwaitNotice(window, host)) {
        return false;
    }
    const std::string reply = ReadAll(g_txt + "/R" + name);
    Say("R" + std::to_string(host) + (FirstLine(reply) == header ? " ok " : " bad ") +
        FirstLine(reply));
    return true;
}

int ExitStatusOnClose() {
    const char* text = std::getenv("QM_FAKE_EXIT");
    return text ? std::atoi(text) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::atol(argv[1]) <= 0) {
        return 9;
    }
    g_backEnd = static_cast<qm::WindowHandle>(std::atol(argv[1]));
    const std::string home = qm::ProgramDir();
    g_txt = home + "/TXT";
    Say("home " + home);

    int err = 0;
    const auto window = qm::MessageWindow::Create(static_cast<qm::WindowHandle>(::getpid()), &err);
    const qm::Event never(qm::Event::Mode::kManualReset, false);
    const auto closeEvent = qm::NamedEventListener::Create("__QM_MUTEXT", never, &err);
    if (!window || !closeEvent) {
        Say("cannot create window or event");
        return 8;
    }
    Post(window->Handle());

    if (!Exchange(*window, 1, "KT   007", "0012 04 00001 0000009 00000001\r\n") ||
        !Exchange(*window, 2, "DL   007", "zhang      1234 00000001\r\n")) {
        return kLostNotice;
    }
    WriteAll(g_txt + "/DL.txt", "  li 8888\r\n");
    Post(QM_NOTICE_LOGON);
    if (!AwaitNotice(*window, QM_NOTICE_LOGON)) {
        return kLostNotice;
    }
    Say("DL " + FirstLine(ReadAll(g_txt + "/DL.txt")));
    Post(QM_NOTICE_DATA_READY);
    if (!AwaitNotice(*window, QM_NOTICE_DATA_READY)) {
        return kLostNotice;
    }
    Say("data-ready");
    Say("done");

    for (;;) {
        const int ready = qm::WaitAny({closeEvent.get(), &window->QueueReady()}, kIdleWaitMs);
        if (ready == 0) {
            Say("closing");
            return ExitStatusOnClose();
        }
        if (ready != 1) {
            Say("idle too long");
            return kLostNotice;
        }
        qm::WindowMessage message;
        while (window->PeekMessage(&message)) {
            Other(message.lParam);
        }
    }
}
