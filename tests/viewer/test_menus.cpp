// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/aboutwindow.h"
#include "viewer/controlgroups.h"
#include "viewer/translations.h"
#include "viewerhost.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace kivo;

namespace {

// One line per item: title|shortcuts|kind|enabled, "-" for a separator, so a whole menu compares
// at once and a failure shows the line that differs.
QStringList describe(const QMenu& menu) {
    QStringList lines;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            lines << QStringLiteral("-");
            continue;
        }
        QStringList keys;
        for (const QKeySequence& key : action->shortcuts())
            keys << key.toString(QKeySequence::PortableText);
        const QString kind = action->menu()           ? QStringLiteral("submenu")
                             : !action->isCheckable() ? QStringLiteral("command")
                             : action->isChecked()    ? QStringLiteral("marked")
                                                      : QStringLiteral("unmarked");
        lines << QStringList{action->text(), keys.join(u','), kind,
                             action->isEnabled() ? QStringLiteral("on") : QStringLiteral("off")}
                     .join(u'|');
    }
    return lines;
}

QAction* find(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

// Registered applications as the desktop would report them, with a launcher that records.
class RecordingApplications final : public ApplicationRegistry {
public:
    QString ownApplicationId() const override { return QStringLiteral("org.kivo.Kivo.desktop"); }
    QList<ApplicationEntry> applicationsFor(const FilePath&) const override { return entries; }
    void open(const FilePath&, const QString& application) override { opened << application; }
    QList<ApplicationEntry> entries;
    QStringList opened;
};

} // namespace

