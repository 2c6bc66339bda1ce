#include "raster/codec.h"

#include <algorithm>
#include <string>

namespace korvex::raster {

namespace {
std::vector<Decoder>& decoder_list() {
  static std::vector<Decoder> list;
  return list;
}
std::vector<Encoder>& encoder_list() {
  static std::vector<Encoder> list;
  return list;
}
}  // namespace

EncodedBytes own_bytes(std::vector<uint8_t> bytes) {
  auto holder = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  EncodedBytes e;
  e.data = holder->data();
  e.size = holder->size();
  e.keep = holder;
  return e;
}

int32_t param_value(const EncoderParams& params, const Guid& id, int32_t fallback) {
  for (const EncoderParam& p : params) {
    if (p.id == id) return p.value;
  }
  return fallback;
}

bool has_param(const EncoderParams& params, const Guid& id) {
  return std::any_of(params.begin(), params.end(),
                     [&](const EncoderParam& p) { return p.id == id; });
}

void register_decoder(const Decoder& d) {
  decoder_list().push_back(d);
}

void register_encoder(const Encoder& e) {
  auto& list = encoder_list();
  list.push_back(e);
  std::stable_sort(list.begin(), list.end(),
                   [](const Encoder& a, const Encoder& b) { return a.order < b.order; });
}

void unregister_decoder(const char* name) {
  auto& list = decoder_list();
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Decoder& d) { return std::string(d.name) == name; }),
             list.end());
}

void unregister_encoder(const Guid& clsid) {
  auto& list = encoder_list();
  list.erase(
      std::remove_if(list.begin(), list.end(), [&](const Encoder& e) { return e.clsid == clsid; }),
      list.end());
}

const std::vector<Decoder>& decoders() {
  return decoder_list();
}
const std::vector<Encoder>& encoders() {
  return encoder_list();
}

const Encoder* find_encoder(const Guid& clsid) {
  for (const Encoder& e : encoder_list()) {
    if (e.clsid == clsid) return &e;
  }
  return nullptr;
}

Status decode_image(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  if (in.data == nullptr || in.size == 0) return Status::GenericError;
  for (const Decoder& d : decoder_list()) {
    if (d.sniff(in.data, in.size)) return d.decode(in, out);
  }
  return Status::UnknownImageFormat;
}

}  // namespace korvex::raster
