// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktopservices.h"

namespace kivo {

// The applications of the desktop's own registry, as GIO reads it: the .desktop entries under
// $XDG_DATA_HOME and $XDG_DATA_DIRS with their MimeType lists and the user's mimeapps.list
// choices. GIO types stay inside the implementation.
class GioApplicationRegistry final : public ApplicationRegistry {
public:
    explicit GioApplicationRegistry(QString ownApplicationId);

    QString ownApplicationId() const override { return ownId_; }
    QList<ApplicationEntry> applicationsFor(const FilePath& file) const override;
    void open(const FilePath& file, const QString& application) override;

private:
    QString ownId_;
};

} // namespace kivo
