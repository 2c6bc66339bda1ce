// korvex --batch: one pipeline over many inputs in worker threads.
#pragma once

#include <string>
#include <vector>

// The words after --batch: options, inputs, "--", the pipeline. Returns the
// command's exit code: 0 all inputs done, 1 some failed, 2 unusable words.
int run_batch_command(const std::vector<std::string>& args);
