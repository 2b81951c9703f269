#include "formats/AssimpReader.h"
#include "math/Messages.h"
#include "formats/ForeignModelWire.h"
#include "formats/HelperProcess.h"
#include "formats/ReadRefusal.h"

#include "formats/PlyReader.h"

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

[[noreturn]] void refuse(const std::string &why)
{
    refuseRead("GLMeshObject", why);
}

std::string lowerExtension(const std::string &path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

struct Placement {
    const aiMesh *mesh;
    aiMatrix4x4 transform;
    bool identity;
};

void collect(const aiScene *scene, const aiNode *node, const aiMatrix4x4 &parent, std::vector<Placement> &out,
             int depth)
{
    // Node trees of real files are shallow; a deeper one is a broken or hostile file.
    if (!node || depth > 256)
        return;
    const aiMatrix4x4 m = parent * node->mTransformation;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        const unsigned k = node->mMeshes[i];
        if (k < scene->mNumMeshes && scene->mMeshes[k])
            out.push_back({scene->mMeshes[k], m, m.IsIdentity()});
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        collect(scene, node->mChildren[i], m, out, depth + 1);
}

unsigned char toByte(float c)
{
    const float v = c * 255.0f + 0.5f;
    // Written so that NaN gives 0: it compares false with everything.
    return static_cast<unsigned char>(!(v > 0.0f) ? 0 : v >= 255.0f ? 255 : static_cast<int>(v));
}

// Triangles of a mesh: faces of three valid indices (after triangulation, faces of other
// sizes are points and lines).
size_t countTriangles(const aiMesh *m)
{
    if (!m->mFaces)
        return 0;
    size_t n = 0;
    for (unsigned f = 0; f < m->mNumFaces; ++f)
        n += m->mFaces[f].mNumIndices == 3 && m->mFaces[f].mIndices;
    return n;
}

// The diffuse (or base colour) image of a material, "" when none. An image the file embeds
// (glTF buffer views and data URIs) is named as the importer names it ("*0") and its bytes are
// set in `embedded`; raw texels, which no glTF file holds, are not taken.
std::string materialImage(const aiScene *scene, unsigned index, const aiTexture *&embedded)
{
    embedded = nullptr;
    if (index >= scene->mNumMaterials || !scene->mMaterials[index])
        return "";
    const aiMaterial *mat = scene->mMaterials[index];
    aiString name;
    if (mat->GetTexture(aiTextureType_DIFFUSE, 0, &name) != AI_SUCCESS &&
        mat->GetTexture(aiTextureType_BASE_COLOR, 0, &name) != AI_SUCCESS)
        return "";
    std::string s = name.C_Str();
    if (s.empty())
        return "";
    if (const aiTexture *t = scene->GetEmbeddedTexture(s.c_str())) {
        if (t->mHeight != 0 || !t->pcData || t->mWidth == 0) {
            msg::warning("GLMeshObject: texture %s is embedded as raw texels, not shown\n", s.c_str());
            return "";
        }
        embedded = t;
        return s;
    }
    if (s[0] == '*') {
        msg::warning("GLMeshObject: texture %s is not in the file\n", s.c_str());
        return "";
    }
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// The encoded bytes of an embedded image, copied out of the importer's scene.
ForeignModel::EmbeddedImage embeddedImage(const aiTexture &t, const std::string &name, int texture)
{
    ForeignModel::EmbeddedImage image;
    image.texture = texture;
    image.name = name;
    std::string hint(t.achFormatHint, strnlen(t.achFormatHint, sizeof t.achFormatHint));
    image.mimeType = hint == "jpg" || hint == "jpeg" ? "image/jpeg" : "image/" + hint;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(t.pcData);
    image.bytes.assign(bytes, bytes + t.mWidth);
    return image;
}

// The vertices and triangles the scene's nodes place, and whether any placed mesh has
// colours or texture coordinates. Refused when it is empty or out of proportion.
struct SceneSize {
    size_t vertices, triangles;
    bool anyColours, anyTexCoords;
};

SceneSize measure(const aiScene *scene, const std::vector<Placement> &placed)
{
    unsigned long long nVertices = 0, nTriangles = 0;
    bool anyColours = false, anyTexCoords = false;
    for (const Placement &p : placed) {
        nVertices += p.mesh->mNumVertices;
        nTriangles += countTriangles(p.mesh);
        anyColours = anyColours || p.mesh->HasVertexColors(0);
        anyTexCoords = anyTexCoords || p.mesh->HasTextureCoords(0);
    }
    if (nVertices == 0)
        refuse("the file holds no vertices");
    // Nodes may place one mesh many times; a small file could so ask for any amount of
    // memory. Real scenes repeat their meshes a few times, not a hundred times over.
    unsigned long long unique = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
        unique += scene->mMeshes[i] ? scene->mMeshes[i]->mNumVertices : 0;
    if (nVertices > 100 * unique + 1000000)
        refuse("the scene's nodes repeat its " + std::to_string(unique) + " vertices into " +
               std::to_string(nVertices));
    if (nVertices > INT_MAX / 3 || nTriangles > INT_MAX / 6)
        refuse("the model is too large (" + std::to_string(nVertices) + " vertices, " + std::to_string(nTriangles) +
               " triangles)");
    return {static_cast<size_t>(nVertices), static_cast<size_t>(nTriangles), anyColours, anyTexCoords};
}

// Every placed vertex where its node puts it, and its colour when any mesh has colours
// (white for the meshes without).
void placeVertices(const std::vector<Placement> &placed, const SceneSize &size, LargeArray<float> &xyz,
                   LargeArray<unsigned char> &rgb)
{
    xyz = allocateLargeArray<float>(3 * size.vertices);
    if (size.anyColours)
        rgb = allocateLargeArray<unsigned char>(3 * size.vertices);
    size_t at = 0;
    for (const Placement &p : placed) {
        const aiMesh *m = p.mesh;
        for (unsigned i = 0; i < m->mNumVertices; ++i, ++at) {
            const aiVector3D v = p.identity ? m->mVertices[i] : p.transform * m->mVertices[i];
            xyz[3 * at] = v.x;
            xyz[3 * at + 1] = v.y;
            xyz[3 * at + 2] = v.z;
            if (size.anyColours) {
                const aiColor4D c = m->HasVertexColors(0) ? m->mColors[0][i] : aiColor4D(1, 1, 1, 1);
                rgb[3 * at] = toByte(c.r);
                rgb[3 * at + 1] = toByte(c.g);
                rgb[3 * at + 2] = toByte(c.b);
            }
        }
    }
}

// The texture images of the model, each image once, into model.textureImages (and the
// embedded ones into model.embeddedImages); returns each material's image, -1 for none.
std::vector<int> gatherImages(const aiScene *scene, const std::vector<Placement> &placed, const std::string &folder,
                              ForeignModel &model)
{
    std::vector<int> materialToImage(scene->mNumMaterials, -1);
    // Only materials of meshes with coordinates bring images; a library file may list more.
    std::vector<bool> used(scene->mNumMaterials, false);
    for (const Placement &p : placed)
        if (p.mesh->HasTextureCoords(0) && p.mesh->mMaterialIndex < used.size() && countTriangles(p.mesh) > 0)
            used[p.mesh->mMaterialIndex] = true;
    std::map<std::string, int> seen;
    for (unsigned k = 0; k < scene->mNumMaterials; ++k) {
        if (!used[k])
            continue;
        const aiTexture *embedded;
        std::string name = materialImage(scene, k, embedded);
        if (name.empty())
            continue;
        if (!embedded && name[0] != '/' && !folder.empty())
            name = folder + "/" + name;
        auto it = seen.find(name);
        if (it == seen.end()) {
            it = seen.emplace(name, static_cast<int>(model.textureImages.size())).first;
            if (embedded)
                model.embeddedImages.push_back(embeddedImage(*embedded, name, it->second));
            model.textureImages.push_back(name);
        }
        materialToImage[k] = it->second;
    }
    return materialToImage;
}

// The triangles of every placed mesh, as indices into the placed vertices, with their
// texture coordinates and images when the model has images (arrays allocated by the caller).
void placeTriangles(const std::vector<Placement> &placed, const std::vector<int> &materialToImage,
                    ForeignModel &model)
{
    MeshData &g = model.mesh;
    const bool textured = !model.textureImages.empty();
    size_t base = 0, t = 0;
    for (const Placement &p : placed) {
        const aiMesh *m = p.mesh;
        const int image = m->mMaterialIndex < materialToImage.size() ? materialToImage[m->mMaterialIndex] : -1;
        const bool hasUV = textured && m->HasTextureCoords(0) && image >= 0;
        if (m->mFaces) {
            for (unsigned f = 0; f < m->mNumFaces; ++f) {
                const aiFace &face = m->mFaces[f];
                if (face.mNumIndices != 3 || !face.mIndices)
                    continue;
                for (int k = 0; k < 3; ++k) {
                    const unsigned idx = face.mIndices[k];
                    if (idx >= m->mNumVertices)
                        refuse("triangle " + std::to_string(t) + " names vertex " + std::to_string(idx) + " of " +
                               std::to_string(m->mNumVertices));
                    g.triangles[3 * t + static_cast<size_t>(k)] = static_cast<int>(base + idx);
                    if (textured) {
                        // Image rows run downwards here; the importers give v upwards.
                        const aiVector3D uv = hasUV ? m->mTextureCoords[0][idx] : aiVector3D(0, 1, 0);
                        g.texCoords[6 * t + 2 * static_cast<size_t>(k)] = uv.x;
                        g.texCoords[6 * t + 2 * static_cast<size_t>(k) + 1] = 1.0f - uv.y;
                    }
                }
                if (!model.triangleImage.empty())
                    model.triangleImage[t] = image >= 0 ? image : 0;
                ++t;
            }
        }
        base += m->mNumVertices;
    }
}

ForeignModel convert(const aiScene *scene, const std::string &folder)
{
    ForeignModel model;
    if (!scene || !scene->mRootNode)
        refuse("the file holds no scene");
    std::vector<Placement> placed;
    collect(scene, scene->mRootNode, aiMatrix4x4(), placed, 0);
    const SceneSize size = measure(scene, placed);
    const size_t nv = size.vertices, nt = size.triangles;
    LargeArray<float> xyz;
    LargeArray<unsigned char> rgb;
    placeVertices(placed, size, xyz, rgb);

    if (nt == 0) {
        // Vertices without faces: a point cloud.
        model.isPointCloud = true;
        model.points.nPoints = static_cast<int>(nv);
        model.points.points = std::move(xyz);
        model.points.colors = std::move(rgb);
        return model;
    }

    MeshData &g = model.mesh;
    g.nVertices = static_cast<int>(nv);
    g.nTriangles = static_cast<int>(nt);
    g.vertices = std::move(xyz);
    g.triangles = allocateLargeArray<int>(3 * nt);
    if (size.anyColours) {
        g.colors.reset(new unsigned char[3 * nv]);
        std::memcpy(g.colors.get(), rgb.get(), 3 * nv);
        g.colorsFromFile = true;
    }
    const std::vector<int> materialToImage = size.anyTexCoords ? gatherImages(scene, placed, folder, model)
                                                               : std::vector<int>(scene->mNumMaterials, -1);
    if (!model.textureImages.empty()) {
        g.texCoords = allocateLargeArray<float>(6 * nt);
        g.texCoordVersion = 3;
        if (model.textureImages.size() > 1)
            model.triangleImage.assign(nt, 0);
    }
    placeTriangles(placed, materialToImage, model);
    return model;
}

unsigned importFlags() { return aiProcess_Triangulate; }

bool isReadableFile(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

// The importer draws an OBJ whose material library is missing in its default grey without a
// word; the user is told which file it looked for. A name with blanks is taken whole first,
// as the importer does, then word by word (some writers list several libraries on one line).
void noteMissingMaterialFiles(const std::string &path, const std::string &folder)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return;
    const std::string prefix = folder.empty() ? "" : folder + "/";
    std::vector<std::string> missing;
    char line[4096];
    bool wholeLine = true; // the buffer holds the start of a line
    while (std::fgets(line, sizeof line, f)) {
        const bool startOfLine = wholeLine;
        wholeLine = std::strchr(line, '\n') != nullptr;
        if (!startOfLine)
            continue;
        const char *at = line;
        while (*at == ' ' || *at == '\t')
            ++at;
        if (std::strncmp(at, "mtllib", 6) != 0 || (at[6] != ' ' && at[6] != '\t'))
            continue;
        std::string rest = at + 6;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        while (!rest.empty() && blank(rest.back()))
            rest.pop_back();
        size_t from = 0;
        while (from < rest.size() && blank(rest[from]))
            ++from;
        rest.erase(0, from);
        std::replace(rest.begin(), rest.end(), '\\', '/');
        if (rest.empty() || isReadableFile(rest[0] == '/' ? rest : prefix + rest))
            continue;
        for (size_t i = 0; i < rest.size();) {
            size_t end = i;
            while (end < rest.size() && !blank(rest[end]))
                ++end;
            const std::string name = rest.substr(i, end - i);
            if (!name.empty() && !isReadableFile(name[0] == '/' ? name : prefix + name) &&
                std::find(missing.begin(), missing.end(), name) == missing.end())
                missing.push_back(name);
            i = end + 1;
        }
    }
    std::fclose(f);
    for (const std::string &name : missing)
        msg::warning("GLMeshObject: %s: the material file %s is missing: the model is drawn without its materials\n",
                     path.c_str(), name.c_str());
}

// The PLY reader's refusals are printed like the importer's.
template <class Read>
ForeignModel readPly(Read read)
{
    try {
        return read();
    } catch (const std::exception &e) {
        refuse(e.what());
    }
}

// Joins vertices when the importer made one per corner: an unindexed file (STL, OBJ) would
// otherwise show every triangle flat and break the adjacency the measurements walk.
void joinIfUnshared(Assimp::Importer &importer)
{
    const aiScene *scene = importer.GetScene();
    if (!scene)
        return;
    unsigned long long vertices = 0, corners = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh *m = scene->mMeshes[i];
        if (!m || !m->mFaces)
            continue;
        vertices += m->mNumVertices;
        for (unsigned f = 0; f < m->mNumFaces; ++f)
            corners += m->mFaces[f].mNumIndices;
    }
    if (corners > 3 && vertices >= corners) {
        // Facet normals (STL) would keep the corners apart; the mesh computes its own.
        importer.SetPropertyInteger(AI_CONFIG_PP_RVC_FLAGS, aiComponent_NORMALS | aiComponent_TANGENTS_AND_BITANGENTS);
        importer.ApplyPostProcessing(aiProcess_RemoveComponent | aiProcess_JoinIdenticalVertices);
    }
}

ForeignModel finish(Assimp::Importer &importer, const std::string &folder)
{
    if (!importer.GetScene()) {
        std::string why = importer.GetErrorString();
        refuse(why.empty() ? "the importer refused the file" : why);
    }
    joinIfUnshared(importer);
    return convert(importer.GetScene(), folder);
}

} // namespace

