#include "app/SplatComparison.h"

#include "app/GLMachine.h"
#include "app/ViewEvaluation.h"
#include "camera/GLCamera.h"
#include "image/Bitmap.h"
#include "image/ImageCompare.h"
#include "math/Messages.h"
#include "objects/GLSplatObject.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

bool SplatComparison::printPsnr(GLMachine &m)
{
    GLCamera *camera = m.getCurrentCamera();
    const int view = camera ? camera->getCurrentView() : -1;
    if (!camera || view < 0 || !camera->isAtOriginalView()) {
        msg::note("Splats: PSNR needs an original view (Left, Right)\n");
        return false;
    }
    const std::string file = camera->getOverlay().getPhotographFile(view);
    Bitmap photo;
    try {
        if (!file.empty())
            photo.loadImage(file.c_str());
    } catch (...) {
        photo = Bitmap();
    }
    if (file.empty() || photo.getWidth() <= 0) {
        msg::note("Splats: view %d has no photograph to compare with\n", view);
        return false;
    }
    const GLView::Intrinsics k = camera->getIntrinsics(view);
    if (photo.getWidth() != static_cast<int>(k.W) || photo.getHeight() != static_cast<int>(k.H)) {
        msg::note("Splats: the photograph %s is %d x %d, view %d is %g x %g\n", file.c_str(), photo.getWidth(),
                  photo.getHeight(), view, static_cast<double>(k.W), static_cast<double>(k.H));
        return false;
    }
    // The background as the frame holds it: 8 bits a channel. Unless the user chose one, the
    // photographs' own: the viewer's grey would count against splats that match them.
    Point4 background = m.getBackgroundColor();
    float bg[3] = {background.x, background.y, background.z};
    const bool estimated = !m.isBackgroundChosen() && ViewEvaluation::photographBackground(m, bg);
    for (int ch = 0; ch < 3; ++ch)
        bg[ch] = std::round(bg[ch] * 255.f) / 255.f;
    char over[80];
    std::snprintf(over, sizeof over, "; background %s %.2f %.2f %.2f", estimated ? "of the photographs" : "as set",
                  bg[0], bg[1], bg[2]);
    // Camera files with a silhouette sequence have one a view; reconstructions' cameras none.
    std::vector<unsigned char> silhouette;
    const std::string silhouetteFile = camera->getOverlay().getSilhouetteFile(view);
    if (!silhouetteFile.empty()) {
        int sw = 0, sh = 0;
        silhouette = ViewEvaluation::readSilhouette(silhouetteFile, sw, sh);
        if (!silhouette.empty() && (sw != static_cast<int>(k.W) || sh != static_cast<int>(k.H))) {
            msg::note("Splats: the silhouette %s is %d x %d, view %d is %g x %g\n", silhouetteFile.c_str(), sw, sh,
                      view, static_cast<double>(k.W), static_cast<double>(k.H));
            silhouette.clear();
        }
    }
    bool any = false;
    for (int i = 0; i < m.getNObjects(); ++i) {
        const GLSplatObject *splats = dynamic_cast<const GLSplatObject *>(m.getObject(i));
        if (!splats)
            continue;
        any = true;
        // The view's camera after the object's pose: x = R (P X + p) + t.
        SplatCamera cam;
        const Matrix3 &R = camera->getRotation(view);
        const Point3 &t = camera->getTranslation(view);
        const Matrix4 &P = splats->getPose();
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int j = 0; j < 3; ++j)
                    v += static_cast<double>(R(r, j)) * P(j, c);
                cam.R[3 * r + c] = v;
            }
            double v = (&t.x)[r];
            for (int j = 0; j < 3; ++j)
                v += static_cast<double>(R(r, j)) * P(j, 3);
            cam.t[r] = v;
        }
        k.copyTo(cam);
        const std::vector<unsigned char> drawn = splats->render(cam).composite8(bg);
        const unsigned char *photoPixels = reinterpret_cast<const unsigned char *>(&photo.get(0, 0));
        const double whole = imagecompare::psnr(drawn.data(), photoPixels, cam.width, cam.height);
        if (silhouette.empty()) {
            msg::note("Splats: %s against %s (view %d): PSNR %.2f dB%s\n", splats->getPath().c_str(), file.c_str(),
                      view, whole, over);
            continue;
        }
        const double inside = imagecompare::psnr(drawn.data(), photoPixels, cam.width, cam.height, silhouette.data());
        msg::note("Splats: %s against %s (view %d): PSNR %.2f dB, inside the silhouette %.2f dB%s\n",
                  splats->getPath().c_str(), file.c_str(), view, whole, inside, over);
    }
    if (!any)
        msg::note("Splats: no splat scene to compare with the photograph\n");
    return any;
}
