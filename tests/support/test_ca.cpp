#include "support/test_ca.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace vintrel::testing {
namespace {

bool executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string find_openssl() {
  for (const char* candidate : {"/usr/bin/openssl", "/usr/local/bin/openssl"}) {
    if (executable(candidate)) return candidate;
  }
  return {};
}

const std::string& openssl_binary() {
  static const std::string binary = find_openssl();
  return binary;
}

// Every path here is inside our own temporary folder, but quote anyway.
std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : ",") + name;
  return out;
}

const std::vector<std::string> standard_names = {"DNS:localhost", "IP:127.0.0.1", "IP:::1"};
constexpr const char* new_key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";

}  // namespace

bool TestCa::available() { return !openssl_binary().empty(); }

const TestCa& TestCa::shared() {
  static const TestCa ca;
  return ca;
}

TestCa::TestCa() {
  if (!available()) throw std::runtime_error("no openssl command; install the openssl package");
  const auto& dir = folder_.path();
  std::filesystem::create_directories(dir / "issued");
  write_file(folder_.file("index.txt"), "");
  write_file(folder_.file("serial"), "1000\n");
  // Explicit configuration everywhere, so the system's openssl.cnf (or an
  // OPENSSL_CONF of the caller) changes nothing.
  std::ostringstream conf;
  conf << "[req]\ndistinguished_name = dn\n[dn]\n"
       << "[ca]\ndefault_ca = test_ca\n"
       << "[test_ca]\n"
       << "database = " << folder_.file("index.txt") << "\n"
       << "serial = " << folder_.file("serial") << "\n"
       << "new_certs_dir = " << folder_.file("issued") << "\n"
       << "certificate = " << folder_.file("ca.pem") << "\n"
       << "private_key = " << folder_.file("ca.key") << "\n"
       << "default_md = sha256\npolicy = any_name\nunique_subject = no\nemail_in_dn = no\n"
       << "[any_name]\ncommonName = supplied\n"
       << "[ca_ext]\nbasicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
       << "subjectKeyIdentifier = hash\n";
  write_file(folder_.file("ca.cnf"), conf.str());

  ca_key_ = folder_.file("ca.key");
  ca_cert_ = folder_.file("ca.pem");
  run("req -x509 " + std::string(new_key) + " -keyout " + shell_quoted(ca_key_) + " -out " + shell_quoted(ca_cert_) +
      " -days 3650 -subj '/CN=Vintrel Test CA' -config " + shell_quoted(folder_.file("ca.cnf")) +
      " -extensions ca_ext");

  server_ = issue("server", standard_names);
  wrong_name_ = issue("wrong-name", {"DNS:wrong.example"});
  expired_ = issue("expired", standard_names, "20200101000000Z", "20210101000000Z");

  self_signed_.key = folder_.file("self-signed.key");
  self_signed_.cert = folder_.file("self-signed.pem");
  self_signed_.chain = self_signed_.cert;
  write_file(folder_.file("self-signed.cnf"),
             "[req]\ndistinguished_name = dn\n[dn]\n[ext]\n"
             "basicConstraints = critical,CA:FALSE\n"
             "subjectAltName = " +
                 joined(standard_names) + "\n");
  run("req -x509 " + std::string(new_key) + " -keyout " + shell_quoted(self_signed_.key) + " -out " +
      shell_quoted(self_signed_.cert) + " -days 365 -subj /CN=localhost -config " +
      shell_quoted(folder_.file("self-signed.cnf")) + " -extensions ext");
}

ServerCertificate TestCa::issue(const std::string& label, const std::vector<std::string>& names,
                                const std::string& not_before, const std::string& not_after) const {
  ServerCertificate out;
  out.key = folder_.file(label + ".key");
  out.cert = folder_.file(label + ".pem");
  out.chain = folder_.file(label + "-chain.pem");
  const std::string csr = folder_.file(label + ".csr");
  const std::string ext = folder_.file(label + ".ext");
  write_file(ext,
             "[ext]\nbasicConstraints = critical,CA:FALSE\nkeyUsage = critical,digitalSignature\n"
             "extendedKeyUsage = serverAuth\nsubjectAltName = " +
                 joined(names) + "\n");
  run("req -new " + std::string(new_key) + " -keyout " + shell_quoted(out.key) + " -out " + shell_quoted(csr) +
      " -subj " + shell_quoted("/CN=" + label) + " -config " + shell_quoted(folder_.file("ca.cnf")));
  // `openssl ca`, unlike `x509 -req`, can date a certificate in the past.
  std::string dates = " -days 365";
  if (!not_before.empty() || !not_after.empty()) dates = " -startdate " + not_before + " -enddate " + not_after;
  run("ca -batch -notext -config " + shell_quoted(folder_.file("ca.cnf")) + " -in " + shell_quoted(csr) + " -out " +
      shell_quoted(out.cert) + " -extfile " + shell_quoted(ext) + " -extensions ext" + dates);
  write_file(out.chain, read_file(out.cert) + read_file(ca_cert_));
  return out;
}

void TestCa::run(const std::string& command) const {
  const std::string log = folder_.file("openssl.log");
  const std::string line =
      shell_quoted(openssl_binary()) + " " + command + " >" + shell_quoted(log) + " 2>&1 </dev/null";
  if (std::system(line.c_str()) != 0) {
    throw std::runtime_error("openssl failed: " + command + "\n" + read_file(log));
  }
}

}  // namespace vintrel::testing
