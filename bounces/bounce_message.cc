#include "bounces/bounce_message.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bounces/verp.h"
#include "platform/random_token.h"

namespace qlok {
namespace {

// GObject references, released when they go out of scope.
struct Unref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Header(GMimeObject* object, const char* name) {
  const char* value = g_mime_object_get_header(object, name);
  return value == nullptr ? "" : value;
}

// The header block `text` (fields, no body) parsed as a MIME part.
Ref<GMimeObject> ParseFields(const std::string& text) {
  const std::string whole = text + "\n\n";
  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
      whole.data(), static_cast<gsize>(whole.size())));
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  return Ref<GMimeObject>(g_mime_parser_construct_part(parser.get(), nullptr));
}

// The decoded content of a leaf part.
std::string Content(GMimePart* part) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  if (wrapper == nullptr) return "";
  Ref<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(wrapper, out.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(
      reinterpret_cast<GMimeStreamMem*>(out.get()));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

// The blocks of a delivery-status body: the per-message fields, then one
// block of fields per recipient, separated by empty lines.
std::vector<std::string> Blocks(const std::string& text) {
  std::vector<std::string> blocks;
  std::string block;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (!block.empty()) blocks.push_back(block);
      block.clear();
    } else {
      block += line + "\n";
    }
    start = end + 1;
  }
  if (!block.empty()) blocks.push_back(block);
  return blocks;
}

// "rfc822; taro@example.jp" → "taro@example.jp".
std::string AddressOfTyped(const std::string& value) {
  const size_t semicolon = value.find(';');
  std::string address =
      semicolon == std::string::npos ? value : value.substr(semicolon + 1);
  while (!address.empty() &&
         (address.front() == ' ' || address.front() == '\t')) {
    address.erase(0, 1);
  }
  while (!address.empty() &&
         (address.back() == ' ' || address.back() == '\t')) {
    address.pop_back();
  }
  return address;
}

// The addresses of an address field, as GMime reads them.
std::vector<std::string> Addresses(const std::string& field) {
  std::vector<std::string> out;
  if (field.empty()) return out;
  Ref<InternetAddressList> list(
      internet_address_list_parse(nullptr, field.c_str()));
  if (list == nullptr) return out;
  const int count = internet_address_list_length(list.get());
  for (int i = 0; i < count; ++i) {
    InternetAddress* one = internet_address_list_get_address(list.get(), i);
    if (INTERNET_ADDRESS_IS_MAILBOX(one)) {
      out.push_back(
          internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(one)));
    }
  }
  return out;
}

// The token of a manage link "...?t=TOKEN" or "...&t=TOKEN" in `text`.
std::string TokenOfLink(const std::string& text) {
  for (const char* key : {"?t=", "&t="}) {
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + 1)) {
      const std::string token = Lower(text.substr(at + 3, 32));
      if (IsTokenText(token)) return token;
    }
  }
  return "";
}

struct Parts {
  GMimePart* status = nullptr;      // message/delivery-status
  GMimeObject* returned = nullptr;  // the returned message or its head
};

Parts FindParts(GMimeMultipart* report) {
  Parts parts;
  const int count = g_mime_multipart_get_count(report);
  for (int i = 0; i < count; ++i) {
    GMimeObject* part = g_mime_multipart_get_part(report, i);
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (GMIME_IS_PART(part) &&
        (g_mime_content_type_is_type(type, "message", "delivery-status") ||
         g_mime_content_type_is_type(type, "message",
                                     "global-delivery-status"))) {
      if (parts.status == nullptr) parts.status = GMIME_PART(part);
    } else if (i > 0 && parts.returned == nullptr &&
               (GMIME_IS_MESSAGE_PART(part) ||
                g_mime_content_type_is_type(type, "text", "rfc822-headers"))) {
      parts.returned = part;
    }
  }
  return parts;
}

