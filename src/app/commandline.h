// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QByteArray>
#include <vector>

namespace kivo {

// What `kivo ARGS...` asks for. "--help" and "--version" alone are options; every other
// argument names a file.
struct CommandLine {
    enum class Action { run, help, version };
    Action action = Action::run;
    std::vector<FilePath> files; // absolute, in the order given
};

// Relative paths are taken from `workingFolder`, "~" from `home`, file:// URIs as file managers
// pass them (percent-encoded bytes); names keep their bytes, whatever the encoding.
CommandLine parseCommandLine(const std::vector<QByteArray>& arguments,
                             const QByteArray& workingFolder, const QByteArray& home);

// An absolute, lexically normal path for one file argument.
FilePath absoluteFileArgument(const QByteArray& argument, const QByteArray& workingFolder,
                              const QByteArray& home);

} // namespace kivo
