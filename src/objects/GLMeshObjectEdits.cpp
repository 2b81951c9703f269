// What the selections and edits (ElementCleaning) see of a mesh, the faces drawn once vertices
// are hidden or deleted, and saving what is kept as PLY or OBJ with the texture's images.
#include "objects/GLMeshObject.h"

#include "formats/ObjWriter.h"
#include "formats/PartFile.h"
#include "formats/PlyWriter.h"
#include "math/Messages.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The images of `layout` written or copied into the folder of `path`, under the names the
// saved file gives them (their own, or for images the model held itself, the file's name and
// their number).
std::vector<std::string> placeImages(const std::string &path, const std::vector<std::string> &images,
                                     const std::vector<ForeignModel::EmbeddedImage> &embedded)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::vector<std::string> names;
    for (size_t i = 0; i < images.size(); ++i) {
        const auto inFile = std::find_if(embedded.begin(), embedded.end(), [i](const ForeignModel::EmbeddedImage &e) {
            return e.texture == static_cast<int>(i);
        });
        if (inFile != embedded.end()) {
            const bool jpeg = inFile->mimeType.find("jp") != std::string::npos;
            names.push_back(target.stem().string() + "_" + std::to_string(i) + (jpeg ? ".jpg" : ".png"));
            PartFile out((folder / names.back()).string());
            out.write(inFile->bytes.data(), inFile->bytes.size());
            out.commit();
            continue;
        }
        const fs::path source(images[i]);
        names.push_back(source.filename().string());
        const fs::path copy = folder / names.back();
        std::error_code error;
        if (fs::exists(copy, error) && fs::equivalent(source, copy, error))
            continue;
        if (!fs::copy_file(source, copy, fs::copy_options::overwrite_existing, error))
            msg::warning("GLMeshObject: the texture image %s could not be copied beside %s: %s\n", images[i].c_str(),
                         path.c_str(), error.message().c_str());
    }
    return names;
}

} // namespace

const float *GLMeshObject::storedPositions(size_t &n)
{
    n = static_cast<size_t>(std::max(0, nVertices));
    return vertices;
}

std::vector<ElementValues> GLMeshObject::valueItems() const
{
    std::vector<ElementValues> out;
    const int shown = nDataItems > 0 ? ((currentDataItem % nDataItems) + nDataItems) % nDataItems : -1;
    for (const DataItem &item : dataItems) {
        if (item.getNElements() < nVertices)
            continue;
        ElementValues v;
        v.name = item.getName();
        v.values = item.getData();
        v.lo = item.getMinimum();
        v.hi = item.getMaximum();
        v.shown = static_cast<int>(out.size()) == shown;
        out.push_back(std::move(v));
    }
    return out;
}

void GLMeshObject::makeDrawnTriangles()
{
    const ElementEdits &edits = cleaning.getEdits();
    if (edits.getHidden().empty() && edits.getDeleted().empty()) {
        drawnTriangles.reset();
        return;
    }
    const size_t n = static_cast<size_t>(std::max(0, nTriangles));
    drawnTriangles = allocateLargeArray<int>(3 * n);
    for (size_t t = 0; t < n; ++t) {
        const int *c = &triangles[3 * t];
        const bool shown = edits.isShown(static_cast<size_t>(c[0])) && edits.isShown(static_cast<size_t>(c[1])) &&
                           edits.isShown(static_cast<size_t>(c[2]));
        for (int k = 0; k < 3; ++k)
            drawnTriangles[3 * t + static_cast<size_t>(k)] = shown ? c[k] : c[0];
    }
}

void GLMeshObject::editsChanged()
{
    makeDrawnTriangles();
    // Every part built from the triangles drawn builds again.
    geometryChanged();
    drawing.dropSortedOrder();
    picking.dropAdjacency();
    texturing.trianglesChanged();
    postRedisplay();
}

void GLMeshObject::selectionChanged()
{
    const ElementSelection &vertex = cleaning.getSelection();
    const ElementEdits &edits = cleaning.getEdits();
    selectedFaces = ElementSelection(static_cast<size_t>(std::max(0, nTriangles)));
    markedFaces.clear();
    if (vertex.empty())
        return;
    for (int t = 0; t < nTriangles; ++t) {
        const int *c = &triangles[3 * static_cast<size_t>(t)];
        bool spanned = true;
        for (int k = 0; k < 3; ++k)
            spanned = spanned && vertex.contains(static_cast<size_t>(c[k]));
        if (!spanned)
            continue;
        selectedFaces.add(static_cast<size_t>(getFileTriangle(t)));
        if (edits.isShown(static_cast<size_t>(c[0])) && edits.isShown(static_cast<size_t>(c[1])) &&
            edits.isShown(static_cast<size_t>(c[2])))
            markedFaces.insert(markedFaces.end(), c, c + 3);
    }
}

