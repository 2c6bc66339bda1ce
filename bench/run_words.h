// Runs a pipeline given as the words of a `korvex` command line, as the
// command runs it; its exit code, with the error printed after `who: `.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "korvex/pipeline.h"

inline int run_words(const std::vector<std::string>& words, const char* who) {
  std::vector<korvex::automation::PipelineCall> calls;
  std::string error;
  if (!korvex::automation::ParsePipeline(words, calls, error)) {
    std::fprintf(stderr, "%s: %s\n", who, error.c_str());
    return 2;
  }
  const korvex::automation::PipelineResult r = korvex::automation::RunPipeline(calls);
  if (r.exit_code != 0) std::fprintf(stderr, "%s: %s\n", who, r.error.c_str());
  return r.exit_code;
}
