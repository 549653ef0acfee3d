// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/write/atomicreplace.h"

#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

// The new file takes the old one's owner, group and access rights, so that replacing it changes
// its contents only. Only root can give a file away; anyone may hand it to a group they belong
// to. Ownership goes first because changing it clears the set-user-ID and set-group-ID bits.
bool copyPermissions(int fd, const struct stat& original) {
    struct stat created {};
    if (::fstat(fd, &created) != 0)
        return false;
    if (created.st_uid != original.st_uid || created.st_gid != original.st_gid) {
        // A file of another user would silently become ours: refused, as the kernel refuses
        // giving it back.
        const uid_t owner = ::geteuid() == 0 ? original.st_uid : static_cast<uid_t>(-1);
        if (::fchown(fd, owner, original.st_gid) != 0)
            return false;
        if (::fstat(fd, &created) != 0 || created.st_uid != original.st_uid) {
            errno = EPERM;
            return false;
        }
    }
    return ::fchmod(fd, original.st_mode & 07777) == 0;
}

// The names of a file's extended attributes, empty where the file system keeps none.
std::optional<std::vector<std::string>> attributeNames(const auto& list) {
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional(std::vector<std::string>()) : std::nullopt;
        std::string buffer(static_cast<size_t>(size), '\0');
        const ssize_t got = list(buffer.data(), buffer.size());
        if (got < 0 && errno == ERANGE)
            continue; // grew meanwhile
        if (got < 0)
            return std::nullopt;
        std::vector<std::string> names;
        for (size_t at = 0; at < static_cast<size_t>(got);) {
            const size_t end = buffer.find('\0', at);
            names.push_back(buffer.substr(at, end - at));
            at = end + 1;
        }
        return names;
    }
}

std::optional<std::string> attributeValue(const auto& get, const std::string& name) {
    for (;;) {
        const ssize_t size = get(name.c_str(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        std::string value(static_cast<size_t>(size), '\0');
        const ssize_t got = get(name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE)
            continue;
        if (got < 0)
            return std::nullopt;
        value.resize(static_cast<size_t>(got));
        return value;
    }
}

// Everything the desktop attaches to a file beyond its mode: user.* tags, comments and ratings,
// the POSIX ACL (system.posix_acl_access), the security label. A value that cannot be set
// counts as kept only when the new file already carries it (a label the policy gave it, say).
// What the new file inherited and the old one lacked (a folder's default ACL) is taken off
// again where the system lets us.
bool copyAttributes(int fd, const FilePath& target) {
    const auto fromTarget = [&](const char* name, void* value, size_t size) {
        return ::lgetxattr(target.c_str(), name, value, size);
    };
    const auto fromCopy = [&](const char* name, void* value, size_t size) {
        return ::fgetxattr(fd, name, value, size);
    };
    const auto names = attributeNames(
        [&](char* list, size_t size) { return ::llistxattr(target.c_str(), list, size); });
    const auto inherited =
        attributeNames([&](char* list, size_t size) { return ::flistxattr(fd, list, size); });
    if (!names || !inherited)
        return false;
    for (const std::string& name : *inherited)
        if (std::find(names->begin(), names->end(), name) == names->end())
            ::fremovexattr(fd, name.c_str());
    for (const std::string& name : *names) {
        const auto value = attributeValue(fromTarget, name);
        if (!value)
            return false;
        if (::fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) == 0)
            continue;
        const int refusal = errno;
        if (attributeValue(fromCopy, name) != value) {
            errno = refusal;
            return false;
        }
    }
    return true;
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
    if (!allowed(probe, ReplaceStep::attributes) || !copyAttributes(fd, target))
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

bool copyFileAtomically(const FilePath& source, const FilePath& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat original {};
    const FilePath temporary = hiddenTemporaryPath(destination);
    int out = -1;
    const auto finish = [&](bool done) {
        const int saved = errno;
        ::close(in);
        if (out >= 0)
            ::close(out);
        if (!done)
            ::unlink(temporary.c_str());
        errno = saved;
        return done;
    };
    if (::fstat(in, &original) != 0)
        return finish(false);
    if (!S_ISREG(original.st_mode)) {
        errno = EINVAL;
        return finish(false);
    }
    out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0)
        return finish(false);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, chunk.data(), static_cast<size_t>(chunk.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || !writeAll(out, QByteArrayView(chunk.constData(), got)))
            return finish(false);
        if (got == 0)
            break;
    }
    const struct timespec times[2] = {original.st_atim, original.st_mtim};
    if (!copyPermissions(out, original) || !copyAttributes(out, source) ||
        ::futimens(out, times) != 0 || ::fsync(out) != 0)
        return finish(false);
    const int closing = out;
    out = -1;
    if (::close(closing) != 0)
        return finish(false);
    // A hard link, unlike a rename, refuses a name that is taken.
    if (::link(temporary.c_str(), destination.c_str()) != 0)
        return finish(false);
    ::unlink(temporary.c_str());
    syncFolder(destination.parent_path());
    return finish(true);
}

} // namespace kivo
