// Secure connections on Windows: the system's Schannel through SSPI, over
// the connected socket the caller made non-blocking, behind the session
// interface the OpenSSL module implements on Linux. Every Windows has it, so
// the platform always offers TLS and nothing is loaded on demand.
//
// Schannel is told not to judge the server itself: once the handshake is
// over, the chain is built against the system's certificate store and held
// to the SSL policy, as every Windows program's is, and an IP literal is
// matched against the certificate's addresses. Failures carry the numbers
// and wording of the Linux build. Schannel keeps the sessions servers hand
// out with the credentials, by server name, and offers them again itself.

#define SECURITY_WIN32
// SCH_CREDENTIALS, which TLS 1.3 needs, is declared only on request.
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <subauth.h>

#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/tls_module.hpp"
#include "platform/windows/wide_text.hpp"

namespace vintrel::platform::tls {

namespace {

using Kind = Outcome::Kind;

// Read from the socket at a time: many records per call on a fast
// transfer, as OpenSSL's read-ahead gives on Linux.
constexpr std::size_t receive_chunk = std::size_t{64} * 1024;

// The policy's flag that leaves the name to us (winhttp.h's value, which
// the SSL policy shares).
constexpr DWORD ignore_name = 0x00001000;

constexpr ULONG context_requests = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                   ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS;

// The network broke under the session: an ordinary socket error, retried.
Outcome broken(int winsock_error) {
  Outcome out = failed(0);
  out.system_error = winsock_error;
  return out;
}

std::string hex(long status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// The system's words for an SSPI status, on one line, with its number.
std::string status_text(long status) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string said = length > 0 && text != nullptr ? windows::to_utf8({text, length}) : std::string();
  LocalFree(text);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ' || said.back() == '.')) {
    said.pop_back();
  }
  return said.empty() ? "error " + hex(status) : said + ", error " + hex(status);
}

// Why the SSL policy refused the chain, in the words the Linux build uses
// where there are some.
std::string verdict_text(DWORD error) {
  switch (static_cast<long>(error)) {
    case CERT_E_EXPIRED:
      return "certificate has expired or is not yet valid";
    case CERT_E_UNTRUSTEDROOT:
      return "certificate chain ends in an untrusted root";
    case CERT_E_CHAINING:
      return "unable to get local issuer certificate";
    case CERT_E_WRONG_USAGE:
      return "certificate is not for a server";
    case CERT_E_REVOKED:
      return "certificate revoked";
    case TRUST_E_CERT_SIGNATURE:
      return "certificate signature failure";
    default:
      return status_text(static_cast<long>(error));
  }
}

// The bytes of an IP literal, or nothing for a name.
std::optional<std::vector<std::uint8_t>> address_of(const std::string& host) {
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return std::vector<std::uint8_t>(v6.s6_addr, v6.s6_addr + 16);
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v4);
    return std::vector<std::uint8_t>(bytes, bytes + 4);
  }
  return std::nullopt;
}

// True when the certificate's subject alternative names hold `address`:
// the SSL policy compares names as text, never as addresses.
bool names_address(PCCERT_CONTEXT cert, const std::vector<std::uint8_t>& address) {
  const PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  LocalFree(names);
  return found;
}

// The server's certificate judged as the system judges it: the chain built
// against the system's store (with the intermediates the server sent), the
// SSL policy over it, and the name or address. Nothing when it holds.
std::optional<Outcome> judge(CtxtHandle& context, const std::string& host) {
  PCCERT_CONTEXT cert = nullptr;
  if (QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, static_cast<void*>(&cert)) != SEC_E_OK ||
      cert == nullptr) {
    return failed(tls_err::untrusted, "Certificate verify failed: the server sent no certificate (" + host + ")");
  }
  const std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> held(cert,
                                                                                        &CertFreeCertificateContext);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {server_auth};
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain)) {
    return failed(tls_err::untrusted, "Certificate verify failed: no chain could be built, " +
                                          status_text(static_cast<long>(GetLastError())) + " (" + host + ")");
  }
  const std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&CertFreeCertificateChain)> held_chain(
      chain, &CertFreeCertificateChain);

  const std::optional<std::vector<std::uint8_t>> address = address_of(host);
  std::wstring name = windows::to_wide(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = address ? ignore_name : 0;
  ssl.pwszServerName = address ? nullptr : name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS verdict{};
  verdict.cbSize = sizeof verdict;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict)) {
    verdict.dwError = GetLastError();
  }
  const std::string mismatch = "Certificate name mismatch: the certificate is not valid for " + host;
  switch (static_cast<long>(verdict.dwError)) {
    case 0:
      break;
    case CERT_E_CN_NO_MATCH:
      return failed(tls_err::name_invalid, mismatch);
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
      return failed(tls_err::date_invalid,
                    "Certificate verify failed: " + verdict_text(verdict.dwError) + " (" + host + ")");
    default:
      return failed(tls_err::untrusted,
                    "Certificate verify failed: " + verdict_text(verdict.dwError) + " (" + host + ")");
  }
  if (address && !names_address(cert, *address)) return failed(tls_err::name_invalid, mismatch);
  return std::nullopt;
}