void GLMeshObject::drawMarkedExtras(const unsigned char colour[3])
{
    if (markedFaces.empty())
        return;
    // In front of the faces they cover, from both sides.
    glDisable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(-1, -2);
    glColor3ubv(colour);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(markedFaces.size()), GL_UNSIGNED_INT, markedFaces.data());
    glDisable(GL_POLYGON_OFFSET_FILL);
}

// --- Saving ---------------------------------------------------------------------------------

void GLMeshObject::checkSaveName(const std::string &to) const
{
    if (!endsWith(to, ".ply") && !endsWith(to, ".obj"))
        throw std::runtime_error("a mesh is saved as PLY (.ply) or OBJ (.obj)");
}

MeshOutput GLMeshObject::fileLayout(std::vector<int> &fileOrder) const
{
    MeshOutput m;
    m.nVertices = static_cast<size_t>(std::max(0, nVertices));
    m.vertices = vertices;
    m.nTriangles = static_cast<size_t>(std::max(0, nTriangles));
    m.triangles = triangles.get();
    if (!fileTriangle.empty()) {
        // The triangles back in the file's order (a texture may have regrouped them).
        fileOrder.assign(3 * m.nTriangles, 0);
        for (size_t t = 0; t < m.nTriangles; ++t)
            std::copy_n(&triangles[3 * t], 3, &fileOrder[3 * static_cast<size_t>(fileTriangle[t])]);
        m.triangles = fileOrder.data();
    }
    if (hasFileColours())
        m.colours = fileColours.data();
    for (const DataItem &item : dataItems)
        if (item.getNElements() >= nVertices)
            m.items.emplace_back(item.getName(), item.getData());
    // Texture coordinates across the images an imported mesh names (a tri file's coordinates
    // are in its own layout).
    const float *uv = fileTexCoordsKept ? fileTexCoords.get() : texCoords.get();
    if (uv && texCoordVersion >= 2 && !texturing.getImages().empty()) {
        m.texCoords = uv;
        m.images = texturing.getImages();
        if (texturing.getImageOfTriangle().size() == m.nTriangles)
            m.imageOfTriangle = texturing.getImageOfTriangle().data();
    }
    return m;
}

size_t GLMeshObject::saveKept(const std::string &to, const ElementSelection &gone)
{
    std::vector<int> fileOrder;
    const MeshOutput all = fileLayout(fileOrder);
    // The vertices kept, renumbered in their order, and their values.
    std::vector<int> renumbered(all.nVertices, -1);
    std::vector<float> xyz;
    std::vector<unsigned char> rgb;
    std::vector<std::vector<float>> values(all.items.size());
    for (size_t v = 0; v < all.nVertices; ++v) {
        if (gone.contains(v))
            continue;
        renumbered[v] = static_cast<int>(xyz.size() / 3);
        xyz.insert(xyz.end(), all.vertices + 3 * v, all.vertices + 3 * v + 3);
        if (all.colours)
            rgb.insert(rgb.end(), all.colours + 3 * v, all.colours + 3 * v + 3);
        for (size_t k = 0; k < all.items.size(); ++k)
            values[k].push_back(all.items[k].second[v]);
    }
    // The faces whose three vertices are kept, with their corners' coordinates and image.
    std::vector<int> corners, images;
    std::vector<float> uv;
    for (size_t t = 0; t < all.nTriangles; ++t) {
        const int *c = all.triangles + 3 * t;
        if (renumbered[static_cast<size_t>(c[0])] < 0 || renumbered[static_cast<size_t>(c[1])] < 0 ||
            renumbered[static_cast<size_t>(c[2])] < 0)
            continue;
        for (int k = 0; k < 3; ++k)
            corners.push_back(renumbered[static_cast<size_t>(c[k])]);
        if (all.texCoords)
            uv.insert(uv.end(), all.texCoords + 6 * t, all.texCoords + 6 * t + 6);
        if (all.imageOfTriangle)
            images.push_back(all.imageOfTriangle[t]);
    }
    MeshOutput kept;
    kept.nVertices = xyz.size() / 3;
    kept.vertices = xyz.data();
    kept.colours = all.colours ? rgb.data() : nullptr;
    for (size_t k = 0; k < all.items.size(); ++k)
        kept.items.emplace_back(all.items[k].first, values[k].data());
    kept.nTriangles = corners.size() / 3;
    kept.triangles = corners.data();
    if (all.texCoords) {
        kept.texCoords = uv.data();
        kept.imageOfTriangle = all.imageOfTriangle ? images.data() : nullptr;
        kept.images = placeImages(to, all.images, texturing.getEmbeddedImages());
    }
    if (endsWith(to, ".obj"))
        ObjWriter::write(to, kept);
    else
        PlyWriter::writeMesh(to, kept);
    return kept.nVertices;
}

bool GLMeshObject::saveAs(const std::string &to)
{
    return cleaning.saveAs(to);
}
