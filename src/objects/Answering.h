#ifndef VELMORA_ANSWERING_H
#define VELMORA_ANSWERING_H

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class ElementHost;
class ExportProgress;

/// Runs `work` on a thread of its own (its messages go where this thread's go) while this
/// thread calls `answer` every 50 ms until the work has ended: a window's events are handled
/// there. Once `answer` returns false, `stop` is called, once, and the waiting goes on until
/// the work has ended (the windows answering meanwhile). Raises what the work raised.
void runAnswering(const std::function<void()> &work, const std::function<bool()> &answer,
                  const std::function<void()> &stop);

/// A progress window titled `title` that a task opens only once it has taken a moment
/// (300 ms): a quick one shows none, and without a host none shows at all.
class LateProgress
{
  public:
    LateProgress(ElementHost *host, std::string title);
    ~LateProgress();
    LateProgress(const LateProgress &) = delete;
    LateProgress &operator=(const LateProgress &) = delete;
    /// Shows `percent`, the window opened first once the moment has passed; false once the
    /// user asked to stop the task.
    bool show(float percent);

  private:
    ElementHost *host;
    std::string title;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::unique_ptr<ExportProgress> window;
};

/// An opening that may take long (a file from a web server, a large file made into a
/// hierarchy) without holding the windows: `work` runs while the windows answer (see
/// runAnswering). With a `host`, a progress window "Opening PATH" shows after a moment, at
/// `percent()` (asked on the calling thread; null: 0), and its "Cancel" calls `cancel`, which
/// must make the work end soon. Returns once the work has ended; raises what it raised, or
/// "cancelled" once cancelled, whatever the work made of it (a read it gave up quietly).
void openWhileAnswering(ElementHost *host, const std::string &path, const std::function<float()> &percent,
                        const std::function<void()> &cancel, const std::function<void()> &work);

#endif
