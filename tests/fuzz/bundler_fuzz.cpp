// A Bundler file and its list.txt: a 32-bit little-endian length cuts the input into the
// two. A file that is read becomes the viewer's camera, whose every view is then used.
#include "Harness.h"
#include "formats/BundlerFile.h"
#include "camera/ReconstructionImport.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    if (size < 4)
        return;
    size_t a = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    const std::string rest(reinterpret_cast<const char *>(data + 4), size - 4);
    a = a > rest.size() ? rest.size() : a;
    const Reconstruction rec = BundlerFile::parse(rest.substr(0, a), rest.substr(a));
    if (rec.views.empty() || !rec.centredPrincipalPoint)
        std::abort();
    if (rec.views.size() > static_cast<size_t>(GLView::maxViews))
        return;
    const std::unique_ptr<GLCamera> camera = ReconstructionImport::makeCamera(rec, {});
    for (int i = 0; i < camera->getNViews(); ++i) {
        camera->selectIntrinsics(i);
        camera->GLView::getGLEMatrix(i);
        camera->GLView::getGLKMatrix(512, 384, 0.1f, 100.0f);
    }
    if (!rec.points.empty())
        ReconstructionImport::makePoints(rec);
}
