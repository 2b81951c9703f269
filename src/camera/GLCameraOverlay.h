#ifndef VELMORA_GLCAMERAOVERLAY_H
#define VELMORA_GLCAMERAOVERLAY_H

#include "camera/PhotographLoader.h"
#include "math/Matrix3.h"
#include "math/Matrix4.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Bitmap;
class GLView;

/// One photograph or silhouette loaded as a texture: the image size in pixels, the
/// power-of-two texture that holds it (sub-sampled by `subSampling` in both directions, in
/// its top-left corner), the display list that draws it and the OpenGL texture name.
struct textureData {
    int width, height;
    int texWidth, texHeight;
    int subSampling;
    int displayList;
    unsigned textureId;
};

/// What a camera shows now, as the overlay reads it for a frame or a texture.
struct CameraShown {
    int view = 0; ///< the current original view
    int windowWidth = 0, windowHeight = 0;
    int viewport[4] = {0, 0, 0, 0}; ///< x, y, width, height
    Matrix4 calibratedProjection;   ///< the projection before pan and zoom
    Matrix4 finalProjection;        ///< the calibrated projection with pan and zoom
    bool images = false;            ///< the photographs are shown
    bool silhouettes = false;       ///< the silhouette is shown
    bool transparency = false;      ///< photographs and silhouette are laid over at `opacity`
    float opacity = 0.5f;           ///< how much of them covers the scene when transparent (0 to 1)
    float worldScale = 0;           ///< see GLCamera::getWorldScale()
    float photographAngle = 0;      ///< see GLCamera::getPhotographAngle()
    Point3 turntableOffset;         ///< the distance vector of turntable views (see GLView)
};

/// What a GLCamera lays over the scene: the photographs and silhouettes of its views as
/// textured quads in front of their cameras (or flat in the window), the turntable's image
/// lines and the epipolar tangents. It finds the files of a sequence beside the camera file,
/// loads them as textures on demand and keeps their display lists.
///
/// It reads the camera's calibrated views and what the camera shows now (Camera), and owns
/// the names of the photograph and silhouette files, the textures and the display lists.
///
/// View i's photograph is "<image base path><i, two digits>.<image extension>", its
/// silhouette the same with the silhouette base path and extension ("sil": a Sil file, "pgm":
/// a raw PGM, "txt": a contour, anything else: an image read as grey); views handed over
/// in memory may name a photograph each instead. Photographs become textures on demand (read
/// at once, or on a worker, which also reads the photographs of the views either side ahead,
/// drawn once their view is shown) and stay loaded, one per view, within a memory budget; one
/// silhouette texture exists at a time. Textures never exceed
/// the maximum texture size: larger images are sub-sampled by a power of two.
class GLCameraOverlay {
public:
    /// The camera an overlay belongs to, as the overlay sees it.
    class Camera {
    public:
        virtual CameraShown shown() const = 0;
        /// Asks for a frame once `ready` returns true (work in the background is done).
        virtual void redisplayWhen(std::function<bool()> ready) const = 0;

    protected:
        ~Camera() = default;
    };

    GLCameraOverlay(const GLView &cameraViews, const Camera &owner) : views(cameraViews), camera(owner) {}
    ~GLCameraOverlay();
    GLCameraOverlay(const GLCameraOverlay &) = delete;
    GLCameraOverlay &operator=(const GLCameraOverlay &) = delete;

    /// Room for the textures of n views, none loaded and none reported unreadable.
    void resize(int n);

    // --- The files ------------------------------------------------------------------------
    /// Finds the photograph and silhouette files beside the camera file in `directory`, or
    /// where the base paths `images` and `silhouettes` say when they are not empty; the
    /// photographs' extension is `wantedExtension` when files of it exist (any one if empty).
    void searchImagePaths(const char *directory, const std::string &images,
                          const std::string &wantedExtension, const std::string &silhouettes);
    /// The file of each view's photograph (an empty name for a view without one), for views
    /// that name their own; empty: the sequence naming.
    void setPhotographFiles(const std::vector<std::string> &files) { photographFiles = files; }
    /// The file of view i's photograph (i wrapped), or "" when the view has none.
    std::string getPhotographFile(int i) const;
    /// The file of view i's silhouette (i wrapped), or "" when there is no silhouette sequence.
    std::string getSilhouetteFile(int i) const;
    const std::string &getImagePath() const { return imagePath; }
    const std::string &getImageExtension() const { return imageExtension; }
    const std::string &getSilhouettePath() const { return silhouettePath; }
    const std::string &getSilhouetteExtension() const { return silhouetteExtension; }

    // --- Textures -------------------------------------------------------------------------
    /// The largest texture side used: this overlay's limit when one is set, else
    /// GL_MAX_TEXTURE_SIZE (1024 when it cannot be asked).
    int getMaxTextureSize() const;
    /// Sets a limit below what OpenGL allows (0 lifts it).
    void setMaxTextureSize(int limit) { maxTextureSizeLimit = limit > 0 ? limit : 0; }
    /// The power-of-two factor that brings a width x height image under the maximum texture
    /// size; prints "GLCamera: subSampling:%d,GL_MAX_TEXTURE_SIZE:%d" when it is above 1.
    int computeSubSampling(int width, int height) const;
    /// The texture of view i's photograph (i wrapped into 0..N-1), or null when there is no
    /// photograph or the file cannot be read ("GLCamera: error reading %s", once a view). A
    /// current context is needed.
    std::unique_ptr<textureData> loadImage(int i);
    /// The same for view i's silhouette, as a luminance texture.
    std::unique_ptr<textureData> loadSilhouette(int i);
    /// The loaded photograph of view i (wrapped), or null.
    const textureData *getTexture(int i) const;

