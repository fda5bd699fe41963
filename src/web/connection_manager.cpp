#include "web/connection_manager.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "host/values.hpp"

namespace vintrel::web {

ConnectionManager::ConnectionManager(std::size_t max_per_origin, Log log)
    : max_per_origin_(max_per_origin), log_(std::move(log)) {}

ConnectionManager::Admission ConnectionManager::admit(const std::string& session, const std::string& origin) {
  const auto kept = sessions_.find(session);
  // Another origin's identifier, even a right one, takes nothing back.
  if (kept != sessions_.end() && kept->second.origin == origin) return {true, true};
  return {false, make_room(origin)};
}

bool ConnectionManager::make_room(const std::string& origin) {
  std::size_t counted = 0;
  std::shared_ptr<PageConnection> oldest_idle;
  // The map is ordered by id, so the first idle one found is the oldest.
  for (const auto& [id, weak] : connections_) {
    const auto connection = weak.lock();
    if (!connection || !connection->counted() || connection->peer().origin != origin) continue;
    ++counted;
    if (!oldest_idle && connection->idle()) oldest_idle = connection;
  }
  // Controls whose page left count too; one with a queue at work is busy,
  // and an idle one goes before any page that is still there.
  const Kept* oldest_left = nullptr;
  std::string oldest_left_id;
  for (const auto& [session, kept] : sessions_) {
    if (kept.origin != origin || !kept.page.expired()) continue;
    ++counted;
    if (kept.channel->idle() && (!oldest_left || kept.order < oldest_left->order)) {
      oldest_left = &kept;
      oldest_left_id = session;
    }
  }
  if (counted < max_per_origin_) return true;
  if (oldest_left) {
    drop(oldest_left_id, "given up for a newer connection");
    return true;
  }
  if (!oldest_idle) return false;
  oldest_idle->give_up();
  return true;
}

void ConnectionManager::add(const std::shared_ptr<PageConnection>& connection) {
  connections_.emplace(connection->id(), connection);
}

void ConnectionManager::remove(std::uint64_t id) { connections_.erase(id); }

std::shared_ptr<Channel> ConnectionManager::resume(const std::shared_ptr<PageConnection>& page) {
  const Peer& peer = page->peer();
  const auto kept = sessions_.find(peer.session);
  if (kept == sessions_.end() || kept->second.origin != peer.origin || kept->second.channel->finished()) return {};
  const auto previous = kept->second.page.lock();
  if (log_)
    log_("connection " + std::to_string(page->id()) + " from " + peer.address + " (origin " + peer.origin +
         ") took its control back" + (previous ? " from connection " + std::to_string(previous->id()) : ""));
  if (previous) previous->surrender();
  kept->second.page = page;
  kept->second.idle_since.reset();
  return kept->second.channel;
}

void ConnectionManager::keep(std::shared_ptr<Channel> channel, const std::shared_ptr<PageConnection>& page) {
  const Peer& peer = page->peer();
  sessions_[peer.session] = Kept{std::move(channel), peer.origin, page, page->id(), std::nullopt};
}

bool ConnectionManager::detach(const std::string& session) {
  const auto kept = sessions_.find(session);
  if (kept == sessions_.end()) return false;
  kept->second.page.reset();
  return true;
}

void ConnectionManager::drop(const std::string& session, const std::string& why) {
  const auto kept = sessions_.find(session);
  if (kept == sessions_.end()) return;
  // Off the list first: what peer_gone() sets off may look for it.
  const std::shared_ptr<Channel> channel = std::move(kept->second.channel);
  const bool detached = kept->second.page.expired();
  sessions_.erase(kept);
  if (detached && log_) log_("a control whose page left was dropped: " + why);
  channel->peer_gone();
}

void ConnectionManager::sweep(std::chrono::steady_clock::time_point now, std::chrono::milliseconds grace) {
  std::vector<std::string> expired;
  for (auto& [session, kept] : sessions_) {
    if (!kept.page.expired()) continue;
    if (!kept.channel->idle()) {
      kept.idle_since.reset();
      continue;
    }
    if (!kept.idle_since) kept.idle_since = now;
    if (now - *kept.idle_since >= grace) expired.push_back(session);
  }
  for (const auto& session : expired) drop(session, "nobody came back for it");
}

void ConnectionManager::close_all() {
  // Copies: shutting a connection may take it off the list.
  std::vector<std::shared_ptr<PageConnection>> open;
  for (const auto& [id, weak] : connections_)
    if (auto connection = weak.lock()) open.push_back(std::move(connection));
  connections_.clear();
  for (const auto& connection : open) connection->shut();
  std::vector<std::string> kept;
  kept.reserve(sessions_.size());
  for (const auto& [session, channel] : sessions_) kept.push_back(session);
  for (const auto& session : kept) drop(session, "the server stops");
}

std::string ConnectionManager::list_sessions(const std::string& origin, const std::string& except) const {
  std::vector<const Kept*> kept_for_origin;
  for (const auto& [session, kept] : sessions_)
    if (kept.origin == origin && session != except && !kept.channel->finished()) kept_for_origin.push_back(&kept);
  std::sort(kept_for_origin.begin(), kept_for_origin.end(),
            [](const Kept* a, const Kept* b) { return a->order < b->order; });
  host::Json list = host::Json::array();
  for (const Kept* kept : kept_for_origin) {
    host::Json entry = host::Json::parse(kept->channel->summary(), nullptr, false);
    if (!entry.is_object()) continue;
    entry["attached"] = !kept->page.expired();
    list.push_back(std::move(entry));
  }
  return list.dump();
}

}  // namespace vintrel::web
