#include "atomicreplace.h"

#include <QUuid>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

bool allowed(const ReplaceProbe& probe, ReplaceStep step) {
    if (!probe || probe(step))
        return true;
    errno = EIO;
    return false;
}

bool writeAll(int fd, QByteArrayView contents) {
    const char* data = contents.data();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// The new file takes the old one's access rights, so that replacing it changes its contents
// only. Owner and group can only be given away by root; ownership goes first because changing
// it clears the set-user-ID and set-group-ID bits.
bool copyPermissions(int fd, const struct stat& original) {
    if (::geteuid() == 0 && ::fchown(fd, original.st_uid, original.st_gid) != 0)
        return false;
    return ::fchmod(fd, original.st_mode & 07777) == 0;
}

void syncFolder(const FilePath& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

FilePath hiddenTemporaryPath(const FilePath& target) {
    QByteArray name = "." + QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper() + ".";
    const std::string extension = target.extension().native();
    if (!extension.empty())
        name.append(QByteArrayView(extension).sliced(1)); // without its leading dot
    return target.parent_path() / name.toStdString();
}

bool replaceFileAtomically(const FilePath& target, const FilePath& temporary,
                           QByteArrayView contents, const ReplaceProbe& probe) {
    // A symbolic link is not followed: renaming over it would replace the link, not its file.
    struct stat original {};
    if (::lstat(target.c_str(), &original) != 0 || !S_ISREG(original.st_mode))
        return false;

    if (!allowed(probe, ReplaceStep::create))
        return false;
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;

    const auto abandon = [&](bool open) {
        const int saved = errno;
        if (open)
            ::close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    };

    if (!allowed(probe, ReplaceStep::write) || !writeAll(fd, contents))
        return abandon(true);
    if (!allowed(probe, ReplaceStep::permissions) || !copyPermissions(fd, original))
        return abandon(true);
    if (!allowed(probe, ReplaceStep::sync) || ::fsync(fd) != 0)
        return abandon(true);
    if (!allowed(probe, ReplaceStep::close))
        return abandon(true);
    if (::close(fd) != 0)
        return abandon(false);
    if (!allowed(probe, ReplaceStep::rename) || ::rename(temporary.c_str(), target.c_str()) != 0)
        return abandon(false);

    // The rename is atomic but not yet durable: until the folder is synced a crash may bring
    // back the old entry, which is still a whole file.
    if (allowed(probe, ReplaceStep::syncFolder))
        syncFolder(target.parent_path());
    return true;
}

} // namespace kivo
