// A start that leaves base stations out, or serves none, says so: a line in
// QMLog.txt and, on standard error, what is missing, where and what to do.
// The real program, headless, on sites that each lack one thing.
#include <filesystem>
#include <functional>

#include "platform/named_event.h"
#include "tests/e2e/e2e_fixture.h"

namespace qm::test {
namespace {

class StartMessages : public EndToEnd {
  protected:
    // Starts the manager, lets it finish its start and close; its standard
    // error. The log is read from QMLog.txt afterwards.
    std::string RunManager() {
        std::filesystem::remove("QMLog.txt");
        ChildProcess m;
        if (!m.Start(ManagerPath(), {std::to_string(kWindow)}, home_->path(),
                     ChildProcess::Capture::kOutputAndErrors)) {
            ADD_FAILURE() << "the manager did not start";
            return {};
        }
        EXPECT_TRUE(NextNotice(10000)) << "start-up did not end";
        EXPECT_TRUE(SetNamedEvent("__QM_MUTEXT"));
        EXPECT_TRUE(m.Wait(5000)) << "the manager did not close";
        return m.Stderr();
    }
    // The site of the fixture, put back between cases.
    void WriteSite() {
        std::filesystem::create_directories(*home_ / "TXT/Swap");
        WriteFile(Txt("基站.TXT"), "1 COM3\r\n2 COM4\r\n");
        WriteFile(Txt("点菜机.TXT"), "7 1\r\n8 1\r\n12 2\r\n");
    }
};

TEST_F(StartMessages, EachSiteThatServesNobodySaysWhatIsMissingAndWhere) {
    const std::string home = home_->path();
    const std::string txt = home + "/TXT";
    const struct {
        const char* name;
        std::function<void()> spoil;
        std::vector<std::string> log, advice;
    } cases[] = {
        {"no TXT folder",
         [&] { std::filesystem::remove_all(txt); },
         {"(HostID 255  DCBID 255)TXT Folder Missing: " + txt,
          "(HostID 255  DCBID 255)Program folder " + home + " (QM_HOME); TXT is missing there"},
         {"QM: program folder " + home + " (QM_HOME); TXT is missing there\n",
          "QM: the folder " + txt + " is missing. The POS back-end keeps the site files there",
          "start QM with QM_HOME set to the program folder that holds TXT. No base station is "
          "served.\n"}},
        {"no station file",
         [&] { std::filesystem::remove(Txt("基站.TXT")); },
         {"Station file missing: " + txt + "/基站.TXT"},
         {"QM: the station file " + txt +
          "/基站.TXT is missing. Write into it one line per base station, host id and port name, "
          "such as \"1 COM3\"."}},
        {"an empty station file",
         [&] { WriteFile(Txt("基站.TXT"), ""); },
         {"Station file lists no base station: " + txt + "/基站.TXT"},
         {"QM: the station file " + txt + "/基站.TXT lists no base station QM can start."}},
        {"no terminal file",
         [&] { std::filesystem::remove(Txt("点菜机.TXT")); },
         {"Terminal file missing: " + txt + "/点菜机.TXT"},
         {"QM: the terminal file " + txt +
          "/点菜机.TXT is missing, so no base station has a "
          "terminal."}},
        {"no terminal of a station that can run",
         [&] { WriteFile(Txt("基站.TXT"), "9 COM3\r\n"); },
         {"No base station started: none has a host id of 0 to 8 and a terminal"},
         {"QM: no base station is started: each needs a host id of 0 to 8 in " + txt +
          "/基站.TXT and at least one terminal in " + txt + "/点菜机.TXT"}},
        {"no port that opens",
         [&] {
             WriteFile(Txt("基站.TXT"), "1 COM7\r\n");
             WriteFile(Txt("点菜机.TXT"), "7 1\r\n");
             std::filesystem::create_symlink(home + "/unplugged", home + "/ports/COM7");
         },
         {"(HostID 001  DCBID 255)Cannot open COM7 at " + home + "/ports/COM7: No such file",
          "No base station started: no port could be opened"},
         {"打开COM7失败-2\n", "QM: no base station is started: none of the ports listed in " + txt +
                                  "/基站.TXT could be opened"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSite();
        c.spoil();
        const std::string err = RunManager();
        for (const std::string& line : c.log) EXPECT_EQ(CountLogLines(line), 1) << line;
        for (const std::string& text : c.advice)
            EXPECT_NE(err.find(text), std::string::npos) << text << "\nin:\n" << err;
        std::filesystem::remove(home + "/ports/COM7");
    }
    EXPECT_EQ(sim_->FindStation("COM3")->Counters().portOpens, 0u);
    EXPECT_EQ(sim_->FindStation("COM4")->Counters().portOpens, 0u);

    // The whole site: not a word of any of it, only where it is.
    WriteSite();
    const std::string err = RunManager();
    EXPECT_EQ(err, "QM: program folder " + home + " (QM_HOME)\n");
    EXPECT_EQ(CountLogLines(")Program folder " + home + " (QM_HOME)"), 1);
    for (const char* text : {"Missing", "missing", "lists no", "No base station", "Cannot open"})
        EXPECT_EQ(CountLogLines(text), 0) << text;
}

// A port name longer than the record's six bytes is refused, not cut: cut,
// ttyUSB0 is ttyUSB, here an entry of ports/ that leads to another line.
TEST_F(StartMessages, ALongPortNameIsRefusedAndTheOtherStationsRun) {
    const std::string home = home_->path();
    const std::string txt = home + "/TXT";
    WriteFile(Txt("基站.TXT"), "1 ttyUSB0\r\n2 COM4\r\n");
    std::filesystem::create_symlink(sim_->FindStation("COM3")->SlavePath(), home + "/ports/ttyUSB");
    std::filesystem::remove(home + "/ports/COM3");
    const std::string err = RunManager();
    EXPECT_EQ(CountLogLines("(HostID 001  DCBID 255)Host id 1: port name ttyUSB0 longer than 6 "
                            "bytes, station not started"),
              1);
    EXPECT_NE(err.find("QM: base station 1 in " + txt +
                       "/基站.TXT: the port name \"ttyUSB0\" is longer than 6 bytes, so the "
                       "station is not started. Give it a short name such as COM3 in 基站.TXT "
                       "and link " +
                       home + "/ports/COM3 to the device (ln -s /dev/ttyUSB0 " + home +
                       "/ports/COM3).\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(sim_->FindStation("COM3")->Counters().portOpens, 0u) << "no port for it";
    EXPECT_EQ(sim_->FindStation("COM4")->Counters().portOpens, 1u) << "the other one runs";
    EXPECT_EQ(CountLogLines("No base station started"), 0);
}

}  // namespace
}  // namespace qm::test
