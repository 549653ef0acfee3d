#pragma once

#include "desktopservices.h"

namespace kivo {

// The freedesktop.org Trash: files on the volume of the home trash ($XDG_DATA_HOME/Trash) go
// there, files on other volumes to that volume's $topdir/.Trash/$uid or $topdir/.Trash-$uid,
// each with its .trashinfo record so file managers can restore them. A file is only ever
// renamed, never copied, so a failure leaves it where it was.
class FreedesktopTrash final : public Trash {
public:
    std::optional<QString> moveToTrash(const FilePath& file) override;
};

} // namespace kivo
