// korvex: drives the imaging engine from the command line.
//
//   korvex -LoadFromFile scan.tif -SaveAsJpeg out.jpg 80
//   korvex --script FILE
//   korvex --batch [-j|--jobs N] [--report FILE] [--no-progress] INPUTS... -- PIPELINE
//                                                   ({} = the input, {stem} = its name)
//   korvex --members [CLASS] | --help [MEMBER] | --version
//
// Members are called by name through the automation layer, with their
// arguments in order; omitted optional arguments (or "_") take their
// defaults. A member's value is printed on its own line, by-reference
// results as name=value. The first failing status stops the run.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "batch.h"
#include "korvex/automation.h"
#include "korvex/korvex.h"
#include "korvex/pipeline.h"
#include "korvex/version.h"
#ifdef KORVEX_VIEW
#include "view.h"
#endif

namespace {

namespace ax = korvex::automation;

using Call = ax::PipelineCall;

const ax::ClassInfo& engine_class() {
  return *ax::FindClass("cKorvex");
}

// Splits a script line into words: spaces separate, quotes group.
std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::string cur;
  bool in_word = false;
  char quote = 0;
  for (char ch : line) {
    if (quote != 0) {
      if (ch == quote) {
        quote = 0;
      } else {
        cur += ch;
      }
    } else if (ch == '"' || ch == '\'') {
      quote = ch;
      in_word = true;
    } else if (ch == ' ' || ch == '\t') {
      if (in_word) words.push_back(cur);
      cur.clear();
      in_word = false;
    } else {
      cur += ch;
      in_word = true;
    }
  }
  if (in_word) words.push_back(cur);
  return words;
}

bool parse_script(const std::string& path, std::vector<Call>& calls, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "korvex: cannot read script " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::vector<std::string> words = split_words(line);
    if (words.empty() || words[0][0] == '#') continue;
    Call c;
    size_t first = 0;
    if (words[0][0] == '$' && words.size() >= 3 && words[1] == "=") {
      c.keep_as = words[0].substr(1);
      first = 2;
    }
    c.member = words[first][0] == '-' ? words[first].substr(1) : words[first];
    if (engine_class().find(c.member) == nullptr) {
      error = path + ":" + std::to_string(number) + ": " + engine_class().not_a_member(c.member);
      return false;
    }
    c.args.assign(words.begin() + static_cast<std::ptrdiff_t>(first + 1), words.end());
    calls.push_back(std::move(c));
  }
  return true;
}

int list_members(const std::string& class_name) {
  const ax::ClassInfo* c = ax::FindClass(class_name);
  if (c == nullptr) {
    std::fprintf(stderr, "korvex: unknown class %s\n", class_name.c_str());
    return 2;
  }
  std::printf("%s (%s) %s\n", c->name, c->progid, c->clsid);
  for (const ax::Member& m : c->members) {
    std::printf("  0x%08X %s\n", static_cast<unsigned>(m.dispid), ax::MemberSignature(m).c_str());
  }
  return 0;
}

void usage() {
  std::printf(
      "usage: korvex -Member [args...] [-Member [args...]]...\n"
      "       korvex --script FILE\n"
      "       korvex --batch [-j|--jobs N] [--report FILE] [--no-progress]\n"
      "                      INPUTS... -- -Member [args...]...\n"
      "       korvex --members [CLASS] | --help [MEMBER] | --version\n"
#ifdef KORVEX_VIEW
      "       korvex view FILE...  (images and PDF documents in a window: PageUp/PageDown,\n"
      "                             1 F W H V zoom modes,\n"
      "                             + -, M hand, R rectangle, Z zoom to it, Esc/Q quits)\n"
#endif
      "\n"
      "Calls engine members in order on one engine. A word -Name (a dash, then a\n"
      "letter) calls a member; other words, negative numbers among them, are its\n"
      "arguments. Omitted optional arguments, or \"_\", take their defaults;\n"
      "\"@file\" passes a file as a byte array or a stream. Long arrays are written\n"
      "\"1,2,3\"; point arrays \"10,10;90,10;50,90\", one x,y per ';' (for DrawCurves,\n"
      "DrawGradientCurves, DrawImageClipped). Long arrays start at index 1.\n"
      "Values are printed one a line, by-reference results as name=value. The\n"
      "first failing status stops the run (exit 1); a call that cannot be made\n"
      "(unknown member, wrong argument) exits 2.\n\n"
      "Scripts: one call a line (\"Member args\"), # comments, \"$name = Member args\"\n"
      "keeps the result for later lines as $name.\n"
      "Batch: the pipeline runs on each input in N worker threads (-j/--jobs N; by\n"
      "default one per core), each input on its own engine, each worker taking the\n"
      "next input as it finishes one;\n"
      "{} is the input path, {stem} its file name without extension. A progress bar\n"
      "(plain lines when stderr is no terminal; --no-progress: none) and a summary of\n"
      "failures go to stderr; --report FILE writes one JSON line per input (input,\n"
      "status, status_name, outputs, values, seconds, attempts, error) as each ends.\n"
      "--help MEMBER shows a member's parameters, defaults and result.\n");
}

// korvex --help MEMBER: the text Python shows for help(engine.Member).
int member_help(const std::string& name) {
  const ax::Member* m = engine_class().find(name);
  if (m == nullptr) {
    std::fprintf(stderr, "korvex: %s\n", engine_class().not_a_member(name).c_str());
    return 2;
  }
  std::fputs(ax::MemberHelp(*m).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--help") return member_help(args[1]);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    usage();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    korvex::cKorvex k;
    std::printf("korvex %s (engine %.1f)\n", korvex::kVersion, k.GetVersion());
    return 0;
  }
#ifdef KORVEX_VIEW
  if (args[0] == "view") return run_view(std::vector<std::string>(args.begin() + 1, args.end()));
#endif
  if (args[0] == "--members") return list_members(args.size() > 1 ? args[1] : "cKorvex");
  if (args[0] == "--batch")
    return run_batch_command(std::vector<std::string>(args.begin() + 1, args.end()));
  std::vector<Call> calls;
  std::string error;
  const bool ok = args[0] == "--script" ? (args.size() == 2 && parse_script(args[1], calls, error))
                                        : ax::ParsePipeline(args, calls, error);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.empty() ? "korvex: --script takes one file" : error.c_str());
    return 2;
  }
  const ax::PipelineResult r = ax::RunPipeline(calls);
  for (const std::string& line : r.values) std::printf("%s\n", line.c_str());
  if (r.exit_code != 0) std::fprintf(stderr, "%s\n", r.error.c_str());
  return r.exit_code;
}
