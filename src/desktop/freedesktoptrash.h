// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktopservices.h"

namespace kivo {

// The freedesktop.org Trash: files on the volume of the home trash ($XDG_DATA_HOME/Trash) go
// there, files on other volumes to that volume's $topdir/.Trash/$uid or $topdir/.Trash-$uid,
// each with its .trashinfo record so file managers can restore them. A file is only ever
// renamed, never copied, so a failure leaves it where it was. Putting one back is a rename too,
// and never replaces a file that took its name meanwhile; only where the trash and the folder
// are on different volumes is it copied, through a hidden temporary file that takes the name
// whole or not at all.
class FreedesktopTrash final : public Trash {
public:
    std::variant<TrashedFile, QString> trash(const FilePath& file) override;
    std::optional<QString> restore(const TrashedFile& file) override;
};

} // namespace kivo
