// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One kivo process as the opening benchmark watches it: the pictures its canvas reports painting
// (kivo.timing), its peak memory, and the time other programs take, on one clock.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <ctime>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace kivo::bench {

constexpr int kPaintTimeoutMs = 30000;
// Figures that could not be measured are NaN, printed as "n/a".
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

inline qint64 monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

inline double median(std::vector<double> values) {
    if (values.empty())
        return kMissing;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Paint {
    qint64 us = 0;
    QString image; // the canvas's picture; a new one on every step
    QSize bitmap;  // the level it was drawn from
    // The tile level whose tiles were all there for the view (kivo.canvas.tiles logging), or -1.
    int sharpLevel = -1;
};

// One running kivo and the pictures it has painted so far. Its stderr is drained whenever the
// harness waits, so the child never blocks on a full pipe.
class KivoRun {
public:
    KivoRun(QProcess* process, qint64 startedUs)
        : process_(process)
        , startedUs_(startedUs) {
        process_->setReadChannel(QProcess::StandardError);
    }

    qint64 startedUs() const { return startedUs_; }
    qint64 pid() const { return process_->processId(); }
    const std::vector<Paint>& paints() const { return paints_; }

    // The first paint `wanted` accepts, waiting at most `timeoutMs` for it.
    std::optional<Paint> waitForPaint(const std::function<bool(const Paint&)>& wanted,
                                      int timeoutMs = kPaintTimeoutMs) {
        const qint64 deadline = monotonicUs() + qint64(timeoutMs) * 1000;
        for (std::size_t seen = 0;;) {
            for (; seen < paints_.size(); ++seen)
                if (wanted(paints_[seen]))
                    return paints_[seen];
            if (monotonicUs() > deadline || process_->state() == QProcess::NotRunning)
                return std::nullopt;
            drain(50);
        }
    }

    // Keeps reading the log for `ms` milliseconds.
    void pause(int ms) {
        const qint64 until = monotonicUs() + qint64(ms) * 1000;
        while (monotonicUs() < until && process_->state() != QProcess::NotRunning)
            drain(int(std::min<qint64>(50, (until - monotonicUs()) / 1000 + 1)));
    }

private:
    void drain(int waitMs) {
        process_->waitForReadyRead(waitMs);
        process_->readAllStandardOutput();
        pending_ += process_->readAllStandardError();
        static const QRegularExpression line(R"(painted (\d+) us image (\S+) bitmap (\d+)x(\d+))");
        static const QRegularExpression complete(R"(tiles complete for the view at level (\d+))");
        static const QRegularExpression reading(R"(reading \d+ tiles at level)");
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1)) {
            const QString text = QString::fromUtf8(pending_.left(end));
            const auto match = line.match(text);
            if (match.hasMatch())
                paints_.push_back({match.captured(1).toLongLong(), match.captured(2),
                                   QSize(match.captured(3).toInt(), match.captured(4).toInt()),
                                   sharpLevel_});
            else if (const auto done = complete.match(text); done.hasMatch())
                sharpLevel_ = done.captured(1).toInt();
            else if (reading.match(text).hasMatch())
                sharpLevel_ = -1;
        }
    }

    QProcess* process_;
    qint64 startedUs_;
    QByteArray pending_;
    std::vector<Paint> paints_;
    int sharpLevel_ = -1;
};

struct Memory {
    double hwmMb = 0;
    double rssMb = 0;
};

inline Memory memoryOf(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    Memory memory;
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "VmHWM:")
            memory.hwmMb = fields[1].toDouble() / 1024.0;
        if (fields.size() >= 2 && fields[0] == "VmRSS:")
            memory.rssMb = fields[1].toDouble() / 1024.0;
    }
    return memory;
}

// Milliseconds of `program arguments`, output discarded, median of `runs`.
inline double commandMs(const QString& program, const QStringList& arguments, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess command;
        command.setStandardOutputFile(QProcess::nullDevice());
        const qint64 started = monotonicUs();
        command.start(program, arguments);
        if (!command.waitForFinished(60000) || command.exitCode() != 0)
            return kMissing;
        times.push_back(double(monotonicUs() - started) / 1000.0);
    }
    return median(times);
}

} // namespace kivo::bench
