#include "standin_codec.h"

#include <cstring>
#include <memory>

#include "raster/handles.h"

namespace korvex::standin {

namespace {

const raster::Guid kClsid{0x4B585231, 0x0001, 0x0001, {1, 2, 3, 4, 5, 6, 7, 8}};

Call call_for(raster::Image& img, const raster::EncoderParams& params) {
  Call c;
  c.params = params;
  if (const raster::PropertyItem* p = img.property(305)) {
    c.had_software_tag = true;
    c.software.assign(p->value.begin(), p->value.end());
  }
  return c;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The header of the stand-in format: magic, width, height, pixel format.
std::vector<uint8_t> header(int32_t w, int32_t h, raster::PixelFormat f) {
  std::vector<uint8_t> out = {'K', 'X', 'R', '1'};
  for (int32_t v : {w, h, f}) put32(out, static_cast<uint32_t>(v));
  return out;
}

uint32_t get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

raster::Status encode(raster::Image& img, const raster::EncoderParams& params,
                      raster::ByteSink& sink) {
  record().encodes.push_back(call_for(img, params));
  if (record().fail_next_encode) {
    record().fail_next_encode = false;
    return raster::Status::Win32Error;
  }
  std::vector<uint8_t> out = header(img.width(), img.height(), img.format());
  out.resize(16 + static_cast<size_t>(img.width()) * img.height() * 4);
  const raster::Status st = img.read_pixels({0, 0, img.width(), img.height()},
                                            raster::pf::k32bppARGB, &out[16], img.width() * 4);
  if (st != raster::Status::Ok) return st;
  return sink.write(out.data(), out.size()) ? raster::Status::Ok : sink.error();
}

bool sniff(const uint8_t* d, size_t n) {
  return n >= 4 && std::memcmp(d, "KXR1", 4) == 0;
}

raster::Status decode(const raster::EncodedBytes& in, std::unique_ptr<raster::Image>& out) {
  if (in.size < 16) return raster::Status::GenericError;
  if (in.data[4] == 0xEE) throw 42;  // a decoder failing abnormally
  const int32_t w = static_cast<int32_t>(get32(in.data + 4));
  const int32_t h = static_cast<int32_t>(get32(in.data + 8));
  const raster::PixelFormat f = static_cast<raster::PixelFormat>(get32(in.data + 12));
  if (w <= 0 || h <= 0 || in.size - 16 < static_cast<uint64_t>(w) * h * 4) {
    return raster::Status::GenericError;
  }
  std::unique_ptr<raster::Image> img;
  if (raster::Status s = raster::Image::create(w, h, f, img); s != raster::Status::Ok) return s;
  img->write_pixels({0, 0, w, h}, raster::pf::k32bppARGB, in.data + 16, w * 4);
  img->set_raw_format(raster::guids::kFormatPng);
  out = std::move(img);
  return raster::Status::Ok;
}

class Writer : public raster::FrameWriter {
 public:
  explicit Writer(raster::ByteSink& out) : out_(out) {}
  raster::Status add(raster::Image& frame, const raster::EncoderParams& params) override {
    record().pages.push_back(call_for(frame, params));
    ++pages_;
    return raster::Status::Ok;
  }
  raster::Status finish() override {
    if (done_) return raster::Status::Ok;
    done_ = true;
    ++record().finished;
    const std::string text = "pages " + std::to_string(pages_);
    return out_.write(text.data(), text.size()) ? raster::Status::Ok : out_.error();
  }

 private:
  raster::ByteSink& out_;
  int pages_ = 0;
  bool done_ = false;
};

raster::Status open_frames(raster::Image& first, const raster::EncoderParams& params,
                           raster::ByteSink& sink, std::unique_ptr<raster::FrameWriter>& out) {
  out = std::make_unique<Writer>(sink);
  return out->add(first, params);  // Writer::add cannot fail
}

}  // namespace

Record& record() {
  static Record r;
  return r;
}

void install() {
  uninstall();
  raster::register_encoder({.clsid = kClsid,
                            .format = raster::guids::kFormatPng,
                            .name = "stand-in",
                            .extensions = "*.BMP;*.DIB;*.GIF;*.PNG;*.JPG;*.TIF;*.TIFF",
                            .mime_type = "",
                            .order = -100,
                            .encode = &encode,
                            .open_frames = &open_frames});
  raster::register_decoder({.name = "stand-in",
                            .format = raster::guids::kFormatPng,
                            .sniff = &sniff,
                            .decode = &decode});
  record() = Record{};
}

void uninstall() {
  raster::unregister_encoder(kClsid);
  raster::unregister_decoder("stand-in");
}

std::vector<uint8_t> encode_bytes(int32_t w, int32_t h, uint32_t argb) {
  std::vector<uint8_t> out = header(w, h, raster::pf::k32bppARGB);
  for (int32_t i = 0; i < w * h; ++i) put32(out, argb);
  return out;
}

}  // namespace korvex::standin
