// Finds and loads libvintrel_tls.so, for TLS or for digests, whichever is
// needed first. It is looked for beside the file that holds this code (the
// program, or the automation module a host loaded), then where an install
// puts it relative to that file, then where the build put it.

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hash_module.hpp"
#include "platform/tls_module.hpp"

namespace vintrel::platform::tls {

namespace {

constexpr const char* module_name = "libvintrel_tls.so";

std::vector<std::string> candidates() {
  std::vector<std::string> paths;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&module_available), &info) != 0 && info.dli_fname != nullptr) {
    std::string own = info.dli_fname;
    // The main program may be named without its folder; /proc knows it.
    if (own.find('/') == std::string::npos) {
      char target[4096];
      const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
      own = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
    }
    // A link to the program (stow, a link in ~/bin) leads to where it was
    // installed, and its module with it.
    if (char* real = own.empty() ? nullptr : realpath(own.c_str(), nullptr)) {
      own = real;
      std::free(real);
    }
    const auto slash = own.rfind('/');
    if (slash != std::string::npos) {
      const std::string folder = own.substr(0, slash + 1);
      paths.push_back(folder + module_name);
      // Installed, the program sits in bindir and libVintrel.so in libdir;
      // the module is in its private folder under libdir either way.
#if defined(VINTREL_TLS_FROM_BINDIR) && defined(VINTREL_TLS_FROM_LIBDIR)
      paths.push_back(folder + VINTREL_TLS_FROM_BINDIR + "/" + module_name);
      paths.push_back(folder + VINTREL_TLS_FROM_LIBDIR + "/" + module_name);
#endif
    }
  }
#ifdef VINTREL_TLS_MODULE_PATH
  paths.emplace_back(VINTREL_TLS_MODULE_PATH);
#endif
  return paths;
}

struct Loaded {
  MakeContext make = nullptr;
  MakeHasher make_hasher = nullptr;
  std::string error;
};

const Loaded& load_once() {
  static Loaded loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    std::string tried;
    for (const std::string& path : candidates()) {
      // Never closed: its sessions and OpenSSL's state live as long as the
      // process.
      void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        const char* why = dlerror();
        if (!tried.empty()) tried += "; ";
        tried += why != nullptr ? why : path;
        continue;
      }
      if (void* symbol = dlsym(handle, make_context_symbol)) {
        loaded.make = reinterpret_cast<MakeContext>(symbol);
        loaded.make_hasher = reinterpret_cast<MakeHasher>(dlsym(handle, make_hasher_symbol));
        return;
      }
      tried += (tried.empty() ? "" : "; ") + path + ": no entry point";
    }
    loaded.error = "TLS is not available: " + (tried.empty() ? std::string(module_name) + " not found" : tried);
  });
  return loaded;
}

}  // namespace

std::unique_ptr<Context> load_context(const TlsOptions& options, std::string& error) {
  const Loaded& loaded = load_once();
  if (loaded.make == nullptr) {
    error = loaded.error;
    return nullptr;
  }
  return std::unique_ptr<Context>(loaded.make(options, error));
}

bool module_available() {
  for (const std::string& path : candidates()) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) return true;
  }
  return false;
}

}  // namespace vintrel::platform::tls

namespace vintrel::platform {

std::unique_ptr<Hasher> make_library_hasher(HashAlgorithm algorithm, std::string& why) {
  const tls::Loaded& loaded = tls::load_once();
  if (loaded.make_hasher == nullptr) {
    why = loaded.make == nullptr ? "Checksums are not available: " + loaded.error.substr(loaded.error.find(':') + 2)
                                 : "Checksums are not available: the TLS module has no digests";
    return nullptr;
  }
  return std::unique_ptr<Hasher>(loaded.make_hasher(algorithm, why));
}

}  // namespace vintrel::platform
