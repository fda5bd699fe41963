// libvintrel_tls.so: secure sessions on OpenSSL, over a descriptor that the
// socket layer connects, makes non-blocking and waits on.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/tls_module.hpp"

namespace vintrel::platform::tls {

namespace {

using Kind = Outcome::Kind;

// OpenSSL's own words for the last error ("wrong version number"), without
// the library and function decoration.
std::string last_reason() {
  const unsigned long code = ERR_peek_last_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  return reason != nullptr ? reason : "unknown error";
}

// True when OpenSSL 3 reports a peer that closed without close_notify.
bool unexpected_eof() {
  const unsigned long code = ERR_peek_last_error();
  return ERR_GET_LIB(code) == ERR_LIB_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

// True when one of `dirs` (a ':'-separated list) holds an entry named as
// OpenSSL's hashed lookup names them ("1a2b3c4d.0").
bool holds_hashed_names(const std::string& dirs) {
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const auto end = std::min(dirs.find(':', start), dirs.size());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dirs.substr(start, end - start), ec)) {
      const std::string name = entry.path().filename().string();
      if (name.size() == 10 && name[8] == '.' && name[9] == '0') return true;
    }
    start = end + 1;
  }
  return false;
}

// OpenSSL's default paths, read the cheap way: the hashed folder is looked up
// one issuer at a time, while the bundle file would be parsed whole (a few
// MiB for a download that needs one authority). The bundle is read when
// SSL_CERT_FILE names one, or when the folder holds no hashed store.
void add_system_store(SSL_CTX* context) {
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  const char* dir_env = std::getenv(X509_get_default_cert_dir_env());
  const char* file_env = std::getenv(X509_get_default_cert_file_env());
  const std::string dir = dir_env != nullptr ? dir_env : X509_get_default_cert_dir();
  bool hashed = false;
  if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir())) {
    hashed = X509_LOOKUP_add_dir(lookup, dir.c_str(), X509_FILETYPE_PEM) == 1 && holds_hashed_names(dir);
  }
  const std::string file = file_env != nullptr ? file_env : X509_get_default_cert_file();
  if (file_env != nullptr || !hashed) {
    // A machine without a system store still works with a CA file alone.
    if (X509_STORE_load_file(store, file.c_str()) != 1) ERR_clear_error();
  }
}

struct SessionFree {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SessionRef = std::unique_ptr<SSL_SESSION, SessionFree>;

// The sessions servers handed out (TLS 1.2 session ids or tickets, TLS 1.3
// tickets), by server, a server being a name (or address) and a port: a
// session is offered only to the name it was verified for. A TLS 1.2
// session serves any number of connections, so a server keeps its newest
// one. A TLS 1.3 ticket is used once, as the protocol asks of clients:
// OpenSSL stops resuming one as soon as a connection using it is handed a
// new ticket, and a server that takes early data refuses it a second time
// (its guard against replays). So a server keeps up to `per_server` of
// them, one for each connection a queue may open to it at once, and each
// is taken when offered, but the last of a server that takes no early
// data; every handshake brings new ones. Each session
// holds the server's certificates, so there are at most `limit` in all,
// those of the server used longest ago going first. One thread only, as
// the context.
class SessionCache {
 public:
  static constexpr std::size_t limit = 100;
  static constexpr std::size_t per_server = 6;

  // What to offer `host`:`port`, or null; the server becomes the most
  // recent. A single-use session leaves the cache.
  SessionRef find(const std::string& host, std::uint16_t port) {
    const auto first = static_cast<std::ptrdiff_t>(touch(host, port) - entries_.begin());
    // OpenSSL marks a session not to be resumed when a connection using it
    // failed in TLS itself (a fatal alert either way).
    entries_.erase(
        std::remove_if(entries_.begin() + first, entries_.end(),
                       [](const Entry& entry) { return SSL_SESSION_is_resumable(entry.session.get()) == 0; }),
        entries_.end());
    if (static_cast<std::size_t>(first) == entries_.size()) return nullptr;
    Entry& newest = entries_.back();
    // The last ticket is offered again rather than nothing: most servers
    // take it twice, and one that does not makes the full handshake that
    // offering nothing would have made anyway. Not one that allows early
    // data: two connections sending early data under one session fail.
    // Each connection gets a copy: OpenSSL marks the session a connection
    // resumed not to be resumed again once that connection is under way,
    // which would leave the next connection nothing to offer until the
    // server's new tickets came.
    const bool last = static_cast<std::size_t>(first) + 1 == entries_.size() &&
                      SSL_SESSION_get_max_early_data(newest.session.get()) == 0;
    if (!single_use(newest.session.get())) {
      SSL_SESSION_up_ref(newest.session.get());
      return SessionRef(newest.session.get());
    }
    if (last) return SessionRef(SSL_SESSION_dup(newest.session.get()));
    SessionRef taken = std::move(newest.session);
    entries_.pop_back();
    return taken;
  }

