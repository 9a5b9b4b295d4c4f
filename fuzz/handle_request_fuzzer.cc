// The whole request handler on a decoded posted form, over a small SQLite
// database of generated jobs, with every other service faked in memory.
//
// A request may end in the error page (a Failure); anything else it throws
// is a fault. Every mail it sends must go to exactly one recipient: one
// address, no list, without blanks or control characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fake_services.h"
#include "fuzz/fuzz_check.h"
#include "platform/failure.h"
#include "search_page/handle_request.h"

namespace qlok {
namespace {

// Enough jobs for every job type, place and shift to meet some searches,
// and more than one mail or page holds.
constexpr uint64_t kJobs = 300;

std::string* site_home = nullptr;

void RemoveSiteHome() {
  std::error_code ignored;
  std::filesystem::remove_all(*site_home, ignored);
}

// Blanks of every width and the control characters of both ranges.
bool IsBlankOrControl(char16_t c) {
  return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

void CheckRecipient(const std::u16string& recipient) {
  if (recipient.empty()) FuzzFault("a mail without recipient");
  for (char16_t c : recipient) {
    if (IsBlankOrControl(c)) {
      FuzzFault("a recipient with a blank or control character", recipient);
    }
    if (c == u',' || c == u';') {
      FuzzFault("a recipient that lists more than one address", recipient);
    }
  }
}

void Check(const uint8_t* data, size_t size) {
  FakeServices fakes(*site_home);
  RequestServices services = ServicesOf(fakes);
  std::u16string posted = FuzzText(data, size);
  try {
    HandleRequest(posted, services);
  } catch (const Failure&) {
    // The error page.
  }
  for (const RecordingMailSender::Call& offer : fakes.mail.calls) {
    CheckRecipient(offer.recipient);
  }
}

}  // namespace
}  // namespace qlok

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlok::site_home = new std::string(qlok::MakeFuzzSiteHome(qlok::kJobs));
  std::atexit(qlok::RemoveSiteHome);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qlok::Check(data, size);
  return 0;
}
