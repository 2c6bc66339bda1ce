// korvex: drives the imaging engine from the command line.
//
//   korvex -LoadFromFile scan.tif -SaveAsJpeg out.jpg 80
//   korvex --script FILE
//   korvex --batch [-j N] INPUTS... -- PIPELINE     ({} = the input, {stem} = its name)
//   korvex --members [CLASS] | --help [MEMBER] | --version
//
// Members are called by name through the automation layer, with their
// arguments in order; omitted optional arguments (or "_") take their
// defaults. A member's value is printed on its own line, by-reference
// results as name=value. The first failing status stops the run.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "korvex/automation.h"
#include "korvex/korvex.h"
#include "korvex/version.h"
#ifdef KORVEX_VIEW
#include "view.h"
#endif

namespace {

using korvex::Variant;
namespace ax = korvex::automation;

struct Call {
  std::string member;
  std::vector<std::string> args;
  std::string keep_as;  // script: "$name = Member ..."
};

// What a run prints, and why it stopped.
struct Outcome {
  std::string output;
  std::string error;
  int exit_code = 0;
};

const ax::ClassInfo& engine_class() {
  return *ax::FindClass("cKorvex");
}

// "-Name" calls a member: a dash, then a letter, then letters, digits or
// underscores. Negative numbers ("-5", "-12.5", "-&H10") and words such as
// "-x.png" stay arguments.
bool is_member_token(const std::string& t) {
  if (t.size() < 2 || t[0] != '-' || std::isalpha(static_cast<unsigned char>(t[1])) == 0)
    return false;
  return std::all_of(t.begin() + 1, t.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// Turns a command-line word into the argument of a parameter: "$name" is a
// kept result; everything else is the automation layer's word syntax.
bool make_argument(const std::string& word, const ax::Param* p,
                   const std::map<std::string, Variant>& kept, Variant& out, std::string& error) {
  if (word.size() > 1 && word[0] == '$') {
    auto it = kept.find(word.substr(1));
    if (it == kept.end()) {
      error = "no kept value named " + word;
      return false;
    }
    out = it->second;
    return true;
  }
  return ax::ArgumentFromWord(word, p, out, error);
}

// Runs calls on one engine; stops at the first failure.
Outcome run_calls(const std::vector<Call>& calls) {
  Outcome o;
  ax::Object engine = ax::CreateObject("Korvex.cKorvex");
  std::map<std::string, Variant> kept;
  for (const Call& c : calls) {
    const ax::Member* m = engine.cls()->find(c.member);
    if (m == nullptr) {
      o.error = "korvex: " + engine.cls()->not_a_member(c.member);
      o.exit_code = 2;
      return o;
    }
    std::vector<Variant> args;
    for (size_t i = 0; i < c.args.size(); ++i) {
      if (i >= m->params.size()) {
        o.error = std::string(m->name) + ": takes at most " + std::to_string(m->params.size()) +
                  " arguments, " + std::to_string(c.args.size()) + " given";
        o.exit_code = 2;
        return o;
      }
      Variant v;
      std::string why;
      if (!make_argument(c.args[i], &m->params[i], kept, v, why)) {
        o.error = std::string(m->name) + ": " + why;
        o.exit_code = 2;
        return o;
      }
      args.push_back(std::move(v));
    }
    ax::CallResult r = engine.Invoke(m->name, args);
    if (r.error != ax::DispatchError::None) {
      o.error = r.message;
      o.exit_code = 2;
      return o;
    }
    // The member's status: its result, or the engine's last status.
    int32_t status = 0;
    if (m->result == ax::VarType::Status) {
      status = r.value.as_int32();
    } else {
      std::vector<Variant> none;
      status = engine.Invoke("GetStat", none).value.as_int32();
    }
    if (status != 0) {
      const char* name = korvex::StatusName(static_cast<korvex::cKorvexStatus>(status));
      o.error =
          std::string(m->name) + ": status " + std::to_string(status) + (*name ? " " : "") + name;
      o.exit_code = 1;
      return o;
    }
    if (m->result != ax::VarType::Void && m->result != ax::VarType::Status) {
      o.output += r.value.to_display() + "\n";
    }
    for (size_t i = 0; i < m->params.size(); ++i) {
      if (m->params[i].by_ref)
        o.output += std::string(m->params[i].name) + "=" + args[i].to_display() + "\n";
    }
    if (!c.keep_as.empty()) kept[c.keep_as] = r.value;
  }
  return o;
}

// Splits argv-style words into calls: each "-Member" starts one.
bool parse_pipeline(const std::vector<std::string>& words, std::vector<Call>& calls,
                    std::string& error) {
  for (const std::string& w : words) {
    if (is_member_token(w)) {
      if (engine_class().find(w.substr(1)) == nullptr) {
        error = "korvex: " + engine_class().not_a_member(w.substr(1));
        return false;
      }
      calls.push_back(Call{w.substr(1), {}, {}});
    } else if (calls.empty()) {
      error = "korvex: " + w + " is not a member (members start with -, see korvex --members)";
      return false;
    } else {
      calls.back().args.push_back(w);
    }
  }
  return true;
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

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) {
    s.replace(pos, from.size(), to);
  }
  return s;
}

std::string stem_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int run_batch(const std::vector<std::string>& inputs, const std::vector<std::string>& pipeline,
              int jobs) {
  std::vector<Call> templ;
  std::string error;
  if (!parse_pipeline(pipeline, templ, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::atomic<size_t> next{0}, done{0};
  std::mutex mutex;
  std::vector<std::string> failures;
  const bool tty = isatty(STDERR_FILENO) != 0;
  auto progress = [&]() {
    if (!tty) return;
    const size_t n = done.load(), total = inputs.size();
    const int width = 30, filled = static_cast<int>(total ? n * width / total : width);
    std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(width - filled), ' ').c_str(), n, total);
    std::fflush(stderr);
  };
  auto worker = [&]() {
    for (size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      std::vector<Call> calls = templ;
      for (Call& c : calls) {
        for (std::string& a : c.args)
          a = replace_all(replace_all(a, "{stem}", stem_of(inputs[i])), "{}", inputs[i]);
      }
      // Each worker's engine lives on its own thread: threads share nothing.
      const Outcome o = run_calls(calls);
      std::lock_guard<std::mutex> g(mutex);
      if (!o.output.empty()) {
        // One block per input: its path, then its values indented below the first.
        std::string text = o.output.substr(0, o.output.size() - 1);
        std::printf("%s: %s\n", inputs[i].c_str(), replace_all(text, "\n", "\n  ").c_str());
      }
      if (o.exit_code != 0) failures.push_back(inputs[i] + ": " + o.error);
      ++done;
      progress();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < std::max(1, jobs); ++t) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  if (tty) std::fprintf(stderr, "\n");
  std::fprintf(stderr, "%zu of %zu inputs done, %zu failed\n", inputs.size() - failures.size(),
               inputs.size(), failures.size());
  for (const std::string& f : failures) std::fprintf(stderr, "  %s\n", f.c_str());
  return failures.empty() ? 0 : 1;
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
      "       korvex --batch [-j N] INPUTS... -- -Member [args...]...\n"
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
      "Batch: the pipeline runs on each input in N threads, each with its own engine;\n"
      "{} is the input path, {stem} its file name without extension.\n"
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
  if (args[0] == "--batch") {
    int jobs = 1;
    size_t i = 1;
    if (i + 1 < args.size() && args[i] == "-j") {
      jobs = std::atoi(args[i + 1].c_str());
      i += 2;
    }
    std::vector<std::string> inputs, pipeline;
    bool after = false;
    for (; i < args.size(); ++i) {
      if (!after && args[i] == "--") {
        after = true;
      } else {
        (after ? pipeline : inputs).push_back(args[i]);
      }
    }
    if (!after || inputs.empty() || pipeline.empty()) {
      std::fprintf(stderr, "korvex: --batch needs inputs, --, and a pipeline\n");
      return 2;
    }
    return run_batch(inputs, pipeline, jobs);
  }
  std::vector<Call> calls;
  std::string error;
  const bool ok = args[0] == "--script" ? (args.size() == 2 && parse_script(args[1], calls, error))
                                        : parse_pipeline(args, calls, error);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.empty() ? "korvex: --script takes one file" : error.c_str());
    return 2;
  }
  const Outcome o = run_calls(calls);
  std::fputs(o.output.c_str(), stdout);
  if (o.exit_code != 0) std::fprintf(stderr, "%s\n", o.error.c_str());
  return o.exit_code;
}
