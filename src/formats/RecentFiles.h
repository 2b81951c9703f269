#ifndef VELMORA_RECENTFILES_H
#define VELMORA_RECENTFILES_H

#include <string>
#include <vector>

/// The files the user opened last, most recent first: kept between runs in the user's
/// settings (UserSettings) as "recent-file-1" to "recent-file-8", absolute paths.
namespace RecentFiles {

constexpr int kKept = 8;

/// The files kept, most recent first.
std::vector<std::string> list();
/// `path` (made absolute) becomes the most recent file, once; the oldest beyond kKept go.
/// False when the settings could not be written.
bool add(const std::string &path);

} // namespace RecentFiles

#endif
