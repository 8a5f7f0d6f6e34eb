// Transaction codes: the number a terminal sends as its command byte, the
// four-character name the request and reply files carry, and the converter
// that turns a request record into the request file's text lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qm {

inline constexpr size_t kCodeCount = 255;         // numbers 0..254
inline constexpr uint8_t kCodeClock = 5;          // "KJ  "
inline constexpr uint8_t kCodeRecordBlock = 18;   // "DC  "
inline constexpr uint8_t kCodeShortMessage = 28;  // "DX  "
inline constexpr uint8_t kCodeLogon = 29;         // "DL  "

// "KT  " for 13; nullptr for a number without a code.
const char* CodeName(uint8_t code);
// Whether the code has a converter.
bool HasConverter(uint8_t code);
// The field widths the generic converter splits the code's record by; empty
// for a code without them (no converter, or codes 18 and 28 with their own).
std::span<const uint8_t> CodeFieldWidths(uint8_t code);
// Appends the request file's body lines for the code's record to out;
// false when the code has no converter or its converter refuses the data.
bool ConvertRequest(uint8_t code, std::span<const uint8_t> data, std::string* out);
// The first number whose name equals the four characters ignoring case,
// 255 when none does.
uint8_t FindCodeByName(const char* fourChars);

// The generic converter: fields of the given widths, separated by single
// spaces, no padding, one line ended by CR LF. Refuses data holding 0x00 or
// 0xFF (a terminal never sends them inside a record).
bool SplitFields(std::span<const uint8_t> data, std::span<const uint8_t> widths, std::string* out);
// Code 18: one 55-byte line per 40-byte block of the order.
bool ConvertRecordBlocks(std::span<const uint8_t> data, std::string* out);
// Code 28: a 4-byte message reference, or the fields 3 and 20.
bool ConvertShortMessage(std::span<const uint8_t> data, std::string* out);

}  // namespace qm
