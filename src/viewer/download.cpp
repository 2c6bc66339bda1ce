// kxViewer's HTTP source: DisplayFromURL with its progress events, and the
// stop command. Handlers and host events run between the steps of the
// download; each may close, terminate or destroy the viewer, so the
// viewer's life and document generation are checked after every one.
#include <memory>
#include <utility>
#include <vector>

#include "engine/net_sources.h"
#include "korvex/engine.h"
#include "korvex/host.h"
#include "korvex/viewer.h"
#include "net/inet.h"
#include "viewer/core.h"

namespace korvex {

namespace {

bool same_document(const std::weak_ptr<uint64_t>& life, uint64_t generation) {
  const std::shared_ptr<uint64_t> alive = life.lock();
  return alive && *alive == generation;
}

}  // namespace

ViewerStatus kxViewer::DisplayFromURL(const std::string& sHost, const std::string& sPath,
                                      int32_t nHTTPPort) {
  viewer::Core& c = *core_;
  if (c.url_busy) return c.last_status;
  const std::weak_ptr<uint64_t> life = c.Life();
  const auto client = std::make_shared<net::cInet>();
  c.url_busy = true;
  c.url_client = client;
  const auto finish = [&c] {
    c.url_busy = false;
    c.url_client.reset();
  };
  if (!c.ClosePicture()) {
    if (life.expired()) return ViewerStatus::GenericError;
    finish();
    return ViewerStatus::Ok;  // a handler of the closing took over the viewer
  }
  c.owns_native_image = true;
  const uint64_t generation = *life.lock();
  client->options.max_length = net::MemberMaxLength(c.url_max_length);
  client->options.timeout_seconds = c.url_timeout;
  client->ReadArrayProgress = [&c, life, generation](int32_t& pct, int32_t& left, int32_t& total) {
    if (!same_document(life, generation)) return false;
    ViewerEventArgs one;
    one.values[0] = 100 - pct;
    one.count = 1;
    if (!c.Raise(ViewerEvent::DataReceieved, one)) return false;
    ViewerEventArgs three;
    three.values = {static_cast<double>(100 - pct), static_cast<double>(left),
                    static_cast<double>(total), 0.0};
    three.count = 3;
    return c.Raise(ViewerEvent::DataReceived, three);
  };
  net::cInet* self = client.get();
  client->PumpEvents = [self, life, generation] {
    host::WaitPumping(0);
    if (!same_document(life, generation)) self->bStopReadArray = true;
  };

  std::vector<uint8_t> bytes;
  net::Fetch f = net::Download(*client, sHost, sPath, nHTTPPort, bytes);
  if (life.expired()) return ViewerStatus::GenericError;  // destroyed: touch nothing
  if (!same_document(life, generation) && f == net::Fetch::Ok) f = net::Fetch::ReadFailed;
  finish();
  if (f != net::Fetch::Ok) {
    return c.ShowLoaded(0, static_cast<ViewerStatus>(static_cast<int32_t>(FetchStatus(f))));
  }
  cKorvex* e = c.engine();
  if (e == nullptr) return c.status(ViewerStatus::GdiplusNotInitialized);  // after Terminate
  const int32_t id = CreateImageFromDownload(*e, std::move(bytes));
  const ViewerStatus st = viewer::FromEngineStatus(e->GetStat());
  e->SetNativeImage(0);  // the image is the viewer's, not the engine's
  return c.ShowLoaded(id, st);
}

void kxViewer::DisplayFromURLStop() {
  viewer::Core& c = *core_;
  if (c.url_busy && c.url_client) c.url_client->bStopReadArray = true;
}

int32_t kxViewer::get_URLMaxLength() const {
  return net::MemberMaxLength(core_->url_max_length);
}

void kxViewer::put_URLMaxLength(int32_t value) {
  if (value > 0) core_->url_max_length = value;
  core_->host().PropertyChanged("URLMaxLength");
}

int32_t kxViewer::get_URLTimeout() const {
  return core_->url_timeout;
}

void kxViewer::put_URLTimeout(int32_t value) {
  if (value > 0) core_->url_timeout = value;
  core_->host().PropertyChanged("URLTimeout");
}

}  // namespace korvex
