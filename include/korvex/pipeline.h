// Pipelines: engine members called by name, in order, on one engine, as the
// `korvex` command writes them ("-LoadFromFile {} -SaveAsPng out/{stem}.png").
// The command's single runs, scripts and batches and the Python batch driver
// share this one parser and runner, so a pipeline means the same everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvex::automation {

struct PipelineCall {
  std::string member;
  std::vector<std::string> args;
  std::string keep_as;  // scripts: "$name = Member ..." keeps the result as $name
};

// A word "-Name" (a dash, then a letter, then letters, digits or
// underscores) calls a member; negative numbers ("-5", "-12.5") and words
// such as "-x.png" stay arguments of the member before them.
bool IsMemberWord(const std::string& word);

// Splits command-line words into calls of engine members. On failure
// `error` is the message the command prints ("korvex: X is not a member of
// cKorvex (closest: Y)").
bool ParsePipeline(const std::vector<std::string>& words, std::vector<PipelineCall>& calls,
                   std::string& error);

// The calls for one input of a batch: "{stem}" becomes the input's file name
// without its extension, "{}" the input itself.
std::vector<PipelineCall> PipelineForInput(const std::vector<PipelineCall>& calls,
                                           const std::string& input);
std::string PathStem(const std::string& path);

struct PipelineResult {
  // 0: every call ran and returned Ok; 1: a member returned a failing
  // status; 2: a call could not be made (wrong argument, unknown member).
  int exit_code = 0;
  std::optional<int32_t> status;  // the last status seen; none when a call could not be made
  std::string error;              // "SaveAsJpeg: status 13 UnknownImageFormat"
  // What the member calls gave back, one a line: values, and by-reference
  // results as name=value.
  std::vector<std::string> values;
  // Files the pipeline wrote: file arguments that appeared or were replaced
  // during a call, in the order written, each once.
  std::vector<std::string> outputs;
  double seconds = 0;
};

// Runs the calls on a new engine created on the calling thread (the engine
// and its per-thread state never leave it); stops at the first failure.
PipelineResult RunPipeline(const std::vector<PipelineCall>& calls);

// Batches run one pipeline per worker thread. Each worker's pixel loops
// (resampling, filters, rotations) split their rows over at most its share of
// the cores, so N workers on C cores start about C band threads between them,
// not N x C. 0 (every thread's default) lets a pipeline use every core.
void SetPipelineThreads(unsigned threads);  // for pipelines run on the calling thread

// The cores this process may run on (its CPU affinity, as `nproc` counts
// them; at least 1): the default number of batch workers.
unsigned ProcessorCount();

// The band threads each of `workers` batch workers may use: cores / workers,
// at least 1 (0 workers count as 1).
unsigned PipelineThreadShare(unsigned workers);

// One line of a batch report, JSON without a line break:
// {"input": ..., "status": 0, "status_name": "Ok", "outputs": [...],
//  "values": [...], "seconds": 0.012, "attempts": 1, "error": null}
std::string PipelineReportLine(const std::string& input, const PipelineResult& r, int attempts);

}  // namespace korvex::automation
