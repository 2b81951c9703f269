#ifndef VELMORA_HTTPRANGEREADER_H
#define VELMORA_HTTPRANGEREADER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

/// Byte ranges of one resource on a web server (`http://` or `https://`), through libcurl.
/// Connections are kept in a small pool and reused; `readMany` fetches ranges on both cores.
/// A failed transfer (connection refused or cut, a 5xx answer) is tried again after a
/// back-off that doubles; a 404, or a server that answers a range request with the whole
/// resource (it ignores Range), fails at once. Every failure raises std::runtime_error with a
/// text that names the address.
class HttpRangeReader {
public:
    struct Options {
        int attempts = 4;        ///< tries of one range, the first included
        long backoffMs = 100;    ///< the wait before the second try; doubled for each further one
        long timeoutMs = 20000;  ///< for one transfer
    };
    explicit HttpRangeReader(std::string url);
    HttpRangeReader(std::string url, Options options);
    ~HttpRangeReader();
    HttpRangeReader(const HttpRangeReader &) = delete;
    HttpRangeReader &operator=(const HttpRangeReader &) = delete;

    /// The resource's size in bytes, from the answer to a range request for its first byte.
    uint64_t size();
    /// Bytes [offset, offset + bytes) exactly; a short answer is a failure.
    std::string read(uint64_t offset, size_t bytes);
    /// Several ranges at once, each as `read` gives it, in the order asked.
    std::vector<std::string> readMany(const std::vector<std::pair<uint64_t, size_t>> &ranges);

    /// The whole resource, fetched in ranges of a few megabytes on both cores.
    std::string readAll();

    const std::string &url() const { return address; }
    static bool isRemote(const char *path);

private:
    struct Handle;
    std::unique_ptr<Handle> take();
    void give(std::unique_ptr<Handle> h);
    std::string fetch(Handle &h, uint64_t offset, size_t bytes, uint64_t *total);
    std::string address;
    Options options;
    std::mutex poolLock;
    std::vector<std::unique_ptr<Handle>> pool;
};

#endif
