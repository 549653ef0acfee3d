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
    if (*method == TurnMethod::pixelRewrite && refusePixelTurn(url))
        return false;
    const auto written = writeTurnedFile(url, quarterTurns, *method);
    if (!written)
        qCDebug(lcModel) << displayName(url)
                         << "turned on screen only:" << reasonName(written.reason())
                         << written.failure().message;
    return written.ok();
}

// Writing turned pixels needs the whole picture as one bitmap: a picture held in tiles because
// it is that large is turned on screen only, and the user is told why the file stays as it is.
bool AppState::refusePixelTurn(const FilePath& url) {
    if (url != currentURL_ || !currentImage_ || !currentImage_->isTiled())
        return false;
    const QSize size = currentImage_->size();
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (bytes <= tileCacheBytes())
        return false;
    qCDebug(lcModel) << displayName(url) << "turned on screen only: a" << size
                     << "picture is over the budget of" << (tileCacheBytes() >> 20) << "MB";
    setDeleteError(tr("\"%1\" is turned on screen only: its format stores no orientation, and "
                      "rewriting its %2 × %3 pixels would need %4 MB, more than the %5 MB set "
                      "for large images in the Advanced settings.")
                       .arg(displayName(url))
                       .arg(size.width())
                       .arg(size.height())
                       .arg(bytes >> 20)
                       .arg(tileCacheBytes() >> 20));
    return true;
}

} // namespace kivo
