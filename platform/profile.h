// Integers from an initialisation file such as QM.ini.
//
// The file is lines of "[SECTION]" headers and "key=value" entries below
// them; lines starting with ';' are comments, other lines are ignored. Line
// ends may be LF or CR LF, and a UTF-8 byte-order mark at the start is
// skipped. Section and key names are compared ignoring ASCII letter case;
// blanks around names and values do not count. When a section or a key
// appears more than once, the first entry found from the top wins.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// Files longer than this are read only this far: a configuration file is a
// few hundred bytes, and a runaway file must not take the memory with it.
inline constexpr size_t kProfileMaxBytes = 1u << 20;

// Reads section/key as an unsigned number.
//  - Missing file, section or key, or an empty value: defaultValue.
//  - Otherwise the decimal digits the value begins with ("12x" is 12); a
//    value that does not begin with a digit is 0 ("abc", "-1", "0x10" -> 0).
//  - A number beyond 4294967295 reads as 4294967295.
uint32_t ReadProfileInt(const std::string& iniPath, const char* section, const char* key,
                        uint32_t defaultValue);

}  // namespace qm
