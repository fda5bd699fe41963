#pragma once
// The control as a Windows script host reaches it: _UserControl1 through
// IDispatch (described by the embedded type library), __UserControl1
// through a connection point, the class's source interface through
// IProvideClassInfo2, "URL" through IPersistPropertyBag and
// IPersistStreamInit, the safety answers through IObjectSafety, and the
// page it sits in through IObjectWithSite.

#include <objsafe.h>
#include <ocidl.h>
#include <windows.h>

namespace vintrel::com {

/// A new control for the calling thread, holding one reference for the
/// caller; throws when it cannot be made.
IUnknown* make_control();

}  // namespace vintrel::com
