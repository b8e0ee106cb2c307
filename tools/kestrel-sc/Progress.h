// A progress line on stderr for long loads and writes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrelsc {

// When the line is drawn: never, only once an operation has run a while (the terminal
// default), or from the start (--progress, so scripts and tests see it on any stream).
enum class ProgressMode { Off, Delayed, Always };

// Draws "label [#####.....]  45%  12.3 MB / 49.0 MB  10.2 MB/s" on one carriage-returned line,
// or a moving marker with bytes and elapsed time while the amount done cannot be told. Nothing
// is drawn before the first Update or Tick. Finish leaves a summary with the total and the mean
// rate; destruction without Finish erases the line.
class ProgressMeter {
public:
    // Starts timing an operation on total bytes (0 when unknown); draws nothing when mode is Off.
    ProgressMeter(ProgressMode mode, std::string label, std::uint64_t total,
                  std::FILE* stream = stderr);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // Records done bytes of the total and redraws at most ten times a second.
    void Update(std::uint64_t done);
    // Redraws the waiting marker when only the end of the operation will be known.
    void Tick();
    // Ends the line with the bytes handled and the mean rate (if it was drawn at all).
    void Finish(std::uint64_t done);

    // "12.3 MB" style byte counts (decimal units, as file managers show them).
    static std::string FormatBytes(double bytes);

private:
    void Draw(bool final);
    bool Due(bool final);

    ProgressMode mode_;
    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool known_ = false;  // whether done_ has been reported (else the marker moves)
    bool drawn_ = false;
    bool finished_ = false;
    unsigned frame_ = 0;
    std::size_t width_ = 0;  // length of the last line drawn, to blank its tail
    std::FILE* stream_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace kestrelsc
