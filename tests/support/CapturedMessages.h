#ifndef VELMORA_TEST_CAPTUREDMESSAGES_H
#define VELMORA_TEST_CAPTUREDMESSAGES_H

#include "math/Messages.h"

#include <memory>
#include <string>

namespace testsupport {

/// The library's messages from construction until take(), as standard output would have
/// shown them, kept from standard output meanwhile.
class CapturedMessages {
public:
    CapturedMessages() : scope(std::make_unique<ScopedMessageSink>(sink)) {}
    /// Stops catching and returns every text caught.
    std::string take()
    {
        scope.reset();
        return sink.text();
    }

private:
    CapturingMessageSink sink;
    std::unique_ptr<ScopedMessageSink> scope;
};

} // namespace testsupport

#endif
