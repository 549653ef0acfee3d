// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/pixels/displayprofile.h"
#include "thumbnails/thumbnailcache.h"

#include <QImage>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>
#include <unordered_map>
#include <vector>

namespace kivo {

// The row of small pictures of every image in the folder, along the bottom of the viewer. The
// current image's cell is outlined; a click on a cell asks for that image. The row is virtual:
// only the cells on screen exist, each loading its picture through the shared cache, so a folder
// of 100,000 files costs what a folder of 100 does. A cell that scrolls away cancels its request
// before it is decoded.
class ThumbnailStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 60;
    static constexpr int kCellSize = 44;
    static constexpr int kSpacing = 4;
    static constexpr int kEdgeSpace = 8; // before the first and after the last cell
    static constexpr double kCornerRadius = 3.0;
    static constexpr double kOutlineWidth = 2.0;
    static constexpr int kScrollDurationMs = 200;

    explicit ThumbnailStrip(ThumbnailCache& cache, QWidget* parent = nullptr);
    ~ThumbnailStrip() override;

    // The folder's files in order. Cells whose file changed load their picture anew.
    void setFiles(std::vector<FilePath> files);
    // Moves the outline at once; on a strip already on screen, also scrolls the new cell to the
    // middle with a short animation. A strip that first appears stays at its start.
    void setCurrentIndex(qsizetype index);
    qsizetype currentIndex() const { return currentIndex_; }

    // The colour profile of the window's screen: the cache's sRGB thumbnails are converted to it
    // as each cell's picture is made.
    void setDisplayProfile(const DisplayProfile& profile);

    // Called with the index of a clicked cell.
    std::function<void(qsizetype index)> onSelect;

    // Asks the cache again for every cell on screen, so that files changed on disk (a rotation
    // saved, another program) show their new picture. Done by itself when the window becomes
    // active again and whenever the files are set.
    void revalidate();

    // The horizontal scroll position: how far the row's start lies left of the strip's edge.
    double scrollOffset() const { return offset_; }
    void setScrollOffset(double offset);
    // The offset at which the cell of `index` stands in the middle, kept within the row.
    double centredOffset(qsizetype index) const;
    // Where the cell of `index` is drawn, in the strip's coordinates.
    QRectF cellRect(qsizetype index) const;
    // How many cells exist now (those on screen).
    int cellCount() const { return int(cells_.size()); }

    QSize sizeHint() const override { return {400, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    DisplayProfile displayProfile_;
    struct Cell {
        FilePath path;
        ThumbnailRequest request;
        bool waiting = false; // a decode was asked for and has not answered yet
        QImage source;        // the cache's thumbnail; null while absent
        QImage picture;       // the source rounded, cropped and scaled for the screen's pixel ratio
    };

    double contentWidth() const;
    double maxOffset() const;
    qsizetype indexAt(QPointF position) const;
    void updateVisibleCells();
    void load(qsizetype index, Cell& cell);
    void receive(qsizetype index, const FilePath& path, const std::optional<QImage>& thumbnail);
    const QImage& pictureFor(Cell& cell) const;

    ThumbnailCache& cache_;
    std::vector<FilePath> files_;
    qsizetype currentIndex_ = 0;
    double offset_ = 0.0;
    qsizetype pressedIndex_ = -1;
    std::unordered_map<qsizetype, Cell> cells_;
    QVariantAnimation scroll_;
};

} // namespace kivo
