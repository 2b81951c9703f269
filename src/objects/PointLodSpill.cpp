#include "objects/PointLodSpill.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = 0x858458f6;

bool onDiskFolder(const char *dir)
{
    struct statfs fs;
    if (!dir || !*dir || statfs(dir, &fs) != 0)
        return false;
    return static_cast<long>(fs.f_type) != kTmpfsMagic && static_cast<long>(fs.f_type) != kRamfsMagic;
}

int openUnlinked(const char *dir)
{
#ifdef O_TMPFILE
    const int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    // File systems without unnamed files: a named one, unlinked at once.
    std::string name = std::string(dir) + "/velmora-points.XXXXXX";
    const int named = ::mkstemp(&name[0]);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

} // namespace

PointLodSpill::PointLodSpill(PointLodSpill &&other) noexcept : bytes(std::move(other.bytes)), fd(other.fd)
{
    other.fd = -1;
}

PointLodSpill &PointLodSpill::operator=(PointLodSpill &&other) noexcept
{
    if (this != &other) {
        if (fd >= 0)
            ::close(fd);
        bytes = std::move(other.bytes);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

PointLodSpill::~PointLodSpill()
{
    if (fd >= 0)
        ::close(fd);
}

PointLodSpill PointLodSpill::inMemory(size_t size)
{
    PointLodSpill s;
    s.bytes = allocateLargeArray<char>(size);
    return s;
}

PointLodSpill PointLodSpill::adopt(LargeArray<char> given)
{
    PointLodSpill s;
    s.bytes = std::move(given);
    return s;
}

PointLodSpill PointLodSpill::onDisk()
{
    for (const char *dir : {static_cast<const char *>(std::getenv("TMPDIR")), "/var/tmp", "/tmp"}) {
        if (!onDiskFolder(dir))
            continue;
        const int fd = openUnlinked(dir);
        if (fd >= 0) {
            PointLodSpill s;
            s.fd = fd;
            return s;
        }
    }
    throw std::runtime_error("no temporary folder on a disk");
}

void PointLodSpill::write(size_t at, const void *from, size_t n)
{
    if (bytes) {
        std::memcpy(bytes.get() + at, from, n);
        return;
    }
    const char *p = static_cast<const char *>(from);
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(at));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            throw std::runtime_error(std::string("can't write a temporary file: ") + std::strerror(errno));
        p += w;
        at += static_cast<size_t>(w);
        n -= static_cast<size_t>(w);
    }
}

void PointLodSpill::read(size_t at, void *to, size_t n) const
{
    if (bytes) {
        std::memcpy(to, bytes.get() + at, n);
        return;
    }
    char *p = static_cast<char *>(to);
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            throw std::runtime_error(std::string("can't read a temporary file: ") +
                                     (r == 0 ? "too short" : std::strerror(errno)));
        p += r;
        at += static_cast<size_t>(r);
        n -= static_cast<size_t>(r);
    }
}

uint32_t PointOrder::operator[](size_t i) const
{
    if (const uint32_t *m = memory())
        return m[i];
    uint32_t f = 0;
    read(i, 1, &f);
    return f;
}

size_t PointOrder::find(uint32_t f) const
{
    if (const uint32_t *m = memory())
        return static_cast<size_t>(std::find(m, m + n, f) - m);
    std::vector<uint32_t> chunk(size_t(1) << 18);
    for (size_t at = 0; at < n; at += chunk.size()) {
        const size_t k = std::min(chunk.size(), n - at);
        read(at, k, chunk.data());
        const auto hit = std::find(chunk.begin(), chunk.begin() + static_cast<long>(k), f);
        if (hit != chunk.begin() + static_cast<long>(k))
            return at + static_cast<size_t>(hit - chunk.begin());
    }
    return n;
}
