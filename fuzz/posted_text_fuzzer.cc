// Posted bytes to decoded text: the body as the CGI frame reads it from a
// pipe that delivers it in pieces, URL decoding with its code page pairs,
// and the code page conversions of the page and of raw bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/cgi_main.h"
#include "frame/url_decode.h"
#include "fuzz/fuzz_check.h"
#include "platform/code_page.h"
#include "platform/failure.h"

namespace qlok {
namespace {

// The input in pieces of one to seven bytes, as a pipe may deliver it.
class PieceByPiece : public ByteSource {
 public:
  PieceByPiece(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(char* buffer, size_t size) override {
    size_t n = std::min({size, size_ - at_, size_t{1} + at_ % 7});
    std::copy(data_ + at_, data_ + at_ + n, buffer);
    at_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Check(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kMaxContentLength)) return;
  PieceByPiece input(data, size);
  const std::u16string posted = ReadPostBody(input, static_cast<int32_t>(size));
  if (posted.size() != size) FuzzFault("the body lost or gained bytes");
  for (size_t i = 0; i < size; ++i) {
    const char16_t expected = data[i] < 0x80 ? data[i] : u'.';
    if (posted[i] != expected) FuzzFault("a body byte was misread", posted);
  }

  std::u16string decoded;
  try {
    decoded = UrlDecode(posted);
  } catch (const Failure&) {
    return;  // a broken escape: the error page
  }
  if (posted.find_first_of(u"+%") == std::u16string::npos &&
      decoded != posted) {
    FuzzFault("a text without escapes changed in decoding", posted);
  }
  // Every escape is longer than what it decodes to.
  if (decoded.size() > posted.size()) {
    FuzzFault("decoding made the text longer", posted);
  }
  // The page leaves the process in the code page; raw bytes come back.
  ToAnsi(decoded);
  FromAnsi(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace
}  // namespace qlok

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qlok::Check(data, size);
  return 0;
}
