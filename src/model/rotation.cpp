// SPDX-License-Identifier: GPL-3.0-or-later
// Turning the current image: written into the file where that can be done without losing
// anything, otherwise shown turned on screen until another image becomes current.
#include "appstate.h"
#include "imaging/bytes/contenttype.h"
#include "imaging/write/turnedfile.h"
#include "logging.h"

#include <cmath>

namespace kivo {

void AppState::rotate(int quarterTurns) {
    if (!currentURL_)
        return;
    // The file takes the whole turn the user sees: earlier turns that could only be shown on
    // screen, then this one. Writing this turn alone and dropping the on-screen one would make
    // the picture jump back.
    const int onScreen = static_cast<int>(std::lround(rotation_ / 90.0));
    if (saveRotation(*currentURL_, quarterTurns + onScreen)) {
        setRotation(0.0);
        reloadCurrentImage();
        return;
    }
    double degrees = std::fmod(quarterTurns * 90.0 + rotation_, 360.0);
    if (degrees < 0.0)
        degrees += 360.0;
    setRotation(degrees);
}

// Decides how the file may be turned (its tag, its pixels, or only on screen) and has the image
// service write it.
bool AppState::saveRotation(const FilePath& url, int quarterTurns) {
    const auto format = sniffFormat(url);
    const auto method = format ? turnMethodFor(**format) : std::nullopt;
    if (!method) {
        qCDebug(lcModel) << displayName(url) << "can only be turned on screen";
        return false;
    }
    const auto written = writeTurnedFile(url, quarterTurns, *method);
    if (!written)
        qCDebug(lcModel) << displayName(url)
                         << "turned on screen only:" << reasonName(written.reason())
                         << written.failure().message;
    return written.ok();
}

} // namespace kivo