  // Keeps `session` for `host`:`port`: beside its other single-use ones,
  // else in place of what the server had.
  void keep(const std::string& host, std::uint16_t port, SessionRef session) {
    const auto first = touch(host, port);
    if (!single_use(session.get())) {
      entries_.erase(first, entries_.end());
    } else if (static_cast<std::size_t>(entries_.end() - first) >= per_server) {
      entries_.erase(first);
    }
    entries_.push_back({host, port, std::move(session)});
    if (entries_.size() > limit) entries_.erase(entries_.begin(), entries_.end() - limit);
  }

 private:
  struct Entry {
    std::string host;
    std::uint16_t port;
    SessionRef session;
  };

  static bool single_use(const SSL_SESSION* session) {
    return SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION;
  }

  // Moves the sessions of `host`:`port` to the recent end, oldest first,
  // and returns where they begin.
  std::vector<Entry>::iterator touch(const std::string& host, std::uint16_t port) {
    return std::stable_partition(entries_.begin(), entries_.end(),
                                 [&](const Entry& entry) { return entry.port != port || entry.host != host; });
  }

  std::vector<Entry> entries_;  // least recently used first
};

class OpenSslSession final : public Session {
 public:
  OpenSslSession(SSL* ssl, SessionCache& cache, std::string host, std::uint16_t port, bool verify)
      : ssl_(ssl), cache_(cache), host_(std::move(host)), port_(port), verify_(verify) {
    SSL_set_app_data(ssl_, this);
  }
  ~OpenSslSession() override {
    // OpenSSL takes a connection freed without close_notify for a broken
    // one and marks its session never to be resumed. Ours end on purpose
    // (the body is in, the element was closed), and one that failed in TLS
    // itself had its session marked when the alert went; so an established
    // connection counts as shut down properly.
    if (established_) SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(ssl_);
  }

  OpenSslSession(const OpenSslSession&) = delete;
  OpenSslSession& operator=(const OpenSslSession&) = delete;

  Outcome handshake() override {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(ssl_);
    const int saved_errno = errno;
    if (result == 1) {
      established();
      return {};
    }
    return handshake_stopped(result, saved_errno);
  }

  std::size_t early_data_limit() const override { return early_limit_; }

  Outcome write_early(const std::uint8_t* from, std::size_t size) override {
    ERR_clear_error();
    errno = 0;
    std::size_t count = 0;
    const int result = SSL_write_early_data(ssl_, from, size, &count);
    const int saved_errno = errno;
    if (result == 1) return step(Kind::done, count);
    return handshake_stopped(result, saved_errno);
  }

  bool early_data_rejected() const override { return SSL_get_early_data_status(ssl_) == SSL_EARLY_DATA_REJECTED; }
  std::string summary() const override {
    if (!established_) return {};
    std::string text = SSL_get_version(ssl_);
    if (SSL_session_reused(ssl_)) text += ", resumed";
    switch (SSL_get_early_data_status(ssl_)) {
      case SSL_EARLY_DATA_ACCEPTED:
        return text + ", early data";
      case SSL_EARLY_DATA_REJECTED:
        return text + ", early data refused";
      default:
        return text;
    }
  }

  // Kept sessions that let the server take early data, and how much.
  void offer_early_data(std::size_t limit) { early_limit_ = limit; }

  Outcome read(std::uint8_t* into, std::size_t size) override {
    ERR_clear_error();
    errno = 0;
    std::size_t count = 0;
    const int result = SSL_read_ex(ssl_, into, size, &count);
    const int saved_errno = errno;
    if (result == 1) return step(Kind::done, count);
    return stopped(SSL_get_error(ssl_, result), saved_errno);
  }

  Outcome write(const std::uint8_t* from, std::size_t size) override {
    ERR_clear_error();
    errno = 0;
    std::size_t count = 0;
    const int result = SSL_write_ex(ssl_, from, size, &count);
    const int saved_errno = errno;
    if (result == 1) return step(Kind::done, count);
    return stopped(SSL_get_error(ssl_, result), saved_errno);
  }

  // OpenSSL's word that the server handed out a session: a TLS 1.2 one at
  // the end of the handshake, TLS 1.3 tickets after it, with the first
  // reads. Only a connection whose handshake is complete, the certificate
  // checked, may have it kept; one that comes earlier waits for that.
  static int on_new_session(SSL* ssl, SSL_SESSION* handed) {
    auto* self = static_cast<OpenSslSession*>(SSL_get_app_data(ssl));
    if (self == nullptr) return 0;
    SessionRef session(handed);
    if (self->established_) {
      self->cache_.keep(self->host_, self->port_, std::move(session));
    } else {
      self->pending_ = std::move(session);
    }
    return 1;  // the reference is ours
  }

 private:
  void established() {
    established_ = true;
    // With verification on, a complete handshake has passed it; asked
    // again so that no unchecked session is ever kept under a name.
    if (pending_ && (!verify_ || SSL_get_verify_result(ssl_) == X509_V_OK)) {
      cache_.keep(host_, port_, std::move(pending_));
    }
    pending_.reset();
  }

  // Why a handshake step (or early data, which starts the handshake) did
  // not go through.
  Outcome handshake_stopped(int result, int saved_errno) const {
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ) return step(Kind::want_read);
    if (error == SSL_ERROR_WANT_WRITE) return step(Kind::want_write);

