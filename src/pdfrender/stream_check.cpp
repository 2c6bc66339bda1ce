// Inflate check of a PDF page's streams through libqpdf (see stream_check.h).
#define POINTERHOLDER_TRANSITION 4
#include "pdfrender/stream_check.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <sys/stat.h>

#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace korvex::pdfrender {

namespace {

// Thrown by the counter to stop a stream's decoding at the limit.
struct Exceeded {};

// Counts the bytes a stream decodes to; with a check, stops at the first
// byte past what the encoded size allows.
class Counter final : public Pipeline {
 public:
  Counter(uint64_t encoded, bool (*allowed)(uint64_t, uint64_t))
      : Pipeline("inflate check", nullptr), encoded_(encoded), allowed_(allowed) {}
  void write(unsigned char const*, size_t len) override {
    count_ += len;
    if (allowed_ != nullptr && !allowed_(encoded_, count_)) {
      exceeded_ = true;
      throw Exceeded();
    }
  }
  void finish() override {}
  uint64_t count() const { return count_; }
  bool exceeded() const { return exceeded_; }

 private:
  uint64_t encoded_;
  bool (*allowed_)(uint64_t, uint64_t);
  uint64_t count_ = 0;
  bool exceeded_ = false;
};

// Components of an image's colour space, as far as a size estimate needs.
uint64_t components(QPDFObjectHandle image) {
  QPDFObjectHandle cs = image.getKey("/ColorSpace");
  if (cs.isArray() && cs.getArrayNItems() > 0) {
    QPDFObjectHandle family = cs.getArrayItem(0);
    if (family.isName() && family.getName() == "/ICCBased" && cs.getArrayNItems() > 1) {
      QPDFObjectHandle n = cs.getArrayItem(1).getDict().getKey("/N");
      return n.isInteger() && n.getIntValue() > 0 && n.getIntValue() <= 32
                 ? static_cast<uint64_t>(n.getIntValue())
                 : 3;
    }
    cs = family;
  }
  if (cs.isName() && cs.getName() == "/DeviceRGB") return 3;
  if (cs.isName() && cs.getName() == "/DeviceCMYK") return 4;
  return 1;
}

// The bytes an image's samples take, from its dictionary; 0 when unknown.
uint64_t declared_samples(QPDFObjectHandle dict) {
  QPDFObjectHandle w = dict.getKey("/Width"), h = dict.getKey("/Height");
  QPDFObjectHandle bpc = dict.getKey("/BitsPerComponent");
  if (!w.isInteger() || !h.isInteger() || w.getIntValue() <= 0 || h.getIntValue() <= 0) return 0;
  const auto width = static_cast<uint64_t>(w.getIntValue());
  const auto height = static_cast<uint64_t>(h.getIntValue());
  if (width > (uint64_t{1} << 31) || height > (uint64_t{1} << 31)) return UINT64_MAX;
  const bool mask = dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue();
  uint64_t bits = mask ? 1 : components(dict);
  if (!mask)
    bits *= bpc.isInteger() && bpc.getIntValue() > 0 && bpc.getIntValue() <= 16
                ? static_cast<uint64_t>(bpc.getIntValue())
                : 8;
  const uint64_t row = (width * bits + 7) / 8;  // below 2^38
  return row > UINT64_MAX / height ? UINT64_MAX : row * height;
}

bool stream_allowed(QPDFObjectHandle stream, bool (*allowed)(uint64_t, uint64_t)) {
  Counter raw(0, nullptr);
  stream.pipeStreamData(&raw, 0, qpdf_dl_none, true);
  const uint64_t encoded = raw.count();
  QPDFObjectHandle dict = stream.getDict();
  if (dict.getKey("/Subtype").isName() && dict.getKey("/Subtype").getName() == "/Image") {
    // The renderer reads an image's samples only as far as its dictionary
    // declares them, so the declared size is what decoding can cost.
    const uint64_t declared = declared_samples(dict);
    if (!allowed(encoded, declared)) return false;
    if (declared != 0) return true;
  }
  Counter decoded(encoded, allowed);
  try {
    stream.pipeStreamData(&decoded, 0, qpdf_dl_specialized, true);
  } catch (const Exceeded&) {
  }
  return !decoded.exceeded();
}

// The last document checked stays open, so paging through it parses its
// cross-reference table once; it is opened again when the file changes.
struct OpenDocument {
  std::string path;
  std::string password;
  struct stat version {};
  std::unique_ptr<QPDF> pdf;
};

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::mutex open_mutex;
OpenDocument open_document;

// The open document for `path`, opened (again) when needed; null when the
// file cannot be read.
QPDF* document(const std::string& path, const std::string& password) {
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0) return nullptr;
  OpenDocument& d = open_document;
  if (d.pdf && d.path == path && d.password == password && same_file(d.version, now))
    return d.pdf.get();
  d.pdf.reset();
  auto pdf = std::make_unique<QPDF>();
  pdf->setSuppressWarnings(true);
  pdf->processFile(path.c_str(), password.c_str());
  d.path = path;
  d.password = password;
  d.version = now;
  d.pdf = std::move(pdf);
  return d.pdf.get();
}

}  // namespace

bool PageStreamsAllowed(const std::string& path, const std::string& password, int32_t index,
                        bool (*allowed)(uint64_t, uint64_t)) {
  std::lock_guard<std::mutex> lock(open_mutex);
  try {
    QPDF* pdf = document(path, password);
    if (pdf == nullptr) return true;
    const std::vector<QPDFObjectHandle>& pages = pdf->getAllPages();
    if (index < 0 || static_cast<size_t>(index) >= pages.size()) return true;
    QPDFPageObjectHelper page(pages[static_cast<size_t>(index)]);
    std::vector<QPDFObjectHandle> streams = page.getPageContents();
    std::set<QPDFObjGen> seen;  // an XObject used in several places is checked once
    page.forEachXObject(true, [&](QPDFObjectHandle& obj, QPDFObjectHandle&, std::string const&) {
      if (obj.isStream() && seen.insert(obj.getObjGen()).second) streams.push_back(obj);
    });
    for (QPDFObjectHandle& s : streams) {
      if (s.isStream() && !stream_allowed(s, allowed)) return false;
    }
    return true;
  } catch (const std::exception&) {
    open_document.pdf.reset();
    return true;
  }
}

void ClosePageStreams() {
  std::lock_guard<std::mutex> lock(open_mutex);
  open_document.pdf.reset();
}

}  // namespace korvex::pdfrender
