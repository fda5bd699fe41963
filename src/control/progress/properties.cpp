// What the page sees: the progress properties of the current file and the
// three events.

#include "control/user_control1.hpp"
#include "queue/local_path.hpp"
#include "text/text.hpp"

namespace vintrel::control {

using automation::number_text;

namespace {
std::string text_of(double v) { return number_text(v); }
std::string text_of(std::int64_t v) { return number_text(v); }
}  // namespace

std::string UserControl1::dBytesTotal() const { return text_of(DownloadFiles->Item(CurFile).contentlength); }

std::string UserControl1::dBytesTransferred() const { return text_of(DownloadFiles->Item(CurFile).downloadedbytes); }

std::string UserControl1::dCurrentFileName() const { return DownloadFiles->Item(CurFile).localfilename; }

std::string UserControl1::dCurrentFile() const { return text_of(std::int64_t{CurFile}); }

std::string UserControl1::dPercentComplete() const {
  const DownloadFile& F = DownloadFiles->Item(CurFile);
  const double C = F.contentlength;
  const double D = F.downloadedbytes;
  if (C / 100 > 0) return text_of(D / (C / 100));
  return "0";
}

std::string UserControl1::dRate() const { return text_of(std::int64_t{DownloadFiles->Item(CurFile).therate}); }

std::string UserControl1::dRemainingTime() const { return text_of(DownloadFiles->Item(CurFile).remainingTime); }

std::string UserControl1::dErrorDesc() const { return theerrdesc; }

std::string UserControl1::dErrorNumber() const { return text_of(std::int64_t{theerrnumber}); }

std::int16_t UserControl1::dTotalFiles() const { return totalFiles; }

std::string UserControl1::dChosenPath() const { return queue::collapse_doubled_separators(sBuffer); }

void UserControl1::StatusChange(const std::string& Text) {
  if (container_) container_->OnStatusChange(Text);
}

void UserControl1::FileComplete(const std::string& Text) {
  if (container_) container_->OnFileComplete(Text);
}

void UserControl1::TransferComplete() {
  if (container_) container_->OnTransferComplete();
}

}  // namespace vintrel::control
