#include "platform/hasher.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/file_handle.hpp"
#include "platform/file_system.hpp"

namespace vintrel::platform {

namespace {

// A digest computed on a thread of its own: the caller's bytes are copied
// into blocks and handed over, so hashing a fast download overlaps its
// network reads and disk writes instead of adding to them. The engine stays
// single-threaded: nothing here calls back, and finish() waits.
class BackgroundHasher final : public Hasher {
 public:
  explicit BackgroundHasher(std::unique_ptr<Hasher> inner) : inner_(std::move(inner)) {}

  ~BackgroundHasher() override {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  BackgroundHasher(const BackgroundHasher&) = delete;
  BackgroundHasher& operator=(const BackgroundHasher&) = delete;

  void update(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      if (filling_.capacity() < block_size) filling_.reserve(block_size);
      const std::size_t take = std::min(bytes.size(), block_size - filling_.size());
      filling_.insert(filling_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
      bytes = bytes.subspan(take);
      if (filling_.size() == block_size) hand_over();
    }
  }

  std::vector<std::uint8_t> finish() override {
    if (!worker_.joinable()) {
      // Never a whole block (a small file): not worth a thread.
      inner_->update(filling_);
      filling_.clear();
      return inner_->finish();
    }
    if (!filling_.empty()) hand_over();
    {
      std::unique_lock lock(mutex_);
      closing_ = true;
      changed_.notify_all();
    }
    worker_.join();
    return inner_->finish();
  }

 private:
  // A few blocks in flight keep the thread busy without holding much.
  static constexpr std::size_t block_size = std::size_t{256} * 1024;
  static constexpr std::size_t most_queued = 3;

  void hand_over() {
    if (!worker_.joinable() && !start()) {
      inner_->update(filling_);
      filling_.clear();
      return;
    }
    std::vector<std::uint8_t> next;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return queued_.size() < most_queued; });
      queued_.push_back(std::move(filling_));
      if (!spare_.empty()) {
        next = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    changed_.notify_all();
    next.clear();
    filling_ = std::move(next);
  }

  bool start() {
    try {
      worker_ = std::thread([this] { run(); });
      return true;
    } catch (const std::system_error&) {
      // No thread to be had: digest here instead.
      return false;
    }
  }

  void run() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return closing_ || !queued_.empty(); });
      if (queued_.empty()) return;
      std::vector<std::uint8_t> block = std::move(queued_.front());
      queued_.pop_front();
      lock.unlock();
      inner_->update(block);
      lock.lock();
      spare_.push_back(std::move(block));
      changed_.notify_all();
    }
  }

  std::unique_ptr<Hasher> inner_;
  std::vector<std::uint8_t> filling_;  // the caller's side only
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> queued_;
  std::vector<std::vector<std::uint8_t>> spare_;
  bool closing_ = false;
  std::thread worker_;
};

}  // namespace

std::unique_ptr<Hasher> make_hasher(HashAlgorithm algorithm, std::string& why) {
  auto inner = make_library_hasher(algorithm, why);
  if (!inner) return nullptr;
  return std::make_unique<BackgroundHasher>(std::move(inner));
}

int hash_file_part(Hasher& hasher, const std::string& path, std::int64_t length) {
  // Opening would make a missing file.
  if (!file_exists(path)) return ENOENT;
  int error = 0;
  const file_handle::Handle file = file_handle::open(path, error);
  if (file == file_handle::none) return error;
  // Read in pieces: a part may be gigabytes, and memory stays small.
  std::vector<std::uint8_t> buffer(std::size_t{256} * 1024);
  std::int64_t left = length;
  while (left > 0 && error == 0) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
    const std::int64_t got = file_handle::read(file, buffer.data(), want, error);
    if (got < 0) break;
    if (got == 0) error = EIO;
    hasher.update(std::span(buffer).first(static_cast<std::size_t>(got)));
    left -= got;
  }
  const int closed = file_handle::close(file);
  return error != 0 ? error : closed;
}

}  // namespace vintrel::platform
