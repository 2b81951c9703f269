#ifndef VELMORA_HTTPRANGEREADER_H
#define VELMORA_HTTPRANGEREADER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

/// Byte ranges of one resource on a web server (`http://` or `https://`), through libcurl.
/// Connections are kept in a pool and reused; readers of the files of one cloud share one pool
/// (Pool), so that its nodes reuse the same few connections. `readMany` fetches ranges on both
/// cores. A failed transfer (connection refused or cut, a 5xx answer) is tried again after a
/// back-off that doubles; a 404, or a server that answers a range request with the whole
/// resource (it ignores Range) or with other bytes than asked, fails at once. Every failure
/// raises std::runtime_error with a text that names the address.
class HttpRangeReader {
public:
    struct Options {
        int attempts = 4;        ///< tries of one range, the first included
        long backoffMs = 100;    ///< the wait before the second try; doubled for each further one
        /// A transfer that connects, or receives a byte, no sooner than this has stalled (and
        /// is tried again): a large node on a slow link takes as long as it takes.
        long stallMs = 10000;
    };
    struct Handle;
    /// libcurl handles kept between transfers (each keeps its connections to the servers it
    /// reached open), for any number of readers on any threads.
    class Pool {
    public:
        Pool();
        explicit Pool(Options options);
        ~Pool();
        Pool(const Pool &) = delete;
        Pool &operator=(const Pool &) = delete;
        const Options &options() const { return opts; }
        /// Ends the transfers under way and refuses every further one ("cancelled"): a
        /// cloud that goes does not wait for its slow nodes.
        void cancel() { cancelled = true; }
        bool isCancelled() const { return cancelled; }
        /// The bytes its transfers have received so far, for a progress window.
        uint64_t received() const { return receivedBytes; }

    private:
        friend class HttpRangeReader;
        std::unique_ptr<Handle> take();
        void give(std::unique_ptr<Handle> h);
        Options opts;
        std::atomic<bool> cancelled{false};
        std::atomic<uint64_t> receivedBytes{0};
        std::mutex lock;
        std::vector<std::unique_ptr<Handle>> idle;
    };

    /// While it lasts, the transfers made on this thread (and on those that `readMany` and
    /// `readAll` spread their ranges over) also end, "cancelled", once `*stop` is true, as those
    /// of a cancelled pool do: a task the user stops does not wait for its reads under way,
    /// and the pool goes on serving the others.
    class StopScope {
    public:
        explicit StopScope(const std::atomic<bool> *stop);
        ~StopScope();
        StopScope(const StopScope &) = delete;
        StopScope &operator=(const StopScope &) = delete;

    private:
        const std::atomic<bool> *previous;
    };

    explicit HttpRangeReader(std::string url);
    HttpRangeReader(std::string url, Options options);
    HttpRangeReader(std::string url, std::shared_ptr<Pool> pool);
    ~HttpRangeReader();
    HttpRangeReader(const HttpRangeReader &) = delete;
    HttpRangeReader &operator=(const HttpRangeReader &) = delete;

    /// The resource's size in bytes, from the answer to a range request for its first byte
    /// (asked once, then kept). An empty resource has size 0.
    uint64_t size();
    /// Bytes [offset, offset + bytes) exactly; a short answer is a failure.
    std::string read(uint64_t offset, size_t bytes);
    /// The first `bytes` bytes (1 or more), fewer when the resource is shorter, in one request
    /// whose answer also tells the size (kept for size()).
    std::string readHead(size_t bytes);
    /// Several ranges at once, each as `read` gives it, in the order asked.
    std::vector<std::string> readMany(const std::vector<std::pair<uint64_t, size_t>> &ranges);

    /// The whole resource, at most `most` bytes (a larger one is refused before it is fetched):
    /// its first range tells the size, the others are fetched on both cores straight into
    /// the result.
    std::string readAll(uint64_t most = uint64_t(1) << 40);

    const std::string &url() const { return address; }
    static bool isRemote(const char *path);

private:
    /// Fetches [offset, offset + bytes) into `into`; with `clip`, a range that runs past the
    /// end gives what there is. Returns the bytes written; `total` receives the size.
    size_t fetch(Handle &h, uint64_t offset, size_t bytes, char *into, bool clip, uint64_t *total);
    /// fetch with the pool's tries and back-off.
    size_t fetchTrying(uint64_t offset, size_t bytes, char *into, bool clip, uint64_t *total);
    std::string address;
    std::shared_ptr<Pool> pool;
    std::mutex sizeLock;
    uint64_t knownSize = 0;
    bool sizeKnown = false;
};

#endif
