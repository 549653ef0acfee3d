// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace kivo {

// "2.3 (45)": the short version and the build number in parentheses; "1.0" and "1" stand in
// for whichever is missing.
QString appVersion(const QString& shortVersion, const QString& build);
// The version of this build, from the project version and the build number it was made with.
QString buildAppVersion();

// A small fixed window with Kivo's icon, name, version, a description, two links and the
// licence.
class AboutWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 340;
    static constexpr int kHeight = 320;
    static constexpr int kIconSize = 96;

    explicit AboutWindow(QWidget* parent = nullptr);

    QString versionText() const;
    QString descriptionText() const;
};

// Shows the About window, reusing the one already open: there is only ever one.
class AboutWindowPresenter {
public:
    AboutWindowPresenter();
    ~AboutWindowPresenter();
    AboutWindow& show();
    AboutWindow* window() const { return window_.get(); }

private:
    std::unique_ptr<AboutWindow> window_;
};

} // namespace kivo
