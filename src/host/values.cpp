#include "host/values.hpp"

#include <limits>
#include <utility>

#include "automation/collection.hpp"

namespace vintrel::host {

using json = Json;
using automation::Variant;
using automation::VarType;

json to_json(const Variant& value) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null:
      return nullptr;
    case VarType::I2:
      return value.i2();
    case VarType::I4:
      return value.i4();
    case VarType::R8:
      return value.r8();
    case VarType::Date:
      return value.date().serial;
    case VarType::Cy: {
      const std::int64_t units = value.cy().tenthousandths;
      if (units % 10000 == 0) return units / 10000;
      return static_cast<double>(units) / 10000.0;
    }
    case VarType::Bstr:
      return value.bstr();
    case VarType::Bool:
      return value.boolean();
    case VarType::Dispatch: {
      const auto& object = value.object();
      if (!object) return json{{"object", nullptr}};
      json marker{{"object", std::string(object->class_name())}};
      if (const auto* collection = dynamic_cast<const automation::CollectionBase*>(object.get()))
        marker["count"] = collection->Count();
      return marker;
    }
    case VarType::ByteArray:
      return value.bytes();
  }
  return nullptr;
}

Variant from_json(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return Variant::null();
    case json::value_t::boolean:
      return Variant(value.get<bool>());
    case json::value_t::string:
      return Variant(value.get<std::string>());
    case json::value_t::number_integer: {
      const auto n = value.get<std::int64_t>();
      if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(n));
      return Variant(static_cast<double>(n));
    }
    case json::value_t::number_unsigned: {
      const auto n = value.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return Variant(static_cast<std::int32_t>(n));
      return Variant(static_cast<double>(n));
    }
    case json::value_t::number_float:
      return Variant(value.get<double>());
    case json::value_t::array: {
      std::vector<std::uint8_t> bytes;
      for (const auto& item : value) {
        if (!item.is_number_integer() || item.get<std::int64_t>() < 0 || item.get<std::int64_t>() > 255)
          automation::raise(automation::err::type_mismatch);
        bytes.push_back(static_cast<std::uint8_t>(item.get<std::int64_t>()));
      }
      return Variant(std::move(bytes));
    }
    case json::value_t::object:
    case json::value_t::binary:
    case json::value_t::discarded:
      break;
  }
  automation::raise(automation::err::type_mismatch);
}

namespace {

// Thrown out of the parser's callback to stop it at once; nlohmann's parser
// has no other way to abandon the text from inside.
struct TooDeep {};

}  // namespace

ParsedLine parse_line(std::string_view text) {
  ParsedLine parsed;
  // The callback sees the depth of the container about to open (0 for the
  // outermost), before any of its contents are read.
  const json::parser_callback_t limit = [](int depth, json::parse_event_t event, json&) {
    if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
        depth >= max_json_depth)
      throw TooDeep{};
    return true;
  };
  try {
    parsed.value = json::parse(text, limit, false);
    parsed.status = parsed.value.is_discarded() ? ParsedLine::Status::not_json : ParsedLine::Status::ok;
  } catch (const TooDeep&) {
    parsed.status = ParsedLine::Status::too_deep;
  }
  return parsed;
}

std::string dump_line(const json& message) {
  // Response headers and file names may hold any bytes; a line must still
  // go out rather than throw.
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace vintrel::host
