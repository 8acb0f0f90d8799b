#pragma once
// The arithmetic of a linearity test: from the meter's readings at a set of codes, the offset and
// gain errors, INL against the end-point line and the best-fit line, and DNL, all in LSB. DNL is
// a step between adjacent codes; a test over codes spread across the range measures steps of
// many codes, reported as step errors with their size. Pure functions, so the figures are
// checked against hand-made data sets.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq {

struct LinearityPoint {
    int32_t code = 0;
    double setVolts = 0;  // the ideal output of the code
    double reading = 0;   // the meter's reading (the mean of the readings taken at the code)
    double spread = 0;    // the standard deviation of those readings, volts (0 for one reading)
};

struct LinearityResult {
    int32_t code = 0;
    double inlEndPoint = 0;  // LSB, against the line through the first and last points
    double inlBestFit = 0;   // LSB, against the least-squares line
    double dnl = 0;          // LSB: the step from the previous point beyond its ideal size
    int32_t stepCodes = 0;   // the codes from the previous point (0 for the first)
    // Only a step between adjacent codes is the converter's DNL; a longer one is a step error.
    bool IsDnl() const { return stepCodes == 1; }
};

struct LinearityReport {
    double idealLsbVolts = 0;
    double offsetErrorLsb = 0;  // the first point's error against its ideal voltage
    double gainErrorLsb = 0;    // the span's error against the ideal span, in ideal LSB
    double maxInlEndPoint = 0;  // the largest magnitudes, with their sign
    int32_t maxInlEndPointCode = 0;
    double maxInlBestFit = 0;
    int32_t maxInlBestFitCode = 0;
    double maxDnl = 0;  // over the steps between adjacent codes only
    int32_t maxDnlCode = 0;
    int32_t dnlSteps = 0;  // how many steps were between adjacent codes
    // The steps over more than one code: the largest error, where, and the steps' sizes.
    double maxStepError = 0;
    int32_t maxStepErrorCode = 0;
    int32_t spreadSteps = 0;
    int32_t shortestSpreadStep = 0;
    int32_t longestSpreadStep = 0;
    double noiseVolts = 0;  // the readings' pooled standard deviation
    std::vector<LinearityResult> results;
};

// Throws std::invalid_argument for fewer than two points, codes that do not rise, or an
// ideal LSB that is not a positive number.
LinearityReport AnalyseLinearity(const std::vector<LinearityPoint>& points, double idealLsbVolts);

// `count` codes spread evenly from `first` to `last` (both included), rising and distinct.
std::vector<int32_t> SpreadCodes(int32_t first, int32_t last, int32_t count);

// A value in LSB as the program writes it: three decimals, never "-0.000" nor an exponent.
std::string LsbText(double lsb);
// "256-code steps", "steps of 255 to 256 codes".
std::string StepSizeText(int32_t shortest, int32_t longest);

// One line per point: code,set_volts,reading_volts,inl_lsb,dnl_lsb (INL against the end-point
// line), after a header line. dnl_lsb is empty where the previous point is not the adjacent code
// (and for the first point): a step over several codes is no DNL.
std::string LinearityCsv(const std::vector<LinearityPoint>& points, const LinearityReport& report);
// The figures a user saves with the CSV, one per line.
std::string LinearitySummary(const LinearityReport& report, const std::string& channelName);

}  // namespace tq
