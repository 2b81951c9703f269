#include "camera/ReconstructionViews.h"

#include "image/Bitmap.h"
#include "image/ImageCodecs.h"
#include "math/Messages.h"

#include <exception>

ReconstructionViews ReconstructionViews::of(const Reconstruction &model, const std::vector<std::string> &photographs)
{
    const size_t n = model.views.size();
    ReconstructionViews views;
    std::vector<GLView::Intrinsics> &intrinsics = views.intrinsics;
    std::vector<Matrix3> &rotations = views.rotations;
    std::vector<Point3> &translations = views.translations;
    intrinsics.resize(n);
    rotations.resize(n);
    translations.resize(n);
    for (const ReconstructionView &v : model.views)
        if (!v.distortion.isIdentity()) {
            views.distortions.reserve(n);
            for (const ReconstructionView &w : model.views)
                views.distortions.push_back(w.distortion);
            break;
        }
    int knownW = 0, knownH = 0;
    bool guessed = false;
    for (size_t i = 0; i < n; ++i) {
        const ReconstructionView &v = model.views[i];
        int w = v.width, h = v.height;
        if (model.centredPrincipalPoint && i < photographs.size() && !photographs[i].empty()) {
            // JPEG and PNG photographs tell their size from their header; others are decoded.
            if (imagecodecs::imageSize(photographs[i].c_str(), w, h)) {
                knownW = w;
                knownH = h;
            } else {
                try {
                    Bitmap image;
                    image.loadImage(photographs[i].c_str());
                    w = image.width;
                    h = image.height;
                    knownW = w;
                    knownH = h;
                } catch (const std::exception &) {
                    msg::warning("ReconstructionImport: can't read the photograph %s\n", photographs[i].c_str());
                }
            }
        }
        GLView::Intrinsics &k = intrinsics[i];
        // Focal lengths stay far enough below the float range for the guessed image size.
        k.fx = reconstructionFloat(v.fx * 4, "a focal length") / 4;
        k.fy = reconstructionFloat(v.fy, "a focal length");
        k.W = static_cast<float>(w);
        k.H = static_cast<float>(h);
        k.cx = reconstructionFloat(v.cx, "a principal point");
        k.cy = reconstructionFloat(v.cy, "a principal point");
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                rotations[i](r, c) = reconstructionFloat(v.R[3 * r + c], "a rotation");
        translations[i] = Point3(reconstructionFloat(v.t[0], "a translation"), reconstructionFloat(v.t[1], "a translation"),
                                 reconstructionFloat(v.t[2], "a translation"));
    }
    if (model.centredPrincipalPoint) {
        for (size_t i = 0; i < n; ++i) {
            GLView::Intrinsics &k = intrinsics[i];
            if (!(k.W > 0 && k.H > 0)) {
                if (knownW > 0) {
                    k.W = static_cast<float>(knownW);
                    k.H = static_cast<float>(knownH);
                } else {
                    k.W = k.H = 2 * k.fx;
                    guessed = true;
                }
            }
            k.cx = k.W / 2;
            k.cy = k.H / 2;
        }
        if (guessed)
            msg::warning("ReconstructionImport: image size unknown without the photographs: square images of twice "
                         "the focal length assumed\n");
    }
    return views;
}
