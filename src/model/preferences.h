// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSizeF>
#include <QString>
#include <optional>

class QSettings;

namespace kivo {

enum class DisplayMode { fitToWindow, actualSize, autoSizeWindow };
enum class OverlayMode { none, metadata, histogram };

// The stored text of each case is its name.
QString caseName(DisplayMode mode);
QString caseName(OverlayMode mode);
std::optional<DisplayMode> displayModeFromString(const QString& text);
std::optional<OverlayMode> overlayModeFromString(const QString& text);

// The viewer's per-user preferences in the store the application hands in: the three display
// preferences a window restores and writes back, and the application-wide values that need no
// window. Reads are forgiving: a value of the wrong type or an unknown text reads as absent.
class PreferenceStore {
public:
    explicit PreferenceStore(QSettings& settings)
        : settings_(settings) {}

    // The stored mode when the store holds one of the case names as text, else none.
    std::optional<DisplayMode> displayMode() const;
    std::optional<OverlayMode> overlayMode() const;
    bool showThumbnailBar() const;

    // Written on every assignment, also of an unchanged value.
    void setDisplayMode(DisplayMode mode);
    void setOverlayMode(OverlayMode mode);
    void setShowThumbnailBar(bool show);

    // True when never written.
    static bool isMultiWindowMode(QSettings& settings);
    // Whether pictures are converted to the screen's colour profile rather than to sRGB; true
    // when never written.
    static bool useDisplayProfile(QSettings& settings);
    static void setUseDisplayProfile(QSettings& settings, bool use);
    // Present only when both stored sides are at least 100.
    static std::optional<QSizeF> savedWindowSize(QSettings& settings);
    // The memory the tiles of a picture too large to hold whole may take, in megabytes: the
    // stored value within kTileCacheRange, else a quarter of the machine's memory, at most 512.
    // It also bounds what may be copied or turned as one bitmap.
    static constexpr int kTileCacheMinMB = 64;
    static constexpr int kTileCacheMaxMB = 4096;
    static int tileCacheMegabytes(QSettings& settings);
    static int defaultTileCacheMegabytes();
    static void setTileCacheMegabytes(QSettings& settings, int megabytes);
    static void saveWindowSize(QSettings& settings, double width, double height);

private:
    QSettings& settings_;
};

} // namespace kivo
