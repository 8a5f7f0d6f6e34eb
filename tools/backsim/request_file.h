// The request file T<host id>.txt as the manager writes it for the back-end.
//
//   KT   007<CR><LF>                      header: code name (4), blank, DCB id (3)
//   0012 04 00001 0000009 00000001<CR><LF>  body: the request's fields, one
//                                          line per record (several for an order)
//
// The code name is padded with blanks to four characters; "UNKN" names a
// request whose code the manager does not know, and such a file has no body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::backsim {

inline constexpr size_t kCodeNameWidth = 4;
inline constexpr std::string_view kUnknownCode = "UNKN";
inline constexpr std::string_view kTerminalLogonCode = "DL  ";

struct RequestFile {
    std::string code;  // the four characters of the header, as written
    uint8_t dcbId = 0;
    std::vector<std::string> lines;  // body lines without their ends, GBK
};

// Reads a request file's bytes. nullopt when the header is not a four
// character name, one blank and three decimal digits up to 255.
std::optional<RequestFile> ParseRequestFile(std::string_view bytes);

// The header's code name in the form the tables use: trailing blanks
// dropped, ASCII letters upper-cased, padded with blanks to four characters.
// Empty when the name is empty or longer than four characters.
std::string NormaliseCodeName(std::string_view name);

}  // namespace qm::backsim
