#ifndef VELMORA_PHOTOGRAPHLOADER_H
#define VELMORA_PHOTOGRAPHLOADER_H

#include "camera/GLView.h"
#include "camera/UndistortionMap.h"
#include "math/LensDistortion.h"
#include "math/NewestFirstWorker.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

/// Turns photograph files into the texels of their textures, on the caller's thread or on a
/// worker of its own: the file read, its lens undone (UndistortionMap, one a lens, intrinsics
/// and size; the few used last are kept) and the picture sub-sampled into the top-left corner
/// of a power-of-two texture. No OpenGL: the overlay uploads what it takes.
///
/// Requests on the worker are served newest first, and only the few newest wait: a user
/// stepping through views quickly gets the view they stopped at, not every view they passed.
class PhotographLoader {
public:
    /// Undistortion maps kept (least recently used go first).
    static constexpr size_t maxMaps = 4;
    /// Requests that wait at most; older ones are dropped (and asked for again when needed).
    static constexpr size_t maxWaiting = 4;

    struct Request {
        int view = 0;
        std::string file;
        LensDistortion lens;
        GLView::Intrinsics intrinsics{};
        int maxTextureSize = 1024; ///< the largest texture side
    };
    struct Decoded {
        int view = 0;
        std::string file;
        bool failed = false;
        int width = 0, height = 0;       ///< the photograph
        int texWidth = 0, texHeight = 0; ///< the texture, powers of two
        int subSampling = 1;
        std::vector<unsigned char> texels; ///< RGB, texWidth x texHeight, rows top first
    };

    PhotographLoader() = default;
    PhotographLoader(const PhotographLoader &) = delete;
    PhotographLoader &operator=(const PhotographLoader &) = delete;

    /// Does the whole work now, on the caller's thread.
    Decoded decode(const Request &request);
    /// Queues the work for the worker (started on first use); a view already waiting or being
    /// decoded is not queued twice.
    void request(Request request);
    /// What the worker finished since the last call.
    std::vector<Decoded> take();
    /// True while view v waits or is being decoded.
    bool isPending(int view) const;
    /// Set when the worker finishes a photograph, cleared by take(): what a redraw waits for.
    std::shared_ptr<std::atomic<bool>> finishedFlag() const { return finished; }
    /// Undistortion maps kept now.
    size_t mapCount() const;

    /// The smallest power of two at least n.
    static int powerOfTwoAtLeast(int n);
    /// The power-of-two factor that brings a width x height picture under `maxSide` (both
    /// sides of its power-of-two texture).
    static int subSamplingFor(int width, int height, int maxSide);
    /// The texels of a width x height picture of `components` bytes a pixel sub-sampled by s
    /// into the top-left corner of a texW x texH texture (black elsewhere).
    static std::vector<unsigned char> texelsOf(const unsigned char *pixels, int width, int height, int components,
                                               int s, int &texW, int &texH);

private:
    /// The map of this lens, intrinsics and size, made when it is not kept.
    std::shared_ptr<const UndistortionMap> mapFor(const LensDistortion &lens, const GLView::Intrinsics &k, int w, int h);

    mutable std::mutex doneMutex;
    std::vector<Decoded> done;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);

    mutable std::mutex mapMutex;
    std::list<std::shared_ptr<const UndistortionMap>> maps; ///< most recently used first
    /// Last: it stops (and waits for the photograph under way) before the rest goes.
    NewestFirstWorker<Request> worker{maxWaiting, [this](int, Request &r) {
                                          Decoded d = decode(r);
                                          std::lock_guard<std::mutex> lock(doneMutex);
                                          done.push_back(std::move(d));
                                          finished->store(true);
                                      }};
};

#endif
