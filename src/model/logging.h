// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

namespace kivo {

// The viewer model's messages: why a file was not rewritten, a late result dropped. Quiet unless
// enabled, for example with QT_LOGGING_RULES="kivo.model.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcModel)

} // namespace kivo
