// Metadata tags of the native image: listing, naming and rendering the
// property items, deleting them, writing them from text in five value types,
// and keeping them across rebuilds.
//
// Items are numbered from 1 in the order of the image's property list; any
// other number (0 and negatives included) is out of range and gives the
// neutral result: id 0, type 7 (UNDEFINED), empty text, or PropertyNotFound
// for a deletion.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "tags/property_item.h"
#include "tags/property_tags.h"

namespace korvex {

namespace {

constexpr int32_t kUndefinedType = 7;

raster::Image* native(cKorvex::State& s) {
  return raster::find_image(s.NativeImage);
}

// Item n (from 1) of the native image, or null.
const raster::PropertyItem* item_no(cKorvex::State& s, int32_t n) {
  raster::Image* img = native(s);
  if (img == nullptr || n < 1 || static_cast<size_t>(n) > img->properties().size()) return nullptr;
  return &img->properties()[static_cast<size_t>(n - 1)];
}

cKorvexStatus write_tag(cKorvex::State& s, int32_t id, const std::string& text, uint16_t type) {
  raster::Image* img = native(s);
  if (img == nullptr) return s.LastStatus;
  uint32_t tag = 0;
  if (!tags::UnsignedTagId(id, tag)) return SetStatus(s, raster::Status::InvalidParameter);
  raster::PropertyItem item;
  item.id = tag;
  item.type = type;
  if (const raster::Status st = tags::ParseValue(type, text, item.value);
      st != raster::Status::Ok) {
    return SetStatus(s, st);
  }
  // set_property replaces an item of the same id or appends a new one.
  return SetStatus(s, raster::guarded([&] { return img->set_property(item); }));
}

}  // namespace

int32_t cKorvex::TagsCount() {
  raster::Image* img = native(*s_);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  SetStatus(*s_, raster::Status::Ok);
  return static_cast<int32_t>(img->properties().size());
}

int32_t cKorvex::TagsGetID(int32_t nTagNo) {
  const raster::PropertyItem* p = item_no(*s_, nTagNo);
  return p == nullptr ? 0 : static_cast<int32_t>(p->id);
}

int32_t cKorvex::TagsGetType(int32_t nTagNo) {
  const raster::PropertyItem* p = item_no(*s_, nTagNo);
  return p == nullptr ? kUndefinedType : p->type;
}

std::string cKorvex::TagsGetName(int32_t nTagNo) {
  const raster::PropertyItem* p = item_no(*s_, nTagNo);
  return p == nullptr ? std::string() : tags::TagName(p->id);
}

std::string cKorvex::TagsGetValue(int32_t nTagNo) {
  const raster::PropertyItem* p = item_no(*s_, nTagNo);
  return p == nullptr ? std::string() : tags::GDIPPropertyItem(*p).ValueText();
}

cKorvexStatus cKorvex::TagsDelete(int32_t nTagNo) {
  const raster::PropertyItem* p = item_no(*s_, nTagNo);
  if (p == nullptr) return SetStatus(*s_, raster::Status::PropertyNotFound);
  return SetStatus(*s_, native(*s_)->remove_property(p->id));
}

int32_t cKorvex::ExifTagsCount() {
  return TagsCount();
}

std::string cKorvex::ExifTagsGetName(int32_t nTagNo) {
  return TagsGetName(nTagNo);
}

std::string cKorvex::ExifTagsGetValue(int32_t nTagNo) {
  return TagsGetValue(nTagNo);
}

cKorvexStatus cKorvex::TagsWriteTypeByte(int32_t nTagId, const std::string& sTagValue) {
  return write_tag(*s_, nTagId, sTagValue, raster::ptype::kByte);
}

cKorvexStatus cKorvex::TagsWriteTypeShort(int32_t nTagId, const std::string& sTagValue) {
  return write_tag(*s_, nTagId, sTagValue, raster::ptype::kShort);
}

cKorvexStatus cKorvex::TagsWriteTypeLong(int32_t nTagId, const std::string& sTagValue) {
  return write_tag(*s_, nTagId, sTagValue, raster::ptype::kLong);
}

cKorvexStatus cKorvex::TagsWriteTypeRational(int32_t nTagId, const std::string& sTagValue) {
  return write_tag(*s_, nTagId, sTagValue, raster::ptype::kRational);
}

cKorvexStatus cKorvex::TagsWriteTypeASCII(int32_t nTagId, const std::string& sTagValue) {
  return write_tag(*s_, nTagId, sTagValue, raster::ptype::kAscii);
}

void cKorvex::TagsSetPreserve(bool bPreserve) {
  s_->PreserveTags = bPreserve;
}

}  // namespace korvex
