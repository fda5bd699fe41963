#include "com/apartment.hpp"

#include <map>
#include <mutex>

#include "com/unknown.hpp"
#include "platform/event_loop.hpp"
#include "platform/windows/folder_dialog.hpp"
#include "platform/windows/user_proxy.hpp"

namespace vintrel::com {

namespace {

class LoopApartment final : public Apartment {
 public:
  // Each thread's controls go through the user's proxy as Internet
  // Settings give it when the thread's first control is made.
  LoopApartment() : platform_(loop_, nullptr, {}, {}, platform::user_proxy_settings()), dialog_(loop_) {}

  platform::Platform& platform() override { return platform_; }
  platform::FolderDialog* folder_dialog() override { return &dialog_; }

 private:
  platform::EventLoop loop_;
  platform::AsioPlatform platform_;
  platform::ShellFolderDialog dialog_;
};

// The apartments by thread. Not thread_local: the module may be unloaded
// before a thread that used it ends, and a thread's destructors must not
// run code that is gone.
std::mutex apartments_mutex;
std::map<DWORD, std::weak_ptr<Apartment>> apartments;
// Apartments whose last control ended inside their loop, by thread. Kept
// for the thread's next control; one left at the end of the process is
// left to the process's end, since no other thread may end its loop.
std::map<DWORD, std::shared_ptr<Apartment>*> parked;

thread_local bool in_handler = false;

}  // namespace

std::shared_ptr<Apartment> Apartment::of_this_thread() {
  const DWORD thread = GetCurrentThreadId();
  std::lock_guard lock(apartments_mutex);
  if (auto found = parked.find(thread); found != parked.end()) {
    std::shared_ptr<Apartment> apartment = std::move(*found->second);
    delete found->second;
    parked.erase(found);
    module_release();
    return apartment;
  }
  std::shared_ptr<Apartment> apartment = apartments[thread].lock();
  if (!apartment) {
    apartment = std::make_shared<LoopApartment>();
    apartments[thread] = apartment;
  }
  return apartment;
}

void Apartment::release_later(IUnknown& object) {
  const bool outer = in_handler;
  in_handler = true;
  object.Release();
  in_handler = outer;
}

void Apartment::retire(std::shared_ptr<Apartment> apartment) {
  if (!apartment || apartment.use_count() > 1) return;
  const DWORD thread = GetCurrentThreadId();
  std::unique_lock lock(apartments_mutex);
  if (in_handler && !parked.contains(thread)) {
    parked[thread] = new std::shared_ptr<Apartment>(std::move(apartment));
    module_add_ref();
    return;
  }
  apartments.erase(thread);
  lock.unlock();
  // The loop ends here, outside any of its handlers.
  apartment.reset();
}

}  // namespace vintrel::com
