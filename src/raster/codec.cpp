#include "raster/codec.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "raster/big_alloc.h"
#include "raster/guard.h"

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

MemorySink::MemorySink(std::vector<uint8_t>& out) : out_(out) {
  out_.clear();
}

bool MemorySink::write(const void* data, size_t n) {
  if (error_ != Status::Ok) return false;
  if (n == 0) return true;
  const auto* p = static_cast<const uint8_t*>(data);
  try {
    if (pos_ > out_.size()) out_.resize(static_cast<size_t>(pos_));  // a gap reads as zeros
    const size_t at = static_cast<size_t>(pos_);
    const size_t over = std::min(n, out_.size() - at);
    std::copy(p, p + over, out_.begin() + static_cast<std::ptrdiff_t>(at));
    out_.insert(out_.end(), p + over, p + n);
  } catch (...) {
    error_ = Status::OutOfMemory;
    return false;
  }
  pos_ += n;
  return true;
}

bool MemorySink::seek(uint64_t pos) {
  if (error_ != Status::Ok) return false;
  // Beyond what a vector can hold, the write that follows would fail anyway.
  if (pos > out_.max_size()) {
    error_ = Status::OutOfMemory;
    return false;
  }
  pos_ = pos;
  return true;
}

size_t MemorySink::read(void* data, size_t n) {
  if (error_ != Status::Ok || pos_ >= out_.size()) return 0;
  const size_t k = std::min(n, out_.size() - static_cast<size_t>(pos_));
  std::copy_n(out_.data() + pos_, k, static_cast<uint8_t*>(data));
  pos_ += k;
  return k;
}

void MemorySink::expect(uint64_t bytes) {
  if (bytes <= out_.capacity() || bytes > (uint64_t{1} << 40)) return;
  try {
    out_.reserve(static_cast<size_t>(bytes));
  } catch (...) {
    // Only a hint: the writes themselves report running out.
  }
}

Status encode_to_memory(const Encoder& e, Image& img, const EncoderParams& params,
                        std::vector<uint8_t>& out) {
  const Status st = guarded([&] {
    MemorySink sink(out);
    const Status encoded = e.encode(img, params, sink);
    return encoded == Status::Ok ? sink.error() : encoded;
  });
  if (st != Status::Ok) out.clear();
  return st;
}

EncodedBytes copy_bytes(const uint8_t* data, size_t size) {
  std::shared_ptr<uint8_t> holder(allocate_buffer(size, false), FreeDeleter{});
  if (!holder) throw std::bad_alloc();
  if (size != 0) std::memcpy(holder.get(), data, size);
  EncodedBytes e;
  e.data = holder.get();
  e.size = size;
  e.keep = std::move(holder);
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

Decoder decoder_record(const char* name, const Guid& format, bool (*sniff)(const uint8_t*, size_t),
                       Status (*decode)(const EncodedBytes&, std::unique_ptr<Image>&),
                       Status (*decode_file)(int, uint64_t, std::unique_ptr<Image>&)) {
  return Decoder{name, format, sniff, decode, decode_file};
}

Encoder encoder_record(const char* name, const Guid& clsid, const Guid& format,
                       const char* patterns, const char* mime_type, int order,
                       Status (*encode)(Image&, const EncoderParams&, ByteSink&),
                       Status (*open_frames)(Image&, const EncoderParams&, ByteSink&,
                                             std::unique_ptr<FrameWriter>&)) {
  return Encoder{clsid,    format,     std::string("Korvex ") + name + " codec",
                 patterns, mime_type,  order,
                 encode,   open_frames};
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

Status decode_image_file(int fd, uint64_t size, std::unique_ptr<Image>& out) {
  // Signatures sit in the first bytes.
  uint8_t head[64];
  const size_t want = static_cast<size_t>(std::min<uint64_t>(size, sizeof head));
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, head + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < want) return Status::NotImplemented;  // let the whole read report it
  for (const Decoder& d : decoder_list()) {
    if (d.sniff(head, got)) {
      return d.decode_file != nullptr ? d.decode_file(fd, size, out) : Status::NotImplemented;
    }
  }
  return Status::NotImplemented;
}

}  // namespace korvex::raster
