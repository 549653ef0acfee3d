// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QByteArrayView>
#include <functional>

namespace kivo {

// The steps of replacing a file, in the order they run.
enum class ReplaceStep {
    create,      // the temporary file is created beside the target
    write,       // the new contents are written into it
    permissions, // it takes the target's owner, group and permission bits
    attributes,  // it takes the target's extended attributes: tags, ACLs, security label
    sync,        // its data reaches the disk
    close,       // it is closed
    rename,      // it takes the target's name
    syncFolder,  // the folder entry reaches the disk
};

// Called before each step. Returning false makes the step fail as if the system had refused
// it, so the recovery of every step can be exercised; a probe may also end the process there.
using ReplaceProbe = std::function<bool(ReplaceStep)>;

// A hidden name in the target's folder for the file that will replace it:
// "." + an upper-case UUID + "." + the target's extension.
FilePath hiddenTemporaryPath(const FilePath& target);

// Writes `contents` to `temporary` (which must not exist and must be in the target's folder),
// gives it everything attached to the target (owner, group, mode, extended attributes, ACLs,
// security label), makes it durable and renames it over `target`, so that at every instant the
// target's path holds either the complete old file or the complete new one. Returns false, with
// the target untouched and the temporary file removed, when any step before the rename fails,
// including keeping one of those attachments: the file is never rewritten with less than it had.
// Once the rename succeeded the replacement stands; a failure to sync the folder afterwards cannot
// undo it and is not reported.
bool replaceFileAtomically(const FilePath& target, const FilePath& temporary,
                           QByteArrayView contents, const ReplaceProbe& probe = {});

// Copies `source` to `destination`, which must not exist, for a move between volumes: written to
// a hidden temporary file beside `destination` with everything attached to `source` (owner,
// group, mode, times, extended attributes), made durable, then linked under the new name only
// if that is still free. `destination` never holds a partial file and nothing is replaced.
// Returns false, with errno set (EEXIST when the name was taken) and no temporary file left.
bool copyFileAtomically(const FilePath& source, const FilePath& destination);

} // namespace kivo
