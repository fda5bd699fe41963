// Mirror probing: the same file is requested from every candidate server at
// once, and the one that delivers the most kilobytes per second is chosen.

#include "control/user_control1.hpp"

namespace vintrel::control {

using namespace queue::status;
using automation::int_div;
using platform::seconds_between;

namespace {
// A probe with no data this many whole seconds after its start is silent.
constexpr std::int64_t silence_seconds = 10;
// Probing never lasts longer than this after the probes started.
constexpr std::int64_t probing_limit_seconds = 15;
}  // namespace

void UserControl1::launchProbes(std::int16_t n) {
  DownloadFile& F = DownloadFiles->Item(n);
  // Each probing judges afresh: values of an earlier probing of the same
  // file must neither end this one early nor outbid its servers.
  F.bestPingTime = 0;
  F.numServersChecked = 0;
  const auto servers = F.remoteServerLocs;
  const std::int32_t count = servers->Count();
  for (std::int32_t j = 1; j <= count; ++j) {
    remoteServerLoc& S = servers->Item(j);
    automation::increment(psIndex);
    const std::int16_t p = psIndex;
    S.pingSock = p;
    buildPingRequest(p, S.remoteFilePath, S.host, &S);
    pingWs->Load(p);
    ProbeSlot& P = probeSlots_[p];
    P.psStartTime = platform_.clock().Now();
    P.psFirstDataTime = Date{};
    P.psBytes = 0;
    P.psVerdict = ProbeVerdict::none;
    if (count > 1 && P.psRequest.empty()) {
      // Its request was refused (a control byte in it): it never delivers.
      P.psVerdict = ProbeVerdict::silent;
      automation::increment(F.numServersChecked);
    } else if (count > 1) {
      if (pingWs->State(p) != platform::sck::closed) pingWs->Close(p);
      pingWs->Connect(p, S.servName, S.PortNum, S.isSecure);
    } else {
      chooseServer(n, S);
      F.downloadStatus = pinged;
    }
  }
}

void UserControl1::chooseServer(std::int16_t n, const remoteServerLoc& S) {
  FileSlot& D = fileSlots_[n];
  D.dlServName = S.servName;
  D.dlPortNum = S.PortNum;
  D.dlHost = S.host;
  D.dlRemotePath = S.remoteFilePath;
  D.dlSecure = S.isSecure;
}

std::optional<UserControl1::ChosenServer> UserControl1::chosen_server(std::int64_t n) const {
  if (!SlotArray<FileSlot>::contains(n)) return std::nullopt;
  const FileSlot& D = fileSlots_[n];
  return ChosenServer{D.dlServName, D.dlPortNum};
}

void UserControl1::evaluateProbes(std::int16_t n) {
  const std::shared_ptr<DownloadFile> record = DownloadFiles->ItemPtr(n);
  DownloadFile& F = *record;
  const auto servers = F.remoteServerLocs;
  const std::int32_t count = servers->Count();
  const Date now = platform_.clock().Now();

  bool all_judged = true;
  bool all_probed = true;  // every candidate has a probe slot we may index
  Date started = now;
  for (std::int32_t j = 1; j <= count; ++j) {
    remoteServerLoc& S = servers->Item(j);
    const std::int32_t p = S.pingSock;
    if (!SlotArray<ProbeSlot>::contains(p)) {
      // A probe that could not be given a slot is never indexed; the file
      // waits for the page to start another one.
      all_probed = false;
      continue;
    }
    ProbeSlot& P = probeSlots_[p];
    started = std::min(started, P.psStartTime);

    if (P.psBytes == 0 && seconds_between(P.psStartTime, now) > silence_seconds && P.psVerdict == ProbeVerdict::none) {
      automation::increment(F.numServersChecked);
      P.psVerdict = ProbeVerdict::silent;
    }
    if (P.psBytes > 1) {
      automation::increment(S.timeInterval);
      const auto T = seconds_between(P.psFirstDataTime, now);
      if (F.downloadStatus == pinging && P.psBytes > 2000 && T >= 2 && P.psVerdict == ProbeVerdict::none) {
        curRate = static_cast<double>(int_div(static_cast<double>(int_div(P.psBytes, static_cast<double>(T))), 1024));
        // On equal measures the later judgement wins.
        if (curRate >= F.bestPingTime) {
          F.bestPingTime = curRate;
          chooseServer(n, S);
        }
        automation::increment(F.numServersChecked);
        P.psVerdict = ProbeVerdict::measured;
        pingWs->Close(p);
      }
    }
    if (P.psVerdict == ProbeVerdict::none) all_judged = false;
  }

  if (F.downloadStatus != pinging || !all_probed) return;
  if (!all_judged && seconds_between(started, now) < probing_limit_seconds) return;
  finishProbing(n);
}

void UserControl1::finishProbing(std::int16_t n) {
  DownloadFile& F = DownloadFiles->Item(n);
  const auto servers = F.remoteServerLocs;
  const std::int32_t count = servers->Count();

  const auto probe = [&](std::int32_t j) -> const ProbeSlot& { return probeSlots_[servers->Item(j).pingSock]; };
  bool any_measured = false;
  for (std::int32_t j = 1; j <= count; ++j)
    if (probe(j).psVerdict == ProbeVerdict::measured) any_measured = true;

  if (!any_measured && count > 0) {
    // Nobody was fast enough to be measured: take the one that delivered
    // the most, or the first candidate when none delivered anything.
    std::int32_t best = 1;
    for (std::int32_t j = 2; j <= count; ++j)
      if (probe(j).psBytes > probe(best).psBytes) best = j;
    chooseServer(n, servers->Item(best));
  }

  // Probes still running would otherwise go on fetching the whole file
  // beside the real transfer.
  for (std::int32_t j = 1; j <= count; ++j) {
    const std::int32_t p = servers->Item(j).pingSock;
    if (pingWs->IsLoaded(p) && pingWs->State(p) != platform::sck::closed) pingWs->Close(p);
  }
  F.downloadStatus = pinged;
}

void UserControl1::pingWs_Connect(std::int16_t Index) { pingWs->SendData(Index, probeSlots_[Index].psRequest); }

void UserControl1::pingWs_DataArrival(std::int16_t Index, std::int32_t bytesTotal) {
  if (pingWs->State(Index) != platform::sck::connected) return;
  ProbeSlot& P = probeSlots_[Index];
  if (P.psFirstDataTime == Date{}) P.psFirstDataTime = platform_.clock().Now();
  spendRate(pingWs->GetData(Index).size());
  P.psBytes += bytesTotal;
}

void UserControl1::pingWs_Error(std::int16_t, platform::SocketError&) {
  // A failed probe simply never delivers; silence judges it.
}

void UserControl1::pingWs_Close(std::int16_t) {}

}  // namespace vintrel::control
