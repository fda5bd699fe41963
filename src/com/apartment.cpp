#include "com/apartment.hpp"

#include "com/unknown.hpp"
#include "platform/event_loop.hpp"
#include "platform/windows/folder_dialog.hpp"

namespace vintrel::com {

namespace {

class LoopApartment final : public Apartment {
 public:
  LoopApartment() : platform_(loop_), dialog_(loop_) {}

  platform::Platform& platform() override { return platform_; }
  platform::FolderDialog* folder_dialog() override { return &dialog_; }

 private:
  platform::EventLoop loop_;
  platform::AsioPlatform platform_;
  platform::ShellFolderDialog dialog_;
};

thread_local std::weak_ptr<Apartment> this_thread;
// An apartment whose last control ended inside its loop.
thread_local std::shared_ptr<Apartment> parked;
thread_local bool in_handler = false;

}  // namespace

std::shared_ptr<Apartment> Apartment::of_this_thread() {
  if (parked) {
    this_thread = parked;
    module_release();
    return std::move(parked);
  }
  std::shared_ptr<Apartment> apartment = this_thread.lock();
  if (!apartment) {
    apartment = std::make_shared<LoopApartment>();
    this_thread = apartment;
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
  if (in_handler && apartment && apartment.use_count() == 1 && !parked) {
    module_add_ref();
    parked = std::move(apartment);
  }
}

}  // namespace vintrel::com
