#include "tools/site_layout.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/failure.h"
#include "platform/site_config.h"
#include "text/unicode.h"

namespace qlok {
namespace {

void Key(std::string& out, const char* name, const std::u16string& value) {
  out += "; ";
  out += name;
  out += " = ";
  out += U8(value);
  out += "\n";
}

// Creates `path` with `content` unless something is there already; true
// when it was created.
bool CreateFile(const std::string& path, const std::string& content) {
  // "x": fail rather than open a file that exists.
  std::FILE* file = std::fopen(path.c_str(), "wbx");
  if (file == nullptr) {
    if (errno == EEXIST) return false;
    throw Failure(path + ": cannot be created: " + std::strerror(errno));
  }
  bool written =
      std::fwrite(content.data(), 1, content.size(), file) == content.size();
  if (std::fclose(file) != 0) written = false;
  if (!written) throw Failure(path + ": cannot be written");
  return true;
}

}  // namespace

std::string CommentedSiteConf() {
  const SiteConfig c = SiteConfig::Defaults();
  std::string out =
      "; The site configuration of q_lok (UTF-8).\n"
      "; Every key is optional: while it stays commented out, the example\n"
      "; value shown stands. Remove the \"; \" before a key to set it.\n"
      "\n[site]\n"
      "; the site's top page, linked from the page and the match mail\n";
  Key(out, "top_url", c.top_url);
  out += "; scheme and host of the map page /m/m.cgi\n";
  Key(out, "map_base", c.map_base);
  out +=
      "\n[employment_service]\n"
      "; the job-search site of the public employment service: the secure\n"
      "; address for the page, the plain one for the mail\n";
  Key(out, "page_url", c.service_page_url);
  Key(out, "mail_url", c.service_mail_url);
  for (size_t i = 0; i < c.ads.size(); ++i) {
    out += "\n[ad" + std::to_string(i + 1) + "]\n";
    if (i == 0) {
      out +=
          "; an advertisement block: where it links, the text of the text\n"
          "; link, the 1x1 images beside the text and the banner, and the\n"
          "; banner picture\n";
    }
    Key(out, "link", c.ads[i].link);
    Key(out, "text", c.ads[i].text);
    Key(out, "tracking_image", c.ads[i].tracking_image);
    Key(out, "banner_image", c.ads[i].banner_image);
    Key(out, "banner_tracking", c.ads[i].banner_tracking);
  }
  out += "\n[smtp]\n; the mail relays, host names\n";
  Key(out, "first_relay", c.first_relay);
  Key(out, "second_relay", c.second_relay);
  out +=
      "\n[senders]\n"
      "; the sender addresses of the three accounts; their authentication\n"
      "; texts are the three lines of pw/mail.txt\n";
  for (size_t i = 0; i < c.sender_addresses.size(); ++i) {
    Key(out, ("account" + std::to_string(i + 1)).c_str(),
        c.sender_addresses[i]);
  }
  return out;
}

std::vector<std::string> LayOutSite(const std::string& home,
                                    const std::string& connection_string) {
  namespace fs = std::filesystem;
  std::vector<std::string> made;
  for (const char* folder : {"", "pw", "received", "settings", "outbox"}) {
    const fs::path path = fs::path(home) / folder;
    std::error_code error;
    const bool created = fs::create_directories(path, error);
    // The outbox holds visitors' mails: for its owner only.
    if (created && std::string_view(folder) == "outbox") {
      fs::permissions(path, fs::perms::owner_all, error);
    }
    if (error) {
      throw Failure(path.string() + ": cannot be made: " + error.message());
    }
    if (created && *folder != '\0') made.push_back(folder);
  }
  struct File {
    const char* path;
    std::string content;
  };
  const File files[] = {
      {"pw/qevo.txt",
       std::string("q_lok job database\n"
                   "line 3 is the connection string; lines 1, 2 and 4 are "
                   "not used\n") +
           connection_string +
           "\n"
           "end\n"},
      {"pw/mail.txt", "user1:password1\nuser2:password2\nuser3:password3\n"},
      {"received/worqlet.txt", ""},
      {"site.conf", CommentedSiteConf()},
  };
  for (const File& file : files) {
    if (CreateFile((fs::path(home) / file.path).string(), file.content)) {
      made.push_back(file.path);
    }
  }
  return made;
}

}  // namespace qlok
