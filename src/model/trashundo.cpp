// SPDX-License-Identifier: GPL-3.0-or-later
// Undoing a move to the Trash: the file goes back where it was and into the folder's list at
// its place in natural order, and is shown.
#include "trashundo.h"

#include "appstate.h"
#include "naturalorder.h"

namespace kivo {

TrashUndo::TrashUndo(Trash& trash, QObject* parent)
    : QObject(parent)
    , trash_(trash) {}

std::optional<QString> TrashUndo::moveToTrash(const FilePath& file) {
    auto outcome = trash_.trash(file);
    if (auto* error = std::get_if<QString>(&outcome))
        return std::move(*error);
    moved_.push_back(std::move(std::get<TrashedFile>(outcome)));
    Q_EMIT changed();
    return std::nullopt;
}

std::variant<FilePath, QString> TrashUndo::undo() {
    Q_ASSERT(canUndo());
    const TrashedFile last = std::move(moved_.back());
    moved_.pop_back();
    Q_EMIT changed();
    if (auto error = trash_.restore(last))
        return std::move(*error);
    return last.original;
}

TrashUndo* AppState::trashUndo() {
    if (!trashUndo_ && context_.desktop && context_.desktop->trash) {
        trashUndo_ = new TrashUndo(*context_.desktop->trash, this);
        connect(trashUndo_, &TrashUndo::changed, this, &AppState::trashUndoChanged);
    }
    return trashUndo_;
}

bool AppState::canUndoMoveToTrash() const {
    return trashUndo_ && trashUndo_->canUndo();
}

void AppState::undoMoveToTrash() {
    if (!canUndoMoveToTrash())
        return;
    auto outcome = trashUndo_->undo();
    if (auto* error = std::get_if<QString>(&outcome)) {
        setDeleteError(std::move(*error));
        return;
    }
    const FilePath restored = std::get<FilePath>(std::move(outcome));
    // Back in the folder on show: into its list at its place. A file of another folder (the
    // window has moved on) is opened with its own folder.
    const bool sameFolder =
        !imageFiles_.empty() && imageFiles_.front().parent_path() == restored.parent_path();
    if (!sameFolder) {
        openFile(restored);
        return;
    }
    const auto place = NaturalOrder().placeOf(imageFiles_, restored);
    if (!place.present) {
        imageFiles_.insert(imageFiles_.begin() + static_cast<std::ptrdiff_t>(place.index),
                           restored);
        Q_EMIT imageFilesChanged();
    }
    setCurrentIndex(static_cast<qsizetype>(place.index));
    loadCurrentImage();
}

} // namespace kivo
