#include "formats/StreamedSog.h"

#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "math/Messages.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"SOG: "};
constexpr int kMaxDepth = 64;
constexpr long long kMaxLevels = 64;

using json = nlohmann::json;

struct Run {
    size_t file = 0, offset = 0, count = 0;
};
using Leaf = std::map<long long, Run>; // by level

size_t unsignedOf(const json &o, const char *key)
{
    if (!o.contains(key) || !o[key].is_number_unsigned())
        refuse(std::string("a leaf's run has no ") + key);
    return o[key].get<size_t>();
}

void collectLeaves(const json &node, int depth, size_t files, std::vector<Leaf> &leaves)
{
    if (depth > kMaxDepth)
        refuse("the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
    if (!node.is_object())
        refuse("a tree node is not an object");
    const bool inner = node.contains("children"), leaf = node.contains("lods");
    if (inner == leaf)
        refuse("a tree node has both children and lods, or neither");
    if (inner) {
        const json &c = node["children"];
        if (!c.is_array() || c.size() != 2)
            refuse("a tree node's children are not two");
        for (const json &child : c)
            collectLeaves(child, depth + 1, files, leaves);
        return;
    }
    const json &lods = node["lods"];
    if (!lods.is_object())
        refuse("a leaf's lods are not an object");
    Leaf l;
    for (auto it = lods.begin(); it != lods.end(); ++it) {
        const std::string &key = it.key();
        if (key.empty() || key.size() > 2 || key.find_first_not_of("0123456789") != std::string::npos ||
            std::stoll(key) >= kMaxLevels)
            refuse("level of detail \"" + key + "\" (0 to " + std::to_string(kMaxLevels - 1) + ")");
        if (!it.value().is_object())
            refuse("level " + key + " of a leaf is not an object");
        Run r{unsignedOf(it.value(), "file"), unsignedOf(it.value(), "offset"), unsignedOf(it.value(), "count")};
        if (r.file >= files)
            refuse("a leaf names file " + std::to_string(r.file) + " of " + std::to_string(files));
        l[std::stoll(key)] = r;
    }
    leaves.push_back(std::move(l));
}

std::vector<std::string> filenamesOf(const json &index)
{
    if (!index.contains("filenames") || !index["filenames"].is_array())
        refuse("lod-meta.json has no filenames");
    std::vector<std::string> names;
    for (const json &f : index["filenames"]) {
        if (!f.is_string() || !SogReader::safeName(f.get<std::string>(), true))
            refuse("filename " + f.dump() + " is not a file below lod-meta.json");
        names.push_back(f.get<std::string>());
    }
    return names;
}

// The files of the chunk whose meta.json is `meta`, by names beside it.
SogReader::Files chunkFiles(const SogReader::Source &files, const std::string &meta)
{
    const std::string folder = SogReader::folderOf(meta);
    return [&files, folder](const std::string &name) {
        if (!SogReader::safeName(name, false))
            refuse("image name \"" + name + "\" is not a file beside its meta.json");
        return files.read(folder + name);
    };
}

// The degree of a chunk's meta.json (its bands), read before any chunk is decoded.
int degreeOf(const std::string &metaText)
{
    try {
        const json m = json::parse(metaText);
        const json *bands = m.is_object() && m.contains("shN") && m["shN"].is_object() && m["shN"].contains("bands")
                                ? &m["shN"]["bands"]
                                : nullptr;
        return bands && bands->is_number_integer() ? std::min(3, std::max(0, bands->get<int>())) : 0;
    } catch (const json::exception &) {
        return 0; // the chunk's own read says what is wrong with it
    }
}

// The first level every leaf holds whose chunks are all there; -1 when there is none.
long long finestComplete(const std::vector<Leaf> &leaves, const std::vector<std::string> &names,
                         const SogReader::Source &files)
{
    for (long long level = 0; level < kMaxLevels; ++level) {
        bool complete = true;
        for (const Leaf &l : leaves) {
            const auto at = l.find(level);
            complete = complete && at != l.end() && files.has(names[at->second.file]);
            if (!complete)
                break;
        }
        if (complete)
            return level;
    }
    return -1;
}

} // namespace

SplatScene StreamedSog::read(const std::string &text, const SogReader::Source &files, const std::string &name)
{
    json index;
    try {
        index = json::parse(text);
    } catch (const json::exception &e) {
        refuse(std::string("lod-meta.json is not JSON (") + e.what() + ")");
    }
    if (!index.is_object() || !index.contains("tree"))
        refuse("lod-meta.json has no tree");
    if (index.contains("version") && (!index["version"].is_number_integer() || index["version"].get<long long>() != 1))
        refuse("lod-meta.json version " + index["version"].dump() + " (1 is read)");
    const std::vector<std::string> names = filenamesOf(index);
    std::vector<Leaf> leaves;
    collectLeaves(index["tree"], 0, names.size(), leaves);
    const long long level = finestComplete(leaves, names, files);
    if (level < 0)
        refuse("no level of detail has every leaf and all its chunks");
    // The runs of the level, chunk by chunk in the index's order.
    std::map<size_t, std::vector<Run>> byFile;
    for (const Leaf &l : leaves)
        byFile[l.at(level).file].push_back(l.at(level));
    std::string environment;
    if (index.contains("environment") && index["environment"].is_string()) {
        environment = index["environment"].get<std::string>();
        if (!SogReader::safeName(environment, true))
            refuse("environment \"" + environment + "\" is not a file below lod-meta.json");
    }
    const bool withEnvironment = !environment.empty() && files.has(environment);
    int degree = 3;
    for (const auto &f : byFile)
        degree = std::min(degree, degreeOf(files.read(names[f.first])));
    if (withEnvironment)
        degree = std::min(degree, degreeOf(files.read(environment)));
    SplatScene scene;
    scene.resize(0, degree);
    scene.antialiased = SogReader::trainedAntialiased(index);
    for (const auto &f : byFile) {
        const std::string &meta = names[f.first];
        const SplatScene chunk = SogReader::decode(files.read(meta), chunkFiles(files, meta));
        size_t total = 0;
        for (const Run &r : f.second) {
            total += r.count;
            if (r.offset > chunk.count || r.count > chunk.count - r.offset || total > chunk.count)
                refuse(meta + ": runs of " + std::to_string(total) + " splats up to " + std::to_string(r.offset + r.count) +
                       " in a chunk of " + std::to_string(chunk.count));
        }
        for (const Run &r : f.second)
            scene.append(chunk, r.offset, r.count);
        scene.antialiased = scene.antialiased || chunk.antialiased;
    }
    if (withEnvironment) {
        const SplatScene env = SogReader::decode(files.read(environment), chunkFiles(files, environment));
        scene.append(env, 0, env.count);
    } else if (!environment.empty()) {
        msg::warning("%s: the environment %s is not there; the scene is drawn without it\n", name.c_str(),
                     environment.c_str());
    }
    msg::note("%s: a streamed scene; level of detail %lld (%zu splats), the finest whose chunks are all there, "
              "is drawn\n", name.c_str(), level, scene.count);
    SplatFilter::apply(scene, name);
    return scene;
}

SplatScene StreamedSog::read(const char *path)
{
    const std::vector<char> text = refuse.wholeFile(path);
    return read(std::string(text.begin(), text.end()), SogReader::folder(SogReader::folderOf(path), true), path);
}

SplatScene StreamedSog::readBundle(const char *data, size_t size, const std::string &name)
{
    const SogReader::Source files = SogReader::bundle(data, size);
    return read(files.read("lod-meta.json"), files, name);
}