    const long verdict = verify_ ? SSL_get_verify_result(ssl_) : X509_V_OK;
    if (verdict != X509_V_OK) {
      const std::string reason = X509_verify_cert_error_string(verdict);
      switch (verdict) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
          return failed(tls_err::name_invalid, "Certificate name mismatch: the certificate is not valid for " + host_);
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
          return failed(tls_err::date_invalid, "Certificate verify failed: " + reason + " (" + host_ + ")");
        default:
          return failed(tls_err::untrusted, "Certificate verify failed: " + reason + " (" + host_ + ")");
      }
    }
    // A connection that breaks mid-handshake is the network's doing and may
    // go through on another try; anything else the server will say again.
    if (error == SSL_ERROR_SYSCALL && saved_errno != 0) {
      Outcome out = failed(0);
      out.system_error = saved_errno;
      return out;
    }
    if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN || unexpected_eof()) {
      return failed(sck_err::aborted);
    }
    return failed(tls_err::channel_error, "TLS handshake failed: " + last_reason() + " (" + host_ + ")");
  }

  // Why a read or write did not go through. Whether a peer's end completes
  // a body is the engine's call: here an end with close_notify and one
  // without are the same orderly end.
  Outcome stopped(int error, int saved_errno) const {
    switch (error) {
      case SSL_ERROR_WANT_READ:
        return step(Kind::want_read);
      case SSL_ERROR_WANT_WRITE:
        return step(Kind::want_write);
      case SSL_ERROR_ZERO_RETURN:
        return step(Kind::end);
      case SSL_ERROR_SYSCALL:
        if (saved_errno == 0) return step(Kind::end);
        {
          Outcome out = failed(0);
          out.system_error = saved_errno;
          return out;
        }
      default:
        return unexpected_eof() ? step(Kind::end) : failed(sck_err::aborted);
    }
  }

  SSL* ssl_;
  SessionCache& cache_;
  std::string host_;
  std::uint16_t port_;
  bool verify_;
  bool established_ = false;
  std::size_t early_limit_ = 0;
  SessionRef pending_;  // handed out before the handshake was over
};

class OpenSslContext final : public Context {
 public:
  OpenSslContext(SSL_CTX* context, bool verify) : context_(context), verify_(verify) {}
  ~OpenSslContext() override {
    // The kept sessions go before the context that made them.
    cache_ = {};
    SSL_CTX_free(context_);
  }

  OpenSslContext(const OpenSslContext&) = delete;
  OpenSslContext& operator=(const OpenSslContext&) = delete;

  std::unique_ptr<Session> open(NativeSocket fd, const std::string& host, std::uint16_t port) override {
    SSL* ssl = SSL_new(context_);
    if (ssl == nullptr) return nullptr;
    auto session = std::make_unique<OpenSslSession>(ssl, cache_, host, port, verify_);
    if (SSL_set_fd(ssl, fd) != 1) return nullptr;
    SSL_set_connect_state(ssl);
    // A server that no longer knows the session (restarted, new ticket
    // keys, its cache flushed) answers with a full handshake.
    if (const SessionRef kept = cache_.find(host, port)) {
      if (SSL_set_session(ssl, kept.get()) == 1) {
        session->offer_early_data(SSL_SESSION_get_max_early_data(kept.get()));
      } else {
        ERR_clear_error();
      }
    }
    // The name check goes through OpenSSL's verification, so a mismatch
    // shows in SSL_get_verify_result like any other verify failure. IP
    // literals are checked as addresses and never sent as SNI.
    ASN1_OCTET_STRING* literal = a2i_IPADDRESS(host.c_str());
    if (literal == nullptr) {
      ERR_clear_error();
      SSL_set_tlsext_host_name(ssl, host.c_str());
      SSL_set1_host(ssl, host.c_str());
    } else {
      ASN1_OCTET_STRING_free(literal);
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    }
    return session;
  }

 private:
  SSL_CTX* context_;
  bool verify_;
  SessionCache cache_;
};

}  // namespace

extern "C" Context* vintrel_tls_make_context(const TlsOptions& options, std::string& error) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    error = "Cannot start TLS: " + last_reason();
    return nullptr;
  }
  auto made = std::make_unique<OpenSslContext>(context, options.verify);
  SSL_CTX_set_options(context, SSL_OP_ALL);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  // A fast transfer takes many records per read call; the caller may hand
  // a write over again from another place.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Sessions are kept by the context's own cache, by server; OpenSSL's
  // store keys them by session id, which a client cannot look up by.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, &OpenSslSession::on_new_session);
  add_system_store(context);
  if (!options.ca_file.empty() && SSL_CTX_load_verify_locations(context, options.ca_file.c_str(), nullptr) != 1) {
    error = "Cannot load trusted certificates from " + options.ca_file + ": " + last_reason();
    ERR_clear_error();
    return nullptr;
  }
  SSL_CTX_set_verify(context, options.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  return made.release();
}

}  // namespace vintrel::platform::tls
