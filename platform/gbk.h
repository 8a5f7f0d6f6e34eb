// GBK, the byte encoding of the terminals and the back-end's files.
//
// File contents pass through as bytes and are never recoded; only typed text
// whose byte count matters on the wire (the operator's name and password of
// the logon dialog) is converted, because the program's own texts are UTF-8
// while the terminals count GBK bytes. The conversion is glibc's iconv, whose
// GBK module ships with the C library's gconv modules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// One conversion from one encoding to another (iconv names). Used by one
// thread at a time: it keeps shift state between calls.
class TextConverter {
  public:
    TextConverter(const char* to, const char* from);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // False when the system has no such conversion.
    bool Valid() const;
    // Converts from *in, advancing both it and *out as iconv does; false
    // with errno (E2BIG: out is full, EILSEQ or EINVAL: bad or cut-off
    // input) when not all of the input was taken.
    bool Convert(const char** in, size_t* inLeft, char** out, size_t* outLeft);
    // Forgets the shift state, to start over after bad input.
    void Reset();

  private:
    void* cd_;
};

// GbkByteCount's answer for text that has no GBK form.
inline constexpr size_t kNotGbk = static_cast<size_t>(-1);

// Converts UTF-8 text to GBK. False, with *out untouched, when the text is
// not valid UTF-8, holds a character that GBK lacks, or the converter is
// missing.
bool Utf8ToGbk(std::string_view utf8, std::string* out);

// The length of the text in GBK bytes, or kNotGbk when it cannot be
// converted (so a "longer than the limit" test refuses it).
size_t GbkByteCount(std::string_view utf8);

}  // namespace qm
