// A fresh site home for a demonstration or a new site: the folders and the
// files the program expects, with placeholder contents.
#ifndef QLOK_TOOLS_SITE_LAYOUT_H_
#define QLOK_TOOLS_SITE_LAYOUT_H_

#include <string>
#include <vector>

namespace qlok {

// The text of a site.conf whose sections name every key, each commented
// out with its example value (the value that stands while the key stays
// commented).
std::string CommentedSiteConf();

// Lays out the site home `home`: the folders home, home/pw, home/received
// and home/settings, and the files
//   pw/qevo.txt           four lines, line 3 `connection_string`;
//   pw/mail.txt           three placeholder authentication lines;
//   received/worqlet.txt  empty (the registration log must exist);
//   site.conf             CommentedSiteConf().
// Only what does not exist yet is made: an existing file keeps its
// contents. Returns the folders and files made, relative to `home`
// ("pw", "received", "settings", then the files in the order above). Throws
// Failure when a folder or file cannot be made.
std::vector<std::string> LayOutSite(
    const std::string& home,
    const std::string& connection_string = "sqlite:jobs.db");

}  // namespace qlok

#endif  // QLOK_TOOLS_SITE_LAYOUT_H_