// Bytes on their way out, sent as far as the socket takes them.
struct Outgoing {
  std::vector<std::uint8_t> bytes;
  std::size_t sent = 0;
};

class SchannelSession final : public Session {
 public:
  SchannelSession(SOCKET socket, CredHandle& credentials, std::string host, bool verify)
      : socket_(socket), credentials_(credentials), host_(std::move(host)), verify_(verify) {
    // A literal is never sent as the server's name (SNI carries names
    // only), and sessions are kept under the name.
    if (!address_of(host_)) target_ = windows::to_wide(host_);
  }
  ~SchannelSession() override {
    // No close_notify: a closed element is closed now, as on Linux.
    if (have_context_) DeleteSecurityContext(&context_);
  }

  SchannelSession(const SchannelSession&) = delete;
  SchannelSession& operator=(const SchannelSession&) = delete;

  Outcome handshake() override {
    if (established_) return {};
    if (!started_) {
      started_ = true;
      const SECURITY_STATUS status = initialize(false);
      if (status != SEC_I_CONTINUE_NEEDED) return handshake_failure(status);
    }
    for (;;) {
      if (auto stopped = flush(out_)) return *stopped;
      if (agreed_) return finish();
      if (pending() > 0 && !need_more_) {
        if (!heard_ && !looks_like_tls()) {
          // A server that answers in another protocol (plain HTTP) would
          // leave Schannel waiting for the rest of a record that never
          // comes; OpenSSL says "wrong version number" at once.
          return failed(
              tls_err::channel_error,
              "TLS handshake failed: wrong version number, the server does not answer in TLS (" + host_ + ")");
        }
        heard_ = true;
        const SECURITY_STATUS status = initialize(true);
        if (status == SEC_E_OK) {
          agreed_ = true;
        } else if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
          return handshake_failure(status);
        }
        continue;
      }
      if (auto stopped = receive()) {
        // A server that hangs up mid-handshake is the network's doing, as
        // on Linux: tried again.
        return stopped->kind == Kind::end ? failed(sck_err::aborted) : *stopped;
      }
    }
  }

  Outcome read(std::uint8_t* into, std::size_t size) override {
    if (auto stopped = flush(reply_)) return *stopped;
    if (plain_begin_ < plain_.size()) return hand_over(into, size);
    for (;;) {
      if (pending() > 0 && !need_more_) {
        if (renegotiating_) {
          // What the server sent after the handshake (TLS 1.3 tickets, a
          // key update) goes through the context, not DecryptMessage.
          const SECURITY_STATUS status = initialize(true, &reply_);
          if (status == SEC_E_OK) {
            renegotiating_ = false;
          } else if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
            return failed(sck_err::aborted);
          }
          if (auto stopped = flush(reply_)) return *stopped;
          continue;
        }
        const std::optional<Outcome> got = decrypt(into, size);
        if (got) return *got;
        continue;
      }
      if (auto stopped = receive()) return *stopped;
    }
  }

  Outcome write(const std::uint8_t* from, std::size_t size) override {
    if (auto stopped = flush(reply_)) return *stopped;
    if (size == 0) return step(Kind::done, 0);
    if (out_.bytes.empty()) {
      // One record a call; a write that stopped at want_write is called
      // again with the same bytes and finishes sending this record.
      const std::size_t take = std::min<std::size_t>(size, sizes_.cbMaximumMessage);
      out_.bytes.resize(sizes_.cbHeader + take + sizes_.cbTrailer);
      std::uint8_t* record = out_.bytes.data();
      std::memcpy(record + sizes_.cbHeader, from, take);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
          {static_cast<ULONG>(take), SECBUFFER_DATA, record + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + take},
          {0, SECBUFFER_EMPTY, nullptr},
      };
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) {
        out_.bytes.clear();
        return failed(sck_err::aborted);
      }
      out_.bytes.resize(std::size_t{buffers[0].cbBuffer} + buffers[1].cbBuffer + buffers[2].cbBuffer);
      out_.sent = 0;
      encrypted_ = take;
    }
    if (auto stopped = flush(out_)) return *stopped;
    return step(Kind::done, encrypted_);
  }

 private:
  std::size_t pending() const { return end_ - begin_; }

  // True when what has arrived can start a TLS record: a record type from
  // 20 to 24 (the handshake's, alerts, application data and the rest),
  // then a major version of 3.
  bool looks_like_tls() const {
    const std::uint8_t type = in_[begin_];
    return type >= 20 && type <= 24 && (pending() < 2 || in_[begin_ + 1] == 3);
  }

  // One round of the handshake over what has arrived (none on the first),
  // its answer queued in `into` (the handshake's own queue by default).
  SECURITY_STATUS initialize(bool with_input, Outgoing* into = nullptr) {
    SecBuffer inputs[2] = {
        {static_cast<ULONG>(pending()), SECBUFFER_TOKEN, in_.data() + begin_},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc input{SECBUFFER_VERSION, 2, inputs};
    SecBuffer outputs[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc output{SECBUFFER_VERSION, 1, outputs};
    ULONG granted = 0;
    const SECURITY_STATUS status = InitializeSecurityContextW(
        &credentials_, have_context_ ? &context_ : nullptr, target_.empty() ? nullptr : target_.data(),
        context_requests, 0, 0, with_input ? &input : nullptr, 0, &context_, &output, &granted, nullptr);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) have_context_ = true;
    if (outputs[0].pvBuffer != nullptr) {
      const auto* token = static_cast<const std::uint8_t*>(outputs[0].pvBuffer);
      Outgoing& queue = into != nullptr ? *into : out_;
      queue.bytes.insert(queue.bytes.end(), token, token + outputs[0].cbBuffer);
      FreeContextBuffer(outputs[0].pvBuffer);
    }
    if (with_input) {
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        need_more_ = true;
      } else if (inputs[1].BufferType == SECBUFFER_EXTRA && inputs[1].cbBuffer > 0) {
        // Bytes past this message: the next message, or the first records
        // of the stream.
        begin_ = end_ - std::min<std::size_t>(inputs[1].cbBuffer, pending());
      } else {
        begin_ = end_;
      }
    }
    return status;
  }

  Outcome handshake_failure(SECURITY_STATUS status) {
    // The alert Schannel may have made for the server goes if it can.
    if (!out_.bytes.empty()) static_cast<void>(flush(out_));
    return failed(tls_err::channel_error, "TLS handshake failed: " + status_text(status) + " (" + host_ + ")");
  }

  // The handshake is over: the protocol agreed and the server are checked
  // before the connection counts as up.
  Outcome finish() {
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      return failed(tls_err::channel_error, "TLS handshake failed: no record sizes (" + host_ + ")");
    }
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK &&
        (info.dwProtocol & (SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1)) != 0) {
      // A system whose defaults still allow them; Linux refuses them too.
      return failed(tls_err::channel_error,
                    "TLS handshake failed: the server offers only TLS 1.1 or older (" + host_ + ")");
    }
    if (verify_) {
      if (auto refused = judge(context_, host_)) return *refused;
    }
    established_ = true;
    return {};
  }

  // Decrypts the next record; nothing when it held no bytes for the caller
  // (or more must arrive first).
  std::optional<Outcome> decrypt(std::uint8_t* into, std::size_t size) {
    SecBuffer buffers[4] = {
        {static_cast<ULONG>(pending()), SECBUFFER_DATA, in_.data() + begin_},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      need_more_ = true;
      return std::nullopt;
    }
    // The server's close_notify: an orderly end.
    if (status == SEC_I_CONTEXT_EXPIRED) return step(Kind::end);
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return failed(sck_err::aborted);
    const SecBuffer* data = nullptr;
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && data == nullptr) data = &buffer;
      if (buffer.BufferType == SECBUFFER_EXTRA && extra == nullptr) extra = &buffer;
    }
    // The plain bytes lie inside the input: taken before it moves on.
    std::size_t given = 0;
    if (data != nullptr && data->cbBuffer > 0) {
      const auto* plain = static_cast<const std::uint8_t*>(data->pvBuffer);
      given = std::min<std::size_t>(size, data->cbBuffer);
      std::memcpy(into, plain, given);
      plain_.assign(plain + given, plain + data->cbBuffer);
      plain_begin_ = 0;
    }
    begin_ = extra != nullptr && extra->cbBuffer > 0 ? end_ - std::min<std::size_t>(extra->cbBuffer, pending()) : end_;
    if (status == SEC_I_RENEGOTIATE) renegotiating_ = true;
    if (given > 0) return step(Kind::done, given);
    return std::nullopt;
  }

  Outcome hand_over(std::uint8_t* into, std::size_t size) {
    const std::size_t given = std::min(size, plain_.size() - plain_begin_);
    std::memcpy(into, plain_.data() + plain_begin_, given);
    plain_begin_ += given;
    if (plain_begin_ == plain_.size()) {
      plain_.clear();
      plain_begin_ = 0;
    }
    return step(Kind::done, given);
  }

  // Reads what the socket holds after what is pending; nothing when bytes
  // came, else what stopped it (want_read, the peer's end, a failure).
  std::optional<Outcome> receive() {
    if (begin_ == end_) begin_ = end_ = 0;
    if (in_.size() - end_ < receive_chunk) {
      std::memmove(in_.data(), in_.data() + begin_, pending());
      end_ -= begin_;
      begin_ = 0;
      in_.resize(std::max(in_.size(), end_ + receive_chunk));
    }
    const int room = static_cast<int>(std::min<std::size_t>(in_.size() - end_, INT_MAX));
    const int got = recv(socket_, reinterpret_cast<char*>(in_.data() + end_), room, 0);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      need_more_ = false;
      return std::nullopt;
    }
    // Without close_notify: whether the body is whole is the engine's
    // call, as on Linux.
    if (got == 0) return step(Kind::end);
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return step(Kind::want_read);
    return broken(error);
  }

  // Sends what waits in `out`; nothing once all of it is gone.
  std::optional<Outcome> flush(Outgoing& out) {
    while (out.sent < out.bytes.size()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(out.bytes.size() - out.sent, INT_MAX));
      const int put = send(socket_, reinterpret_cast<const char*>(out.bytes.data() + out.sent), chunk, 0);
      if (put == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return step(Kind::want_write);
        return broken(error);
      }
      out.sent += static_cast<std::size_t>(put);
    }
    out.bytes.clear();
    out.sent = 0;
    return std::nullopt;
  }

  SOCKET socket_;
  CredHandle& credentials_;
  std::string host_;
  std::wstring target_;  // the name sent and sessions are kept under; empty for a literal
  bool verify_;
  CtxtHandle context_{};
  bool have_context_ = false;
  bool started_ = false;
  bool heard_ = false;   // the server's first bytes have arrived
  bool agreed_ = false;  // Schannel has finished the handshake
  bool established_ = false;
  bool renegotiating_ = false;
  SecPkgContext_StreamSizes sizes_{};

  // What has arrived and is not yet used: in_[begin_, end_).
  std::vector<std::uint8_t> in_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool need_more_ = false;  // what is pending is less than a message
  // Plain bytes of a record larger than the caller's room.
  std::vector<std::uint8_t> plain_;
  std::size_t plain_begin_ = 0;

  Outgoing out_;               // the handshake's messages, then the current record
  std::size_t encrypted_ = 0;  // the plain bytes the current record holds
  Outgoing reply_;             // answers to what the server sent after the handshake
};

