#include "platform/smtp_mail_sender.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "text/unicode.h"

namespace qlok {
namespace {

// libcurl's entry points, looked up when the first attempt is made, so
// that a request that sends no mail does not map the library at all.
struct CurlLibrary {
  CURLcode (*global_init)(long flags) = nullptr;
  CURL* (*easy_init)() = nullptr;
  CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...) = nullptr;
  CURLcode (*easy_perform)(CURL* curl) = nullptr;
  void (*easy_cleanup)(CURL* curl) = nullptr;
  const char* (*easy_strerror)(CURLcode code) = nullptr;
  curl_slist* (*slist_append)(curl_slist* list, const char* text) = nullptr;
  void (*slist_free_all)(curl_slist* list) = nullptr;
  std::string error;  // why it is unusable; empty when it is loaded
};

template <typename Function>
void Look(void* library, const char* name, Function& function,
          std::string& error) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function == nullptr && error.empty()) {
    error = std::string("libcurl has no ") + name;
  }
}

// Loaded once per process and kept until it ends.
const CurlLibrary& Curl() {
  static const CurlLibrary library = [] {
    CurlLibrary curl;
    void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      curl.error = std::string("libcurl cannot be loaded: ") +
                   (why != nullptr ? why : "libcurl.so.4");
      return curl;
    }
    Look(handle, "curl_global_init", curl.global_init, curl.error);
    Look(handle, "curl_easy_init", curl.easy_init, curl.error);
    Look(handle, "curl_easy_setopt", curl.easy_setopt, curl.error);
    Look(handle, "curl_easy_perform", curl.easy_perform, curl.error);
    Look(handle, "curl_easy_cleanup", curl.easy_cleanup, curl.error);
    Look(handle, "curl_easy_strerror", curl.easy_strerror, curl.error);
    Look(handle, "curl_slist_append", curl.slist_append, curl.error);
    Look(handle, "curl_slist_free_all", curl.slist_free_all, curl.error);
    if (curl.error.empty() &&
        curl.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      curl.error = "libcurl could not be initialised";
    }
    return curl;
  }();
  return library;
}

bool IsControl(char16_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 ||
         c == 0x2029;
}

bool HasControl(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), IsControl);
}

// A mailbox address fit for an SMTP command and a header line.
bool IsPlainAddress(std::u16string_view address) {
  return !address.empty() &&
         std::none_of(address.begin(), address.end(), [](char16_t c) {
           return IsControl(c) || c == u' ' || c == u'\u3000' || c == u'<' ||
                  c == u'>';
         });
}

// A header field name: printable ASCII but ":" (RFC 5322 ftext).
bool IsHeaderName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return c > ' ' && c < 0x7F && c != ':';
  });
}

// A header field value on one line: printable ASCII and blanks.
bool IsHeaderValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(),
                     [](char c) { return c >= ' ' && c < 0x7F; });
}

// An envelope sender: empty (the From address stands) or one address of
// printable ASCII without blanks, angle brackets or quotes, with an "@".
bool IsEnvelopeAddress(std::string_view address) {
  if (address.empty()) return true;
  return address.size() <= 254 && address.find('@') != address.npos &&
         std::all_of(address.begin(), address.end(), [](char c) {
           return c > ' ' && c < 0x7F && c != '<' && c != '>' && c != '"';
         });
}

