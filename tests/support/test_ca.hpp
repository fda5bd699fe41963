#pragma once
// A certificate authority made at test time with the openssl command, and
// server certificates it signs, for tests of secure connections. Nothing is
// committed: keys and certificates live in a temporary folder that goes
// with the object. EC P-256 keys keep making them quick.

#include <string>
#include <vector>

#include "support/temp_folder.hpp"

namespace vintrel::testing {

/// The PEM files of one server identity.
struct ServerCertificate {
  std::string cert;   ///< The server's certificate alone.
  std::string key;    ///< Its private key.
  std::string chain;  ///< What a server sends: the certificate, then the CA's (just `cert` when self-signed).
};

class TestCa {
 public:
  /// Whether an openssl command is there to run.
  static bool available();
  /// One authority per test program, made on first use; throws like the
  /// constructor.
  static const TestCa& shared();

  /// Makes the authority and the standard server identities below. Throws
  /// std::runtime_error with openssl's output when a step fails.
  TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  /// The authority's certificate: what a client trusts as its ca_file.
  const std::string& ca_cert() const { return ca_cert_; }
  /// Signed for DNS:localhost, IP:127.0.0.1 and IP:::1, valid now.
  const ServerCertificate& server() const { return server_; }
  /// Signed, valid now, but only for DNS:wrong.example.
  const ServerCertificate& wrong_name() const { return wrong_name_; }
  /// Signed for the standard names, but valid only in 2020.
  const ServerCertificate& expired() const { return expired_; }
  /// Signed by itself for the standard names: no authority vouches for it.
  const ServerCertificate& self_signed() const { return self_signed_; }

  /// A new identity signed by this authority. `names` are subjectAltName
  /// entries ("DNS:host", "IP:addr"); dates are openssl's YYYYMMDDHHMMSSZ
  /// form, empty for "from now, for a year".
  ServerCertificate issue(const std::string& label, const std::vector<std::string>& names,
                          const std::string& not_before = {}, const std::string& not_after = {}) const;

 private:
  void run(const std::string& command) const;

  TempFolder folder_;
  std::string ca_key_;
  std::string ca_cert_;
  ServerCertificate server_;
  ServerCertificate wrong_name_;
  ServerCertificate expired_;
  ServerCertificate self_signed_;
};

}  // namespace vintrel::testing
