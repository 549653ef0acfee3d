// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/result.h"

#include <QStringList>
#include <functional>
#include <map>

namespace kivo::tool {

// A subcommand: takes its arguments (after the subcommand's name), returns the exit status.
struct Command {
    QString usage;
    std::function<int(const QStringList& args)> run;
};

std::map<QString, Command>& commands();

// Each subcommand's file registers itself with one of these at namespace scope.
struct CommandRegistration {
    CommandRegistration(const QString& name, Command command) {
        commands().emplace(name, std::move(command));
    }
};

// Prints "kivo-tool: <message>" on stderr; returns 1 for use as an exit status.
int fail(const QString& message);

// One line saying why a file was refused: the reason, then the detail ("damaged: ...").
QString why(const Failure& failure);

} // namespace kivo::tool
