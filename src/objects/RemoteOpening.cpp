#include "objects/RemoteOpening.h"

#include "core/ElementHost.h"
#include "math/Messages.h"

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>

void openWhileAnswering(ElementHost *host, const std::string &title, HttpRangeReader::Pool &pool,
                        const std::function<float()> &percent, const std::function<void()> &work)
{
    // The work's messages go where the caller's would.
    MessageSink &sink = MessageSink::current();
    std::future<void> opening = std::async(std::launch::async, [&sink, &work] {
        ScopedThreadMessageSink scope(sink);
        work();
    });
    // A quick server shows no window.
    if (opening.wait_for(std::chrono::milliseconds(300)) != std::future_status::ready) {
        const std::unique_ptr<ExportProgress> progress(host ? host->openProgress(title.c_str()) : nullptr);
        while (opening.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (progress && !progress->setValue(percent ? percent() : 0))
                pool.cancel();
    }
    if (pool.isCancelled()) {
        // Whatever the work made of the cancel (a failed read, or one it gave up quietly).
        try {
            opening.get();
        } catch (const std::exception &) {
        }
        throw std::runtime_error("cancelled");
    }
    opening.get();
}
