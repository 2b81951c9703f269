#include "formats/UserSettings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

std::string UserSettings::userFolder(const char *variable, const char *underHome)
{
    const char *base = std::getenv(variable);
    if (base && *base)
        return std::string(base) + "/velmora";
    const char *home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/" + underHome + "/velmora";
    return std::string();
}

std::string UserSettings::defaultPath()
{
    const std::string folder = userFolder("XDG_CONFIG_HOME", ".config");
    return folder.empty() ? folder : folder + "/settings";
}

std::map<std::string, std::string> UserSettings::read(const std::string &path)
{
    std::map<std::string, std::string> settings;
    std::ifstream in(path);
    std::string line;
    // A settings file is a few lines; one of megabytes is not ours and is not read further.
    for (size_t lines = 0; lines < 1000 && std::getline(in, line); ++lines) {
        const size_t space = line.find(' ');
        if (space == 0 || space == std::string::npos || line.size() > 4096)
            continue;
        settings[line.substr(0, space)] = line.substr(space + 1);
    }
    return settings;
}

bool UserSettings::write(const std::string &path, const std::map<std::string, std::string> &settings)
{
    if (path.empty())
        return false;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::trunc);
        for (const auto &[key, value] : settings)
            if (key.find_first_of(" \n") == std::string::npos && value.find('\n') == std::string::npos)
                out << key << ' ' << value << '\n';
        out.flush();
        if (!out) {
            std::remove(part.c_str());
            return false;
        }
    }
    return std::rename(part.c_str(), path.c_str()) == 0;
}

std::optional<std::string> UserSettings::get(const std::string &key)
{
    const auto settings = read(defaultPath());
    const auto found = settings.find(key);
    if (found == settings.end())
        return std::nullopt;
    return found->second;
}

bool UserSettings::set(const std::string &key, const std::string &value)
{
    const std::string path = defaultPath();
    auto settings = read(path);
    settings[key] = value;
    return write(path, settings);
}
