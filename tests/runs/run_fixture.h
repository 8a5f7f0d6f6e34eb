// Download runs and link tests through the exported functions, against the
// simulated terminals.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "service/master_data.h"
#include "service/service.h"
#include "tests/integration/traffic_fixture.h"

namespace qm::test {

class RunFixture : public TrafficFixture {
  protected:
    // Writes master-data file i with the given records, CR LF after each.
    void WriteMasterData(size_t fileIndex, const std::vector<std::string>& records) {
        std::ofstream out(Txt(service::kMasterDataFiles[fileIndex].name), std::ios::binary);
        for (const std::string& r : records) out << r << "\r\n";
    }
    static _DCBSELPARAM Selection(std::initializer_list<size_t> files,
                                  const std::vector<uint8_t>& dcbs, uint8_t station = 0) {
        _DCBSELPARAM s{};
        for (size_t f : files) s.fileFlags[f] = 1;
        s.dcbListCount = static_cast<uint32_t>(dcbs.size());
        s.stationIndex = station;
        std::copy(dcbs.begin(), dcbs.end(), s.dcbList);
        return s;
    }
};

}  // namespace qm::test
