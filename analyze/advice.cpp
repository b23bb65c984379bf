#include "analyze/advice.h"

#include <cmath>
#include <cstdio>

#include "common/signal_format.h"

namespace analyze {

namespace {

// A run log's runs that last longer than this on average are no signal's.
constexpr double kLongestMeanRunSeconds = 1.0;

// Rates that recorders offer; a fitted rate this close to one of them is taken for it.
constexpr int32_t kCommonRates[] = {8000,  11025, 16000, 22050, 24000,  32000,
                                    44100, 48000, 88200, 96000, 176400, 192000};
constexpr double kCommonRateTolerance = 0.02;

// Cells fitted further off than this, in percent, raise the question of the sample rate.
constexpr double kRateDoubtPercent = 5.0;

// The rate at which the input's cells would last 6.623 samples, a common one when near (then
// `common` is set).
int32_t FittingRate(double readAt, double cellLength, bool& common) {
    const double fits = readAt * cellLength / common::kSamplesPerCell;
    for (int32_t rate : kCommonRates) {
        common = std::fabs(fits - rate) <= rate * kCommonRateTolerance;
        if (common) return rate;
    }
    return static_cast<int32_t>(std::lround(fits / 100.0) * 100);
}

}  // namespace

std::string RunLogDoubt(const ReportFigures& f) {
    if (f.kind != InputKind::RunLog || f.runs == 0) return "";
    const double meanSeconds = f.durationSeconds / static_cast<double>(f.runs);
    if (f.fit.runsUsed > 0 && meanSeconds <= kLongestMeanRunSeconds) return "";
    char text[320];
    std::snprintf(text, sizeof text, kAdviceTexts.notRunLog, static_cast<long long>(f.runs),
                  static_cast<long long>(f.fit.runsUsed), meanSeconds);
    return text;
}

std::string RateDoubt(const ReportFigures& f, const InputRequest& request) {
    if (f.fit.runsUsed == 0 || std::fabs(f.cellLengthDeviationPercent) <= kRateDoubtPercent)
        return "";
    const int32_t readAt = f.kind == InputKind::RunLog ? common::kSampleRateHz : f.audio.rate;
    bool common = false;
    const int32_t fits = FittingRate(readAt, f.fit.cellLength, common);
    char text[400];
    const int used = std::snprintf(text, sizeof text, kAdviceTexts.cellsOff, f.fit.cellLength,
                                   f.cellLengthDeviationPercent, common::kSamplesPerCell);
    const auto rest = sizeof text - static_cast<size_t>(used);
    if (f.kind == InputKind::Raw && common) {
        std::snprintf(text + used, rest, kAdviceTexts.tryRate, fits, fits);
    } else if (f.kind == InputKind::Raw) {
        // Samples of another size than read also change the rate they seem to have.
        std::snprintf(text + used, rest, kAdviceTexts.tryRateAndFormat, fits,
                      kRawEncodings[static_cast<size_t>(request.layout.encoding)].name);
    } else {
        std::snprintf(text + used, rest, kAdviceTexts.rateOrClock, fits, readAt);
    }
    return text;
}

}  // namespace analyze
