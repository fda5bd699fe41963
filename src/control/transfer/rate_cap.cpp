// The rate cap. While the control is ahead of its budget, what arrives on a
// transfer socket is left there; the socket stops reading until it is
// taken, so TCP's window slows the server and nothing piles up beyond the
// receive buffer. The pacing timer takes it once the budget has grown to
// it. Probes are never held (their verdict is a speed), but what they
// bring counts.

#include <algorithm>

#include "control/user_control1.hpp"

namespace vintrel::control {

namespace {

// The pacing timer's wait, in milliseconds: never zero (a timer of no
// interval does not tick), and a cap too low to reach the next byte soon
// still looks again every minute.
std::int32_t pacing_interval(std::int64_t wait_ms) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(wait_ms, 1, 60000));
}

// How much a capped transfer reads at a time: an eighth of a second's
// worth, so a low cap comes in small steps rather than a receive buffer
// at once, and a high one is not read in slivers.
std::int32_t read_step(std::int32_t rate) {
  if (rate <= 0) return 0;
  return std::clamp<std::int32_t>(rate / 8, 4096, 256 * 1024);
}

}  // namespace

void UserControl1::set_max_rate(std::int32_t bytes_per_second) {
  if (bytes_per_second < 0) automation::raise(automation::err::invalid_call);
  maxRate = bytes_per_second;
  rateBudget_.set_rate(maxRate, platform_.clock().steady_milliseconds());
  if (rateHeld_.empty()) return;
  // Not here: script may be setting it from inside a handler of ours.
  rateTimer->set_interval(1);
  rateTimer->set_enabled(true);
}

void UserControl1::spendRate(std::size_t bytes) { rateBudget_.spend(bytes, platform_.clock().steady_milliseconds()); }

std::int64_t UserControl1::rateWait() {
  const std::int64_t now = platform_.clock().steady_milliseconds();
  // A host may have written the member directly.
  if (rateBudget_.rate() != std::max<std::int32_t>(maxRate, 0)) rateBudget_.set_rate(maxRate, now);
  return rateBudget_.wait_ms(now);
}

bool UserControl1::holdForRate(std::int16_t n) {
  Winsock1->set_read_size(n, read_step(maxRate));
  const std::int64_t wait = rateWait();
  if (wait == 0 && rateHeld_.empty()) return false;
  if (std::find(rateHeld_.begin(), rateHeld_.end(), n) == rateHeld_.end()) rateHeld_.push_back(n);
  // Sockets already waiting go first, so the timer is running already.
  if (rateHeld_.size() == 1) {
    rateTimer->set_interval(pacing_interval(wait));
    rateTimer->set_enabled(true);
  }
  return true;
}

void UserControl1::rateTimer_Timer() {
  rateTimer->set_enabled(false);
  while (!rateHeld_.empty()) {
    if (const std::int64_t wait = rateWait(); wait > 0) {
      rateTimer->set_interval(pacing_interval(wait));
      rateTimer->set_enabled(true);
      return;
    }
    const std::int16_t n = rateHeld_.front();
    rateHeld_.erase(rateHeld_.begin());
    // Closed or started again since: what was held went with the old
    // connection.
    if (n > DownloadFiles->Count() || !SlotArray<FileSlot>::contains(n) || !Winsock1->IsLoaded(n) ||
        Winsock1->BytesReceived(n) == 0)
      continue;
    guarded(n, [&] { takeArrival(n); });
    guarded(n, [&] { transfer_event_done(n); });
  }
}

}  // namespace vintrel::control
