// A camera file of any version (1.0 without a header word, 2.0 and 3.0 turntables, 4.0 poses),
// read as the viewer reads one named on its command line.
#include "Harness.h"

#include "camera/GLView.h"

#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("camera.dat", data, size);
    GLView view(path.c_str());
    // A camera that loads is used at once: every view's model-view and centre, and the
    // projection, which divides by the image size.
    const int n = view.getNViews();
    if (n < 1 || n > GLView::maxViews || !(view.getWidth() > 0 && view.getHeight() > 0))
        std::abort();
    for (int i = 0; i < n; ++i) {
        view.getGLEMatrix(i);
        view.getOrigin(i);
    }
    view.getGLKMatrix(512, 384, 0.1f, 100.0f);
}
