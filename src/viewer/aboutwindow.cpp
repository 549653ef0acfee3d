// SPDX-License-Identifier: GPL-3.0-or-later
#include "aboutwindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#ifndef KIVO_VERSION
#define KIVO_VERSION ""
#endif
#ifndef KIVO_BUILD_NUMBER
#define KIVO_BUILD_NUMBER ""
#endif
#ifndef KIVO_README_PATH
#define KIVO_README_PATH ""
#endif

namespace kivo {

namespace {

constexpr int kSpacing = 16;
constexpr int kIconCornerRadius = 22;
constexpr auto kQtPage = "https://www.qt.io/";
constexpr auto kLicencePage = "https://www.gnu.org/licenses/gpl-3.0.html";

// Kivo's own icon from the resources; a build without it falls back to the window icon the
// application set, then to the icon theme's.
QIcon applicationIconImage() {
    const QString bundledPath = QStringLiteral(":/kivo/icons/org.kivo.Kivo.svg");
    const QIcon bundled(bundledPath);
    if (QFileInfo::exists(bundledPath) && !bundled.pixmap(AboutWindow::kIconSize).isNull())
        return bundled;
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    return QIcon::fromTheme(QStringLiteral("org.kivo.Kivo"));
}

QPixmap roundedIcon(const QIcon& icon, qreal devicePixelRatio) {
    const int size = AboutWindow::kIconSize;
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, size, size), kIconCornerRadius, kIconCornerRadius);
    painter.setClipPath(clip);
    icon.paint(&painter, QRect(0, 0, size, size));
    return pixmap;
}

QLabel* addLabel(QVBoxLayout& layout, const QString& text, double fontScale, double opacity) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * fontScale);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(static_cast<float>(opacity));
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    layout.addWidget(label);
    return label;
}

// Without a web page of its own, Kivo points at the README installed beside it.
QUrl projectPage() {
    return QUrl::fromLocalFile(QStringLiteral(KIVO_README_PATH));
}

// The address as a user would type it: a path for a file, otherwise without the scheme.
QString linkText(const QUrl& url) {
    if (url.isLocalFile())
        return url.toLocalFile();
    return url.toString(QUrl::RemoveScheme | QUrl::StripTrailingSlash).mid(2);
}

} // namespace

QString appVersion(const QString& shortVersion, const QString& build) {
    const QString version = shortVersion.isEmpty() ? QStringLiteral("1.0") : shortVersion;
    const QString number = build.isEmpty() ? QStringLiteral("1") : build;
    return version + QStringLiteral(" (") + number + u')';
}

QString buildAppVersion() {
    return appVersion(QStringLiteral(KIVO_VERSION), QStringLiteral(KIVO_BUILD_NUMBER));
}

AboutWindow::AboutWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("about-kivo"));
    setWindowTitle(tr("About Kivo"));
    setFixedSize(kWidth, kHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    // Narrow top and bottom margins leave the icon its full height above the licence line.
    layout->setContentsMargins(24, 14, 24, 10);
    layout->addStretch(1);

    auto* icon = new QLabel;
    icon->setAlignment(Qt::AlignHCenter);
    icon->setPixmap(roundedIcon(applicationIconImage(), devicePixelRatioF()));
    layout->addWidget(icon);

    QLabel* name = addLabel(*layout, QStringLiteral("Kivo"), 1.6, 1.0);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    QLabel* version = addLabel(*layout, tr("Version %1").arg(buildAppVersion()), 0.95, 0.65);
    version->setObjectName(QStringLiteral("version"));
    QLabel* description = addLabel(*layout, descriptionText(), 1.0, 0.65);
    description->setObjectName(QStringLiteral("description"));

    const QUrl page = projectPage();
    QLabel* link =
        addLabel(*layout,
                 QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(page.toString(QUrl::FullyEncoded), linkText(page).toHtmlEscaped()),
                 0.95, 1.0);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);
    layout->addStretch(1);

    // The licence and the footer share the bottom as one caption block, so the licence costs
    // the window no height of its own.
    auto* bottom = new QVBoxLayout;
    bottom->setSpacing(0);
    layout->addLayout(bottom);
    QLabel* licence =
        addLabel(*bottom,
                 QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(QString::fromLatin1(kLicencePage),
                          tr("Licensed under the GNU GPL, version 3 or later").toHtmlEscaped()),
                 0.8, 1.0);
    licence->setObjectName(QStringLiteral("licence"));
    licence->setTextInteractionFlags(Qt::TextBrowserInteraction);
    licence->setOpenExternalLinks(true);

    auto* footer = new QPushButton(tr("Built with Qt %1").arg(QString::fromLatin1(qVersion())));
    footer->setFlat(true);
    footer->setCursor(Qt::PointingHandCursor);
    QFont caption = footer->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.8);
    footer->setFont(caption);
    QPalette palette = footer->palette();
    QColor dim = palette.color(QPalette::ButtonText);
    dim.setAlphaF(0.45f);
    palette.setColor(QPalette::ButtonText, dim);
    footer->setPalette(palette);
    connect(footer, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kQtPage))); });
    bottom->addWidget(footer, 0, Qt::AlignHCenter);
}

QString AboutWindow::versionText() const {
    return findChild<QLabel*>(QStringLiteral("version"))->text();
}

// The description is looked up by its id; a catalogue without it (English has none) gets the
// English text.
QString AboutWindow::descriptionText() const {
    const QString translated = tr("About.description");
    if (translated != QLatin1String("About.description"))
        return translated;
    return QStringLiteral("A fast image viewer: open a picture and step through its folder with "
                          "the arrow keys.");
}

AboutWindowPresenter::AboutWindowPresenter() = default;
AboutWindowPresenter::~AboutWindowPresenter() = default;

AboutWindow& AboutWindowPresenter::show() {
    if (!window_) {
        window_ = std::make_unique<AboutWindow>();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return *window_;
}

} // namespace kivo
