#include "formats/HttpRangeReader.h"

#include "math/Parallel.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// libcurl's global state is set up once, before any handle.
void startCurl()
{
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!started)
        fail("libcurl does not start");
}

struct Answer {
    char *into = nullptr;
    size_t got = 0;
    size_t limit = 0; // more than this is a server that ignored the range
    bool tooLong = false;
    std::string contentRange;
    std::atomic<uint64_t> *received = nullptr; // the pool's count
};

size_t onBody(char *data, size_t size, size_t n, void *user)
{
    Answer &a = *static_cast<Answer *>(user);
    const size_t bytes = size * n;
    if (a.got + bytes > a.limit) {
        a.tooLong = true;
        return 0; // ends the transfer: the whole resource is not wanted
    }
    std::memcpy(a.into + a.got, data, bytes);
    a.got += bytes;
    *a.received += bytes;
    return bytes;
}

size_t onHeader(char *data, size_t size, size_t n, void *user)
{
    Answer &a = *static_cast<Answer *>(user);
    const std::string line(data, size * n);
    if (line.size() > 14 && strncasecmp(line.c_str(), "content-range:", 14) == 0)
        a.contentRange = line.substr(14);
    return size * n;
}

constexpr long kMostRedirects = 10;

// The stop of the thread's StopScope, if any.
thread_local const std::atomic<bool> *threadStop = nullptr;

struct Stops {
    const std::atomic<bool> *pool, *thread;
    bool any() const { return pool->load() || (thread && thread->load()); }
};

// Ends a transfer of a pool that was cancelled, or of a thread told to stop.
int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const Stops *>(user)->any() ? 1 : 0;
}

// "bytes FIRST-LAST/TOTAL" or "bytes */TOTAL": false when it is neither.
bool parseContentRange(const std::string &text, uint64_t &first, uint64_t &last, uint64_t &total, bool &unsatisfied)
{
    const size_t at = text.find("bytes");
    if (at == std::string::npos)
        return false;
    const char *s = text.c_str() + at + 5;
    unsatisfied = std::sscanf(s, " */%" SCNu64, &total) == 1;
    return unsatisfied || std::sscanf(s, " %" SCNu64 "-%" SCNu64 "/%" SCNu64, &first, &last, &total) == 3;
}

// A failure worth trying again: the network or the server's own trouble.
struct Transient : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

struct HttpRangeReader::Handle {
    CURL *curl = curl_easy_init();
    ~Handle()
    {
        if (curl)
            curl_easy_cleanup(curl);
    }
};

HttpRangeReader::Pool::Pool() : Pool(Options()) {}

HttpRangeReader::Pool::Pool(Options o) : opts(o) { startCurl(); }

HttpRangeReader::Pool::~Pool() = default;

std::unique_ptr<HttpRangeReader::Handle> HttpRangeReader::Pool::take()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!idle.empty()) {
            std::unique_ptr<Handle> h = std::move(idle.back());
            idle.pop_back();
            return h;
        }
    }
    auto h = std::make_unique<Handle>();
    if (!h->curl)
        fail("libcurl gives no handle");
    return h;
}

void HttpRangeReader::Pool::give(std::unique_ptr<Handle> h)
{
    std::lock_guard<std::mutex> hold(lock);
    idle.push_back(std::move(h));
}

HttpRangeReader::HttpRangeReader(std::string url) : HttpRangeReader(std::move(url), Options()) {}

HttpRangeReader::HttpRangeReader(std::string url, Options o)
    : HttpRangeReader(std::move(url), std::make_shared<Pool>(o))
{
}

HttpRangeReader::HttpRangeReader(std::string url, std::shared_ptr<Pool> shared)
    : address(std::move(url)), pool(std::move(shared))
{
    startCurl();
    if (!isRemote(address.c_str()))
        fail(address + " is not an http:// or https:// address");
}

HttpRangeReader::~HttpRangeReader() = default;

bool HttpRangeReader::isRemote(const char *path)
{
    return path && (std::strncmp(path, "http://", 7) == 0 || std::strncmp(path, "https://", 8) == 0);
}

