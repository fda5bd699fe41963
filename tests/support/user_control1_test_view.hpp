#pragma once
// The tests' one window on a control's engine state: the per-file and
// per-probe records UserControl1 keeps private, beside the surface script
// and hosts reach. Read-only: a test drives the control through its surface
// and its platform, and reads here what the engine made of it.

#include <cstdint>

#include "control/user_control1.hpp"

namespace vintrel::control {

/// The engine state of `control`, by slot (1..100; 9 outside, as the
/// control's own indexing fails).
struct UserControl1TestView {
  const UserControl1& control;

  /// The record of file `n`: dlLocalFile, the chosen server (dlServName,
  /// dlPortNum, dlHost, dlRemotePath, dlSecure), dlRequest, dlTransfer...
  const UserControl1::FileSlot& file(std::int64_t n) const { return control.fileSlots_[n]; }
  /// The record of probe `p`: psRequest, psStartTime, psFirstDataTime,
  /// psBytes, psVerdict.
  const UserControl1::ProbeSlot& probe(std::int64_t p) const { return control.probeSlots_[p]; }
};

}  // namespace vintrel::control
