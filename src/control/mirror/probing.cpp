// Mirror probing: the same file is requested from every candidate server at
// once, and the one that delivers the most kilobytes per second is chosen.

#include "control/user_control1.hpp"

namespace vintrel::control {

using namespace queue::status;
using platform::int_div;
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
    platform::increment(psIndex);
    const std::int16_t p = psIndex;
    S.pingSock = p;
    buildPingRequest(p, S.remoteFilePath, S.host);
    pingWs->Load(p);
    psStartTime[p] = platform_.clock().Now();
    psFirstDataTime[p] = Date{};
    psBytes[p] = 0;
    psVerdict[p] = ProbeVerdict::none;
    if (count > 1) {
      if (pingWs->State(p) != platform::sck::closed) pingWs->Close(p);
      pingWs->Connect(p, S.servName, S.PortNum, S.isSecure);
    } else {
      chooseServer(n, S);
      F.downloadStatus = pinged;
    }
  }
}

void UserControl1::chooseServer(std::int16_t n, const remoteServerLoc& S) {
  dlServName[n] = S.servName;
  dlPortNum[n] = S.PortNum;
  dlHost[n] = S.host;
  dlRemotePath[n] = S.remoteFilePath;
  dlSecure[n] = S.isSecure;
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
    if (!SlotArray<double>::contains(p)) {
      // A probe that could not be given a slot is never indexed; the file
      // waits for the page to start another one.
      all_probed = false;
      continue;
    }
    started = std::min(started, psStartTime[p]);

    if (psBytes[p] == 0 && seconds_between(psStartTime[p], now) > silence_seconds &&
        psVerdict[p] == ProbeVerdict::none) {
      platform::increment(F.numServersChecked);
      psVerdict[p] = ProbeVerdict::silent;
    }
    if (psBytes[p] > 1) {
      platform::increment(S.timeInterval);
      const auto T = seconds_between(psFirstDataTime[p], now);
      if (F.downloadStatus == pinging && psBytes[p] > 2000 && T >= 2 && psVerdict[p] == ProbeVerdict::none) {
        curRate = static_cast<double>(int_div(static_cast<double>(int_div(psBytes[p], static_cast<double>(T))), 1024));
        // On equal measures the later judgement wins.
        if (curRate >= F.bestPingTime) {
          F.bestPingTime = curRate;
          chooseServer(n, S);
        }
        platform::increment(F.numServersChecked);
        psVerdict[p] = ProbeVerdict::measured;
        pingWs->Close(p);
      }
    }
    if (psVerdict[p] == ProbeVerdict::none) all_judged = false;
  }

  if (F.downloadStatus != pinging || !all_probed) return;
  if (!all_judged && seconds_between(started, now) < probing_limit_seconds) return;
  finishProbing(n);
}

void UserControl1::finishProbing(std::int16_t n) {
  DownloadFile& F = DownloadFiles->Item(n);
  const auto servers = F.remoteServerLocs;
  const std::int32_t count = servers->Count();

  bool any_measured = false;
  for (std::int32_t j = 1; j <= count; ++j)
    if (psVerdict[servers->Item(j).pingSock] == ProbeVerdict::measured) any_measured = true;

  if (!any_measured && count > 0) {
    // Nobody was fast enough to be measured: take the one that delivered
    // the most, or the first candidate when none delivered anything.
    std::int32_t best = 1;
    for (std::int32_t j = 2; j <= count; ++j)
      if (psBytes[servers->Item(j).pingSock] > psBytes[servers->Item(best).pingSock]) best = j;
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

void UserControl1::pingWs_Connect(std::int16_t Index) { pingWs->SendData(Index, psRequest[Index]); }

void UserControl1::pingWs_DataArrival(std::int16_t Index, std::int32_t bytesTotal) {
  if (pingWs->State(Index) != platform::sck::connected) return;
  if (psFirstDataTime[Index] == Date{}) psFirstDataTime[Index] = platform_.clock().Now();
  pingWs->GetData(Index);
  psBytes[Index] += bytesTotal;
}

void UserControl1::pingWs_Error(std::int16_t, platform::SocketError&) {
  // A failed probe simply never delivers; silence judges it.
}

void UserControl1::pingWs_Close(std::int16_t) {}

}  // namespace vintrel::control
