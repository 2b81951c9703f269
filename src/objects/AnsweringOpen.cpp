#include "objects/AnsweringOpen.h"

#include "core/ElementHost.h"
#include "math/Messages.h"

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>

void openWhileAnswering(ElementHost *host, const std::string &path, const std::function<float()> &percent,
                        const std::function<void()> &cancel, const std::function<void()> &work)
{
    // The work's messages go where the caller's would.
    MessageSink &sink = MessageSink::current();
    std::future<void> opening = std::async(std::launch::async, [&sink, &work] {
        ScopedThreadMessageSink scope(sink);
        work();
    });
    bool cancelled = false;
    // A quick one shows no window.
    if (opening.wait_for(std::chrono::milliseconds(300)) != std::future_status::ready) {
        const std::unique_ptr<ExportProgress> progress(host ? host->openProgress(("Opening " + path).c_str())
                                                            : nullptr);
        // The window goes on answering after a cancel, until the work has ended.
        while (opening.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (progress && !progress->setValue(percent ? percent() : 0) && !cancelled) {
                cancelled = true;
                cancel();
            }
    }
    if (cancelled) {
        try {
            opening.get();
        } catch (const std::exception &) {
        }
        throw std::runtime_error("cancelled");
    }
    opening.get();
}
