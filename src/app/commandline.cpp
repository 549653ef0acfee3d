// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "fileargument.h"

namespace kivo {

FilePath absoluteFileArgument(const QByteArray& argument, const QByteArray& workingFolder,
                              const QByteArray& home) {
    const auto view = [](const QByteArray& bytes) {
        return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
    };
    return kivo::absoluteFileArgument(view(argument), view(workingFolder), view(home));
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
