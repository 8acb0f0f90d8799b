#include "instrument/Linearity.h"

#include <algorithm>
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
        r.stepCodes = i == 0 ? 0 : p.code - points[i - 1].code;
        TakeWorst(r.inlEndPoint, r.code, report.maxInlEndPoint, report.maxInlEndPointCode);
        TakeWorst(r.inlBestFit, r.code, report.maxInlBestFit, report.maxInlBestFitCode);
        if (r.IsDnl()) {
            ++report.dnlSteps;
            TakeWorst(r.dnl, r.code, report.maxDnl, report.maxDnlCode);
        } else if (i > 0) {
            if (report.spreadSteps++ == 0)
                report.shortestSpreadStep = report.longestSpreadStep = r.stepCodes;
            report.shortestSpreadStep = std::min(report.shortestSpreadStep, r.stepCodes);
            report.longestSpreadStep = std::max(report.longestSpreadStep, r.stepCodes);
            TakeWorst(r.dnl, r.code, report.maxStepError, report.maxStepErrorCode);
        }
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

std::string LsbText(double lsb) {
    std::string text = Fixed(lsb, 3);
    if (text == "-0.000")
        text = "0.000";
    return text;
}

std::string StepSizeText(int32_t shortest, int32_t longest) {
    if (shortest == longest)
        return std::to_string(shortest) + "-code steps";
    return "steps of " + std::to_string(shortest) + " to " + std::to_string(longest) + " codes";
}

std::string LinearityCsv(const std::vector<LinearityPoint>& points, const LinearityReport& report) {
    std::string csv = "code,set_volts,reading_volts,inl_lsb,dnl_lsb\n";
    const auto unsigned4 = [](double value) {
        std::string text = Fixed(value, 4);
        return text == "-0.0000" ? std::string("0.0000") : text;
    };
    for (std::size_t i = 0; i < points.size() && i < report.results.size(); ++i) {
        const auto& p = points[i];
        const auto& r = report.results[i];
        csv += std::to_string(p.code) + "," + Fixed(p.setVolts, 7) + "," + Fixed(p.reading, 7) +
               "," + unsigned4(r.inlEndPoint) + "," + (r.IsDnl() ? unsigned4(r.dnl) : "") + "\n";
    }
    return csv;
}

std::string LinearitySummary(const LinearityReport& report, const std::string& channelName) {
    std::string text;
    text += "channel: " + channelName + "\n";
    text += "codes: " + std::to_string(report.results.size()) + "\n";
    text += "offset error: " + LsbText(report.offsetErrorLsb) + " LSB\n";
    text += "gain error: " + LsbText(report.gainErrorLsb) + " LSB\n";
    text += "INL (end-point): " + LsbText(report.maxInlEndPoint) + " LSB at code " +
            std::to_string(report.maxInlEndPointCode) + "\n";
    text += "INL (best fit): " + LsbText(report.maxInlBestFit) + " LSB at code " +
            std::to_string(report.maxInlBestFitCode) + "\n";
    // DNL only where adjacent codes were measured; steps over more codes are named as such.
    if (report.dnlSteps > 0)
        text += "DNL: " + LsbText(report.maxDnl) + " LSB at code " +
                std::to_string(report.maxDnlCode) + " (" + std::to_string(report.dnlSteps) +
                (report.dnlSteps == 1 ? " step" : " steps") + " between adjacent codes)\n";
    if (report.spreadSteps > 0)
        text +=
            "step error over " + StepSizeText(report.shortestSpreadStep, report.longestSpreadStep) +
            ": " + LsbText(report.maxStepError) + " LSB at code " +
            std::to_string(report.maxStepErrorCode) + " (not DNL, which needs adjacent codes)\n";
    text += "reading noise: " + Fixed(report.noiseVolts * 1e6, 2) + " uV (" +
            LsbText(report.noiseVolts / report.idealLsbVolts) + " LSB)\n";
    return text;
}

}  // namespace tq
