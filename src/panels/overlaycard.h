// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace kivo {

// The dark rounded card the panels over the picture are drawn on: a title in the headline font
// over whatever the panel stacks below it. Sized by its content; the viewer places it.
class OverlayCard : public QWidget {
    Q_OBJECT

public:
    static constexpr double kCornerRadius = 8.0;
    static constexpr int kInnerMargin = 12;
    static const QColor& background(); // black at 80 %

    OverlayCard(const QString& title, int spacing, int spaceBelowTitle, QWidget* parent = nullptr);

    // The size the card takes at its natural width, following wrapped text.
    QSize fittedSize() const;

protected:
    // Where the panel stacks its content, below the title.
    QVBoxLayout* content() const { return content_; }
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* content_;
};

// The headline font of the card titles.
QFont headlineFont(const QFont& base);
// The small font of captions and metadata rows.
QFont captionFont(const QFont& base);

} // namespace kivo
