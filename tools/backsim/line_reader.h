// Cuts a byte stream (the simulator's standard input) into command lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::backsim {

class LineReader {
  public:
    // A line longer than this is dropped whole, with one complaint: no
    // command comes near it, and a stream without line ends must not grow
    // without bound.
    static constexpr size_t kMaxLine = 4096;

    // Takes bytes; returns the lines they completed, without CR LF or LF.
    // *dropped (when given) counts the overlong lines thrown away.
    std::vector<std::string> Feed(std::string_view bytes, size_t* dropped = nullptr);
    // At end of input: the last line if it had no line end.
    std::vector<std::string> Finish();

  private:
    std::string partial_;
    bool skipping_ = false;  // inside an overlong line, until its end
};

}  // namespace qm::backsim
