#ifndef VELMORA_GLCAMERAOVERLAY_H
#define VELMORA_GLCAMERAOVERLAY_H

#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <memory>
#include <string>
#include <vector>

class GLCamera;
struct textureData;

/// What a GLCamera lays over the scene: the photographs and silhouettes of its views as
/// textured quads in front of their cameras (or flat in the window), the turntable's image
/// lines and the epipolar tangents. It finds the files of a sequence beside the camera file,
/// loads them as textures on demand and keeps their display lists.
///
/// It reads the camera's views and display state, and owns the textures and display lists.
class GLCameraOverlay {
public:
    explicit GLCameraOverlay(GLCamera &camera) : cam(camera) {}
    ~GLCameraOverlay();
    GLCameraOverlay(const GLCameraOverlay &) = delete;
    GLCameraOverlay &operator=(const GLCameraOverlay &) = delete;

    /// Room for the textures of n views, none loaded and none reported unreadable.
    void resize(int n);

    // See the methods of the same names in GLCamera.
    void searchImagePaths(const char *directory, const std::string &wantedExtension);
    static int getMaxTextureSize();
    static void setMaxTextureSize(int limit) { maxTextureSizeLimit = limit; }
    static int computeSubSampling(int width, int height);
    std::unique_ptr<textureData> loadImage(int i);
    std::unique_ptr<textureData> loadSilhouette(int i);
    const textureData *getTexture(int i) const;
    const textureData *getSilhouetteTexture() const { return silhouetteTexture.get(); }
    bool loadSilhouetteVector(int i, int part, std::vector<Point2> &points) const;
    float getImageDepth() const;
    Point3 projectToWindow(const Point3 &cameraPoint) const;
    Matrix3 imageToWindow(const Matrix4 &p) const;

    /// GLCamera::checkTextures() and rebuildDisplayLists(): what the next frame is to do.
    void requestTextures();
    void requestDisplayLists();
    void updateTextures();
    void drawTextures();
    void draw2DTexture();
    void drawCircularMotion();
    void drawEpipolarTangencies();

    void createCameraTexture(int i);
    void createSilhouetteTexture(int i);
    /// Compiles the display list of `texture`, a photograph or silhouette of view i.
    void createDisplayList(int i, const textureData *texture);
    /// Compiles view i's contour into the silhouette list.
    void createProfileDisplayList(int i);
    /// Display list i: one per view, the silhouette's last; made on first use.
    int displayList(int i);
    void releaseTextures();

private:
    GLCamera &cam;
    std::vector<std::unique_ptr<textureData>> textures; ///< one a view, null until loaded
    std::unique_ptr<textureData> silhouetteTexture;
    bool silhouetteIsContour = false; ///< the silhouette list holds a contour
    int silhouetteView = -1;          ///< the view the silhouette list shows
    bool texturesPending = false;     ///< checkTextures asked for textures not loaded yet
    bool listsStale = false;          ///< a view moved since the display lists were made
    int listBase = 0;                 ///< first of N + 1 display lists, 0 until made
    std::vector<char> imageFailed;    ///< the photograph was reported unreadable
    std::vector<char> silhouetteFailed;
    static int maxTextureSizeLimit;
};

#endif
