#ifndef VELMORA_TEST_LOCALSERVER_H
#define VELMORA_TEST_LOCALSERVER_H

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace testsupport {

/// A port on the loopback address that nothing listens on at the moment.
int freePort();
/// Whether something accepts connections on the loopback port.
bool accepts(int port);

/// Debian's nginx on a loopback port of its own, in the foreground of a child process, stopped
/// with the object: files under www/data/ of `dir` are served under /data/ with byte ranges,
/// the same under /norange/ without them and under /slow/ at 20 kB/s. data/node.bin holds
/// 300,000 known bytes (`bytes`).
class Nginx {
public:
    Nginx();
    ~Nginx();
    Nginx(const Nginx &) = delete;
    Nginx &operator=(const Nginx &) = delete;
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    /// The requests for `path` (as in url) the server has answered, once there are `atLeast`
    /// in its log (or after 10 s).
    size_t requests(const std::string &path, size_t atLeast = 0) const;
    std::string dir;
    int port;
    pid_t child = -1;
    std::string bytes;
};

} // namespace testsupport

#endif
