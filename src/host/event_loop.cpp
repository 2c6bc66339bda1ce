#include <chrono>
#include <thread>

#include "korvex/host.h"

namespace korvex::host {

namespace {
struct Pump {
  EventPump pump = nullptr;
  void* context = nullptr;
};
thread_local Pump t_pump;
}  // namespace

void SetEventPump(EventPump pump, void* context) {
  t_pump = Pump{pump, context};
}

void WaitPumping(int64_t milliseconds) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
  do {
    if (t_pump.pump != nullptr) t_pump.pump(t_pump.context);
    const auto left = end - clock::now();
    if (left <= clock::duration::zero()) break;
    std::this_thread::sleep_for(std::min<clock::duration>(left, std::chrono::milliseconds(10)));
  } while (clock::now() < end);
}

}  // namespace korvex::host
