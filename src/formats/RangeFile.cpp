#include "formats/RangeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

// A file opened for one read, closed when it goes.
struct Opened {
    explicit Opened(const std::string &name) : fd(open(name.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (fd < 0)
            fail("can't read " + name + " (" + std::strerror(errno) + ")");
    }
    ~Opened() { close(fd); }
    Opened(const Opened &) = delete;
    Opened &operator=(const Opened &) = delete;
    int fd;
};

uint64_t sizeOf(int fd, const std::string &name)
{
    struct stat s;
    if (fstat(fd, &s) != 0)
        fail("can't read " + name);
    return static_cast<uint64_t>(s.st_size);
}

void readAt(int fd, const std::string &name, uint64_t offset, size_t bytes, char *into)
{
    for (size_t done = 0; done < bytes;) {
        const ssize_t got = pread(fd, into + done, bytes - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            fail(name + ": bytes " + std::to_string(offset) + "-" + std::to_string(offset + bytes - 1) +
                 (got == 0 ? " are past the end of the file" : " can't be read"));
        done += static_cast<size_t>(got);
    }
}

} // namespace

RangeFile::RangeFile(std::string path, std::shared_ptr<HttpRangeReader::Pool> pool) : name(std::move(path))
{
    if (HttpRangeReader::isRemote(name.c_str()))
        remote = pool ? std::make_unique<HttpRangeReader>(name, std::move(pool)) : std::make_unique<HttpRangeReader>(name);
}

RangeFile::~RangeFile() = default;

std::string RangeFile::folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

uint64_t RangeFile::size()
{
    if (remote)
        return remote->size();
    const Opened f(name);
    return sizeOf(f.fd, name);
}

std::string RangeFile::read(uint64_t offset, size_t bytes)
{
    if (remote)
        return remote->read(offset, bytes);
    const Opened f(name);
    std::string out(bytes, '\0');
    readAt(f.fd, name, offset, bytes, &out[0]);
    return out;
}

namespace {

// What a stream of a RangeFile keeps: where it is and the bytes it read ahead.
struct Cursor {
    RangeFile *file = nullptr;
    uint64_t size = 0, at = 0, aheadAt = 0;
    std::string ahead;
};

ssize_t readCursor(void *cookie, char *to, size_t n)
{
    Cursor &c = *static_cast<Cursor *>(cookie);
    if (c.at >= c.size || n == 0)
        return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, c.size - c.at));
    if (c.at < c.aheadAt || c.at + n > c.aheadAt + c.ahead.size()) {
        try {
            c.ahead = c.file->read(c.at, static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(n, 65536), c.size - c.at)));
        } catch (const std::exception &) {
            return -1;
        }
        c.aheadAt = c.at;
    }
    std::memcpy(to, c.ahead.data() + (c.at - c.aheadAt), n);
    c.at += n;
    return static_cast<ssize_t>(n);
}

int seekCursor(void *cookie, off64_t *offset, int whence)
{
    Cursor &c = *static_cast<Cursor *>(cookie);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(c.at) : static_cast<int64_t>(c.size);
    if (base + *offset < 0)
        return -1;
    c.at = static_cast<uint64_t>(base + *offset);
    *offset = static_cast<off64_t>(c.at);
    return 0;
}

int closeCursor(void *cookie)
{
    delete static_cast<Cursor *>(cookie);
    return 0;
}

} // namespace

FILE *RangeFile::stream()
{
    const uint64_t bytes = size();
    auto *c = new Cursor();
    c->file = this;
    c->size = bytes;
    FILE *f = fopencookie(c, "rb", cookie_io_functions_t{readCursor, nullptr, seekCursor, closeCursor});
    if (!f) {
        delete c;
        fail("can't read " + name);
    }
    return f;
}

std::string RangeFile::readAll(uint64_t most)
{
    if (remote)
        return remote->readAll(most);
    const Opened f(name);
    const uint64_t n = sizeOf(f.fd, name);
    if (n > most)
        fail(name + " is " + std::to_string(n) + " bytes, more than " + std::to_string(most));
    std::string out(static_cast<size_t>(n), '\0');
    readAt(f.fd, name, 0, out.size(), &out[0]);
    return out;
}
