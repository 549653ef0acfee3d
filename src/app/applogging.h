// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

namespace kivo {

// The application shell's messages ("kivo.app"); only warnings show unless enabled.
Q_DECLARE_LOGGING_CATEGORY(lcApp)

} // namespace kivo
