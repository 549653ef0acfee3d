// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

namespace kivo {

FilePath absoluteFileArgument(const QByteArray& argument, const QByteArray& workingFolder,
                              const QByteArray& home) {
    QByteArray path = argument;
    if (path.startsWith("file://")) {
        path = path.mid(7);
        const qsizetype slash = path.indexOf('/');
        path = slash < 0 ? QByteArray("/") : path.mid(slash); // drops a host name
        path = QByteArray::fromPercentEncoding(path);
    } else if (path == "~" || path.startsWith("~/")) {
        path = home + path.mid(1);
    }
    if (!path.startsWith('/'))
        path = workingFolder + '/' + path;
    const FilePath normal = FilePath(path.toStdString()).lexically_normal();
    // "dir/" normalises to "dir/": keep the name without the trailing separator
    return normal.has_filename() || normal == normal.root_path() ? normal : normal.parent_path();
}

CommandLine parseCommandLine(const std::vector<QByteArray>& arguments,
                             const QByteArray& workingFolder, const QByteArray& home) {
    CommandLine line;
    if (arguments.size() == 1 && arguments.front() == "--help")
        line.action = CommandLine::Action::help;
    else if (arguments.size() == 1 && arguments.front() == "--version")
        line.action = CommandLine::Action::version;
    else
        for (const QByteArray& argument : arguments)
            if (!argument.isEmpty())
                line.files.push_back(absoluteFileArgument(argument, workingFolder, home));
    return line;
}

} // namespace kivo
