// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/desktopservices.h"

#include <QObject>
#include <variant>
#include <vector>

namespace kivo {

// The files one window moved to the Trash, for as long as the window is open, and putting the
// most recent one back.
class TrashUndo final : public QObject {
    Q_OBJECT

public:
    TrashUndo(Trash& trash, QObject* parent);

    // Moves the file to the Trash and remembers where it went. Nothing on success; otherwise
    // why the file stayed.
    std::optional<QString> moveToTrash(const FilePath& file);

    bool canUndo() const { return !moved_.empty(); }
    // Puts the most recently moved file back; it leaves the list whether that worked or not.
    // The restored path, or why it could not be done (nothing was overwritten then).
    std::variant<FilePath, QString> undo();

Q_SIGNALS:
    void changed(); // the list gained or lost an entry

private:
    Trash& trash_;
    std::vector<TrashedFile> moved_; // the most recent last
};

} // namespace kivo
