// Image codecs: decoders chosen by content, encoders chosen by CLSID or by
// file-name pattern, and multi-frame writers.
//
// Every codec lives in its own folder under codecs/ and registers itself
// there (see KORVEX_REGISTER_CODEC). Decoders never trust the data: every
// declared size, offset and count is checked against the bytes at hand and,
// through allocate_surface, against the pixel memory limit, before anything
// is allocated. Status conventions of every decoder:
//   UnknownImageFormat  the bytes are not this format (or no decoder knows them)
//   GenericError        the format is recognised but the data is corrupt or truncated
//   OutOfMemory         the declared picture exceeds the pixel count or pixel
//                       memory limit, or would inflate past the inflate ratio
//                       limit (korvex/limits.h)
//   NotImplemented      a valid file using a variant the decoder does not support
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

// Encoded bytes handed to a decoder. `keep` owns them: an image whose frames
// are decoded lazily holds on to it, so the bytes live as long as the image.
struct EncodedBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::shared_ptr<const void> keep;
};

// Makes EncodedBytes owning a copy (or the moved vector) of the bytes.
EncodedBytes own_bytes(std::vector<uint8_t> bytes);
// Makes EncodedBytes owning a copy of the bytes, in a buffer that is not
// zeroed first (large ones on huge pages). Throws std::bad_alloc.
EncodedBytes copy_bytes(const uint8_t* data, size_t size);

// Where an encoder's bytes go. Writes land at the current position,
// overwriting bytes already there and extending the end; seek may go back to
// patch an offset written earlier (TIFF directories, sizes in headers) or
// past the end (the gap reads as zeros). The first failure sticks: later calls
// fail too, and error() tells why (OutOfMemory for memory, Win32Error or
// AccessDenied for a file).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool write(const void* data, size_t n) = 0;
  virtual bool seek(uint64_t pos) = 0;
  virtual uint64_t tell() const = 0;
  // One past the last byte written.
  virtual uint64_t size() const = 0;
  // Reads back written bytes from the current position; the count read, 0 at
  // the end or after a failure.
  virtual size_t read(void* data, size_t n) = 0;
  // The output is expected to be about `bytes` long (known in advance for
  // uncompressed formats): lets a memory sink allocate once.
  virtual void expect(uint64_t /*bytes*/) {}
  Status error() const { return error_; }

 protected:
  Status error_ = Status::Ok;
};

// A growing byte vector as a sink (byte arrays, streams, strings).
class MemorySink final : public ByteSink {
 public:
  // Starts empty: whatever `out` held is dropped.
  explicit MemorySink(std::vector<uint8_t>& out);
  bool write(const void* data, size_t n) override;
  bool seek(uint64_t pos) override;
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return out_.size(); }
  size_t read(void* data, size_t n) override;
  void expect(uint64_t bytes) override;

 private:
  std::vector<uint8_t>& out_;
  uint64_t pos_ = 0;
};

struct Decoder {
  const char* name = "";
  Guid format;  // raw format of the images it makes
  // True when the bytes look like this format (only the signature is examined).
  bool (*sniff)(const uint8_t* data, size_t size) = nullptr;
  // Decodes the first frame (and registers lazy loading of the others).
  // The image's raw format must be set to `format`.
  Status (*decode)(const EncodedBytes& in, std::unique_ptr<Image>& out) = nullptr;
  // Optional: decodes straight from an open regular file of `size` bytes,
  // reading pixel data into the image without holding the whole file in
  // memory (and without mapping it: a file truncated meanwhile gives an
  // error, never a fault). NotImplemented when the file is better read into
  // memory and given to `decode` (several frames decoded later, say).
  Status (*decode_file)(int fd, uint64_t size, std::unique_ptr<Image>& out) = nullptr;
};

// Encoder parameters: one 32-bit value per parameter.
namespace encparam {
inline constexpr Guid kQuality{
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};
inline constexpr Guid kCompression{
    0xE09D739D, 0xCCD4, 0x44EE, {0x8E, 0xBA, 0x3F, 0xBF, 0x8B, 0xE4, 0xFC, 0x58}};
inline constexpr Guid kColorDepth{
    0x66087055, 0xAD66, 0x4C7C, {0x9A, 0x18, 0x38, 0xA2, 0x31, 0x0B, 0x83, 0x37}};
inline constexpr Guid kSaveFlag{
    0x292266FC, 0xAC40, 0x47BF, {0x8C, 0xFC, 0xA8, 0x5B, 0x89, 0xA6, 0x55, 0xDE}};
// Values of kCompression.
inline constexpr int32_t kCompressionLZW = 2;
inline constexpr int32_t kCompressionCCITT3 = 3;
inline constexpr int32_t kCompressionCCITT4 = 4;
inline constexpr int32_t kCompressionRle = 5;
inline constexpr int32_t kCompressionNone = 6;
// Values of kSaveFlag.
inline constexpr int32_t kMultiFrame = 18;
inline constexpr int32_t kFrameDimensionPage = 23;
}  // namespace encparam

