#include "platform/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace qm {
namespace {

// One converter per call: an iconv descriptor keeps shift state and must not
// be shared between threads.
class Converter {
  public:
    Converter() : cd_(iconv_open("GBK", "UTF-8")) {}
    ~Converter() {
        if (Valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return cd_; }

  private:
    iconv_t cd_;
};

}  // namespace

bool Utf8ToGbk(std::string_view utf8, std::string* out) {
    Converter conv;
    if (!conv.Valid() || !out)
        return false;

    // A GBK character never takes more bytes than its UTF-8 form (one for
    // ASCII, two for the rest), so one pass normally suffices; the buffer
    // still grows on E2BIG rather than trusting that.
    std::string result(utf8.size() + 4, '\0');
    char* in = const_cast<char*>(utf8.data());  // iconv's signature; never written
    size_t inLeft = utf8.size();
    size_t used = 0;
    for (;;) {
        char* dst = result.data() + used;
        size_t dstLeft = result.size() - used;
        size_t r = iconv(conv.Get(), &in, &inLeft, &dst, &dstLeft);
        used = result.size() - dstLeft;
        if (r != static_cast<size_t>(-1))
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
