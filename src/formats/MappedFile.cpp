#include "formats/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

MappedFile::MappedFile(const char *path, const QuietRefusal &refuse)
{
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0)
        refuse(std::string("can't open ") + path);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        refuse(std::string(path) + " is no regular file");
    }
    if (st.st_size > 0) {
        void *p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            ::close(fd);
            refuse(std::string("can't map ") + path);
        }
        base = static_cast<const char *>(p);
        length = static_cast<size_t>(st.st_size);
    }
    ::close(fd);
}

MappedFile::~MappedFile()
{
    if (base)
        ::munmap(const_cast<char *>(base), length);
}