struct EncoderParam {
  Guid id;
  int32_t value = 0;
};
using EncoderParams = std::vector<EncoderParam>;
// The value of a parameter, or `fallback` when absent.
int32_t param_value(const EncoderParams& params, const Guid& id, int32_t fallback);
bool has_param(const EncoderParams& params, const Guid& id);

// Writes frames one by one (multi-page TIFF) into the byte sink it was
// opened over, which outlives it. finish() completes the bytes; the file
// behind the sink is the caller's (host::open_frame_file puts it in place
// only when finish() succeeds).
class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  virtual Status add(Image& frame, const EncoderParams& params) = 0;
  virtual Status finish() = 0;
};

struct Encoder {
  Guid clsid;
  Guid format;             // raw format written
  std::string name;        // "Korvex PNG codec"
  std::string extensions;  // ";"-separated file-name patterns, "*.JPG;*.JPEG;*.JPE;*.JFIF"
  std::string mime_type;
  int order = 0;  // listing order among encoders
  // Encodes the image's active frame into `out`. Parameters the encoder does
  // not know are ignored; known ones with values out of range give InvalidParameter.
  // On failure the sink may hold part of a file: the caller discards it.
  Status (*encode)(Image& img, const EncoderParams& params, ByteSink& out) = nullptr;
  // Starts multi-frame output into `sink` with `first` as its first frame;
  // null when the format holds a single frame.
  Status (*open_frames)(Image& first, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<FrameWriter>& out) = nullptr;
};

// Encodes into memory; `out` is left empty when the encoder fails.
Status encode_to_memory(const Encoder& e, Image& img, const EncoderParams& params,
                        std::vector<uint8_t>& out);

// The records a codec folder registers: a decoder named `name` ("PNG"), and
// its encoder, named "Korvex <name> codec", for the ";"-separated `patterns`.
Decoder decoder_record(const char* name, const Guid& format, bool (*sniff)(const uint8_t*, size_t),
                       Status (*decode)(const EncodedBytes&, std::unique_ptr<Image>&),
                       Status (*decode_file)(int, uint64_t, std::unique_ptr<Image>&) = nullptr);
Encoder encoder_record(const char* name, const Guid& clsid, const Guid& format,
                       const char* patterns, const char* mime_type, int order,
                       Status (*encode)(Image&, const EncoderParams&, ByteSink&),
                       Status (*open_frames)(Image&, const EncoderParams&, ByteSink&,
                                             std::unique_ptr<FrameWriter>&) = nullptr);

void register_decoder(const Decoder& d);
void register_encoder(const Encoder& e);
// Removes a codec again (tests that stand in their own codecs).
void unregister_decoder(const char* name);
void unregister_encoder(const Guid& clsid);
const std::vector<Decoder>& decoders();
// Encoders in listing order.
const std::vector<Encoder>& encoders();
const Encoder* find_encoder(const Guid& clsid);

// Decodes with the first decoder whose signature matches; UnknownImageFormat
// when none does, GenericError for empty input.
Status decode_image(const EncodedBytes& in, std::unique_ptr<Image>& out);
// The same straight from an open regular file, through the decoder's
// decode_file; NotImplemented when that decoder has none or declines, and the
// file is to be read whole and given to decode_image.
Status decode_image_file(int fd, uint64_t size, std::unique_ptr<Image>& out);

// Registers a codec at load time, from <codec>_register.cpp in its folder:
// KORVEX_REGISTER_CODEC(bmp) { register_decoder(decoder_record(...)); }
#define KORVEX_REGISTER_CODEC(name)                  \
  static void korvex_register_##name();              \
  namespace {                                        \
  struct Registrar_##name {                          \
    Registrar_##name() { korvex_register_##name(); } \
  } registrar_##name;                                \
  }                                                  \
  static void korvex_register_##name()

}  // namespace korvex::raster
