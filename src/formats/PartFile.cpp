#include "formats/PartFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

PartFile::PartFile(const std::string &finalPath) : path(finalPath), part(finalPath + ".part")
{
    file = path.empty() ? nullptr : std::fopen(part.c_str(), "wb");
    if (!file)
        fail();
    // Large buffers: the writers hand over one record at a time.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
}

PartFile::~PartFile()
{
    if (file) {
        std::fclose(file);
        std::remove(part.c_str());
    }
}

void PartFile::fail()
{
    const std::string why = std::strerror(errno ? errno : EIO);
    if (file) {
        std::fclose(file);
        file = nullptr;
        std::remove(part.c_str());
    }
    throw std::runtime_error("cannot write " + path + ": " + why);
}

void PartFile::write(const void *bytes, size_t n)
{
    if (n && std::fwrite(bytes, 1, n, file) != n)
        fail();
    written += static_cast<long long>(n);
}

void PartFile::writeAt(long long at, const void *bytes, size_t n)
{
    if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 || std::fwrite(bytes, 1, n, file) != n ||
        std::fseek(file, 0, SEEK_END) != 0)
        fail();
}

void PartFile::commit()
{
    errno = 0;
    const bool ok = !std::ferror(file) && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (!ok || !closed || std::rename(part.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno ? errno : EIO);
        std::remove(part.c_str());
        throw std::runtime_error("cannot write " + path + ": " + why);
    }
}
