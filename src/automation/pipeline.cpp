// Pipelines of engine members: parsing, per-input substitution, running on
// one engine, and the JSON line a batch report keeps for each input.
#include "korvex/pipeline.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "engine/banded.h"
#include "korvex/automation.h"
#include "korvex/status.h"
#include "raster/parallel.h"

namespace korvex::automation {
namespace {

const ClassInfo& engine_class() {
  return *FindClass("cKorvex");
}

// Turns a word into the argument of a parameter: "$name" is a kept result;
// everything else is the automation layer's word syntax.
bool make_argument(const std::string& word, const Param* p,
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
  return ArgumentFromWord(word, p, out, error);
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) {
    s.replace(pos, from.size(), to);
  }
  return s;
}

// What identifies one version of a file: a save renames a new file into
// place, so the inode changes even when size and time do not.
struct FileMark {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const FileMark&) const = default;
};

FileMark mark_of(const std::string& path) {
  struct stat st {};
  FileMark m;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return m;
  m.exists = true;
  m.dev = st.st_dev;
  m.ino = st.st_ino;
  m.size = st.st_size;
  m.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return m;
}

void json_string(std::string& out, const std::string& s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

void json_strings(std::string& out, const std::vector<std::string>& items) {
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    json_string(out, items[i]);
  }
  out += ']';
}

// The calls as the engine's band runner takes them: every parameter
// converted exactly as the call would convert it, defaults filled in. False
// when a call is anything but a member with Long, Integer and String
// parameters that returns a status (the last one may return a Boolean, True
// when it succeeds) and gives nothing back by reference; such pipelines, and
// ones whose arguments do not convert, run member by member.
bool banded_calls(const std::vector<PipelineCall>& calls, std::vector<BandedCall>& out) {
  const std::map<std::string, Variant> none;
  for (const PipelineCall& c : calls) {
    const Member* m = engine_class().find(c.member);
    const bool last = &c == &calls.back();
    if (m == nullptr || !c.keep_as.empty() ||
        !(m->result == VarType::Status || (last && m->result == VarType::Boolean)) ||
        c.args.size() > m->params.size()) {
      return false;
    }
    BandedCall b{m->name, {}};
    for (size_t i = 0; i < m->params.size(); ++i) {
      const Param& p = m->params[i];
      if (p.by_ref ||
          (p.type != VarType::Long && p.type != VarType::Integer && p.type != VarType::String)) {
        return false;
      }
      Variant v;
      std::string why;
      if (i < c.args.size() && !make_argument(c.args[i], &p, none, v, why)) return false;
      if (i >= c.args.size() || v.is_missing()) {
        if (!p.default_value) return false;
        v = *p.default_value;
      }
      BandedArg a;
      a.is_text = p.type == VarType::String;
      if (a.is_text ? !v.to_string(a.text, why) : !v.to_int32(a.number, why)) return false;
      b.args.push_back(std::move(a));
    }
    out.push_back(std::move(b));
  }
  return true;
}

}  // namespace

