#ifndef VELMORA_USERSETTINGS_H
#define VELMORA_USERSETTINGS_H

#include <map>
#include <optional>
#include <string>

/// What the user chose and the program keeps between runs: "key value" lines of text in one
/// file, by default "velmora/settings" under $XDG_CONFIG_HOME (else ~/.config). Lines without
/// a key, and keys of no use to this version, are kept as they are read. Nothing here ever
/// fails loudly: a missing or unreadable file is an empty set of settings.
class UserSettings {
public:
    /// The settings file of this user; empty when neither $XDG_CONFIG_HOME nor $HOME is set.
    static std::string defaultPath();
    /// This program's folder of one kind of the user's files: "velmora" under the folder
    /// $`variable` names (XDG_CONFIG_HOME, XDG_CACHE_HOME), else under $HOME/`underHome`;
    /// empty when neither is set.
    static std::string userFolder(const char *variable, const char *underHome);
    /// The settings of `path` (none when it cannot be read).
    static std::map<std::string, std::string> read(const std::string &path);
    /// Writes `settings` to `path` through a file beside it renamed over it, so that a failed
    /// write leaves the old settings; makes the folder. False when it could not be written.
    static bool write(const std::string &path, const std::map<std::string, std::string> &settings);
    /// One setting of the default file, empty when absent.
    static std::optional<std::string> get(const std::string &key);
    /// Sets one setting of the default file, keeping the others; false when not written.
    static bool set(const std::string &key, const std::string &value);
};

#endif
