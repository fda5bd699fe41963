#pragma once
// The engine's records and collections (DownloadFile, remoteServerLoc,
// Collection) as script reaches them on Windows: IDispatch by name, the
// collection's default member and its enumeration for `For Each` and
// JScript's Enumerator.

#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string_view>
#include <vector>

#include "automation/automation.hpp"

namespace vintrel::com {

/// The module's own interface on each of its objects: the engine object
/// behind it, so that a record script passes back (a remoteServerLoc added
/// to a file's servers) reaches the engine as itself.
struct IEngineObject : public IUnknown {
  virtual std::shared_ptr<automation::Object> STDMETHODCALLTYPE engine_object() = 0;
};
/// Its identifier, known only inside the module.
extern const IID IID_IEngineObject;

/// The engine object behind `unknown`, or null when it is not the module's.
std::shared_ptr<automation::Object> engine_object_of(IUnknown* unknown);

/// A new IDispatch for `object` (holding one reference for the caller).
IDispatch* dispatch_of(std::shared_ptr<automation::Object> object);

/// `holder(args)` where `holder` is a value read from a property that takes
/// no arguments: the arguments go to the default member of the object it
/// holds (a collection's Item). A value that is no object raises 450, as
/// the arguments then have nowhere to go.
automation::Variant item_of(const automation::Variant& holder, std::vector<automation::Variant>& args);

/// A member name's dispatch identifier for the engine's records: the same
/// name in any letter case has the same identifier in every object.
DISPID record_dispid(std::wstring_view name);

}  // namespace vintrel::com