    /// Photographs asked for by a frame are read on a worker (on) or at once (off, as it is
    /// unless set): the frame then goes on without the photograph and another is asked for
    /// once it is there.
    void setBackgroundLoading(bool on) { background = on; }
    bool getBackgroundLoading() const { return background; }
    /// While on (for the frames of captures), a photograph the frame asks for is read at
    /// once, in the background or not.
    void setWaitForPhotographs(bool on) { waitForPhotographs = on; }
    /// The bytes the photographs' textures may take together (256 MiB unless set): past it
    /// the photographs used longest ago are let go (and read again when needed); the one
    /// shown last stays whatever its size.
    void setPhotographBudget(size_t bytes) { photographBudget = bytes; }
    size_t getPhotographBudget() const { return photographBudget; }
    size_t getLoadedPhotographBytes() const { return loadedBytes; }
    size_t getLoadedPhotographCount() const;
    /// The reader of the photographs (and keeper of the undistortion maps).
    const PhotographLoader &getLoader() const { return loader; }
    /// The silhouette texture, or null.
    const textureData *getSilhouetteTexture() const { return silhouetteTexture.get(); }
    /// View i's silhouette contour (part 0: the whole contour; see sequence::readContour).
    bool loadSilhouetteVector(int i, int part, std::vector<Point2> &points) const;
    /// The depth in front of a camera at which photographs are laid: just beyond the near
    /// plane the photographs are shown with.
    float getImageDepth() const;
    /// The window position of the point x in the camera frame of the current view, through
    /// the final projection (origin top-left, y down); z is the depth in that frame.
    Point3 projectToWindow(const Point3 &cameraPoint) const;
    /// The matrix that takes image pixels of the current view to window pixels (origin
    /// top-left) under the projection p.
    Matrix3 imageToWindow(const Matrix4 &p) const;

    /// What the next frame is to do: load the textures the current view and the display flags
    /// need, compile the display lists again after a view moved.
    void requestTextures();
    void requestDisplayLists();
    /// Does what was requested (a current context is needed).
    void updateTextures();
    /// The photographs and the silhouette as textured quads in front of their cameras.
    void drawTextures();
    /// The current photograph or silhouette flat in the window.
    void draw2DTexture();
    /// The turntable's image lines.
    void drawCircularMotion();
    /// Epipoles and tangents to the silhouette.
    void drawEpipolarTangencies();
    /// Deletes every texture and display list.
    void releaseTextures();

private:
    void createCameraTexture(int i);
    void createSilhouetteTexture(int i);
    /// Compiles the display list of `texture`, a photograph or silhouette of view i.
    void createDisplayList(int i, const textureData *texture);
    /// Compiles view i's contour into the silhouette list.
    void createProfileDisplayList(int i);
    /// Display list i: one per view, the silhouette's last; made on first use.
    int displayList(int i);
    /// View i of the camera's views, wrapped into 0..N-1.
    int wrap(int i) const;

    const GLView &views;
    const Camera &camera;
    std::string imagePath, imageExtension = "ppm";
    std::string silhouettePath, silhouetteExtension = "sil";
    std::vector<std::string> photographFiles;           ///< see setPhotographFiles()
    std::vector<std::unique_ptr<textureData>> textures; ///< one a view, null until loaded
    std::unique_ptr<textureData> silhouetteTexture;
    bool silhouetteIsContour = false; ///< the silhouette list holds a contour
    int silhouetteView = -1;          ///< the view the silhouette list shows
    bool texturesPending = false;     ///< checkTextures asked for textures not loaded yet
    bool listsStale = false;          ///< a view moved since the display lists were made
    int listBase = 0;                 ///< first of N + 1 display lists, 0 until made
    std::vector<char> imageFailed;    ///< the photograph was reported unreadable
    /// What reading view k's photograph takes.
    PhotographLoader::Request requestOf(int k) const;
    /// The texture of a decoded photograph (null, said once, for one that could not be read).
    std::unique_ptr<textureData> upload(const PhotographLoader::Decoded &d);
    /// Makes `texture` view k's photograph and lets older ones go past the budget.
    void install(int k, std::unique_ptr<textureData> texture);
    /// Installs what the worker finished.
    void takeDecoded();
    /// Lets the photographs used longest ago go until the budget holds, keeping view `keep`'s
    /// (none when -1) and the current view's.
    void evict(int keep);
    /// Reads the photographs and keeps the undistortion maps of the lenses met last (one a
    /// camera model and photograph size, shared by the views of that camera).
    PhotographLoader loader;
    bool background = false;
    bool waitForPhotographs = false;
    size_t photographBudget = size_t(256) << 20;
    size_t loadedBytes = 0;
    std::vector<uint64_t> lastUsed; ///< per view, when its photograph was last asked for
    /// Per view, its photograph was read ahead (the views either side of the one shown) and
    /// its view not shown since: kept, but not drawn.
    std::vector<char> readAhead;
    bool shownMarked = false; ///< the timing mark of the current view's photograph was given
    uint64_t useClock = 0;
    std::vector<char> silhouetteFailed;
    int maxTextureSizeLimit = 0;      ///< 0: the OpenGL limit
};

#endif