bool IsMemberWord(const std::string& t) {
  if (t.size() < 2 || t[0] != '-' || std::isalpha(static_cast<unsigned char>(t[1])) == 0)
    return false;
  return std::all_of(t.begin() + 1, t.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

bool ParsePipeline(const std::vector<std::string>& words, std::vector<PipelineCall>& calls,
                   std::string& error) {
  for (const std::string& w : words) {
    if (IsMemberWord(w)) {
      if (engine_class().find(w.substr(1)) == nullptr) {
        error = "korvex: " + engine_class().not_a_member(w.substr(1));
        return false;
      }
      calls.push_back(PipelineCall{w.substr(1), {}, {}});
    } else if (calls.empty()) {
      error = "korvex: " + w + " is not a member (members start with -, see korvex --members)";
      return false;
    } else {
      calls.back().args.push_back(w);
    }
  }
  return true;
}

std::string PathStem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::vector<PipelineCall> PipelineForInput(const std::vector<PipelineCall>& calls,
                                           const std::string& input) {
  std::vector<PipelineCall> out = calls;
  const std::string stem = PathStem(input);
  for (PipelineCall& c : out) {
    for (std::string& a : c.args) a = replace_all(replace_all(a, "{stem}", stem), "{}", input);
  }
  return out;
}

PipelineResult RunPipeline(const std::vector<PipelineCall>& calls) {
  const auto start = std::chrono::steady_clock::now();
  PipelineResult o;
  auto finish = [&](int exit_code) {
    o.exit_code = exit_code;
    if (exit_code == 2) o.status.reset();  // no member ran to give a status
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return o;
  };
  // "Load, per-pixel effects, save" runs in bands when the engine can give
  // the same file that way; it reports what the members would have.
  if (std::vector<BandedCall> banded; banded_calls(calls, banded)) {
    // Only the save writes: its text arguments as the members would mark them.
    const std::vector<std::string>& words = calls.back().args;
    std::vector<FileMark> before;
    for (size_t i = 0; i < words.size(); ++i)
      before.push_back(banded.back().args[i].is_text ? mark_of(words[i]) : FileMark{});
    if (RunBanded(banded)) {
      for (size_t i = 0; i < before.size(); ++i) {
        const std::string& path = words[i];
        if (!banded.back().args[i].is_text) continue;
        const FileMark after = mark_of(path);
        if (after.exists && !(after == before[i]) &&
            std::find(o.outputs.begin(), o.outputs.end(), path) == o.outputs.end())
          o.outputs.push_back(path);
      }
      // A save that reports success as a Boolean gave True.
      if (engine_class().find(calls.back().member)->result == VarType::Boolean)
        o.values.push_back(Variant(true).to_display());
      o.status = 0;
      return finish(0);
    }
  }
  Object engine = CreateObject("Korvex.cKorvex");
  std::map<std::string, Variant> kept;
  for (const PipelineCall& c : calls) {
    const Member* m = engine.cls()->find(c.member);
    if (m == nullptr) {
      o.error = "korvex: " + engine.cls()->not_a_member(c.member);
      return finish(2);
    }
    std::vector<Variant> args;
    std::vector<std::pair<size_t, FileMark>> files;  // text arguments that may name a file
    for (size_t i = 0; i < c.args.size(); ++i) {
      if (i >= m->params.size()) {
        o.error = std::string(m->name) + ": takes at most " + std::to_string(m->params.size()) +
                  " arguments, " + std::to_string(c.args.size()) + " given";
        return finish(2);
      }
      Variant v;
      std::string why;
      if (!make_argument(c.args[i], &m->params[i], kept, v, why)) {
        o.error = std::string(m->name) + ": " + why;
        return finish(2);
      }
      if (m->params[i].type == VarType::String && !m->params[i].by_ref)
        files.emplace_back(i, mark_of(c.args[i]));
      args.push_back(std::move(v));
    }
    CallResult r = engine.Invoke(m->name, args);
    if (r.error != DispatchError::None) {
      o.error = r.message;
      return finish(2);
    }
    for (const auto& [i, before] : files) {
      const FileMark after = mark_of(c.args[i]);
      if (after.exists && !(after == before) &&
          std::find(o.outputs.begin(), o.outputs.end(), c.args[i]) == o.outputs.end())
        o.outputs.push_back(c.args[i]);
    }
    // The member's status: its result, or the engine's last status.
    int32_t status = 0;
    if (m->result == VarType::Status) {
      status = r.value.as_int32();
    } else {
      std::vector<Variant> none;
      status = engine.Invoke("GetStat", none).value.as_int32();
    }
    o.status = status;
    if (status != 0) {
      const char* name = StatusName(static_cast<cKorvexStatus>(status));
      o.error =
          std::string(m->name) + ": status " + std::to_string(status) + (*name ? " " : "") + name;
      return finish(1);
    }
    if (m->result != VarType::Void && m->result != VarType::Status)
      o.values.push_back(r.value.to_display());
    for (size_t i = 0; i < m->params.size(); ++i) {
      if (m->params[i].by_ref)
        o.values.push_back(std::string(m->params[i].name) + "=" + args[i].to_display());
    }
    if (!c.keep_as.empty()) kept[c.keep_as] = r.value;
  }
  if (!o.status) o.status = 0;  // an empty pipeline did nothing, and nothing failed
  return finish(0);
}

void SetPipelineThreads(unsigned threads) {
  raster::band_thread_limit = threads;
}

unsigned ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

unsigned PipelineThreadShare(unsigned workers) {
  return std::max(1u, ProcessorCount() / std::max(1u, workers));
}

std::string PipelineReportLine(const std::string& input, const PipelineResult& r, int attempts) {
  std::string out = "{\"input\": ";
  json_string(out, input);
  out += ", \"status\": ";
  const char* name = r.status ? StatusName(static_cast<cKorvexStatus>(*r.status)) : "";
  out += r.status ? std::to_string(*r.status) : "null";
  out += ", \"status_name\": ";
  if (*name != '\0') {
    json_string(out, name);
  } else {
    out += "null";
  }
  out += ", \"outputs\": ";
  json_strings(out, r.outputs);
  out += ", \"values\": ";
  json_strings(out, r.values);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.6f", r.seconds);
  out += ", \"seconds\": ";
  out += seconds;
  out += ", \"attempts\": " + std::to_string(attempts);
  out += ", \"error\": ";
  if (r.exit_code != 0) {
    json_string(out, r.error);
  } else {
    out += "null";
  }
  out += '}';
  return out;
}

}  // namespace korvex::automation
