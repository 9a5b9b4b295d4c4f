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
// Only what does not exist yet is made, with the mode SiteModes() gives it
// whatever the umask: an existing file keeps its contents and its mode.
// Returns the folders and files made, relative to `home` ("pw",
// "received", "settings", then the files in the order above). Throws
// Failure when a folder or file cannot be made.
std::vector<std::string> LayOutSite(
    const std::string& home,
    const std::string& connection_string = "sqlite:jobs.db");

// The mode of each folder and file LayOutSite makes, by its path relative
// to the home ("" the home itself): only the owner (the web server's user)
// may write anything; pw/ (the database and mail logins) and received/
// (the visitors' addresses in the log) and settings/ are the owner's alone;
// the home, which holds the SQLite database jobs.db (init keeps that
// file from others itself), is the owner's and the group's; site.conf may
// be read by all.
struct SiteMode {
  const char* path;
  unsigned mode;
};
const std::vector<SiteMode>& SiteModes();

// Brings every folder and file of SiteModes() that exists under `home`
// within its mode: the owner gets the mode's owner bits, group and others
// keep only what they had and the mode allows (a home of 0700 stays 0700; a
// pw/qevo.txt of 0644 becomes 0600). Links are left alone. Returns what
// changed, as "pw/qevo.txt 0644 -> 0600" ("." for the home). Throws Failure
// when a mode cannot be set.
std::vector<std::string> SetSiteModes(const std::string& home);

// The user and group that --owner names.
struct SiteOwner {
  unsigned uid;
  unsigned gid;
  std::string text;  // "user:group", for reports
};

// Reads "USER" (with the user's own group) or "USER:GROUP"; each may be a
// name or a number. Throws Failure for a user or group the system does not
// know.
SiteOwner ParseSiteOwner(const std::string& text);

// Hands `home` and everything under it to `owner`. Symbolic links are not
// followed: a link itself changes hands, never what it points to. Returns
// the number of folders, files and links handed over. Throws Failure when
// one cannot be (not running as root, for example).
size_t HandSiteTo(const std::string& home, const SiteOwner& owner);

}  // namespace qlok

#endif  // QLOK_TOOLS_SITE_LAYOUT_H_
