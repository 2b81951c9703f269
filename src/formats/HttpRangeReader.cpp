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
    std::string body;
    size_t limit = 0; // more than this is a server that ignored the range
    bool tooLong = false;
    std::string contentRange;
};

size_t onBody(char *data, size_t size, size_t n, void *user)
{
    Answer &a = *static_cast<Answer *>(user);
    const size_t bytes = size * n;
    if (a.body.size() + bytes > a.limit) {
        a.tooLong = true;
        return 0; // ends the transfer: the whole resource is not wanted
    }
    a.body.append(data, bytes);
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

HttpRangeReader::HttpRangeReader(std::string url) : HttpRangeReader(std::move(url), Options()) {}

HttpRangeReader::HttpRangeReader(std::string url, Options o) : address(std::move(url)), options(o)
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

std::unique_ptr<HttpRangeReader::Handle> HttpRangeReader::take()
{
    {
        std::lock_guard<std::mutex> lock(poolLock);
        if (!pool.empty()) {
            std::unique_ptr<Handle> h = std::move(pool.back());
            pool.pop_back();
            return h;
        }
    }
    auto h = std::make_unique<Handle>();
    if (!h->curl)
        fail("libcurl gives no handle");
    return h;
}

void HttpRangeReader::give(std::unique_ptr<Handle> h)
{
    std::lock_guard<std::mutex> lock(poolLock);
    pool.push_back(std::move(h));
}

std::string HttpRangeReader::fetch(Handle &h, uint64_t offset, size_t bytes, uint64_t *total)
{
    Answer a;
    a.limit = bytes;
    a.body.reserve(bytes);
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
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    const CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status == 200)
        fail("the server of " + address + " ignores byte ranges (it sent the whole file to a range request)");
    if (status == 416)
        fail(address + ": bytes " + range + " are past the end of the file");
    if (status >= 400 && status < 500)
        fail(address + ": HTTP " + std::to_string(status));
    if (status >= 500)
        throw Transient(address + ": HTTP " + std::to_string(status));
    if (a.tooLong)
        fail("the server of " + address + " ignores byte ranges (it sent more than the range asked)");
    if (rc != CURLE_OK)
        throw Transient(address + ": " + curl_easy_strerror(rc) + " after " + std::to_string(a.body.size()) + " of " +
                        std::to_string(bytes) + " bytes");
    if (status != 206)
        fail(address + ": HTTP " + std::to_string(status));
    uint64_t whole = 0;
    const size_t slash = a.contentRange.find('/');
    if (slash == std::string::npos || std::sscanf(a.contentRange.c_str() + slash + 1, "%" SCNu64, &whole) != 1)
        fail(address + ": the answer gives no size (Content-Range)");
    if (offset + bytes > whole)
        fail(address + ": bytes " + range + " are past the end of the file");
    if (a.body.size() != bytes)
        throw Transient(address + ": " + std::to_string(a.body.size()) + " of " + std::to_string(bytes) + " bytes came");
    if (total)
        *total = whole;
    return a.body;
}

std::string HttpRangeReader::read(uint64_t offset, size_t bytes)
{
    if (bytes == 0)
        return std::string();
    long wait = options.backoffMs;
    for (int attempt = 1;; ++attempt) {
        std::unique_ptr<Handle> h = take();
        try {
            std::string body = fetch(*h, offset, bytes, nullptr);
            give(std::move(h));
            return body;
        } catch (const Transient &e) {
            if (attempt >= options.attempts)
                fail(std::string(e.what()) + " (" + std::to_string(attempt) + " tries)");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        wait *= 2;
    }
}

uint64_t HttpRangeReader::size()
{
    long wait = options.backoffMs;
    for (int attempt = 1;; ++attempt) {
        std::unique_ptr<Handle> h = take();
        try {
            uint64_t total = 0;
            fetch(*h, 0, 1, &total);
            give(std::move(h));
            return total;
        } catch (const Transient &e) {
            if (attempt >= options.attempts)
                fail(std::string(e.what()) + " (" + std::to_string(attempt) + " tries)");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        wait *= 2;
    }
}

std::vector<std::string> HttpRangeReader::readMany(const std::vector<std::pair<uint64_t, size_t>> &ranges)
{
    std::vector<std::string> out(ranges.size());
    Parallel::split(ranges.size(), 0, [&](unsigned, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            out[i] = read(ranges[i].first, ranges[i].second);
    });
    return out;
}

std::string HttpRangeReader::readAll()
{
    const uint64_t total = size();
    if (total > (uint64_t(1) << 40))
        fail(address + " is " + std::to_string(total) + " bytes, more than this reader takes");
    constexpr uint64_t kPart = uint64_t(8) << 20;
    std::vector<std::pair<uint64_t, size_t>> ranges;
    for (uint64_t at = 0; at < total; at += kPart)
        ranges.push_back({at, static_cast<size_t>(std::min(kPart, total - at))});
    std::string all;
    all.reserve(static_cast<size_t>(total));
    for (const std::string &part : readMany(ranges))
        all += part;
    return all;
}
