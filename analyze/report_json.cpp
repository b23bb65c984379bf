#include <nlohmann/json.hpp>

#include "analyze/report.h"

namespace analyze {

namespace {

using Json = nlohmann::ordered_json;

Json Input(const ReportFigures& f) {
    if (f.kind == InputKind::RunLog)
        return Json{{"kind", "run_log"}, {"entries", f.logEntries}, {"zero_tail", f.zeroTail}};
    return Json{{"kind", f.audio.kind},         {"format", f.format},
                {"samples", f.level.samples},   {"encoding", f.audio.encoding},
                {"channels", f.audio.channels}, {"sample_rate", f.audio.rate},
                {"channel", f.audio.channel},   {"resampled", f.audio.resampled}};
}

Json Signal(const ReportFigures& f) {
    if (!f.hasLevel) return nullptr;
    return Json{{"min_sample", f.level.minSample},    {"max_sample", f.level.maxSample},
                {"peak_midpoint", f.peakMidpoint},    {"dc_offset", f.dcOffset},
                {"clipped_samples", f.level.clipped}, {"clipped_percent", f.clippedPercent}};
}

// The cell length fit, its margins and near misses: all null when no run could be fitted.
void AddCellFit(Json& report, const ReportFigures& f) {
    const CellFit& fit = f.fit;
    for (const char* key : {"cell_length", "margins", "near_misses"}) report[key] = nullptr;
    if (fit.runsUsed == 0) return;
    report["cell_length"] = Json{{"samples", fit.cellLength},
                                 {"cells_per_s", f.fittedCellsPerSecond},
                                 {"fitted_runs", fit.runsUsed},
                                 {"fit_min_cells", kFitMinCells},
                                 {"fit_max_cells", kFitMaxCells},
                                 {"decoder_samples", common::kSamplesPerCell},
                                 {"deviation_percent", f.cellLengthDeviationPercent}};
    report["margins"] =
        Json{{"decoder",
              {{"cells", fit.decoderMargin},
               {"run_samples", fit.decoderWorstLength},
               {"read_as_cells", f.decoderWorstCells}}},
             {"fitted", {{"cells", fit.fittedMargin}, {"run_samples", fit.fittedWorstLength}}}};
    report["near_misses"] = Json{
        {"runs", fit.nearMisses}, {"percent", f.nearMissPercent}, {"within_cells", kNearMissCells}};
}

Json Histogram(const ReportFigures& f) {
    Json rows = Json::array();
    for (const HistogramRow& row : f.histogram) {
        Json lengths = Json::array();
        for (const LengthCount& l : row.lengths)
            lengths.push_back(Json{{"samples", l.samples}, {"runs", l.runs}});
        rows.push_back(Json{{"cells", row.cells},
                            {"runs", row.runs},
                            {"share_percent", row.sharePercent},
                            {"lengths", lengths}});
    }
    return Json{{"cells_per_sample", common::kCellsPerSample},
                {"rows", rows},
                {"long_runs",
                 {{"runs", f.longRuns},
                  {"share_percent", f.longRunsSharePercent},
                  {"min_samples", kHistogramLengths},
                  {"longest_samples", f.longestRunSamples},
                  {"longest_s", f.longestRunSeconds}}}};
}

}  // namespace

void WriteJson(OutputFile& json, const ReportFigures& f) {
    Json report;
    report["file"] = f.file;
    report["input"] = Input(f);
    report["duration_s"] = f.durationSeconds;
    report["runs"] = f.runs;
    report["frames"] = Json{{"total", f.framesKindA + f.framesKindB},
                            {"kind_a", f.framesKindA},
                            {"kind_b", f.framesKindB},
                            {"per_s", f.framesPerSecond}};
    report["errors"] = Json{{"total", f.badHeaders + f.invalidWords},
                            {"bad_headers", f.badHeaders},
                            {"invalid_code_words", f.invalidWords}};
    report["pos1"] =
        Json{{"value", f.pos1},
             {"writes", f.pos1Writes},
             {"last_at_s", f.pos1Writes > 0 ? Json(f.pos1LastSeconds) : Json(nullptr)}};
    report["signal"] = Signal(f);
    AddCellFit(report, f);
    report["histogram"] = Histogram(f);
    // A file name need not be UTF-8; its stray bytes become U+FFFD rather than an exception.
    const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    EmitBytes(json, text.data(), text.size());
}

}  // namespace analyze
