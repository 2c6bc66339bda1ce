// The HTTP image source: CreateImageFromURL over the net client, and the
// decode of downloaded bytes that the viewer's DisplayFromURL shares.
#include "engine/net_sources.h"

#include <memory>
#include <utility>

#include "engine/core.h"
#include "engine/source_pair.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "net/inet.h"
#include "raster/codec.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr raster::Status kDecoderFailed = static_cast<raster::Status>(23);

}  // namespace

raster::Status FetchStatus(net::Fetch f) {
  switch (f) {
    case net::Fetch::Ok:
      return raster::Status::Ok;
    case net::Fetch::NotSent:
      return raster::Status::FileNotFound;
    default:
      return raster::Status::GenericError;
  }
}

int32_t CreateImageFromDownload(cKorvex& engine, std::vector<uint8_t>&& bytes) {
  cKorvex::State& s = EngineAccess::state(engine);
  if (bytes.size() < 2) {
    SetStatus(s, raster::Status::InvalidParameter);
    return 0;
  }
  // The image keeps the downloaded buffer itself: no second copy.
  const raster::EncodedBytes encoded = raster::own_bytes(std::move(bytes));
  std::unique_ptr<raster::Image> img;
  const raster::Status st =
      raster::guarded([&] { return raster::decode_image(encoded, img); }, kDecoderFailed);
  if (SetStatus(s, st) != cKorvexStatus::Ok) return 0;
  return KeepAsCallersImage(s, raster::register_image(std::move(img)));
}

int32_t cKorvex::CreateImageFromURL(const std::string& sHost, const std::string& sPath,
                                    int32_t nHTTPPort) {
  if (s_->UrlBusy) return 0;
  s_->UrlBusy = true;
  net::cInet client;
  client.options.max_length = net::MemberMaxLength(s_->UrlMaxLength);
  client.options.timeout_seconds = s_->UrlTimeout;
  // A host event run between the steps may destroy the engine: the download
  // then stops and nothing of the engine is touched afterwards.
  const std::weak_ptr<int> life = s_->UrlLife;
  client.PumpEvents = [&client, life] {
    host::WaitPumping(0);
    if (life.expired()) client.bStopReadArray = true;
  };
  std::vector<uint8_t> bytes;
  const net::Fetch f = net::Download(client, sHost, sPath, nHTTPPort, bytes);
  if (life.expired()) return 0;
  s_->UrlBusy = false;  // cleared on every way out
  if (f != net::Fetch::Ok) {
    SetStatus(*s_, FetchStatus(f));
    return 0;
  }
  return CreateImageFromDownload(*this, std::move(bytes));
}

void cKorvex::URLSetMaxLength(int32_t nBytes) {
  if (nBytes > 0) s_->UrlMaxLength = nBytes;
}

int32_t cKorvex::URLGetMaxLength() {
  return net::MemberMaxLength(s_->UrlMaxLength);
}

void cKorvex::URLSetTimeout(int32_t nSeconds) {
  if (nSeconds > 0) s_->UrlTimeout = nSeconds;
}

int32_t cKorvex::URLGetTimeout() {
  return s_->UrlTimeout;
}

}  // namespace korvex
