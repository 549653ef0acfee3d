// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QString>
#include <memory>
#include <optional>

namespace kivo {

// The colour space a screen shows, which decoded pictures are converted into. The default one is
// sRGB, what an unprofiled screen is taken to be. A value: cheap to copy and to hand between
// threads.
class DisplayProfile {
public:
    DisplayProfile() = default;

    // A display profile from its ICC bytes, or none when it must not be used: not parseable, not
    // a display (monitor class, RGB) profile, or one whose curves turn black, white or a grey ramp
    // into nonsense. `name` says where it came from in the log line written about a refusal.
    static std::optional<DisplayProfile> fromIcc(const QByteArray& icc, const QString& name);

    bool isSrgb() const { return !data_; }
    // The profile's bytes; empty for sRGB.
    QByteArray icc() const;
    // Identifies the profile's content, for caches of anything converted to it.
    QByteArray key() const;
    // Whether it describes the screen by lookup tables rather than primaries and curves.
    bool isLutBased() const;
    // The profile as Qt describes it, to tag pictures converted to it; sRGB for the default and
    // invalid when Qt cannot describe a table-based profile.
    QColorSpace colorSpace() const;

    friend bool operator==(const DisplayProfile& a, const DisplayProfile& b) {
        return a.key() == b.key();
    }

private:
    struct Data;
    std::shared_ptr<const Data> data_;
};

// Converts a picture in its display format to `target`, the way toDisplaySrgb converts to sRGB
// (and, for the sRGB target, exactly as it does). Its colour space is `icc` when given, else the
// one tagged on the image, else sRGB. Qt converts between profiles it can describe (primaries and
// curves: relative colorimetric); lcms2 converts the rest (table-based display profiles, grey and
// table-based sources) through a transform cached per pair of profiles: relative colorimetric
// with black-point compensation, perceptual for a table-based display profile. The result is tagged
// with the target's colour space where Qt can describe it, so whoever needs the picture's own
// values (the histogram) can convert back.
QImage toDisplay(QImage image, const QByteArray& icc, const DisplayProfile& target);

} // namespace kivo
