#include "platform/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace qm {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

}  // namespace

TextConverter::TextConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}

TextConverter::~TextConverter() {
    if (Valid())
        iconv_close(cd_);
}

bool TextConverter::Valid() const {
    return cd_ != kNoConverter;
}

bool TextConverter::Convert(const char** in, size_t* inLeft, char** out, size_t* outLeft) {
    // iconv's signature takes char**; the input is never written.
    return iconv(cd_, const_cast<char**>(in), inLeft, out, outLeft) != static_cast<size_t>(-1);
}

void TextConverter::Reset() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
}

bool Utf8ToGbk(std::string_view utf8, std::string* out) {
    // One converter per call: converters are not shared between threads.
    TextConverter conv("GBK", "UTF-8");
    if (!conv.Valid() || !out)
        return false;

    // A GBK character never takes more bytes than its UTF-8 form (one for
    // ASCII, two for the rest), so one pass normally suffices; the buffer
    // still grows on E2BIG rather than trusting that.
    std::string result(utf8.size() + 4, '\0');
    const char* in = utf8.data();
    size_t inLeft = utf8.size();
    size_t used = 0;
    for (;;) {
        char* dst = result.data() + used;
        size_t dstLeft = result.size() - used;
        const bool taken = conv.Convert(&in, &inLeft, &dst, &dstLeft);
        used = result.size() - dstLeft;
        if (taken)
            break;  // all input taken
        if (errno != E2BIG)
            return false;  // EILSEQ or EINVAL: bad or cut-off input
        result.resize(result.size() * 2);
    }
    result.resize(used);
    *out = std::move(result);
    return true;
}

size_t GbkByteCount(std::string_view utf8) {
    std::string gbk;
    return Utf8ToGbk(utf8, &gbk) ? gbk.size() : kNotGbk;
}

}  // namespace qm
