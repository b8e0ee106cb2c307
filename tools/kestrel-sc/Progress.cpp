#include "Progress.h"

#include <algorithm>
#include <cinttypes>

namespace kestrelsc {

namespace {

using Clock = std::chrono::steady_clock;

// A terminal user waits this long before a bar appears, so quick commands print nothing extra.
constexpr auto kDelay = std::chrono::milliseconds(400);
constexpr auto kInterval = std::chrono::milliseconds(100);
constexpr std::size_t kBarWidth = 24;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

}  // namespace

ProgressMeter::ProgressMeter(ProgressMode mode, std::string label, std::uint64_t total,
                             std::FILE* stream)
    : mode_(mode),
      label_(std::move(label)),
      total_(total),
      stream_(stream),
      started_(Clock::now()),
      lastDraw_(started_) {}

ProgressMeter::~ProgressMeter() {
    if (drawn_ && !finished_) {
        std::fprintf(stream_, "\r%*s\r", static_cast<int>(width_), "");
        std::fflush(stream_);
    }
}

std::string ProgressMeter::FormatBytes(double bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

bool ProgressMeter::Due(bool final) {
    if (mode_ == ProgressMode::Off || finished_)
        return false;
    const Clock::time_point now = Clock::now();
    if (final)
        return drawn_ || mode_ == ProgressMode::Always;
    if (mode_ == ProgressMode::Delayed && now - started_ < kDelay)
        return false;
    if (drawn_ && now - lastDraw_ < kInterval)
        return false;
    lastDraw_ = now;
    return true;
}

void ProgressMeter::Update(std::uint64_t done) {
    done_ = done;
    known_ = true;
    if (Due(false))
        Draw(false);
}

void ProgressMeter::Tick() {
    if (Due(false))
        Draw(false);
}

void ProgressMeter::Finish(std::uint64_t done) {
    done_ = done;
    known_ = true;
    if (Due(true))
        Draw(true);
    finished_ = true;
}

void ProgressMeter::Draw(bool final) {
    const double elapsed = Seconds(Clock::now() - started_);
    std::string bar(kBarWidth, '.');
    std::string line = label_ + " [";
    if (final || (known_ && total_ > 0)) {
        const double fraction =
            total_ > 0 ? std::min(1.0, static_cast<double>(done_) / static_cast<double>(total_))
                       : 1.0;
        std::fill_n(bar.begin(), static_cast<std::size_t>(fraction * kBarWidth), '#');
        char percent[16];
        std::snprintf(percent, sizeof percent, "] %3d%%  ", static_cast<int>(fraction * 100));
        line += bar + percent + FormatBytes(static_cast<double>(done_));
        if (!final && total_ > 0)
            line += " / " + FormatBytes(static_cast<double>(total_));
    } else {
        // A three-cell marker sweeping back and forth across the bar.
        const std::size_t span = kBarWidth - 3;
        const std::size_t step = frame_++ % (2 * span);
        std::fill_n(
            bar.begin() + static_cast<std::ptrdiff_t>(step <= span ? step : 2 * span - step), 3,
            '=');
        line += bar + "]  " + FormatBytes(static_cast<double>(total_));
    }
    if (elapsed > 0 && (known_ || final))
        line += "  " + FormatBytes(static_cast<double>(done_) / elapsed) + "/s";
    char timing[32];
    std::snprintf(timing, sizeof timing, final ? "  in %.2f s" : "  %.1f s", elapsed);
    line += timing;
    const std::size_t width = line.size();
    if (width < width_)
        line.append(width_ - width, ' ');
    width_ = width;
    std::fprintf(stream_, "\r%s%s", line.c_str(), final ? "\n" : "");
    std::fflush(stream_);
    drawn_ = true;
}

}  // namespace kestrelsc
