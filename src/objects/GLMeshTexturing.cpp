#include "objects/GLMeshTexturing.h"

#include "math/Messages.h"
#include "formats/ColorMap.h"
#include "objects/GL3DObject.h"
#include "formats/MeshTextureReader.h"
#include "formats/TextureImageFiles.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

bool fileExists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// The image of a material as a stand-in: one white texel.
std::unique_ptr<Bitmap> whiteImage()
{
    auto white = std::make_unique<Bitmap>(1, 1);
    white->get(0, 0) = RGB<unsigned char>(255, 255, 255);
    return white;
}

// The image a material names, or the tiles of a multi-tile atlas when the name ends in a tile
// number and more than one tile is there. What is missing or unreadable is said once, by name,
// and drawn white.
MeshTextureReader::MaterialImages materialImages(const std::string &name)
{
    MeshTextureReader::MaterialImages material;
    if (TextureImageFiles::tileNumber(name) != 0) {
        for (int tile = 1001; tile <= 1100; ++tile) {
            const std::string tileName = TextureImageFiles::tileName(name, tile);
            if (!fileExists(tileName))
                continue;
            std::unique_ptr<Bitmap> image = TextureImageFiles::loadImageFile(tileName);
            if (!image) {
                msg::warning("GLMeshObject: can't read texture image %s\n", tileName.c_str());
                continue;
            }
            material.images.push_back(std::move(image));
            material.tiles.push_back(tile);
        }
        if (material.images.size() > 1)
            return material;
        // A single tile is an image like any other, repeated.
        material.tiles.clear();
        if (!material.images.empty())
            return material;
    }
    material.images.push_back(TextureImageFiles::loadImageFile(name));
    if (!material.images.back()) {
        if (fileExists(name))
            msg::warning("GLMeshObject: can't read texture image %s\n", name.c_str());
        else
            msg::warning("GLMeshObject: texture image %s is missing\n", name.c_str());
        material.images.back() = whiteImage();
    }
    return material;
}

} // namespace

void GLMeshTexturing::initVariables()
{
    textureWidth = 0;
    textureHeight = 0;
    nTextureChunks = 0;
    textureList = -1;
    maxTextureSize = 1024;
}

void GLMeshTexturing::release()
{
    meshTexture.release();
    pendingTexture.reset();
    textureNames.clear();
    nTextureChunks = 0;
    dataItemShown = -1;
    chunkStart.clear();
    if (textureList >= 0)
        glDeleteLists(static_cast<GLuint>(textureList), 1);
    textureList = -1;
}

void GLMeshTexturing::dropImages()
{
    textureImages.clear();
    triangleImage.clear();
    embeddedImages.clear();
}

