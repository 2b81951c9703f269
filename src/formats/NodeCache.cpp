#include "formats/NodeCache.h"

#include "formats/UserSettings.h"
#include "math/Messages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

uint64_t hashOf(const std::string &s)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

} // namespace

std::string NodeCache::userFolder() { return UserSettings::userFolder("XDG_CACHE_HOME", ".cache"); }

uint64_t NodeCache::userLimit()
{
    const std::string kept = UserSettings::get("node-cache-mb").value_or("");
    char *end = nullptr;
    const unsigned long long mb = std::strtoull(kept.c_str(), &end, 10);
    if (kept.empty() || *end != 0)
        return uint64_t(4096) << 20;
    return static_cast<uint64_t>(mb) << 20;
}

NodeCache::NodeCache(std::string folder, uint64_t limitBytes) : dir(std::move(folder)), most(limitBytes)
{
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    // What earlier runs left, oldest first by the time it was last written.
    std::vector<std::pair<fs::file_time_type, std::pair<std::string, uint64_t>>> found;
    for (const fs::directory_entry &e : fs::directory_iterator(dir, ignored)) {
        std::error_code error;
        if (!e.is_regular_file(error) || e.path().extension() != ".node")
            continue;
        const uint64_t bytes = e.file_size(error);
        const fs::file_time_type when = e.last_write_time(error);
        if (!error)
            found.push_back({when, {e.path().filename().string(), bytes}});
    }
    std::sort(found.begin(), found.end());
    for (const auto &f : found) {
        entries[f.second.first] = {f.second.second, ++clock};
        used += f.second.second;
    }
}

std::string NodeCache::fileOf(const std::string &key) const
{
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.node", static_cast<unsigned long long>(hashOf(key)));
    return name;
}

bool NodeCache::get(const std::string &key, std::string &bytes)
{
    const std::string file = fileOf(key);
    {
        std::lock_guard<std::mutex> hold(lock);
        const auto found = entries.find(file);
        if (found == entries.end())
            return false;
        found->second.used = ++clock;
    }
    std::ifstream in(dir + "/" + file, std::ios::binary);
    uint64_t keyBytes = 0;
    if (!in.read(reinterpret_cast<char *>(&keyBytes), 8) || keyBytes != key.size())
        return false;
    std::string stored(key.size(), '\0');
    if (!in.read(&stored[0], static_cast<std::streamsize>(stored.size())) || stored != key)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    const std::streamoff start = static_cast<std::streamoff>(8 + key.size());
    if (end < start)
        return false;
    bytes.assign(static_cast<size_t>(end - start), '\0');
    in.seekg(start);
    return static_cast<bool>(in.read(&bytes[0], static_cast<std::streamsize>(bytes.size())));
}

void NodeCache::evictFor(uint64_t bytes)
{
    while (used + bytes > most && !entries.empty()) {
        auto oldest = entries.begin();
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (it->second.used < oldest->second.used)
                oldest = it;
        std::error_code ignored;
        fs::remove(dir + "/" + oldest->first, ignored);
        used -= std::min(used, oldest->second.bytes);
        entries.erase(oldest);
    }
}

void NodeCache::put(const std::string &key, const std::string &bytes)
{
    const uint64_t whole = 8 + key.size() + bytes.size();
    if (whole > most)
        return;
    const std::string file = fileOf(key);
    {
        std::lock_guard<std::mutex> hold(lock);
        if (entries.count(file))
            return;
        evictFor(whole);
        // Counted now, so that nodes written at once by two threads stay under the limit.
        entries[file] = {whole, ++clock};
        used += whole;
    }
    const std::string path = dir + "/" + file, part = path + ".part";
    bool written = false;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        const uint64_t keyBytes = key.size();
        out.write(reinterpret_cast<const char *>(&keyBytes), 8);
        out.write(key.data(), static_cast<std::streamsize>(key.size()));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        written = static_cast<bool>(out);
    }
    if (written && std::rename(part.c_str(), path.c_str()) == 0)
        return;
    std::remove(part.c_str());
    std::lock_guard<std::mutex> hold(lock);
    entries.erase(file);
    used -= std::min(used, whole);
    if (!warned)
        msg::warning("NodeCache: %s takes no more nodes (the disk is full or not writable); nodes are not kept\n",
                     dir.c_str());
    warned = true;
}

uint64_t NodeCache::bytesUsed()
{
    std::lock_guard<std::mutex> hold(lock);
    return used;
}

uint64_t NodeCache::clear(const std::string &folder)
{
    uint64_t freed = 0;
    std::error_code ignored;
    for (const char *part : {"nodes", "hierarchies"}) {
        const fs::path p = fs::path(folder) / part;
        for (const fs::directory_entry &e : fs::recursive_directory_iterator(p, ignored)) {
            std::error_code error;
            if (e.is_regular_file(error))
                freed += e.file_size(error);
        }
        fs::remove_all(p, ignored);
    }
    return freed;
}
