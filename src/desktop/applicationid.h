// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kivo {

// The application's reverse-DNS id: the desktop entry is <id>.desktop, and the same id names the
// single-instance socket, the portal and D-Bus caller, and the Open With self-exclusion.
inline constexpr char applicationId[] = "org.kivo.Kivo";

} // namespace kivo
