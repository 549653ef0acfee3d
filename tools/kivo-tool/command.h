#pragma once

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

} // namespace kivo::tool
