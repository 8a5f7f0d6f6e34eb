// The manager's command line: the back-end's window handle in decimal.
#pragma once

#include <cstdint>

namespace qm {

// Leading blanks, then the digits up to the first other character; 0 when
// there is no number (the manager then ends at once, silently). A number
// that is no valid window handle (2^31 or more) also reads as 0.
uint32_t ParseWindowHandle(const char* text);

}  // namespace qm
