// SPDX-License-Identifier: GPL-3.0-or-later
#include "freedesktoptrash.h"

#include "imaging/write/atomicreplace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace kivo {

namespace {

// Where a file goes, or why it cannot go anywhere.
struct TrashLocation {
    std::string directory; // the trash directory holding files/ and info/
    std::string topdir;    // for a volume's own trash, the volume's top directory; else empty
};

struct Failure {
    QString text;
};

Failure systemFailure(int error) {
    return {qt_error_string(error)};
}

std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share";
}

// Creates each missing directory of an absolute path with owner-only permissions.
bool makeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// A directory of our own: created when missing, and when present a real directory (not a link
// someone planted) that belongs to us.
bool ownDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    // errno then says what is wrong in the terms the user will read.
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    if (st.st_uid != ::getuid()) {
        errno = EACCES;
        return false;
    }
    return true;
}

// The mount point holding `path`: the highest ancestor still on the same device.
std::string topDirectoryOf(const FilePath& path, dev_t device) {
    FilePath top = path;
    while (top.has_parent_path() && top.parent_path() != top) {
        struct stat st {};
        if (::stat(top.parent_path().c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = top.parent_path();
    }
    return top.native();
}

std::variant<TrashLocation, Failure> locateTrash(const FilePath& file, dev_t fileDevice) {
    const std::string home = dataHome();
    if (!makeDirectories(home))
        return systemFailure(errno);
    struct stat homeStat {};
    if (::stat(home.c_str(), &homeStat) != 0)
        return systemFailure(errno);
    if (homeStat.st_dev == fileDevice)
        return TrashLocation{home + "/Trash", {}};

    // Another volume: its administrator's shared trash when it is set up safely (a real
    // directory with the sticky bit), otherwise the user's own trash at the volume's top.
    const std::string topdir = topDirectoryOf(file.parent_path(), fileDevice);
    const std::string uid = std::to_string(::getuid());
    const std::string shared = topdir + "/.Trash";
    struct stat sharedStat {};
    if (::lstat(shared.c_str(), &sharedStat) == 0 && S_ISDIR(sharedStat.st_mode) &&
        (sharedStat.st_mode & S_ISVTX) && ownDirectory(shared + "/" + uid))
        return TrashLocation{shared + "/" + uid, topdir};
    if (ownDirectory(topdir + "/.Trash-" + uid))
        return TrashLocation{topdir + "/.Trash-" + uid, topdir};
    return Failure{QCoreApplication::translate(
        "FreedesktopTrash", "The file cannot be moved to the Trash because its volume has no "
                            "Trash folder.")};
}

// "photo.jpg", then "photo.2.jpg", "photo.3.jpg", ...
std::string candidateName(const FilePath& name, int attempt) {
    if (attempt == 1)
        return name.native();
    return (name.stem().native() + "." + std::to_string(attempt)) + name.extension().native();
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return ::fsync(fd) == 0;
}

QByteArray trashInfo(const std::string& pathForInfo) {
    return "[Trash Info]\nPath=" + QByteArray::fromStdString(pathForInfo).toPercentEncoding("/") +
           "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
           "\n";
}

// Fails with EEXIST, replacing nothing, when `to` is taken.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // The file system cannot refuse to replace in a rename, but a hard link is refused when the
    // name is taken; the old name goes once the new one stands.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::variant<TrashedFile, QString> FreedesktopTrash::trash(const FilePath& given) {
    // The folder is resolved (the file itself, a link perhaps, is not), so the volume found by
    // walking up is the one the file really lives on.
    std::error_code ec;
    const FilePath absolute = std::filesystem::absolute(given, ec).lexically_normal();
    if (ec || !absolute.has_filename())
        return systemFailure(ENOENT).text;
    const FilePath folder = std::filesystem::canonical(absolute.parent_path(), ec);
    if (ec)
        return systemFailure(ec.value()).text;
    const FilePath file = folder / absolute.filename();
    struct stat fileStat {};
    if (::lstat(file.c_str(), &fileStat) != 0)
        return systemFailure(errno).text;

    auto located = locateTrash(file, fileStat.st_dev);
    if (auto* failure = std::get_if<Failure>(&located))
        return failure->text;
    const auto& location = std::get<TrashLocation>(located);
    const std::string filesDir = location.directory + "/files";
    const std::string infoDir = location.directory + "/info";
    if (!ownDirectory(location.directory) || !ownDirectory(filesDir) || !ownDirectory(infoDir))
        return systemFailure(errno).text;

    // The record is created first and exclusively: that reserves the name against another
    // program trashing a file of the same name at the same moment.
    std::string name;
    std::string infoPath;
    int fd = -1;
    for (int attempt = 1; fd < 0; ++attempt) {
        name = candidateName(file.filename(), attempt);
        infoPath = infoDir + "/" + name + ".trashinfo";
        struct stat taken {};
        if (::lstat((filesDir + "/" + name).c_str(), &taken) == 0)
            continue;
        fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && (errno != EEXIST || attempt > 10000))
            return systemFailure(errno).text;
    }

    const std::string pathForInfo =
        location.topdir.empty() ? file.native()
                                : file.lexically_relative(FilePath(location.topdir)).native();
    const bool recorded = writeAll(fd, trashInfo(pathForInfo));
    const int recordError = errno;
    ::close(fd);
    if (!recorded) {
        ::unlink(infoPath.c_str());
        return systemFailure(recordError).text;
    }
    if (!renameNoReplace(file.native(), filesDir + "/" + name)) {
        const int moveError = errno;
        ::unlink(infoPath.c_str());
        return systemFailure(moveError).text;
    }
    return TrashedFile{file, FilePath(filesDir + "/" + name), FilePath(infoPath),
                       static_cast<std::uint64_t>(fileStat.st_dev),
                       static_cast<std::uint64_t>(fileStat.st_ino)};
}

std::optional<QString> FreedesktopTrash::restore(const TrashedFile& item) {
    const QString name = displayName(item.original);
    struct stat stored {};
    if (::lstat(item.stored.c_str(), &stored) != 0 ||
        static_cast<std::uint64_t>(stored.st_dev) != item.device ||
        static_cast<std::uint64_t>(stored.st_ino) != item.inode ||
        ::access(item.record.c_str(), F_OK) != 0)
        return QCoreApplication::translate("FreedesktopTrash", "“%1” is no longer in the Trash.")
            .arg(name);
    struct stat folder {};
    if (::stat(item.original.parent_path().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return QCoreApplication::translate(
                   "FreedesktopTrash",
                   "“%1” cannot be put back because the folder it was in no longer exists.")
            .arg(name);

    const auto taken = [&] {
        return QCoreApplication::translate(
                   "FreedesktopTrash",
                   "“%1” cannot be put back because another file now has its name.")
            .arg(name);
    };
    if (!renameNoReplace(item.stored.native(), item.original.native())) {
        if (errno == EEXIST)
            return taken();
        if (errno != EXDEV)
            return systemFailure(errno).text;
        // The trash is on another volume than the folder: copied whole into place, then the
        // trashed file goes.
        if (!copyFileAtomically(item.stored, item.original))
            return errno == EEXIST ? taken() : systemFailure(errno).text;
        ::unlink(item.stored.c_str());
    }
    ::unlink(item.record.c_str());
    return std::nullopt;
}

} // namespace kivo
