// Adds the PEM certificates of a file to the machine's trusted roots:
//   vintrel_windows_trust.exe FILE.pem
// Status 0 once every certificate of the file is in the store.

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: vintrel_windows_trust FILE.pem\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (root == nullptr) {
    std::fprintf(stderr, "cannot open the machine's root store: %lu\n", GetLastError());
    return 1;
  }
  int added = 0;
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
    const std::size_t stop = pem.find(end, at);
    if (stop == std::string::npos) break;
    const std::string block = pem.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr)) {
      break;
    }
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr) ||
        !CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::fprintf(stderr, "cannot add certificate %d: %lu\n", added + 1, GetLastError());
      CertCloseStore(root, 0);
      return 1;
    }
    ++added;
  }
  CertCloseStore(root, 0);
  if (added == 0) {
    std::fputs("no certificate in the file\n", stderr);
    return 1;
  }
  std::printf("%d certificate(s) trusted\n", added);
  return 0;
}
