// A camera file of any version (1.0 without a header word, 2.0 and 3.0 turntables, 4.0 poses),
// read as the viewer reads one named on its command line. A camera that is read is used at
// once: every view's centre, and the projection, which divides by the image size.
#include "Harness.h"

#include "formats/CameraFile.h"

#include <cstdlib>
#include <stdexcept>

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("camera.dat", data, size);
    CameraFile camera;
    camera.read(path.c_str());
    const int n = camera.N;
    if (n < 1 || n > CameraFile::maxViews || !(camera.W > 0 && camera.H > 0) || camera.R.size() != size_t(n) ||
        camera.t.size() != size_t(n))
        std::abort();
    for (int i = 0; i < n; ++i)
        (void)-(camera.R[i].inverse() * camera.t[i]);
}
