#include "control/dispatch.hpp"

#include "control/object_safety.hpp"
#include "control/persistence.hpp"
#include "control/user_control1.hpp"

namespace vintrel::control {

namespace {

using automation::Variant;
using typelib::Kind;
using typelib::Type;

const typelib::Member& member_of(DispId id) {
  const typelib::Member* m = typelib::find(id);
  if (!m) automation::raise(automation::err::no_member);
  return *m;
}

const typelib::Member& member_of(std::string_view name) {
  const typelib::Member* m = typelib::find(name);
  if (!m) automation::raise(automation::err::no_member);
  return *m;
}

// An argument converted to its declared type the automation way: 13 for a
// value of no such form, 6 for one past the type's range.
Variant convert(const Variant& value, Type type) {
  switch (type) {
    case Type::i2:
      return Variant(automation::to_i2(value));
    case Type::i4:
      return Variant(automation::to_i4(value));
    case Type::boolean:
      return Variant(automation::to_bool(value));
    case Type::string:
      return Variant(automation::to_bstr(value));
    case Type::collection: {
      // The engine reaches the records through this collection everywhere:
      // anything but a collection of DownloadFile records, Nothing included,
      // would break it, so it is refused.
      auto files = std::dynamic_pointer_cast<queue::DownloadFileCollection>(automation::to_object(value));
      if (!files) automation::raise(automation::err::type_mismatch);
      return Variant(std::static_pointer_cast<automation::Object>(files));
    }
    case Type::variant:
    case Type::none:
      break;
  }
  return value;
}

// How script reads a member or calls one: it cannot tell the two apart.
constexpr std::uint16_t read_or_call = invoke::method | invoke::property_get;

}  // namespace

ControlObject::ControlObject(platform::Platform& platform, platform::Container* host) : hub_(host) {
  start_module();
  control_ = std::make_unique<UserControl1>(platform, &hub_);
}

ControlObject::~ControlObject() = default;

Variant ControlObject::get(std::string_view name) const {
  std::vector<Variant> none;
  return invoke(member_of(name), read_or_call, none);
}

void ControlObject::put(std::string_view name, const Variant& value) {
  std::vector<Variant> args{value};
  invoke(member_of(name), invoke::property_put, args);
}

Variant ControlObject::call(std::string_view name, std::vector<Variant>& args) {
  return invoke(member_of(name), read_or_call, args);
}

std::vector<std::string> ControlObject::member_names() const {
  std::vector<std::string> names;
  for (const auto& m : typelib::members()) names.emplace_back(m.name);
  return names;
}

DispId ControlObject::GetIDsOfNames(std::string_view name) const { return member_of(name).id; }

Variant ControlObject::Invoke(DispId id, std::uint16_t flags, std::vector<Variant>& args) {
  return invoke(member_of(id), flags, args);
}

Variant ControlObject::invoke(const typelib::Member& m, std::uint16_t flags, std::vector<Variant>& args) const {
  if (flags & (invoke::property_put | invoke::property_putref)) {
    if (!m.write) automation::raise(automation::err::no_member);
    // Only an object member takes a reference assignment.
    if (!(flags & invoke::property_put) && m.type != Type::collection) automation::raise(automation::err::no_member);
    if (args.size() != 1) automation::raise(automation::err::wrong_arg_count);
    const Type type = m.kind == Kind::property ? m.parameters.front().type : m.type;
    m.write(*control_, convert(args.front(), type));
    return Variant();
  }

  const bool is_call = m.kind == Kind::method;
  if (!(flags & (is_call ? invoke::method : invoke::property_get))) automation::raise(automation::err::no_member);
  // A property's parameters belong to its writer; reading takes none.
  const std::size_t expected = is_call ? m.parameters.size() : 0;
  if (args.size() != expected) automation::raise(automation::err::wrong_arg_count);

  std::vector<Variant> converted;
  converted.reserve(expected);
  for (std::size_t k = 0; k < expected; ++k) {
    const typelib::Parameter& p = m.parameters[k];
    converted.push_back(p.by_ref ? args[k] : convert(args[k], p.type));
  }
  // What the procedure did to a by-reference argument reaches the caller,
  // also when it failed after changing it.
  auto write_back = [&] {
    for (std::size_t k = 0; k < expected; ++k)
      if (m.parameters[k].by_ref) args[k] = converted[k];
  };
  Variant result;
  try {
    result = m.read(*control_, converted);
  } catch (...) {
    write_back();
    throw;
  }
  write_back();
  return result;
}

HRESULT ControlObject::Advise(std::shared_ptr<EventSink> sink, std::uint32_t& cookie) {
  return hub_.Advise(std::move(sink), cookie);
}

HRESULT ControlObject::Unadvise(std::uint32_t cookie) { return hub_.Unadvise(cookie); }

HRESULT ControlObject::GetInterfaceSafetyOptions(const Guid* riid, std::uint32_t* supported, std::uint32_t* enabled) {
  return get_interface_safety_options(module_safety_flags(), riid, supported, enabled);
}

HRESULT ControlObject::SetInterfaceSafetyOptions(const Guid* riid, std::uint32_t options_mask,
                                                 std::uint32_t enabled_options) {
  return set_interface_safety_options(module_safety_flags(), riid, options_mask, enabled_options);
}

void ControlObject::Load(PropertyBag& bag) { load_properties(*control_, bag); }

void ControlObject::Save(PropertyBag& bag) { save_properties(*control_, bag); }

}  // namespace vintrel::control