ForeignModel AssimpReader::read(const char *path, size_t groupFrom)
{
    if (!path)
        refuse("no file name");
    if (lowerExtension(path) == "ply")
        return readPly([&] { return PlyReader::read(path, groupFrom); });
    // The answer: a refusal mark, the messages of the import, then the reason or the model.
    const std::string answer = [path] {
        try {
            return runInHelperProcess([path] {
                CapturingMessageSink sink;
                ScopedMessageSink scope(sink);
                ForeignModel model;
                std::string refusal;
                bool refused = false;
                try {
                    model = readInProcess(path);
                } catch (const std::bad_alloc &) {
                    throw;
                } catch (const std::exception &e) {
                    refused = true;
                    refusal = e.what();
                }
                WireWriter w;
                w.u8(refused);
                foreignwire::writeMessages(w, sink.entries());
                if (refused)
                    w.string(refusal);
                else
                    foreignwire::writeModel(w, model);
                return std::move(w.text());
            });
        } catch (const std::runtime_error &e) {
            refuse(e.what());
        }
    }();
    std::string refusal;
    bool refused = false;
    ForeignModel model;
    try {
        WireReader r(answer.data(), answer.size());
        refused = r.u8() != 0;
        for (const CapturingMessageSink::Entry &m : foreignwire::readMessages(r))
            msg::text(m.level, m.text);
        if (refused)
            refusal = r.string();
        else
            model = foreignwire::readModel(r);
    } catch (const std::runtime_error &e) {
        refuse(e.what());
    }
    // The helper printed its refusal already, with the other messages of the import.
    if (refused)
        throw std::runtime_error(refusal);
    return model;
}

