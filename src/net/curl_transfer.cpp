// korvex_net.so: HTTP transfers over libcurl's multi interface, one easy
// handle in its own multi handle, driven by cInet (inet.cpp) through
// curl_module.h.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "net/curl_module.h"
#include "net/inet.h"

namespace korvex::net {

namespace {

class CurlTransfer final : public HttpTransfer {
 public:
  CurlTransfer() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
  ~CurlTransfer() override {
    if (multi_ != nullptr && easy_ != nullptr && added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
  }
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  bool usable() const { return multi_ != nullptr && easy_ != nullptr; }

  bool send(const TransferRequest& r) override {
    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);  // 4xx and 5xx answers are failures
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "korvex");
    const long timeout = std::max<int32_t>(1, r.timeout_seconds);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, timeout);
    // A server that sends nothing for the timeout ends the transfer.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, timeout);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 128L * 1024);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::on_body);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::on_header);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
      curl_easy_setopt(e, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
      curl_easy_setopt(e, CURLOPT_CAPATH, dir);
    if (r.action == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (r.action != "GET") {
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.action.c_str());
    }
    if (!r.data.empty()) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.data.size()));
      curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, r.data.c_str());
    }
    for (const std::string& line : r.headers) headers_ = curl_slist_append(headers_, line.c_str());
    if (headers_ != nullptr) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);
    if (!r.local_socket.empty()) {
      curl_easy_setopt(e, CURLOPT_ABSTRACT_UNIX_SOCKET, r.local_socket.c_str());
      curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
      curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    }
    if (curl_multi_add_handle(multi_, e) != CURLM_OK) return false;
    added_ = true;
    // Until the final answer's headers, its first body byte (held back) or the end.
    for (;;) {
      perform();
      if (done_ || body_started_ || headers_done_) break;
      wait(100);
    }
    return !(done_ && result_ != CURLE_OK);
  }

  bool content_length(int64_t& length) override {
    curl_off_t n = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &n) != CURLE_OK || n < 0)
      return false;
    length = n;
    return true;
  }
  bool status_code(int64_t& code) override {
    long c = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &c) != CURLE_OK || c == 0) return false;
    code = c;
    return true;
  }
  bool content_type(std::string& type) override {
    char* t = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &t) != CURLE_OK || t == nullptr)
      return false;
    type = t;
    return true;
  }

  void receive(std::vector<uint8_t>* sink, bool fixed, size_t limit) override {
    sink_ = sink;
    if (sink == nullptr) return;
    fixed_ = fixed;
    limit_ = limit;
    filled_ = 0;
    if (body_started_ && curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) refused_ = true;
  }

  // Runs libcurl; notes the end of the transfer.
  void perform() override {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
      if (m->msg == CURLMSG_DONE) {
        done_ = true;
        result_ = m->data.result;
      }
    }
  }
  void wait(int ms) override { curl_multi_poll(multi_, nullptr, 0, ms, nullptr); }

  bool body_started() const override { return body_started_; }
  size_t filled() const override { return filled_; }
  bool done() const override { return done_; }
  bool refused() const override { return refused_; }
  bool failed() const override { return result_ != CURLE_OK; }

 private:
  static size_t on_body(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<CurlTransfer*>(self);
    const size_t n = size * count;
    t.body_started_ = true;
    // Until receive gives a destination the answer's first bytes wait
    // inside libcurl: send ends at the headers.
    if (t.sink_ == nullptr) return CURL_WRITEFUNC_PAUSE;
    if (n > t.limit_ - t.filled_) {  // more than announced or allowed: abort
      t.refused_ = true;
      return 0;
    }
    if (!t.fixed_ && t.filled_ + n > t.sink_->size()) {
      try {
        t.sink_->resize(std::min(t.limit_, std::max(t.filled_ + n, t.sink_->size() * 2)));
      } catch (const std::bad_alloc&) {
        t.refused_ = true;
        return 0;
      }
    }
    std::memcpy(t.sink_->data() + t.filled_, data, n);
    t.filled_ += n;
    return n;
  }

  // The empty line after a header block: the final answer's, unless it is
  // an interim answer or a redirect that will be followed.
  static size_t on_header(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<CurlTransfer*>(self);
    const size_t n = size * count;
    if (n > 9 && strncasecmp(data, "location:", 9) == 0) t.location_ = true;
    if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
      long code = 0;
      curl_easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &code);
      if (code >= 200 && !(code >= 300 && code < 400 && t.location_)) t.headers_done_ = true;
      t.location_ = false;
    }
    return n;
  }

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  bool added_ = false;
  // Body destination: a fixed buffer (announced length) or a growing one.
  std::vector<uint8_t>* sink_ = nullptr;
  size_t filled_ = 0;
  bool fixed_ = false;
  size_t limit_ = 0;
  bool body_started_ = false;  // the first body bytes arrived (and were held back)
  bool headers_done_ = false;  // the final answer's headers are in
  bool refused_ = false;       // the body passed its limit
  bool location_ = false;      // the current header block redirects
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
};

std::unique_ptr<HttpTransfer> open_transfer() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  auto t = std::make_unique<CurlTransfer>();
  if (!t->usable()) return nullptr;
  return t;
}

}  // namespace

}  // namespace korvex::net

const korvex::net::CurlModule* korvex_net_module() {
  static const korvex::net::CurlModule table{korvex::net::kCurlModuleVersion,
                                             &korvex::net::open_transfer};
  return &table;
}
