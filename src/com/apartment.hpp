#pragma once
// What the controls of one thread share. A script host calls a control on
// the thread that made it (an apartment thread) and pumps that thread's
// messages; the control's sockets, timers and dialog run there too, on one
// loop over the thread's messages, made with the first control of the
// thread and ended with its last.

#include <unknwn.h>
#include <windows.h>

#include <memory>

#include "platform/container.hpp"
#include "platform/platform.hpp"

namespace vintrel::com {

class Apartment {
 public:
  /// The calling thread's apartment, made when it has none.
  static std::shared_ptr<Apartment> of_this_thread();
  virtual ~Apartment() = default;

  virtual platform::Platform& platform() = 0;
  /// The folder dialog of the desktop (answered by VINTREL_FOLDER_ANSWER
  /// when set).
  virtual platform::FolderDialog* folder_dialog() = 0;

  /// Releases `object` from a handler of the loop. Should that end the
  /// thread's last control, its apartment cannot end inside its own loop:
  /// it is kept for the thread's next control instead (and keeps the
  /// module loaded).
  static void release_later(IUnknown& object);
  /// Drops a control's hold on its apartment, keeping the apartment as
  /// release_later says when that happens inside the loop.
  static void retire(std::shared_ptr<Apartment> apartment);
};

}  // namespace vintrel::com
