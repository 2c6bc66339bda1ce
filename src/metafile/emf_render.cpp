// EMF through libemf2svg (records to SVG) and librsvg (SVG onto a cairo
// surface laid over the canvas's own pixels).
#include <cairo.h>
#include <elf.h>
#include <emf2svg.h>
#include <librsvg/rsvg.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "metafile/metafile.h"
#include "metafile/play_module.h"

namespace korvex::metafile {
namespace {

using raster::Status;

constexpr int32_t kCairoMaxSide = 32767;

// libemf2svg makes no promise about threads: one conversion at a time.
std::mutex& emf_mutex() {
  static std::mutex m;
  return m;
}

// The converter shuts fontconfig down (FcFini) after looking a symbol font
// up, while its own and every other font user's caches are still held:
// fontconfig then aborts the process on an assertion, or frees what Pango
// goes on using. Its call is bound to a function that leaves fontconfig up;
// fontconfig frees its caches itself when the process ends.
void keep_fontconfig() {}

int unbind_fc_fini(dl_phdr_info* info, size_t, void*) {
  if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, "libemf2svg") == nullptr) return 0;
  const ElfW(Dyn)* dyn = nullptr;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
      dyn = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
  }
  if (dyn == nullptr) return 1;
  const auto base = static_cast<uintptr_t>(info->dlpi_addr);
  // The loader has turned these into addresses; add the base where not.
  auto address = [base](ElfW(Addr) a) { return a < base ? base + a : static_cast<uintptr_t>(a); };
  uintptr_t jmprel = 0, symtab = 0, strtab = 0;
  size_t pltrelsz = 0;
  for (; dyn->d_tag != DT_NULL; ++dyn) {
    if (dyn->d_tag == DT_JMPREL) jmprel = address(dyn->d_un.d_ptr);
    if (dyn->d_tag == DT_PLTRELSZ) pltrelsz = dyn->d_un.d_val;
    if (dyn->d_tag == DT_SYMTAB) symtab = address(dyn->d_un.d_ptr);
    if (dyn->d_tag == DT_STRTAB) strtab = address(dyn->d_un.d_ptr);
  }
  if (jmprel == 0 || symtab == 0 || strtab == 0) return 1;
  const auto* rel = reinterpret_cast<const ElfW(Rela)*>(jmprel);
  const auto* syms = reinterpret_cast<const ElfW(Sym)*>(symtab);
  const auto* names = reinterpret_cast<const char*>(strtab);
  for (size_t i = 0; i < pltrelsz / sizeof(ElfW(Rela)); ++i) {
    if (std::strcmp(names + syms[ELF64_R_SYM(rel[i].r_info)].st_name, "FcFini") != 0) continue;
    auto* slot = reinterpret_cast<void**>(base + rel[i].r_offset);
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(slot) & ~(page - 1));
    // The slot may sit in a page made read-only after relocation.
    if (::mprotect(start, page, PROT_READ | PROT_WRITE) == 0)
      *slot = reinterpret_cast<void*>(&keep_fontconfig);
  }
  return 1;
}

struct SvgText {
  char* text = nullptr;
  size_t size = 0;
  ~SvgText() { std::free(text); }
};

void put32(char* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFFu);
}

// True when the converted drawing holds a number of 10^7 or more (the
// converter writes every number with four decimals, and embedded images are
// base64, which has no '.'). Such geometry lies hundreds of canvases away
// and comes only from damaged transforms or extents; cairo would flatten its
// curves into hundreds of millions of segments (gigabytes) before clipping.
bool has_runaway_numbers(const SvgText& svg) {
  size_t digits = 0;
  for (size_t i = 0; i + 1 < svg.size; ++i) {
    const char c = svg.text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else {
      if (c == '.' && digits >= 8 && svg.text[i + 1] >= '0' && svg.text[i + 1] <= '9') return true;
      digits = 0;
    }
  }
  return false;
}

// Draws the SVG, whose user space starts at the whole reference-device pixel
// (device_left, device_top), with the exact frame scaled to fill the canvas.
Status draw_svg(const SvgText& svg, const Frame& frame, const CanvasMaker& make_canvas) {
  GError* error = nullptr;
  RsvgHandle* handle =
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.text), svg.size, &error);
  if (handle == nullptr) {
    if (error != nullptr) g_error_free(error);
    return Status::GenericError;
  }
  Canvas canvas;
  const Status made = make_canvas(canvas);
  // cairo's RGB24 is B, G, R, X in memory on this little-endian machine, the
  // canvas's own layout; its rows must be as cairo wants them.
  if (made != Status::Ok ||
      canvas.stride != cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, canvas.width)) {
    g_object_unref(handle);
    return made != Status::Ok ? made : Status::GenericError;
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      canvas.scan0, CAIRO_FORMAT_RGB24, canvas.width, canvas.height, canvas.stride);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, canvas.width / frame.device_width, canvas.height / frame.device_height);
  cairo_translate(cr, frame.device_left - frame.device_x, frame.device_top - frame.device_y);
  const RsvgRectangle viewport{0.0, 0.0,
                               static_cast<double>(frame.device_right - frame.device_left),
                               static_cast<double>(frame.device_bottom - frame.device_top)};
  const gboolean drawn = rsvg_handle_render_document(handle, cr, &viewport, &error);
  const bool ok = drawn && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  if (error != nullptr) g_error_free(error);
  return ok ? Status::Ok : Status::GenericError;
}

}  // namespace

Status play_emf(const uint8_t* data, size_t size, const Frame& frame,
                const CanvasMaker& make_canvas) {
  // cairo's image surfaces stop at 32767 pixels a side: a larger frame is a
  // valid picture this renderer cannot draw.
  if (frame.width > kCairoMaxSide || frame.height > kCairoMaxSide) return Status::NotImplemented;
  // The converter places the bounds (the inked rectangle) at the picture's
  // origin; the frame is what fills the picture, so the private copy it reads
  // carries the frame, in reference-device pixels, as its bounds.
  std::vector<char> bytes(data, data + size);
  put32(bytes.data() + 8, frame.device_left);
  put32(bytes.data() + 12, frame.device_top);
  put32(bytes.data() + 16, frame.device_right);
  put32(bytes.data() + 20, frame.device_bottom);
  static std::once_flag unbound;
  std::call_once(unbound, [] { ::dl_iterate_phdr(unbind_fc_fini, nullptr); });
  SvgText svg;
  {
    const std::lock_guard<std::mutex> lock(emf_mutex());
    // EMF+ records are left out: dual files carry plain EMF records for the
    // same drawing, which the converter renders more completely.
    generatorOptions options{};
    options.nameSpace = nullptr;
    options.verbose = false;
    options.emfplus = false;
    options.svgDelimiter = true;
    options.imgWidth = 0;  // natural size: one unit per reference-device pixel
    options.imgHeight = 0;
    if (emf2svg(bytes.data(), bytes.size(), &svg.text, &svg.size, &options) == 0 ||
        svg.text == nullptr || svg.size == 0) {
      return Status::GenericError;
    }
  }
  if (has_runaway_numbers(svg)) return Status::GenericError;
  return draw_svg(svg, frame, make_canvas);
}

}  // namespace korvex::metafile
