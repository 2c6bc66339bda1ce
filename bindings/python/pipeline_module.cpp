// Pipelines in the Python module: the `korvex` command's parser and runner,
// so korvex.batch (and any script) runs a pipeline exactly as the command
// does, and a home for the module's pure-Python submodules.
#include <dlfcn.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "korvex/pipeline.h"
#include "korvex/status.h"

namespace py = pybind11;
namespace ax = korvex::automation;

void bind_pipeline(py::module_& m, const py::object& dispatch_error) {
  auto parse = [dispatch_error](const std::vector<std::string>& words) {
    std::vector<ax::PipelineCall> calls;
    std::string error;
    if (!ax::ParsePipeline(words, calls, error)) {
      PyErr_SetString(dispatch_error.ptr(), error.c_str());
      throw py::error_already_set();
    }
    return calls;
  };
  m.def(
      "parse_pipeline",
      [parse](const std::vector<std::string>& words) {
        py::list out;
        for (const ax::PipelineCall& c : parse(words)) out.append(py::make_tuple(c.member, c.args));
        return out;
      },
      py::arg("words"),
      "[(member, [args...]), ...]: the calls of a pipeline written as the korvex\n"
      "command takes it ([\"-LoadFromFile\", \"{}\", \"-SaveAsPng\", \"out/{stem}.png\"]);\n"
      "raises DispatchError for a word that is no member.");
  m.def("processor_count", &ax::ProcessorCount,
        "The cores this process may run on (as nproc counts them).");
  m.def(
      "run_pipeline",
      [parse](const std::vector<std::string>& words, const std::string& input, int attempt,
              unsigned threads) {
        const std::vector<ax::PipelineCall> calls = ax::PipelineForInput(parse(words), input);
        ax::PipelineResult r;
        {
          // The engine lives on this thread only; other Python threads run meanwhile.
          py::gil_scoped_release unlocked;
          ax::SetPipelineThreads(threads);
          r = ax::RunPipeline(calls);
        }
        py::dict d;
        d["input"] = input;
        d["exit_code"] = r.exit_code;
        d["status"] = r.status ? py::object(py::int_(*r.status)) : py::object(py::none());
        const char* name =
            r.status ? korvex::StatusName(static_cast<korvex::cKorvexStatus>(*r.status)) : "";
        d["status_name"] = *name ? py::object(py::str(name)) : py::object(py::none());
        d["outputs"] = r.outputs;
        d["values"] = r.values;
        d["seconds"] = r.seconds;
        d["attempts"] = attempt;
        d["error"] = r.exit_code != 0 ? py::object(py::str(r.error)) : py::object(py::none());
        d["report"] = ax::PipelineReportLine(input, r, attempt);
        return d;
      },
      py::arg("words"), py::arg("input") = "", py::arg("attempt") = 1, py::arg("threads") = 0,
      "Runs a pipeline on a new engine of the calling thread, {} and {stem} standing\n"
      "for input, as korvex --batch runs it for one input; its pixel loops use up to\n"
      "`threads` cores (0: every core). Returns a dict: input,\n"
      "exit_code (0 done, 1 a failing status, 2 a call not made), status,\n"
      "status_name, outputs (files written), values, seconds, attempts, error and\n"
      "report (the JSON line korvex --batch --report writes).");

  // Pure-Python submodules (korvex.batch) live in a folder named korvex beside
  // the module's file: listing it as the module's package path lets
  // `python3 -m korvex.batch` find them.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&bind_pipeline), &info) != 0 && info.dli_fname != nullptr) {
    std::string dir = info.dli_fname;
    const size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    py::list path;
    path.append(dir + "/korvex");
    m.attr("__path__") = path;
  }
}
