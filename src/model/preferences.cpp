// SPDX-License-Identifier: GPL-3.0-or-later
#include "preferences.h"

#include <QSettings>
#include <algorithm>
#include <unistd.h>

namespace kivo {

namespace {

const QString kDisplayModeKey = QStringLiteral("displayMode");
const QString kOverlayModeKey = QStringLiteral("overlayMode");
const QString kShowThumbnailBarKey = QStringLiteral("showThumbnailBar");
const QString kMultiWindowModeKey = QStringLiteral("multiWindowMode");
const QString kUseDisplayProfileKey = QStringLiteral("useDisplayProfile");
const QString kLastWindowWidthKey = QStringLiteral("lastWindowWidth");
const QString kLastWindowHeightKey = QStringLiteral("lastWindowHeight");
const QString kTileCacheKey = QStringLiteral("tileCacheMegabytes");

// A stored value read as a boolean the way a defaults store reads one: true, a non-zero number,
// or the text "true"/"yes"/a non-zero integer (INI files keep every value as text); anything
// else, garbage included, reads as false.
bool readBool(QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes"))
            return true;
        bool ok = false;
        const long long number = text.toLongLong(&ok);
        return ok && number != 0;
    }
    default:
        return false;
    }
}

double readDouble(QSettings& settings, const QString& key) {
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    return ok ? value : 0.0;
}

// Only a stored text counts: a number or a list that happens to convert is not a case name.
QString storedText(QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

} // namespace

QString caseName(DisplayMode mode) {
    switch (mode) {
    case DisplayMode::fitToWindow:
        return QStringLiteral("fitToWindow");
    case DisplayMode::actualSize:
        return QStringLiteral("actualSize");
    case DisplayMode::autoSizeWindow:
        return QStringLiteral("autoSizeWindow");
    }
    return {};
}

QString caseName(OverlayMode mode) {
    switch (mode) {
    case OverlayMode::none:
        return QStringLiteral("none");
    case OverlayMode::metadata:
        return QStringLiteral("metadata");
    case OverlayMode::histogram:
        return QStringLiteral("histogram");
    }
    return {};
}

std::optional<DisplayMode> displayModeFromString(const QString& text) {
    for (auto mode :
         {DisplayMode::fitToWindow, DisplayMode::actualSize, DisplayMode::autoSizeWindow})
        if (caseName(mode) == text)
            return mode;
    return std::nullopt;
}

std::optional<OverlayMode> overlayModeFromString(const QString& text) {
    for (auto mode : {OverlayMode::none, OverlayMode::metadata, OverlayMode::histogram})
        if (caseName(mode) == text)
            return mode;
    return std::nullopt;
}

std::optional<DisplayMode> PreferenceStore::displayMode() const {
    return displayModeFromString(storedText(settings_, kDisplayModeKey));
}

std::optional<OverlayMode> PreferenceStore::overlayMode() const {
    return overlayModeFromString(storedText(settings_, kOverlayModeKey));
}

bool PreferenceStore::showThumbnailBar() const {
    return readBool(settings_, kShowThumbnailBarKey);
}

void PreferenceStore::setDisplayMode(DisplayMode mode) {
    settings_.setValue(kDisplayModeKey, caseName(mode));
}

void PreferenceStore::setOverlayMode(OverlayMode mode) {
    settings_.setValue(kOverlayModeKey, caseName(mode));
}

void PreferenceStore::setShowThumbnailBar(bool show) {
    settings_.setValue(kShowThumbnailBarKey, show);
}

bool PreferenceStore::isMultiWindowMode(QSettings& settings) {
    if (!settings.contains(kMultiWindowModeKey))
        return true;
    return readBool(settings, kMultiWindowModeKey);
}

bool PreferenceStore::useDisplayProfile(QSettings& settings) {
    return !settings.contains(kUseDisplayProfileKey) || readBool(settings, kUseDisplayProfileKey);
}

void PreferenceStore::setUseDisplayProfile(QSettings& settings, bool use) {
    settings.setValue(kUseDisplayProfileKey, use);
    settings.sync();
}

std::optional<QSizeF> PreferenceStore::savedWindowSize(QSettings& settings) {
    const double width = readDouble(settings, kLastWindowWidthKey);
    const double height = readDouble(settings, kLastWindowHeightKey);
    if (width >= 100.0 && height >= 100.0)
        return QSizeF(width, height);
    return std::nullopt;
}

void PreferenceStore::saveWindowSize(QSettings& settings, double width, double height) {
    settings.setValue(kLastWindowWidthKey, width);
    settings.setValue(kLastWindowHeightKey, height);
}

int PreferenceStore::defaultTileCacheMegabytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 256;
    const qint64 quarter = qint64(pages) * pageSize / 4 / (1 << 20);
    return int(std::clamp<qint64>(quarter, kTileCacheMinMB, 512));
}

int PreferenceStore::tileCacheMegabytes(QSettings& settings) {
    bool ok = false;
    const int stored = settings.value(kTileCacheKey).toInt(&ok);
    if (ok && stored >= kTileCacheMinMB && stored <= kTileCacheMaxMB)
        return stored;
    return defaultTileCacheMegabytes();
}

void PreferenceStore::setTileCacheMegabytes(QSettings& settings, int megabytes) {
    settings.setValue(kTileCacheKey, std::clamp(megabytes, kTileCacheMinMB, kTileCacheMaxMB));
    settings.sync();
}

} // namespace kivo