bool GLMeshTexturing::readTexture(bool dataFallback)
{
    const MeshArrays mesh = model.arrays();
    if (model.file().empty() || mesh.nTriangles <= 0)
        return false;
    if (!forcedTextureLimit) {
        // Queried once per mesh; without a current context the default limit stays.
        GLint limit = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
        if (limit > 0)
            maxTextureSize = limit;
    }
    if (!textureImages.empty() && mesh.texCoords && mesh.texCoordVersion >= 2) {
        // The images another program's model names (or holds itself), one set a material.
        std::vector<MeshTextureReader::MaterialImages> materials;
        for (size_t i = 0; i < textureImages.size(); ++i) {
            const auto embedded = std::find_if(embeddedImages.begin(), embeddedImages.end(),
                                               [i](const ForeignModel::EmbeddedImage &e) { return e.texture == static_cast<int>(i); });
            if (embedded == embeddedImages.end()) {
                materials.push_back(materialImages(textureImages[i]));
                continue;
            }
            MeshTextureReader::MaterialImages material;
            material.images.push_back(TextureImageFiles::decodeImage(embedded->bytes));
            if (!material.images.back()) {
                msg::warning("GLMeshObject: can't read texture image %s\n", textureImages[i].c_str());
                material.images.back() = whiteImage();
            }
            materials.push_back(std::move(material));
        }
        MeshTextureReader reader(mesh.nTriangles, mesh.texCoords, mesh.texCoordVersion, getMaxTextureSize());
        if (!reader.readTextureMaterials(std::move(materials), triangleImage))
            return false;
        MeshTexture &result = reader.result();
        // The image of each triangle follows the triangles into their new order.
        if (!result.order.empty() && triangleImage.size() == result.order.size()) {
            std::vector<int> moved(triangleImage.size());
            for (size_t i = 0; i < moved.size(); ++i)
                moved[i] = triangleImage[static_cast<size_t>(result.order[i])];
            triangleImage.swap(moved);
        }
        return installTexture(result);
    }
    std::unique_ptr<Bitmap> image = TextureImageFiles::findCompanionImage(model.file());
    // Without an image, key 3 falls back on the data texture of a mesh laid out as a grid of
    // its vertices only (key 9 colours any other mesh along its values).
    if (!image)
        return dataFallback && readTextureFromData(true);
    MeshTextureReader reader(mesh.nTriangles, mesh.texCoords, mesh.texCoordVersion, getMaxTextureSize());
    if (!reader.readTexture(std::move(image)))
        return false;
    return installTexture(reader.result());
}

bool GLMeshTexturing::readTextureFromData(bool gridOnly)
{
    const MeshArrays mesh = model.arrays();
    const int n = static_cast<int>(model.items().size());
    if (n == 0 || mesh.nTriangles <= 0)
        return false;
    const int index = ((model.currentItem() % n) + n) % n;
    const DataItem &item = model.items()[static_cast<size_t>(index)];
    if (item.getNElements() < mesh.nVertices)
        return false;
    MeshTextureReader reader(mesh.nTriangles, nullptr, -1, getMaxTextureSize());
    if (!reader.readTextureFromData(item.getData(), item.getMinimum(), item.getMaximum(), mesh.nVertices,
                                    mesh.triangles, gridOnly))
        return false;
    // The texels are jet colours whatever map is selected: so is the legend.
    Legend &legend = element.getLegend();
    legend.clear();
    legend.setTitle(item.getName());
    legend.add(ColorMap::jetColorMap, item.getMinimum(), item.getMaximum(), 2, 2);
    if (!installTexture(reader.result()))
        return false;
    dataItemShown = index;
    return true;
}

bool GLMeshTexturing::installTexture(MeshTexture &texture)
{
    if (texture.chunks.empty() || !texture.texCoords)
        return false;
    model.takeTextureLayout(texture.order, std::move(texture.texCoords));
    dataItemShown = -1;
    textureWidth = texture.textureWidth;
    textureHeight = texture.textureHeight;
    chunkStart = texture.chunkStart;
    nTextureChunks = static_cast<int>(texture.chunks.size());
    textureNames.clear();
    meshTexture.release();
    pendingTexture = std::make_unique<MeshTexture>(std::move(texture));
    return true;
}

bool GLMeshTexturing::upload()
{
    if (pendingTexture) {
        const MeshArrays mesh = model.arrays();
        const bool ok = meshTexture.upload(*pendingTexture, mesh.texCoords, mesh.vertices, mesh.normals,
                                           mesh.triangles, mesh.nTriangles, model.display().textureFilter);
        pendingTexture.reset();
        cornersStale = false;
        if (ok) {
            textureNames = meshTexture.getNames();
        } else {
            nTextureChunks = 0;
            chunkStart.clear();
        }
    }
    if (cornersStale && meshTexture.getNChunks() > 0) {
        cornersStale = false;
        const MeshArrays mesh = model.arrays();
        meshTexture.fillCorners(mesh.texCoords, mesh.vertices, mesh.normals, mesh.triangles, mesh.nTriangles);
    }
    return nTextureChunks > 0 && meshTexture.getNChunks() > 0;
}
