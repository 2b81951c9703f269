#include "formats/RecentFiles.h"

#include "formats/UserSettings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

std::string key(int i) { return "recent-file-" + std::to_string(i + 1); }

} // namespace

std::vector<std::string> RecentFiles::list()
{
    const auto settings = UserSettings::read(UserSettings::defaultPath());
    std::vector<std::string> files;
    for (int i = 0; i < kKept; ++i) {
        const auto found = settings.find(key(i));
        if (found != settings.end() && !found->second.empty())
            files.push_back(found->second);
    }
    return files;
}

bool RecentFiles::add(const std::string &path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::string file = error ? path : absolute.lexically_normal().string();
    std::vector<std::string> files = list();
    files.erase(std::remove(files.begin(), files.end(), file), files.end());
    files.insert(files.begin(), file);
    const std::string where = UserSettings::defaultPath();
    auto settings = UserSettings::read(where);
    for (int i = 0; i < kKept; ++i) {
        if (static_cast<size_t>(i) < files.size())
            settings[key(i)] = files[static_cast<size_t>(i)];
        else
            settings.erase(key(i));
    }
    return UserSettings::write(where, settings);
}
