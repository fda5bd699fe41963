#include "control/registration.hpp"

#include <cstdio>
#include <string_view>
#include <utility>

#include "control/interfaces/registry.hpp"
#include "control/type_library.hpp"

namespace vintrel::control {

std::vector<RegistryEntry> registration_entries(const std::string& module_path) {
  const typelib::Library& lib = typelib::library();
  const std::string libid = lib.id.to_string();
  const std::string version = typelib::version_text();
  char lcid[9];
  std::snprintf(lcid, sizeof lcid, "%x", lib.lcid);

  std::vector<RegistryEntry> entries;
  auto add = [&](std::string key, std::string value) { entries.push_back({std::move(key), std::move(value)}); };

  const std::string typelib_key = "TypeLib/" + libid + "/" + version;
  add(typelib_key, std::string(lib.description));
  add(typelib_key + "/" + lcid + "/linux", module_path);
  add(typelib_key + "/FLAGS", "0");

  for (const typelib::Class& cls : typelib::classes()) {
    const std::string key = registry_key::clsid(cls.id);
    const std::string progid = typelib::progid(cls);
    add(registry_key::progid(progid), cls.id.to_string());
    add(key, std::string(cls.name));
    add(registry_key::inproc_server(cls.id), module_path);
    add(key + "/ProgID", progid);
    add(key + "/TypeLib", libid);
    add(key + "/Version", version);
    if (cls.control) {
      add(key + "/Control", "");
      add(key + "/ToolboxBitmap32", module_path + "," + std::to_string(lib.toolbox_bitmap));
      add(key + "/MiscStatus", std::to_string(lib.misc_status));
      // The control raises its events through one event interface.
      add(key + "/Events", lib.events_id.to_string());
    }
  }

  const std::pair<std::string_view, Guid> interfaces[] = {{lib.interface_name, lib.interface_id},
                                                          {lib.events_name, lib.events_id}};
  for (const auto& [name, id] : interfaces) {
    const std::string key = "Interface/" + id.to_string();
    add(key, std::string(name));
    add(key + "/TypeLib", libid);
  }
  return entries;
}

HRESULT register_module(const std::string& module_path, const std::filesystem::path& registry) {
  auto file = Registry::load(registry);
  if (!file) return hr::SELFREG_E_CLASS;
  for (const auto& entry : registration_entries(module_path)) file->set(entry.key, entry.value);
  return file->save() ? hr::S_OK : hr::SELFREG_E_CLASS;
}

HRESULT unregister_module(const std::string& module_path, const std::filesystem::path& registry) {
  auto file = Registry::load(registry);
  if (!file) return hr::SELFREG_E_CLASS;
  // Another copy of the module registered since: the entries are its own.
  const auto server = file->get(registry_key::inproc_server(typelib::classes().front().id));
  if (server && *server != module_path) return hr::S_OK;
  bool changed = false;
  for (const auto& entry : registration_entries(module_path))
    if (file->get(entry.key) == entry.value) changed = file->erase(entry.key) || changed;
  if (!changed) return hr::S_OK;
  return file->save() ? hr::S_OK : hr::SELFREG_E_CLASS;
}

}  // namespace vintrel::control
