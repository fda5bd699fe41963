// The control's loop on Windows. The control lives in the single-threaded
// apartment of the thread that made it, and script hosts do not run a loop
// of ours: they pump window messages while they wait. So the Asio context
// is never run on a thread of its own; a hidden message-only window of the
// loop's thread polls it instead, when woken by a message posted with each
// post() and by a short timer that picks up socket and timer completions.
// Handlers therefore run only while the thread pumps messages, on that
// thread, and never inside another handler: a handler that pumps messages
// itself (a script's event handler waiting, a modal dialog) finds the
// window declining to deliver until it has returned. run_until() is the one
// way to deliver from inside a handler, as on Linux.

#include "platform/event_loop.hpp"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/asio.hpp"
#include "platform/windows/message_loop.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

namespace {

constexpr UINT wake_message = WM_APP + 1;
constexpr UINT_PTR poll_timer = 1;
// How often completions of sockets and timers are looked for while the
// thread pumps messages and nothing posted a wake: the shortest period a
// window timer has.
constexpr UINT poll_period_ms = USER_TIMER_MINIMUM;
// Handlers run per message: enough to keep a transfer moving, few enough
// that the host's own messages (painting, input, COM calls) are not held
// up behind a busy loop.
constexpr int handlers_per_message = 64;
// How long run_until() waits for a completion before it looks at the
// thread's messages again.
constexpr auto message_check_period = std::chrono::milliseconds(5);

constexpr const wchar_t* window_class_name = L"VintrelEventLoop";

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The window class is registered while any loop exists and removed with the
// last one: a DLL unloaded and loaded again must not find its old class
// pointing into code that is gone.
std::mutex class_mutex;
int class_users = 0;

HINSTANCE own_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&window_procedure), &module);
  return module;
}

void use_window_class() {
  const std::lock_guard<std::mutex> lock(class_mutex);
  if (class_users++ > 0) return;
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  info.lpfnWndProc = window_procedure;
  info.hInstance = own_module();
  info.lpszClassName = window_class_name;
  if (RegisterClassExW(&info) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    --class_users;
    throw std::runtime_error("the event loop's window class cannot be registered");
  }
}

void release_window_class() {
  const std::lock_guard<std::mutex> lock(class_mutex);
  if (--class_users > 0) return;
  UnregisterClassW(window_class_name, own_module());
}

}  // namespace

struct EventLoop::Impl {
  // One thread runs the context's handlers: the loop's own.
  asio::io_context io{1};
  // Keeps the context usable while nothing is pending: the control waits for
  // script calls and ticks, not for a last operation to finish.
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
  // stop() and post() may come from another thread.
  std::atomic<bool> stopped{false};
  std::atomic<bool> wake_pending{false};
  HWND window = nullptr;
  DWORD thread = GetCurrentThreadId();
  // Above 0 while handlers of this loop run: the window delivers nothing.
  int delivering = 0;

  void request_wake() {
    if (wake_pending.exchange(true)) return;
    // A full message queue drops the wake; the timer still comes.
    if (!PostMessageW(window, wake_message, 0, 0)) wake_pending = false;
  }

  // Runs the handlers that are ready, from a message of the window.
  void deliver() {
    if (stopped || delivering > 0) return;
    int ran = 0;
    {
      const windows::DeliveryScope scope(delivering);
      while (ran < handlers_per_message && !stopped && run_one_ready()) ++ran;
    }
    // More may be ready (or become ready as the handlers' I/O completes):
    // come back after the messages already queued. Posted messages go
    // before input and painting, so while a window of the thread has those
    // waiting, the timer (which comes after them) brings the loop back
    // instead: a fast transfer must not freeze the page it runs in.
    if (ran > 0 && HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) == 0) request_wake();
  }

  // One ready handler, if any. A handler that throws must not unwind into
  // the host's message loop (it would end the process there); what it
  // failed at is lost, as with an exception thrown into a window procedure.
  bool run_one_ready() {
    try {
      return io.poll_one() > 0;
    } catch (...) {
      return true;
    }
  }
};

namespace {

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* impl = reinterpret_cast<EventLoop::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (impl != nullptr && (message == wake_message || (message == WM_TIMER && wparam == poll_timer))) {
    if (message == wake_message) impl->wake_pending = false;
    impl->deliver();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {
  use_window_class();
  impl_->window =
      CreateWindowExW(0, window_class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, own_module(), impl_.get());
  if (impl_->window == nullptr) {
    release_window_class();
    throw std::runtime_error("the event loop's window cannot be made");
  }
  SetTimer(impl_->window, poll_timer, poll_period_ms, nullptr);
}

EventLoop::~EventLoop() {
  // Messages still queued for the window find no loop behind it.
  SetWindowLongPtrW(impl_->window, GWLP_USERDATA, 0);
  KillTimer(impl_->window, poll_timer);
  DestroyWindow(impl_->window);
  release_window_class();
}

void EventLoop::run() {
  run_until([] { return false; });
}

bool EventLoop::run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using clock = std::chrono::steady_clock;
  // A timeout too long to add to now means "no timeout".
  const bool bounded =
      timeout < std::chrono::duration_cast<std::chrono::milliseconds>(clock::time_point::max() - clock::now()) / 2;
  const clock::time_point deadline = bounded ? clock::now() + timeout : clock::time_point::max();
  Impl& impl = *impl_;
  const windows::DeliveryScope scope(impl.delivering);
  // One handler at a time, and `done` asked after each; between them the
  // thread's messages are dispatched (COM calls, painting), while the
  // window itself delivers nothing: this loop does.
  while (!done()) {
    if (impl.stopped || impl.io.stopped()) return false;
    if (bounded && clock::now() >= deadline) return false;
    if (impl.run_one_ready()) continue;
    if (!windows::dispatch_waiting_messages()) return false;  // WM_QUIT: the host is ending
    auto wait = message_check_period;
    if (bounded) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
      if (left < wait) wait = left < std::chrono::milliseconds(0) ? std::chrono::milliseconds(0) : left;
    }
    try {
      impl.io.run_one_for(wait);
    } catch (...) {
      // As in Impl::run_one_ready.
    }
  }
  return true;
}

void EventLoop::stop() {
  impl_->stopped = true;
  impl_->io.stop();
}

bool EventLoop::stopped() const { return impl_->stopped; }

void EventLoop::post(std::function<void()> fn) {
  asio::post(impl_->io, std::move(fn));
  impl_->request_wake();
}

asio::io_context& asio_context(EventLoop& loop) { return loop.impl().io; }

namespace windows {

bool dispatch_waiting_messages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

void deliver_during(EventLoop& loop, const std::function<void()>& modal) {
  int& delivering = loop.impl().delivering;
  const int saved = delivering;
  delivering = 0;
  struct Restore {
    int& depth;
    int value;
    ~Restore() { depth = value; }
  } restore{delivering, saved};
  modal();
}

}  // namespace windows

}  // namespace vintrel::platform
