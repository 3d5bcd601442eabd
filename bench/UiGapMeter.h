#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest gap between two ticks of a short timer on the UI thread, while the work being
// measured runs: how long the thread went without handling an event.
class UiGapMeter
{
public:
    explicit UiGapMeter(int intervalMs = 1)
    {
        tick_.setInterval(intervalMs);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    UiGapMeter(const UiGapMeter &) = delete;
    UiGapMeter &operator=(const UiGapMeter &) = delete;

    void start()
    {
        clock_.start();
        last_ = longest_ = 0;
        tick_.start();
    }
    void stop() { tick_.stop(); }
    double longestMs() const { return double(longest_) / 1e6; }
    // Since start().
    double elapsedMs() const { return double(clock_.nsecsElapsed()) / 1e6; }

private:
    QElapsedTimer clock_;
    QTimer tick_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};
