#include "objects/Answering.h"

#include "core/ElementHost.h"
#include "math/Messages.h"

#include <future>
#include <stdexcept>

void runAnswering(const std::function<void()> &work, const std::function<bool()> &answer,
                  const std::function<void()> &stop)
{
    MessageSink &sink = MessageSink::current();
    std::future<void> running = std::async(std::launch::async, [&sink, &work] {
        ScopedThreadMessageSink scope(sink);
        work();
    });
    bool stopped = false;
    while (running.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        if (!stopped && !answer()) {
            stopped = true;
            stop();
        }
    running.get();
}

LateProgress::LateProgress(ElementHost *h, std::string t) : host(h), title(std::move(t)) {}

LateProgress::~LateProgress() = default;

bool LateProgress::show(float percent)
{
    if (!window && host && std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(300))
        window.reset(host->openProgress(title.c_str()));
    return !window || window->setValue(percent);
}

void openWhileAnswering(ElementHost *host, const std::string &path, const std::function<float()> &percent,
                        const std::function<void()> &cancel, const std::function<void()> &work)
{
    LateProgress progress(host, "Opening " + path);
    bool cancelled = false;
    try {
        runAnswering(
            work, [&] { return progress.show(percent ? percent() : 0); },
            [&] {
                cancelled = true;
                cancel();
            });
    } catch (const std::exception &) {
        if (!cancelled)
            throw;
    }
    if (cancelled)
        throw std::runtime_error("cancelled");
}
