// Document recognition: the RAD... members over the engine's cRAD, made on
// the first call and kept. Families are learned from the native image or a
// folder of scans, saved and loaded as a configuration file, and the native
// image is classified against them.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/core.h"
#include "engine/paths.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "raster/codec.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/rounding.h"
#include "recognition/rad.h"

namespace korvex {

namespace {

namespace fs = std::filesystem;
using recognition::cRAD;
using recognition::Family;

cRAD& rad(cKorvex::State& s) {
  if (!s.Rad) s.Rad = std::make_shared<cRAD>();
  return *s.Rad;
}

// The family of an id, or null with InvalidParameter recorded; Ok otherwise.
Family* family_or_status(cKorvex::State& s, int32_t id) {
  Family* f = rad(s).family(id);
  SetStatus(s, f == nullptr ? raster::Status::InvalidParameter : raster::Status::Ok);
  return f;
}

// The native image, or null (InvalidParameter: there are no pixels to read).
raster::Image* native(cKorvex::State& s, raster::Status& st) {
  raster::Image* img = raster::find_image(s.NativeImage);
  st = img == nullptr ? raster::Status::InvalidParameter : raster::Status::Ok;
  return img;
}

raster::Status read_config(const std::string& path, std::vector<Family>& out) {
  std::vector<uint8_t> bytes;
  if (const raster::Status st = host::read_whole_file(NormalizePath(path), bytes);
      st != raster::Status::Ok) {
    return st;
  }
  return recognition::ParseConfig(bytes.data(), bytes.size(), out);
}

// Written whole to a temporary file beside the target, then renamed over it.
raster::Status write_config(const std::string& path, const std::vector<Family>& families) {
  std::vector<uint8_t> bytes;
  if (const raster::Status st = recognition::WriteConfig(families, bytes);
      st != raster::Status::Ok) {
    return st;
  }
  if (TrimSpaces(path).empty()) return raster::Status::InvalidParameter;
  return host::write_file_atomically(NormalizePath(path), bytes.data(), bytes.size());
}

// Decodes an image file (its first page); null when it is not an image.
std::unique_ptr<raster::Image> open_image(const fs::path& path) {
  std::unique_ptr<raster::Image> img;
  raster::EncodedBytes bytes;
  const raster::Status st = raster::guarded([&] {
    raster::Status r = host::open_image_file(path.string(), img, bytes);
    if (r == raster::Status::Ok && !img) r = raster::decode_image(bytes, img);
    return r;
  });
  if (st != raster::Status::Ok) img.reset();
  return img;
}

// The regular files of a folder that are not hidden, in name order.
raster::Status folder_files(const fs::path& dir, std::vector<fs::path>& files) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return host::status_from_errno(ec.value());
  for (const fs::directory_entry& e : it) {
    const std::string name = e.path().filename().string();
    if (!name.empty() && name[0] != '.' && e.is_regular_file(ec)) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return raster::Status::Ok;
}

// The family name of a folder: its last component, trailing "/" ignored.
std::string folder_name(const std::string& dir) {
  std::error_code ec;
  fs::path p(dir);
  while (p.has_relative_path() && p.filename().empty()) p = p.parent_path();
  std::string name = p.filename().string();
  if (name.empty() || name == "." || name == "..")
    name = fs::weakly_canonical(p, ec).filename().string();
  return TrimSpaces(name);
}

}  // namespace

void cKorvex::RADNewConfig() {
  rad(*s_).NewConfig();
  SetStatus(*s_, raster::Status::Ok);
}

int32_t cKorvex::RADNewFamily(const std::string& sFamilyName) {
  int32_t id = 0;
  SetStatus(*s_, raster::guarded([&] {
    id = rad(*s_).NewFamily(sFamilyName);
    return raster::Status::Ok;
  }));
  return id;
}

void cKorvex::RADDeleteFamily(int32_t nFamilyID) {
  if (family_or_status(*s_, nFamilyID) != nullptr) rad(*s_).DeleteFamily(nFamilyID);
}

void cKorvex::RADReinitFamily(int32_t nFamilyID) {
  if (family_or_status(*s_, nFamilyID) != nullptr) rad(*s_).ReinitFamily(nFamilyID);
}

int32_t cKorvex::RADLearnImage(int32_t nFamilyID) {
  if (family_or_status(*s_, nFamilyID) == nullptr) return static_cast<int32_t>(s_->LastStatus);
  raster::Status st;
  raster::Image* img = native(*s_, st);
  if (img != nullptr) st = rad(*s_).Learn(*img, nFamilyID);
  return static_cast<int32_t>(SetStatus(*s_, st));
}

int32_t cKorvex::RADGetFamilyDocID() {
  raster::Status st;
  raster::Image* img = native(*s_, st);
  const int32_t id = rad(*s_).Classify(img, st);
  SetStatus(*s_, st);
  return id;
}

int32_t cKorvex::RADGetLastRelevance() {
  return RoundHalfEven(rad(*s_).last_relevance());
}

int32_t cKorvex::RADGetFamilyCount() {
  return rad(*s_).count();
}

int32_t cKorvex::RADGetImageCountInFamily(int32_t nFamilyID) {
  const Family* f = family_or_status(*s_, nFamilyID);
  return f == nullptr ? 0 : f->images;
}

std::string cKorvex::RADGetFamilyNameFromID(int32_t nID) {
  const Family* f = family_or_status(*s_, nID);
  return f == nullptr ? std::string() : f->name;
}

std::string cKorvex::RADGetFamilyTagFromID(int32_t nID) {
  const Family* f = family_or_status(*s_, nID);
  return f == nullptr ? std::string() : f->tag;
}

void cKorvex::RADSetFamilyTagFromID(int32_t nID, const std::string& sTag) {
  if (Family* f = family_or_status(*s_, nID); f != nullptr) {
    SetStatus(*s_, raster::guarded([&] {
      f->tag = sTag;
      return raster::Status::Ok;
    }));
  }
}

void cKorvex::RADSaveConfig(const std::string& sPathConfigFile) {
  SetStatus(*s_,
            raster::guarded([&] { return write_config(sPathConfigFile, rad(*s_).families()); }));
}

void cKorvex::RADLoadConfig(const std::string& sPathConfigFile) {
  std::vector<Family> loaded;
  const raster::Status st = raster::guarded([&] { return read_config(sPathConfigFile, loaded); });
  if (st == raster::Status::Ok) rad(*s_).set_families(std::move(loaded));
  SetStatus(*s_, st);
}

void cKorvex::RADFreeMemory() {
  rad(*s_).FreeMemory();
  SetStatus(*s_, raster::Status::Ok);
}

int32_t cKorvex::RADLearnDocuments(const std::string& sDirectory,
                                   const std::string& sCompilationFilePath) {
  cRAD& r = rad(*s_);
  int32_t learned = 0;
  const raster::Status st = raster::guarded([&] {
    const std::string dir = NormalizePath(sDirectory);
    const std::string name = dir.empty() ? std::string() : folder_name(dir);
    if (name.empty()) return raster::Status::InvalidParameter;
    std::vector<fs::path> files;
    if (const raster::Status listed = folder_files(dir, files); listed != raster::Status::Ok)
      return listed;
    // Learned into a copy: the families change only when everything worked.
    std::vector<Family> families = r.families();
    int32_t id = r.FindFamily(name);
    for (const fs::path& file : files) {
      std::unique_ptr<raster::Image> img = open_image(file);
      if (!img || r.Analyse(*img) != raster::Status::Ok) continue;
      if (id == 0) {
        families.emplace_back().name = name;
        id = static_cast<int32_t>(families.size());
      }
      if (const raster::Status st2 =
              recognition::LearnInto(families[static_cast<size_t>(id - 1)], r.last_signature());
          st2 != raster::Status::Ok) {
        return st2;
      }
      ++learned;
    }
    if (!TrimSpaces(sCompilationFilePath).empty()) {
      if (const raster::Status w = write_config(sCompilationFilePath, families);
          w != raster::Status::Ok) {
        return w;
      }
    }
    r.set_families(std::move(families));
    return raster::Status::Ok;
  });
  if (st != raster::Status::Ok) learned = 0;
  SetStatus(*s_, st);
  return learned;
}

void cKorvex::RADLoadCompilationFile(const std::string& sCompilationFilePath) {
  cRAD& r = rad(*s_);
  const raster::Status st = raster::guarded([&] {
    std::vector<Family> loaded;
    if (const raster::Status read = read_config(sCompilationFilePath, loaded);
        read != raster::Status::Ok) {
      return read;
    }
    std::vector<Family> families = r.families();
    for (const Family& f : loaded) {
      auto same = std::find_if(families.begin(), families.end(),
                               [&](const Family& g) { return g.name == f.name; });
      if (same == families.end()) {
        families.push_back(f);
      } else if (const raster::Status merged = recognition::MergeInto(*same, f);
                 merged != raster::Status::Ok) {
        return merged;
      }
    }
    r.set_families(std::move(families));
    return raster::Status::Ok;
  });
  SetStatus(*s_, st);
}

}  // namespace korvex
