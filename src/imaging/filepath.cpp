#include "filepath.h"

#include <fcntl.h>
#include <unistd.h>

namespace kivo {

std::unique_ptr<QFile> openForReading(const FilePath& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

} // namespace kivo
