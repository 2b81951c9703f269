#ifndef VELMORA_TEST_PROGRESSHOST_H
#define VELMORA_TEST_PROGRESSHOST_H

#include "core/ElementHost.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace testsupport
{

// A host whose progress windows say what they were shown, run `shown` (the window's loop, as
// it would draw a frame) at each step, and answer "Cancel" when asked to.
struct ProgressHost : QuietHost {
    struct Window : ExportProgress {
        explicit Window(ProgressHost &h) : host(h) {}
        bool setValue(float percent) override
        {
            host.most = std::max(host.most, percent);
            if (host.shown)
                host.shown();
            return !host.cancel;
        }
        void showError(const char *) override {}
        ProgressHost &host;
    };
    ExportProgress *openProgress(const char *title) override
    {
        return titles.push_back(title), new Window(*this);
    }
    // Frames drawn at once go to `view` when there is one.
    void updateDisplay() override
    {
        if (view)
            view->updateDisplay();
    }
    bool updateDisplayWhole() override { return !view || view->updateDisplayWhole(); }
    ElementWindow *view = nullptr;
    std::vector<std::string> titles;
    std::function<void()> shown;
    bool cancel = false;
    float most = -1; ///< the largest share shown
};

} // namespace testsupport

#endif