size_t HttpRangeReader::fetch(Handle &h, uint64_t offset, size_t bytes, char *into, bool clip, uint64_t *total)
{
    Answer a;
    a.into = into;
    a.limit = bytes;
    a.received = &pool->receivedBytes;
    char range[64];
    std::snprintf(range, sizeof range, "%" PRIu64 "-%" PRIu64, offset, offset + bytes - 1);
    CURL *c = h.curl;
    curl_easy_reset(c);
    curl_easy_setopt(c, CURLOPT_URL, address.c_str());
    curl_easy_setopt(c, CURLOPT_RANGE, range);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &a);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &a);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    // A server sending its clients round in circles would otherwise hold a reader until the
    // transfer's time is out, and again at every try.
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMostRedirects);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    const long stall = pool->options().stallMs;
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, stall);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, std::max(1L, (stall + 999) / 1000));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    const Stops stops{&pool->cancelled, threadStop};
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &stops);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    const CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_ABORTED_BY_CALLBACK)
        fail(address + ": cancelled");
    if (rc == CURLE_TOO_MANY_REDIRECTS)
        fail(address + ": redirected more than " + std::to_string(kMostRedirects) + " times");
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    uint64_t first = 0, last = 0, whole = 0;
    bool unsatisfied = false;
    const bool described = parseContentRange(a.contentRange, first, last, whole, unsatisfied);
    if (status == 200) {
        // Servers answer a range of an empty file with the whole of it: nothing.
        curl_off_t length = -1;
        curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (clip && offset == 0 && rc == CURLE_OK && a.got == 0 && length == 0) {
            if (total)
                *total = 0;
            return 0;
        }
        fail("the server of " + address + " ignores byte ranges (it sent the whole file to a range request)");
    }
    if (status == 416) {
        // An empty file satisfies no range at all: what a clipped read of it gives is nothing.
        if (clip && described && unsatisfied && offset >= whole) {
            if (total)
                *total = whole;
            return 0;
        }
        fail(address + ": bytes " + range + " are past the end of the file");
    }
    if (status >= 400 && status < 500)
        fail(address + ": HTTP " + std::to_string(status));
    if (status >= 500)
        throw Transient(address + ": HTTP " + std::to_string(status));
    if (a.tooLong)
        fail("the server of " + address + " ignores byte ranges (it sent more than the range asked)");
    if (rc != CURLE_OK)
        throw Transient(address + ": " + curl_easy_strerror(rc) + " after " + std::to_string(a.got) + " of " +
                        std::to_string(bytes) + " bytes");
    if (status != 206)
        fail(address + ": HTTP " + std::to_string(status));
    if (!described || unsatisfied)
        fail(address + ": the answer gives no size (Content-Range)");
    const uint64_t end = clip ? std::min<uint64_t>(offset + bytes, whole) : offset + bytes;
    if (offset + bytes > whole && !clip)
        fail(address + ": bytes " + range + " are past the end of the file");
    // A server (or a cache before it) that answers with other bytes than asked must not pass
    // them off as the ones wanted.
    if (first != offset || last + 1 != end)
        fail(address + ": the server sent bytes " + std::to_string(first) + "-" + std::to_string(last) +
             " for bytes " + range);
    if (a.got != end - offset)
        throw Transient(address + ": " + std::to_string(a.got) + " of " + std::to_string(end - offset) +
                        " bytes came");
    if (total)
        *total = whole;
    return a.got;
}

size_t HttpRangeReader::fetchTrying(uint64_t offset, size_t bytes, char *into, bool clip, uint64_t *total)
{
    const Stops stops{&pool->cancelled, threadStop};
    long wait = pool->options().backoffMs;
    for (int attempt = 1;; ++attempt) {
        if (stops.any())
            fail(address + ": cancelled");
        std::unique_ptr<Handle> h = pool->take();
        try {
            const size_t got = fetch(*h, offset, bytes, into, clip, total);
            pool->give(std::move(h));
            return got;
        } catch (const Transient &e) {
            if (attempt >= pool->options().attempts)
                fail(std::string(e.what()) + " (" + std::to_string(attempt) + " tries)");
        }
        // The pause before the next try ends early for a stop.
        for (long slept = 0; slept < wait && !stops.any(); slept += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20L, wait - slept)));
        wait *= 2;
    }
}

std::string HttpRangeReader::read(uint64_t offset, size_t bytes)
{
    std::string body(bytes, '\0');
    if (bytes > 0)
        fetchTrying(offset, bytes, &body[0], false, nullptr);
    return body;
}

uint64_t HttpRangeReader::size()
{
    std::lock_guard<std::mutex> hold(sizeLock);
    if (!sizeKnown) {
        char first = 0;
        fetchTrying(0, 1, &first, true, &knownSize);
        sizeKnown = true;
    }
    return knownSize;
}

HttpRangeReader::StopScope::StopScope(const std::atomic<bool> *stop) : previous(threadStop) { threadStop = stop; }

HttpRangeReader::StopScope::~StopScope() { threadStop = previous; }

std::vector<std::string> HttpRangeReader::readMany(const std::vector<std::pair<uint64_t, size_t>> &ranges)
{
    std::vector<std::string> out(ranges.size());
    const std::atomic<bool> *stop = threadStop;
    Parallel::split(ranges.size(), 0, [&](unsigned, size_t begin, size_t end) {
        const StopScope scope(stop);
        for (size_t i = begin; i < end; ++i)
            out[i] = read(ranges[i].first, ranges[i].second);
    });
    return out;
}

std::string HttpRangeReader::readHead(size_t bytes)
{
    std::string head(std::max<size_t>(bytes, 1), '\0');
    uint64_t total = 0;
    head.resize(fetchTrying(0, head.size(), &head[0], true, &total));
    std::lock_guard<std::mutex> hold(sizeLock);
    knownSize = total;
    sizeKnown = true;
    return head;
}

std::string HttpRangeReader::readAll(uint64_t most)
{
    constexpr uint64_t kFirst = uint64_t(2) << 20, kPart = uint64_t(8) << 20;
    // The first part tells the size; a small file (a node, a hierarchy page) comes whole with it.
    std::string all = readHead(static_cast<size_t>(kFirst));
    const uint64_t total = size(), got = all.size();
    if (total > most)
        fail(address + " is " + std::to_string(total) + " bytes, more than " + std::to_string(most));
    all.resize(static_cast<size_t>(total));
    std::vector<uint64_t> starts;
    for (uint64_t at = got; at < total; at += kPart)
        starts.push_back(at);
    const std::atomic<bool> *stop = threadStop;
    Parallel::split(starts.size(), 0, [&](unsigned, size_t begin, size_t end) {
        const StopScope scope(stop);
        for (size_t i = begin; i < end; ++i) {
            const size_t n = static_cast<size_t>(std::min(kPart, total - starts[i]));
            fetchTrying(starts[i], n, &all[static_cast<size_t>(starts[i])], false, nullptr);
        }
    });
    return all;
}