class TestMenus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dataHome_.isValid());
        qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
    }

    void imageMenuLayout_data() {
        QTest::addColumn<bool>("withModel");
        QTest::addColumn<QStringList>("expected");
        const auto layout = [](const QString& on, const QString& fit) {
            return QStringList{"Fit to Window|Ctrl+1|" + fit + "|on",
                               "Actual Size|Ctrl+0|unmarked|on",
                               "Auto-Size Window|Ctrl+2|unmarked|on",
                               "-",
                               "Zoom In|Ctrl+=,Ctrl++|command|on",
                               "Zoom Out|Ctrl+-|command|on",
                               "-",
                               "Rotate Clockwise|Ctrl+R|command|on",
                               "Rotate Counter-Clockwise|Ctrl+Shift+R|command|on",
                               "-",
                               "Metadata||unmarked|on",
                               "Histogram||unmarked|on",
                               "Thumbnails|Ctrl+T|unmarked|on",
                               "-",
                               "Open With||submenu|" + on,
                               "-",
                               "Delete Image|Del|command|" + on,
                               "-",
                               "Full Screen|F11|command|on"};
        };
        QTest::newRow("focused model") << true << layout("on", "marked");
        QTest::newRow("no model") << false << layout("off", "unmarked");
    }

    void imageMenuLayout() {
        QFETCH(bool, withModel);
        QFETCH(QStringList, expected);
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QMainWindow window;
        fillMenuBar(window, withModel ? &state : nullptr, {});
        QStringList titles;
        for (QAction* action : window.menuBar()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"File", "Edit", "Image", "Help"}));
        QMenu* image = window.menuBar()->actions()[2]->menu();
        QCOMPARE(describe(*image), expected);
        QCOMPARE(
            describe(*window.menuBar()->actions()[1]->menu()),
            (QStringList{"Undo Move to Trash|Ctrl+Z|command|off", "-",
                         QString("Copy Image|Ctrl+Shift+C|command|") + (withModel ? "on" : "off"),
                         QString("Show in File Manager||command|") + (withModel ? "on" : "off"),
                         "-", "Settings...|Ctrl+,|command|off"}));
        QCOMPARE(describe(*window.menuBar()->actions()[0]->menu()),
                 (QStringList{"Open...|Ctrl+O|command|on", "-", "Close Window|Ctrl+W|command|on",
                              "Quit|Ctrl+Q|command|off"}));
    }

    // Each choice as the menu bar and the context menu make it, and what the model then holds.
    // (Zoom In and Delete Image through their shortcuts: the viewer test.)
    void choices() {
        struct Case {
            const char* title;
            void (*before)(AppState&);
            bool (*holds)(const AppState&);
            bool isMarkedAfter; // for check items
        };
        const Case cases[] = {
            {"Fit to Window", [](AppState&) {},
             [](const AppState& s) {
                 return s.displayMode() == DisplayMode::fitToWindow && !s.zoomAction();
             },
             true},
            {"Actual Size", [](AppState&) {},
             [](const AppState& s) { return s.displayMode() == DisplayMode::actualSize; }, true},
            {"Zoom Out", [](AppState&) {},
             [](const AppState& s) { return s.zoomAction() == ZoomAction::zoomOut; }, false},
            {"Histogram", [](AppState& s) { s.setOverlayMode(OverlayMode::metadata); },
             [](const AppState& s) { return s.overlayMode() == OverlayMode::histogram; }, true},
            {"Histogram", [](AppState& s) { s.setOverlayMode(OverlayMode::histogram); },
             [](const AppState& s) { return s.overlayMode() == OverlayMode::none; }, false},
            {"Thumbnails", [](AppState&) {}, [](const AppState& s) { return s.showThumbnailBar(); },
             true},
        };
        for (const Case& c : cases) {
            test::PrivateSettings settings;
            AppState state({settings.get()});
            c.before(state);
            QMainWindow window;
            fillMenuBar(window, &state, {});
            QAction* action = find(*window.menuBar()->actions()[2]->menu(), c.title);
            QVERIFY2(action, c.title);
            action->trigger();
            QVERIFY2(c.holds(state), c.title);
            // The mark follows the model, not Qt's own toggle.
            QCOMPARE(action->isChecked(), c.isMarkedAfter);

            // Without a model nothing happens and every mark stays off.
            QMainWindow bare;
            fillMenuBar(bare, nullptr, {});
            QAction* inert = find(*bare.menuBar()->actions()[2]->menu(), c.title);
            inert->trigger();
            QVERIFY2(!inert->isChecked(), c.title);
        }
    }

    void contextMenu() {
        test::PhotoFolder folder({"a.jpg"});
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QMenu menu;
        fillContextMenu(menu, state);
        QVERIFY(menu.isEmpty());
        state.openFile(folder.path("a.jpg"));
        fillContextMenu(menu, state);
        QStringList titles;
        for (const QString& line : describe(menu))
            titles << line.section(u'|', 0, 0);
        QCOMPARE(titles, (QStringList{"Copy Image", "Show in File Manager", "Open With", "-",
                                      "Fit to Window", "Actual Size", "Auto-Size Window", "-",
                                      "Rotate Clockwise", "Rotate Counter-Clockwise", "-",
                                      "Metadata", "Histogram", "Thumbnails", "-", "Delete Image"}));
        find(menu, "Metadata")->trigger();
        QCOMPARE(state.overlayMode(), OverlayMode::metadata);
    }

    void openWithListsApplicationsWithIcons() {
        test::PhotoFolder folder({"a.jpg"});
        QDir(dataHome_.path()).mkpath("applications");
        QImage icon(16, 16, QImage::Format_RGB32);
        icon.fill(Qt::blue);
        const QString iconPath = dataHome_.filePath("viewer.png");
        QVERIFY(icon.save(iconPath));
        QVERIFY(test::writeFile(dataHome_.filePath("applications/test-viewer.desktop"),
                                "[Desktop Entry]\nType=Application\nName=Test Viewer\nIcon=" +
                                    iconPath.toUtf8() + "\nExec=true %f\n"));

        DesktopServices desktop;
        auto applications = std::make_unique<RecordingApplications>();
        RecordingApplications& registry = *applications;
        registry.entries = {{"test-viewer.desktop", "Test Viewer"}};
        desktop.applications = std::move(applications);
        test::PrivateSettings settings;
        AppState state({.settings = settings.get(), .desktop = &desktop});
        state.openFile(folder.path("a.jpg"));
        QMenu menu;
        addControlGroup(menu, ControlGroup::openWith, &state);
        QMenu* submenu = menu.actions().front()->menu();
        QVERIFY(QMetaObject::invokeMethod(submenu, "aboutToShow"));
        QCOMPARE(describe(*submenu),
                 (QStringList{"Test Viewer||command|on", "-", "Other...||command|on"}));
        QVERIFY(!submenu->actions().front()->icon().isNull());
        submenu->actions().front()->trigger();
        QCOMPARE(registry.opened, QStringList{"test-viewer.desktop"});
    }

    void aboutWindowIsOneAtATime() {
        AboutWindowPresenter presenter;
        AboutWindow& first = presenter.show();
        first.close();
        AboutWindow& second = presenter.show();
        QCOMPARE(&first, &second);
        QVERIFY(second.isVisible());
        QCOMPARE(second.windowTitle(), QString("About Kivo"));
        QVERIFY(!second.descriptionText().contains("About.description")); // a text, not its key
        const auto* licence = second.findChild<QLabel*>("licence");
        QVERIFY(licence && licence->isVisible());
        QCOMPARE(licence->text(), QString("<a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">"
                                          "Licensed under the GNU GPL, version 3 or later</a>"));
        // Every line fits the fixed window: the icon is never squeezed to make room.
        for (const QLabel* label : second.findChildren<QLabel*>())
            if (!label->pixmap().isNull())
                QCOMPARE_GE(label->height(), AboutWindow::kIconSize);
    }

    // The locale is read once per process, so the German run is this test in a child process
    // started under LANGUAGE=de, as a user's session would start Kivo.
    void germanMenus() {
        if (qgetenv("LANGUAGE") != "de") {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("LANGUAGE", "de");
            environment.insert("LANG", "de_DE.UTF-8");
            environment.remove("LC_ALL");
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(), {"germanMenus"});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
            return;
        }
        QVERIFY(installTranslations(*QCoreApplication::instance()));
        test::PrivateSettings settings;
        AppState state({settings.get()});
        QMainWindow window;
        fillMenuBar(window, &state, {});
        QStringList titles;
        for (QAction* action : window.menuBar()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"Datei", "Bearbeiten", "Bild", "Hilfe"}));
        QVERIFY(find(*window.menuBar()->actions()[2]->menu(), "An Fenster anpassen"));
        const AboutWindow about;
        QCOMPARE(about.windowTitle(), QString("Über Kivo"));
        QVERIFY(about.findChild<QLabel*>("licence")->text().contains(
            "Lizenziert unter der GNU GPL, Version 3 oder später"));
    }

private:
    QTemporaryDir dataHome_;
};

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
