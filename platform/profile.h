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
#include <optional>
#include <string>
#include <string_view>

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

// Reads section/key as the text of its value, without the blanks around it,
// for a reader that must tell "0" from "abc". nullopt for a missing file,
// section or key; a key without a value gives "".
std::optional<std::string> ReadProfileText(const std::string& iniPath, const char* section,
                                           const char* key);

// The decimal number that text begins with, held at 4294967295, as
// ReadProfileInt reads a value. *digits, when asked for, is how many digits
// it took: 0 when text does not begin with one.
uint32_t LeadingDecimal(std::string_view text, size_t* digits = nullptr);

}  // namespace qm
