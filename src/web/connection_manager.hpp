#pragma once
// The server's two lists, kept in one place with the rules that read them:
// the open WebSocket connections and the channels (controls) kept for pages
// that may come back. Whether an origin has room for one more control, who
// may take a kept control back and what a page may learn of the others are
// all decided here, over these lists alone; nothing else writes them.
// It knows connections only through PageConnection, so that it is tested
// without sockets.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "web/server.hpp"

namespace vintrel::web {

/// What the manager asks of one WebSocket connection.
class PageConnection {
 public:
  virtual ~PageConnection() = default;
  /// Its number, in order of arrival: the lower, the older.
  virtual std::uint64_t id() const = 0;
  /// The page at the far end.
  virtual const Peer& peer() const = 0;
  /// Counts toward its origin's cap: neither refused nor ended.
  virtual bool counted() const = 0;
  /// Nothing under way: giving it up loses nothing.
  virtual bool idle() const = 0;
  /// Closes to make room for a newer connection, and ends its control.
  virtual void give_up() = 0;
  /// Another page of the origin took its control: it closes, the control
  /// goes on.
  virtual void surrender() = 0;
  /// Ends now, with its control; the server goes.
  virtual void shut() = 0;
};

/// The open connections and the kept channels of one server.
class ConnectionManager {
 public:
  /// One line of the server's log.
  using Log = std::function<void(const std::string& line)>;

  /// At most `max_per_origin` controls of one origin at once.
  ConnectionManager(std::size_t max_per_origin, Log log);

  /// How a WebSocket handshake past the gate is to be taken.
  struct Admission {
    bool resuming = false;  ///< The page comes back for a control of its origin.
    bool room = false;      ///< It may have a control (room was made if need be).
  };
  /// Decides on a handshake from `origin` naming `session` (maybe empty):
  /// a page coming back for its control takes no more room than it had;
  /// any other makes room first (see make_room).
  Admission admit(const std::string& session, const std::string& origin);
  /// True when `origin` may have one more control, after dropping the
  /// oldest idle control whose page left, else giving up the oldest idle
  /// connection, when the origin is at its cap.
  bool make_room(const std::string& origin);

  /// The number the next connection gets.
  std::uint64_t next_id() { return next_id_++; }
  /// Lists an open connection (held weakly: its own operations keep it).
  void add(const std::shared_ptr<PageConnection>& connection);
  /// Takes a connection off the list; nothing when it is not there.
  void remove(std::uint64_t id);

  /// The channel `page` came back for, now attached to it, after the page
  /// that had it surrendered it; nothing when its session is not kept for
  /// its origin or has finished.
  std::shared_ptr<Channel> resume(const std::shared_ptr<PageConnection>& page);
  /// Keeps `page`'s new channel under its session.
  void keep(std::shared_ptr<Channel> channel, const std::shared_ptr<PageConnection>& page);
  /// The page of `session` left: its channel waits for a page to come back.
  /// False when the session is not kept.
  bool detach(const std::string& session);
  /// Ends a kept channel for good (the channel learns of it last, once it
  /// is off the list).
  void drop(const std::string& session, const std::string& why);
  /// Drops the channels no page came back to within `grace` of having
  /// nothing under way, as of `now`.
  void sweep(std::chrono::steady_clock::time_point now, std::chrono::milliseconds grace);
  /// Shuts every connection, then drops every channel.
  void close_all();

  /// The summaries of the channels kept for `origin` but `except`'s, oldest
  /// first, as a JSON array (see Outlet::sessions).
  std::string list_sessions(const std::string& origin, const std::string& except) const;

  /// Open connections.
  std::size_t connections() const { return connections_.size(); }
  /// Channels kept, with or without a page.
  std::size_t sessions() const { return sessions_.size(); }

 private:
  // A channel with the page attached to it, if any.
  struct Kept {
    std::shared_ptr<Channel> channel;
    std::string origin;
    std::weak_ptr<PageConnection> page;
    std::uint64_t order = 0;  // which was opened first, for making room
    std::optional<std::chrono::steady_clock::time_point> idle_since;
  };

  std::size_t max_per_origin_;
  Log log_;
  std::uint64_t next_id_ = 1;
  // By id, so oldest first.
  std::map<std::uint64_t, std::weak_ptr<PageConnection>> connections_;
  // By session identifier.
  std::map<std::string, Kept> sessions_;
};

}  // namespace vintrel::web
