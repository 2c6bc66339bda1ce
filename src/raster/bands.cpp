#include "raster/bands.h"

#include <utility>

namespace korvex::raster {

namespace {

using DecodeFn = decltype(Decoder::decode);
using EncodeFn = decltype(Encoder::encode);

// Keyed by the codec's whole-image decode or encode function.
std::vector<std::pair<DecodeFn, BandReaderOpener>>& readers() {
  static std::vector<std::pair<DecodeFn, BandReaderOpener>> list;
  return list;
}
std::vector<std::pair<DecodeFn, BandFileReaderOpener>>& file_readers() {
  static std::vector<std::pair<DecodeFn, BandFileReaderOpener>> list;
  return list;
}
std::vector<std::pair<EncodeFn, BandWriterOpener>>& writers() {
  static std::vector<std::pair<EncodeFn, BandWriterOpener>> list;
  return list;
}

template <class Key, class Opener>
Opener find(const std::vector<std::pair<Key, Opener>>& list, Key key) {
  if (key == nullptr) return nullptr;
  for (const auto& [k, open] : list) {
    if (k == key) return open;
  }
  return nullptr;
}

}  // namespace

BandPicture band_picture_of(const Image& img) {
  BandPicture p;
  p.width = img.width();
  p.height = img.height();
  p.format = img.format();
  p.palette = img.palette();
  p.dpi_x = img.dpi_x();
  p.dpi_y = img.dpi_y();
  p.properties = img.properties();
  return p;
}

void register_band_reader(const Decoder& decoder, BandReaderOpener open) {
  readers().emplace_back(decoder.decode, open);
}
void register_band_file_reader(const Decoder& decoder, BandFileReaderOpener open) {
  file_readers().emplace_back(decoder.decode, open);
}
void register_band_writer(const Encoder& encoder, BandWriterOpener open) {
  writers().emplace_back(encoder.encode, open);
}
BandReaderOpener band_reader_for(const Decoder& decoder) {
  return find(readers(), decoder.decode);
}
BandFileReaderOpener band_file_reader_for(const Decoder& decoder) {
  return find(file_readers(), decoder.decode);
}
BandWriterOpener band_writer_for(const Encoder& encoder) {
  return find(writers(), encoder.encode);
}

Status decode_through_bands(BandReader& reader, const Guid& raw_format,
                            std::unique_ptr<Image>& out) {
  const BandPicture& p = reader.picture();
  Frame frame;
  if (Status st = allocate_surface(p.width, p.height, p.format, frame.pixels); st != Status::Ok)
    return st;
  // A reader describes a palette only where the format has its own.
  if (p.palette.flags != 0 || !p.palette.entries.empty()) frame.pixels.palette = p.palette;
  frame.dpi_x = p.dpi_x;
  frame.dpi_y = p.dpi_y;
  frame.properties = p.properties;
  if (Status st = reader.read(frame.pixels.scan0, frame.pixels.stride, p.height); st != Status::Ok)
    return st;
  std::vector<Frame> frames;
  frames.push_back(std::move(frame));
  out = Image::from_frames(std::move(frames), guids::kFrameDimensionPage, raw_format, nullptr);
  return Status::Ok;
}

}  // namespace korvex::raster
