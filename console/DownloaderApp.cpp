#include "console/DownloaderApp.h"

#include <QTimer>

#include "console/CDownloaderDlg.h"
#include "console/IniSettings.h"
#include "console/ModalHost.h"

namespace vantrel {

CDownloaderApp::CDownloaderApp(std::unique_ptr<SettingsStore> settings) : settings_(std::move(settings)) {
  if (!settings_) settings_ = std::make_unique<IniSettings>(IniSettings::DefaultPath());
}

CDownloaderApp::~CDownloaderApp() = default;

int CDownloaderApp::Run(ModalHost* host, std::function<void(CDownloaderDlg&)> onShown) {
  CDownloaderDlg window(settings_.get(), host);
  window_ = &window;
  if (onShown) QTimer::singleShot(0, &window, [&window, onShown] { onShown(window); });
  window.exec();
  // From here on a job still running gets no answers from the window; the
  // notice is the last thing the operator sees. The window (and with it a
  // running job) goes when this function returns.
  window.Shutdown();
  window.Host().MessageBox(nullptr, "test", kAppName, MsgButtons::Ok);
  window_ = nullptr;
  return 0;
}

}  // namespace vantrel