ForeignModel AssimpReader::readInProcess(const char *path)
{
    if (!path)
        refuse("no file name");
    const std::string p = path;
    const size_t slash = p.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : p.substr(0, slash);
    if (lowerExtension(p) == "ply")
        return readPly([&] { return PlyReader::read(path); });
    if (lowerExtension(p) == "obj")
        noteMissingMaterialFiles(p, folder);
    Assimp::Importer importer;
    importer.ReadFile(path, importFlags());
    return finish(importer, folder);
}

ForeignModel AssimpReader::readFromMemory(const void *data, size_t size, const char *hint)
{
    if (hint && lowerExtension(std::string("x.") + hint) == "ply")
        return readPly([&] { return PlyReader::read(static_cast<const char *>(data), size, ""); });
    Assimp::Importer importer;
    importer.ReadFileFromMemory(data, size, importFlags(), hint ? hint : "");
    return finish(importer, "");
}

bool AssimpReader::canRead(const char *extension)
{
    if (!extension || !*extension)
        return false;
    Assimp::Importer importer;
    return importer.IsExtensionSupported(std::string(".") + extension);
}

std::vector<std::string> AssimpReader::extensions()
{
    Assimp::Importer importer;
    std::string list;
    importer.GetExtensionList(list);
    // "*.3ds;*.obj;..."
    std::vector<std::string> names;
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(';', at);
        if (end == std::string::npos)
            end = list.size();
        std::string item = list.substr(at, end - at);
        if (item.compare(0, 2, "*.") == 0 && item.size() > 2) {
            item = item.substr(2);
            for (char &c : item)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (std::find(names.begin(), names.end(), item) == names.end())
                names.push_back(item);
        }
        at = end + 1;
    }
    return names;
}
