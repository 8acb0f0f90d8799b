#include "instrument/Linearity.h"

#include <cmath>
#include <stdexcept>

#include "core/Printed.h"

namespace tq {
namespace {

// Keeps the value of largest magnitude and its code.
void TakeWorst(double value, int32_t code, double& worst, int32_t& worstCode) {
    if (std::fabs(value) > std::fabs(worst)) {
        worst = value;
        worstCode = code;
    }
}

std::string Fixed(double value, int decimals) {
    return Printed("%.*f", decimals, value);
}

}  // namespace

LinearityReport AnalyseLinearity(const std::vector<LinearityPoint>& points, double idealLsbVolts) {
    if (points.size() < 2)
        throw std::invalid_argument("a linearity test needs at least two codes");
    if (!(idealLsbVolts > 0) || !std::isfinite(idealLsbVolts))
        throw std::invalid_argument("the LSB is not a positive number");
    for (std::size_t i = 1; i < points.size(); ++i)
        if (points[i].code <= points[i - 1].code)
            throw std::invalid_argument("the codes of a linearity test must rise");

    LinearityReport report;
    report.idealLsbVolts = idealLsbVolts;
    const LinearityPoint& first = points.front();
    const LinearityPoint& last = points.back();
    report.offsetErrorLsb = (first.reading - first.setVolts) / idealLsbVolts;
    report.gainErrorLsb =
        ((last.reading - first.reading) - (last.setVolts - first.setVolts)) / idealLsbVolts;

    // End-point line: the LSB the converter actually has between the two ends.
    const double endLsb = (last.reading - first.reading) / (last.code - first.code);

    // Least squares over (code, reading), centred for accuracy with 16-bit codes.
    const double n = static_cast<double>(points.size());
    double meanCode = 0, meanReading = 0;
    for (const auto& p : points) {
        meanCode += p.code;
        meanReading += p.reading;
    }
    meanCode /= n;
    meanReading /= n;
    double sxy = 0, sxx = 0;
    for (const auto& p : points) {
        sxy += (p.code - meanCode) * (p.reading - meanReading);
        sxx += (p.code - meanCode) * (p.code - meanCode);
    }
    const double fitLsb = sxy / sxx;

    double pooledVariance = 0;
    report.results.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const LinearityPoint& p = points[i];
        LinearityResult r;
        r.code = p.code;
        // A converter whose ends read the same has no line to measure against.
        r.inlEndPoint =
            endLsb != 0 ? (p.reading - (first.reading + endLsb * (p.code - first.code))) / endLsb
                        : 0;
        r.inlBestFit =
            fitLsb != 0 ? (p.reading - (meanReading + fitLsb * (p.code - meanCode))) / fitLsb : 0;
        r.dnl = i == 0 ? 0 : r.inlEndPoint - report.results[i - 1].inlEndPoint;
        TakeWorst(r.inlEndPoint, r.code, report.maxInlEndPoint, report.maxInlEndPointCode);
        TakeWorst(r.inlBestFit, r.code, report.maxInlBestFit, report.maxInlBestFitCode);
        if (i > 0)
            TakeWorst(r.dnl, r.code, report.maxDnl, report.maxDnlCode);
        pooledVariance += p.spread * p.spread;
        report.results.push_back(r);
    }
    report.noiseVolts = std::sqrt(pooledVariance / n);
    return report;
}

std::vector<int32_t> SpreadCodes(int32_t first, int32_t last, int32_t count) {
    std::vector<int32_t> codes;
    if (count < 2 || last <= first)
        return codes;
    const int64_t span = static_cast<int64_t>(last) - first;
    if (count > span + 1)
        count = static_cast<int32_t>(span + 1);
    codes.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        // Rounded to nearest, so the codes sit evenly and both ends are included.
        const int64_t offset = (span * i * 2 + (count - 1)) / (2 * (count - 1));
        codes.push_back(static_cast<int32_t>(first + offset));
    }
    return codes;
}

std::string LinearityCsv(const std::vector<LinearityPoint>& points, const LinearityReport& report) {
    std::string csv = "code,set_volts,reading_volts,inl_lsb,dnl_lsb\n";
    for (std::size_t i = 0; i < points.size() && i < report.results.size(); ++i) {
        const auto& p = points[i];
        const auto& r = report.results[i];
        csv += std::to_string(p.code) + "," + Fixed(p.setVolts, 7) + "," + Fixed(p.reading, 7) +
               "," + Fixed(r.inlEndPoint, 4) + "," + Fixed(r.dnl, 4) + "\n";
    }
    return csv;
}

std::string LinearitySummary(const LinearityReport& report, const std::string& channelName) {
    std::string text;
    text += "channel: " + channelName + "\n";
    text += "codes: " + std::to_string(report.results.size()) + "\n";
    text += "offset error: " + Fixed(report.offsetErrorLsb, 3) + " LSB\n";
    text += "gain error: " + Fixed(report.gainErrorLsb, 3) + " LSB\n";
    text += "INL (end-point): " + Fixed(report.maxInlEndPoint, 3) + " LSB at code " +
            std::to_string(report.maxInlEndPointCode) + "\n";
    text += "INL (best fit): " + Fixed(report.maxInlBestFit, 3) + " LSB at code " +
            std::to_string(report.maxInlBestFitCode) + "\n";
    text += "DNL: " + Fixed(report.maxDnl, 3) + " LSB at code " +
            std::to_string(report.maxDnlCode) + "\n";
    text += "reading noise: " + Fixed(report.noiseVolts * 1e6, 2) + " uV (" +
            Fixed(report.noiseVolts / report.idealLsbVolts, 3) + " LSB)\n";
    return text;
}

}  // namespace tq