class SchannelContext final : public Context {
 public:
  SchannelContext(CredHandle credentials, bool verify) : credentials_(credentials), verify_(verify) {}
  ~SchannelContext() override { FreeCredentialsHandle(&credentials_); }

  SchannelContext(const SchannelContext&) = delete;
  SchannelContext& operator=(const SchannelContext&) = delete;

  std::unique_ptr<Session> open(NativeSocket socket, const std::string& host, std::uint16_t) override {
    return std::make_unique<SchannelSession>(static_cast<SOCKET>(socket), credentials_, host, verify_);
  }

 private:
  CredHandle credentials_;
  bool verify_;
};

// Client credentials for TLS 1.2 and 1.3 as far as the system offers them.
// Newer systems take SCH_CREDENTIALS, which TLS 1.3 needs: the old protocols
// are turned off and the system's own choices stand. Older ones know only
// SCHANNEL_CRED, asked for 1.2 and 1.3, then 1.2 alone.
SECURITY_STATUS acquire(CredHandle& credentials) {
  constexpr DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  wchar_t package[] = UNISP_NAME_W;
  TimeStamp expiry{};
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols =
      SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SECURITY_STATUS status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                                     nullptr, &credentials, &expiry);
  if (status == SEC_E_OK) return status;
  for (const DWORD protocols : {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    SCHANNEL_CRED classic{};
    classic.dwVersion = SCHANNEL_CRED_VERSION;
    classic.dwFlags = flags;
    classic.grbitEnabledProtocols = protocols;
    status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &classic, nullptr, nullptr,
                                       &credentials, &expiry);
    if (status == SEC_E_OK) return status;
  }
  return status;
}

}  // namespace

extern "C" Context* vintrel_tls_make_context(const TlsOptions& options, std::string& error) {
  // Windows keeps trusted authorities in its certificate store, where a
  // company's own authority is added; there is no file of them to name.
  if (!options.ca_file.empty()) {
    error = "Cannot load trusted certificates from " + options.ca_file +
            ": add them to the Windows certificate store instead";
    return nullptr;
  }
  CredHandle credentials{};
  const SECURITY_STATUS status = acquire(credentials);
  if (status != SEC_E_OK) {
    error = "Cannot start TLS: " + status_text(status);
    return nullptr;
  }
  return new SchannelContext(credentials, options.verify);
}

std::unique_ptr<Context> load_context(const TlsOptions& options, std::string& error) {
  return std::unique_ptr<Context>(vintrel_tls_make_context(options, error));
}

bool module_available() { return true; }

}  // namespace vintrel::platform::tls
