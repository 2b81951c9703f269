#include "objects/AnsweringOpen.h"

#include "core/ElementHost.h"
#include "math/Messages.h"

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>

void openWhileAnswering(ElementHost *host, const std::string &title, const std::function<float()> &percent,
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
        const std::unique_ptr<ExportProgress> progress(host ? host->openProgress(title.c_str()) : nullptr);
        while (opening.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (progress && !cancelled && !progress->setValue(percent ? percent() : 0)) {
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
