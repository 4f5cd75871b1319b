#pragma once

#include <QString>

#include <optional>

namespace perrox {

// The arithmetic of the progress bar: a bar from 0 to 100 that moves about a
// hundred times per run, each time straight to the position's share of the
// total.
class ProgressScale
{
public:
    static constexpr int kMaximum = 100;

    // Sets the total of the run; the step is the whole part of total / 100,
    // plus 1, and the first threshold is one step.
    void initialize(double total);
    // The bar's new value when position has passed (not merely reached) the
    // threshold, which then grows by one step; nothing otherwise.
    std::optional<int> update(double position);

    double total() const { return m_total; }
    double step() const { return m_step; }
    double threshold() const { return m_threshold; }

private:
    double m_total = 0;
    double m_step = 1;
    double m_threshold = 1;
};

// The progress window's count line: "File 12 of 340, 1.2 GB of 3.4 GB"
// (sizes in units of 1000 bytes); only the bytes while number is 0.
QString ProgressCountText(int number, int files, double done, double total);

// Said when a run is cancelled after the file it showed was put in place.
QString ReplacedBeforeCancelMessage(const QString &path);

} // namespace perrox