// The List-Unsubscribe field of the returned message (a message part, or
// the head alone as text/rfc822-headers).
std::string ReturnedUnsubscribe(GMimeObject* returned) {
  if (returned == nullptr) return "";
  if (GMIME_IS_MESSAGE_PART(returned)) {
    GMimeMessage* inner =
        g_mime_message_part_get_message(GMIME_MESSAGE_PART(returned));
    return inner == nullptr ? ""
                            : Header(GMIME_OBJECT(inner), "List-Unsubscribe");
  }
  if (!GMIME_IS_PART(returned)) return "";
  Ref<GMimeObject> head = ParseFields(Content(GMIME_PART(returned)));
  return head == nullptr ? "" : Header(head.get(), "List-Unsubscribe");
}

std::string TokenOf(GMimeObject* message, GMimeObject* returned,
                    std::u16string_view bounce_address) {
  for (const char* field : {"Delivered-To", "X-Original-To", "To"}) {
    for (const std::string& address : Addresses(Header(message, field))) {
      if (std::optional<std::string> token =
              TokenOfVerpAddress(bounce_address, address)) {
        return *token;
      }
    }
  }
  return TokenOfLink(ReturnedUnsubscribe(returned));
}

// Classifies the per-recipient blocks: the first permanent failure, else
// the first transient one, else a notification without failure.
void Classify(const std::vector<std::string>& blocks, BounceReading& reading) {
  bool any_recipient = false;
  std::optional<BounceReading> soft;
  for (size_t i = 1; i < blocks.size(); ++i) {
    Ref<GMimeObject> fields = ParseFields(blocks[i]);
    if (fields == nullptr) continue;
    const std::string status = Header(fields.get(), "Status");
    const std::string action = Lower(Header(fields.get(), "Action"));
    if (status.empty() && action.empty()) continue;
    any_recipient = true;
    const std::string recipient =
        AddressOfTyped(Header(fields.get(), "Final-Recipient"));
    const std::string code = status.substr(0, status.find_first_of(" \t("));
    if (code.rfind("5.", 0) == 0 && action != "delivered" &&
        action != "relayed" && action != "expanded") {
      reading.kind = BounceReading::kHard;
      reading.status = code;
      reading.recipient = recipient;
      return;
    }
    if (!soft && (code.rfind("4.", 0) == 0 || action == "delayed" ||
                  action == "failed")) {
      soft = reading;
      soft->kind = BounceReading::kSoft;
      soft->status = code;
      soft->recipient = recipient;
    }
  }
  if (soft) {
    reading = *soft;
  } else {
    reading.kind =
        any_recipient ? BounceReading::kNoFailure : BounceReading::kMalformed;
  }
}

}  // namespace

BounceReading ReadBounceMessage(std::string_view message,
                                std::u16string_view bounce_address) {
  InitGMime();
  BounceReading reading;
  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
      message.data(), static_cast<gsize>(message.size())));
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  Ref<GMimeMessage> parsed(
      g_mime_parser_construct_message(parser.get(), nullptr));
  GMimeObject* body =
      parsed == nullptr ? nullptr : g_mime_message_get_mime_part(parsed.get());
  if (body == nullptr) {
    reading.kind = BounceReading::kMalformed;
    reading.what = "not a mail message";
    return reading;
  }
  GMimeContentType* type = g_mime_object_get_content_type(body);
  const char* report_type =
      g_mime_content_type_get_parameter(type, "report-type");
  if (!GMIME_IS_MULTIPART(body) ||
      !g_mime_content_type_is_type(type, "multipart", "report") ||
      report_type == nullptr || Lower(report_type) != "delivery-status") {
    reading.kind = BounceReading::kNotABounce;
    reading.what = "no delivery status notification";
    return reading;
  }
  const Parts parts = FindParts(GMIME_MULTIPART(body));
  if (parts.status == nullptr) {
    reading.kind = BounceReading::kMalformed;
    reading.what = "a delivery report without its status part";
    return reading;
  }
  Classify(Blocks(Content(parts.status)), reading);
  if (reading.kind == BounceReading::kMalformed) {
    reading.what = "a delivery report without a recipient's status";
    return reading;
  }
  reading.token =
      TokenOf(GMIME_OBJECT(parsed.get()), parts.returned, bounce_address);
  reading.what = "status " + (reading.status.empty() ? "-" : reading.status) +
                 " for " +
                 (reading.recipient.empty() ? "?" : reading.recipient);
  return reading;
}

}  // namespace qlok
