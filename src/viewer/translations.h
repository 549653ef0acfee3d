// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

namespace kivo {

// Loads Kivo's catalogue for the user's languages (LANGUAGE, LC_MESSAGES, LANG), searched next
// to the executable's share folder, then where it was installed, then in the build tree.
// English needs none: the English texts are the keys. Returns whether a catalogue was loaded.
bool installTranslations(QCoreApplication& application);

} // namespace kivo
