// SPDX-License-Identifier: GPL-3.0-or-later
// The kivo executable on Xvfb shows pictures in the screen's colour profile: the one on the root
// window's _ICC_PROFILE property, or the one colord names for the screen's output (a fake colord
// on a private bus that the application takes for the system bus), read again when either
// changes; sRGB when the setting is off or the profile is unusable. The window is grabbed from
// the X server, so what is checked is what the screen shows.
#include "desktopsession.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTest>
#include <xcb/xcb.h>

using namespace kivo;
using kivo::test::DesktopSession;

namespace {

const QString kAdobe = QStringLiteral("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
const QString kSrgb = QStringLiteral("/usr/share/color/icc/sRGB.icc");
const QString kColord = QStringLiteral("org.freedesktop.ColorManager");
const QString kDevicePath = QStringLiteral("/org/freedesktop/ColorManager/devices/xrandr_screen");
const QString kProfilePath = QStringLiteral("/org/freedesktop/ColorManager/profiles/icc_display");
// sRGB colours on an Adobe RGB screen, as transicc computes them.
const QColor kGreen(0, 200, 0), kGreenOnAdobe(112, 199, 47);
const QColor kOrange(230, 120, 20), kOrangeOnAdobe(205, 119, 37);

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sets (or, given nothing, deletes) the _ICC_PROFILE property of the root window, as dispwin and
// xcalib do.
bool setRootProfile(const QString& display, const QByteArray& icc) {
    xcb_connection_t* connection = xcb_connect(display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, 12, "_ICC_PROFILE"), nullptr);
    if (icc.isEmpty())
        xcb_delete_property(connection, root, atom->atom);
    else
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL,
                            8, uint32_t(icc.size()), icc.constData());
    std::free(atom);
    // A round trip, so the server has it before the connection goes.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
    return true;
}

} // namespace

// colord as it answers on the system bus: the manager finds a device by its XRANDR_name metadata,
// the device lists its profiles (the default first), a profile says its file; the manager says
// Changed when any of that changes.
class FakeColordProfile : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ColorManager.Profile")
    Q_PROPERTY(QString Filename MEMBER filename)
public:
    QString filename;
};

class FakeColordDevice : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ColorManager.Device")
    Q_PROPERTY(QList<QDBusObjectPath> Profiles READ profiles)
public:
    QList<QDBusObjectPath> profiles() const { return {QDBusObjectPath(kProfilePath)}; }
};

class FakeColord : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ColorManager")
public:
    QStringList askedFor;
public Q_SLOTS:
    QDBusObjectPath FindDeviceByProperty(const QString& key, const QString& value) {
        askedFor << value;
        // Xvfb's one RandR output is called "screen".
        if (key == QLatin1String("XRANDR_name") && value == QLatin1String("screen"))
            return QDBusObjectPath(kDevicePath);
        sendErrorReply(QStringLiteral("org.freedesktop.ColorManager.NotFound"),
                       QStringLiteral("device not found"));
        return {};
    }
Q_SIGNALS:
    void Changed();
};

class TestDisplayProfile : public QObject {
    Q_OBJECT

    std::unique_ptr<DesktopSession> x11_;
    QTemporaryDir dir_;
    QString picture_;

    // The kivo window as the X server has it.
    QImage grabWindow() {
        const auto windows = x11_->windows();
        if (windows.isEmpty())
            return {};
        QProcess grab;
        grab.setProcessEnvironment(x11_->environment());
        grab.start("import", {"-window", windows.first().id, "png:-"});
        grab.waitForFinished(5000);
        return QImage::fromData(grab.readAllStandardOutput(), "PNG");
    }

    // The colour in the middle of the window: the picture.
    QColor shownColour() {
        const QImage shot = grabWindow();
        return shot.isNull() ? QColor() : shot.pixelColor(shot.width() / 2, shot.height() / 2);
    }