// "host:port" with a host of letters, digits, ".", "-" and "_".
bool IsServer(std::u16string_view server) {
  size_t colon = server.rfind(u':');
  if (colon == 0 || colon == server.npos) return false;
  for (char16_t c : server.substr(0, colon)) {
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
              (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_';
    if (!ok) return false;
  }
  std::u16string_view port = server.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  long number = 0;
  for (char16_t c : port) {
    if (c < u'0' || c > u'9') return false;
    number = number * 10 + (c - u'0');
  }
  return number >= 1 && number <= 65535;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size())
      n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// `text` as "=?UTF-8?B?...?=" words of at most 42 bytes each (68
// characters encoded), split between characters, joined by a folding
// line break so that no line of a Subject field grows past 78 characters.
std::string EncodedWords(std::u16string_view text) {
  const std::string bytes = U8(text);
  std::string out;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = std::min(start + 42, bytes.size());
    // Back up to the start of a UTF-8 sequence.
    while (end < bytes.size() && end > start &&
           (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(bytes.substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

// Now as "Mon, 02 Jan 2006 15:04:05 +0900", in the local time zone.
std::string DateField() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  time_t now = ::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  long offset = local.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[64];
  std::snprintf(text, sizeof text,
                "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                sign, offset / 60, offset % 60);
  return text;
}

std::string MessageId(std::string_view from_address) {
  static std::atomic<unsigned> counter{0};
  size_t at = from_address.rfind('@');
  std::string_view domain =
      at == from_address.npos ? "localhost" : from_address.substr(at + 1);
  std::random_device random;
  char text[96];
  std::snprintf(text, sizeof text, "<%lld.%d.%u.%08x",
                static_cast<long long>(::time(nullptr)),
                static_cast<int>(::getpid()), counter++, random());
  return std::string(text) + "@" + std::string(domain) + ">";
}

std::string BodyLines(std::string_view body) {
  std::string encoded = Base64(body);
  std::string out;
  for (size_t i = 0; i < encoded.size(); i += 76) {
    out += encoded.substr(i, 76);
    out += "\r\n";
  }
  return out;
}

struct Upload {
  std::string message;
  size_t position = 0;
};

size_t ReadMessage(char* buffer, size_t size, size_t count, void* data) {
  Upload& upload = *static_cast<Upload*>(data);
  size_t n = std::min(size * count, upload.message.size() - upload.position);
  std::memcpy(buffer, upload.message.data() + upload.position, n);
  upload.position += n;
  return n;
}

class SmtpMailSender : public MailSender {
 public:
  explicit SmtpMailSender(const SmtpSettings& settings) : settings_(settings) {}

  std::u16string SendMail(const std::u16string& server,
                          const std::u16string& recipient,
                          const std::u16string& sender,
                          const std::u16string& subject,
                          const std::u16string& body,
                          const std::u16string& attachments,
                          const MailOptions& options) override {
    // The sender text: From field, TAB, "user:password", TAB, method.
    std::u16string_view rest = sender;
    std::u16string_view from = rest.substr(0, rest.find(u'\t'));
    rest.remove_prefix(std::min(rest.size(), from.size() + 1));
    std::u16string_view credentials = rest.substr(0, rest.find(u'\t'));
    rest.remove_prefix(std::min(rest.size(), credentials.size() + 1));
    std::u16string_view method = rest;

    std::u16string_view name, address = from;
    size_t open = from.find(u'<');
    if (open != from.npos && !from.empty() && from.back() == u'>') {
      name = from.substr(0, open);
      address = from.substr(open + 1, from.size() - open - 2);
    }
    while (!name.empty() && (name.back() == u' ' || name.back() == u'"')) {
      name.remove_suffix(1);
    }
    while (!name.empty() && name.front() == u'"') name.remove_prefix(1);

    if (!IsServer(server)) return u"refused: server is not host:port";
    if (!IsPlainAddress(recipient)) return u"refused: unusable recipient";
    if (!IsPlainAddress(address) || HasControl(name)) {
      return u"refused: unusable sender";
    }
    if (HasControl(credentials)) return u"refused: unusable authentication";
    if (!method.empty() && method != u"LOGIN") {
      return u"refused: unknown authentication method";
    }
    if (!attachments.empty()) return u"refused: attachments are not sent";
    for (const auto& [field, value] : options.headers) {
      if (!IsHeaderName(field) || !IsHeaderValue(value)) {
        return u"refused: unusable header field";
      }
    }

    if (!IsEnvelopeAddress(options.envelope_sender)) {
      return u"refused: unusable envelope sender";
    }
    const std::string from_address = U8(address);
    Upload upload;
    std::string& m = upload.message;
    m += "Date: " + DateField() + "\r\n";
    m += "From: ";
    if (!name.empty()) m += EncodedWords(name) + " ";
    m += "<" + from_address + ">\r\n";
    m += "To: <" + U8(recipient) + ">\r\n";
    m += "Subject: " + EncodedWords(subject) + "\r\n";
    m += "Message-ID: " + MessageId(from_address) + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\n";
    m += "Content-Transfer-Encoding: base64\r\n";
    for (const auto& [field, value] : options.headers) {
      m += field + ": " + value + "\r\n";
    }
    m += "\r\n";
    m += BodyLines(U8(body));

    const std::string& envelope = options.envelope_sender.empty()
                                      ? from_address
                                      : options.envelope_sender;
    return U16(Transfer(U8(server), envelope, U8(recipient), U8(credentials),
                        method == u"LOGIN", options.time_limit_ms, upload));
  }

 private:
  std::string Transfer(const std::string& server, const std::string& from,
                       const std::string& recipient,
                       const std::string& credentials, bool login,
                       long time_limit_ms, Upload& upload) const {
    const CurlLibrary& lib = Curl();
    if (!lib.error.empty()) return lib.error;
    CURL* curl = lib.easy_init();
    if (curl == nullptr) return "libcurl could not start a transfer";
    char error[CURL_ERROR_SIZE] = "";
    const std::string url = "smtp://" + server;
    const std::string mail_from = "<" + from + ">";
    const std::string rcpt = "<" + recipient + ">";
    curl_slist* recipients = lib.slist_append(nullptr, rcpt.c_str());
    std::string user = credentials, password;
    size_t colon = credentials.find(':');
    if (colon != std::string::npos) {
      user = credentials.substr(0, colon);
      password = credentials.substr(colon + 1);
    }

    // A login leaves only inside TLS, unless the settings allow it plain
    // or the relay is on this machine, which is spoken to without TLS.
    const std::string host = server.substr(0, server.rfind(':'));
    const bool on_this_machine =
        settings_.trust_loopback && IsLoopbackHost(host);
    const bool tls_needed =
        settings_.tls_required && !credentials.empty() && !on_this_machine;
    const long total_ms =
        time_limit_ms > 0
            ? std::min(time_limit_ms, settings_.attempt_timeout_ms)
            : settings_.attempt_timeout_ms;

    auto set = lib.easy_setopt;
    set(curl, CURLOPT_ERRORBUFFER, error);
    set(curl, CURLOPT_URL, url.c_str());
    set(curl, CURLOPT_PROTOCOLS_STR, "smtp");
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_CONNECTTIMEOUT_MS,
        std::min(settings_.connect_timeout_ms, total_ms));
    set(curl, CURLOPT_TIMEOUT_MS, total_ms);
    set(curl, CURLOPT_USE_SSL,
        static_cast<long>(on_this_machine ? CURLUSESSL_NONE
                          : tls_needed    ? CURLUSESSL_ALL
                                          : CURLUSESSL_TRY));
    if (!settings_.ca_file.empty()) {
      set(curl, CURLOPT_CAINFO, settings_.ca_file.c_str());
    }
    if (!credentials.empty()) {
      set(curl, CURLOPT_USERNAME, user.c_str());
      set(curl, CURLOPT_PASSWORD, password.c_str());
      if (login) set(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    set(curl, CURLOPT_MAIL_FROM, mail_from.c_str());
    set(curl, CURLOPT_MAIL_RCPT, recipients);
    set(curl, CURLOPT_UPLOAD, 1L);
    set(curl, CURLOPT_READFUNCTION, &ReadMessage);
    set(curl, CURLOPT_READDATA, &upload);
    CURLcode code = lib.easy_perform(curl);
    lib.slist_free_all(recipients);
    lib.easy_cleanup(curl);
    if (code == CURLE_OK) return "";
    if (code == CURLE_USE_SSL_FAILED && tls_needed) {
      return "refused: the relay offers no STARTTLS, and the login is not "
             "sent without it ([smtp] tls = required)";
    }
    std::string why = error[0] != '\0' ? error : lib.easy_strerror(code);
    return why.empty() ? "mail not accepted" : why;
  }

  SmtpSettings settings_;
};

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  if (host.size() == 9) {
    std::string lower(host);
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    if (lower == "localhost") return true;
  }
  int parts = 0;
  int first = -1;
  size_t start = 0;
  while (start <= host.size()) {
    size_t end = std::min(host.find('.', start), host.size());
    std::string_view part = host.substr(start, end - start);
    // A leading zero would make the resolver read the part as octal, or
    // refuse it and ask DNS for the name.
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != part.npos ||
        (part.size() > 1 && part[0] == '0')) {
      return false;
    }
    const int value = std::stoi(std::string(part));
    if (value > 255) return false;
    if (parts++ == 0) first = value;
    start = end + 1;
  }
  return parts == 4 && first == 127;
}

std::unique_ptr<MailSender> NewSmtpMailSender(const SmtpSettings& settings) {
  return std::make_unique<SmtpMailSender>(settings);
}

}  // namespace qlok
