#include "automation/enumerator.hpp"

namespace vintrel::automation {

bool Enumerator::Next(Variant& item) {
  if (next_ >= items_.size()) return false;
  item = items_[next_++];
  return true;
}

bool Enumerator::Skip(std::int32_t count) {
  if (count < 0) raise(err::invalid_call);
  const std::size_t left = items_.size() - next_;
  const auto wanted = static_cast<std::size_t>(count);
  next_ += wanted < left ? wanted : left;
  return wanted <= left;
}

std::shared_ptr<Enumerator> Enumerator::Clone() const {
  auto copy = std::make_shared<Enumerator>(items_);
  copy->next_ = next_;
  return copy;
}

Variant Enumerator::call(std::string_view name, std::vector<Variant>& args) {
  auto expect = [&](std::size_t count) {
    if (args.size() != count) raise(err::wrong_arg_count);
  };
  if (same_name(name, "Next")) {
    expect(0);
    Variant item;
    Next(item);
    return item;
  }
  if (same_name(name, "Skip")) {
    expect(1);
    return Variant(Skip(to_i4(args[0])));
  }
  if (same_name(name, "Reset")) {
    expect(0);
    Reset();
    return Variant();
  }
  if (same_name(name, "Clone")) {
    expect(0);
    return Variant(std::static_pointer_cast<Object>(Clone()));
  }
  return Object::call(name, args);
}

std::vector<std::string> Enumerator::member_names() const { return {"Clone", "Next", "Reset", "Skip"}; }

}  // namespace vintrel::automation