    // Whether any pixel of the window is `colour` within 2 levels: a thumbnail in the strip.
    bool showsSomewhere(const QColor& colour) {
        return QTest::qWaitFor(
            [&] {
                const QImage shot = grabWindow().convertToFormat(QImage::Format_RGB32);
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x)
                        if (test::colourDistance(shot.pixelColor(x, y), colour) <= 2)
                            return true;
                return false;
            },
            10000);
    }

    // Waits (answering D-Bus calls meanwhile) until the window shows `expected`, within 2 levels.
    bool shows(const QColor& expected) {
        QColor last;
        const bool seen = QTest::qWaitFor(
            [&] {
                last = shownColour();
                return last.isValid() && test::colourDistance(last, expected) <= 2;
            },
            20000);
        if (!seen)
            qWarning() << "the window shows" << last << "instead of" << expected;
        return seen;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!DesktopSession::available(DesktopSession::Kind::x11) ||
            QStandardPaths::findExecutable("import").isEmpty() || !QFile::exists(kAdobe))
            QSKIP("Xvfb, openbox, wmctrl, ImageMagick or icc-profiles-free is missing");
        x11_ = std::make_unique<DesktopSession>(DesktopSession::Kind::x11);
        QVERIFY(x11_->isReady());
        QImage green(400, 300, QImage::Format_RGB32);
        green.fill(kGreen);
        picture_ = dir_.filePath("green.png");
        QVERIFY(green.save(picture_));
        QImage orange(40, 30, QImage::Format_RGB32);
        orange.fill(kOrange);
        QVERIFY(orange.save(dir_.filePath("orange.png"))); // the neighbour in the strip
    }

    void cleanup() {
        x11_->endKivo();
        QSettings(x11_->settingsFile(), QSettings::IniFormat).clear();
        setRootProfile(x11_->environment().value("DISPLAY"), {});
    }

    void rootWindowProfileIsShownAndFollowed() {
        const QString display = x11_->environment().value("DISPLAY");
        QVERIFY(setRootProfile(display, readAll(kAdobe)));
        QSettings(x11_->settingsFile(), QSettings::IniFormat).setValue("showThumbnailBar", true);
        x11_->launch({picture_});
        QVERIFY(shows(kGreenOnAdobe));
        QVERIFY(showsSomewhere(kOrangeOnAdobe));
        // A calibration tool loads another profile: the picture follows without a restart.
        QVERIFY(setRootProfile(display, readAll(kSrgb)));
        QVERIFY(shows(kGreen));
        QVERIFY(showsSomewhere(kOrange));
    }

    void colordProfileIsShownAndFollowed() {
        QProcess bus;
        bus.start("dbus-daemon", {"--config-file=" KIVO_SOURCE_DIR "/tests/desktop/privatebus.conf",
                                  "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromLatin1(bus.readLine()).trimmed();
        auto cleanBus = qScopeGuard([&] {
            QDBusConnection::disconnectFromBus("colord");
            bus.terminate();
            bus.waitForFinished(3000);
        });
        QDBusConnection connection = QDBusConnection::connectToBus(address, "colord");
        FakeColord colord;
        FakeColordDevice device;
        FakeColordProfile profile;
        profile.filename = kAdobe;
        QVERIFY(
            connection.registerObject(kDevicePath, &device, QDBusConnection::ExportAllProperties));
        QVERIFY(connection.registerObject(kProfilePath, &profile,
                                          QDBusConnection::ExportAllProperties));
        QVERIFY(connection.registerObject("/org/freedesktop/ColorManager", &colord,
                                          QDBusConnection::ExportAllSlots |
                                              QDBusConnection::ExportAllSignals));
        QVERIFY(connection.registerService(kColord));

        // colord comes before the root window's property.
        QVERIFY(setRootProfile(x11_->environment().value("DISPLAY"), readAll(kSrgb)));
        x11_->environment().insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        auto cleanEnvironment =
            qScopeGuard([&] { x11_->environment().remove("DBUS_SYSTEM_BUS_ADDRESS"); });
        x11_->launch({picture_});
        QVERIFY2(shows(kGreenOnAdobe), qPrintable(colord.askedFor.join(", ")));
        profile.filename = kSrgb;
        Q_EMIT colord.Changed();
        QVERIFY(shows(kGreen));
        x11_->endKivo();
    }

    // Today's sRGB pixels whenever the screen's profile is not to be used.
    void srgbWhenTheProfileIsNotUsed_data() {
        QTest::addColumn<bool>("settingOn");
        QTest::addColumn<QByteArray>("rootProfile");
        QTest::newRow("setting off") << false << readAll(kAdobe);
        QTest::newRow("truncated profile") << true << readAll(kAdobe).left(400);
        QTest::newRow("no profile") << true << QByteArray();
    }
    void srgbWhenTheProfileIsNotUsed() {
        QFETCH(bool, settingOn);
        QFETCH(QByteArray, rootProfile);
        QVERIFY(setRootProfile(x11_->environment().value("DISPLAY"), rootProfile));
        QSettings(x11_->settingsFile(), QSettings::IniFormat)
            .setValue("useDisplayProfile", settingOn);
        x11_->launch({picture_});
        QVERIFY(shows(kGreen));
        QTest::qWait(1000); // and not converted a moment later
        QCOMPARE(shownColour(), kGreen);
    }
};

QTEST_MAIN(TestDisplayProfile)
#include "test_displayprofile.moc"
