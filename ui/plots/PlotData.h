#pragma once
// The three plots' data from the windows' figures: one period of a waveform, the temperature
// log's readings, a linearity test's INL and DNL.

#include <deque>
#include <string>
#include <vector>

#include "instrument/Linearity.h"
#include "instrument/TemperatureLog.h"
#include "ui/plots/PlotModel.h"

namespace tq {

// One channel's period as it will be sent: volts, or codes when its range is not known yet.
struct PreviewTrace {
    std::string name;
    bool codes = false;
    std::vector<double> values;   // one per step
    std::vector<int32_t> sent{};  // the code of each step, where the values are the volts they
                                  // give (empty: the codes are not known)
};

// Every trace over time (the step index when the run goes as fast as the link allows), each step
// held for its dwell; the title tells the period and its frequency.
PlotModel WavePreviewPlot(const std::vector<PreviewTrace>& traces, double dwellSeconds,
                          const std::string& note);

// Periods a second at a rate of steps a second; 0 when either is not known.
double PeriodFrequency(double stepsPerSecond, int64_t stepsPerPeriod);

// The kept readings over the time since the start, in seconds, minutes or hours as the log's
// length asks; a failed reading breaks the curve.
PlotModel TemperaturePlot(const std::deque<LogPoint>& points);

// End-point INL over the code, with DNL where adjacent codes were measured and the step error
// (named with its size in codes) where they were not; the ±1 LSB band; each curve's worst point
// marked. Without results, `note` (or a word on how to get them) stands in the plot's place.
PlotModel LinearityPlot(const std::vector<LinearityResult>& results, const std::string& note = {});

}  // namespace tq
