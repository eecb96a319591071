// How soon a file dropped into the hot folder is in the destination: from the
// close of a small file in the source to its complete presence in the
// destination, one file at a time, with the real monitor and mirror tool.
//
//   hotfolder_bench [FILES] [WORK_FOLDER]     (defaults: 100 files, a temporary folder)
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "bench/percentile.h"
#include "forms/UFrmTarnvel.h"
#include "funcoes/funcoes.h"
#include "platform/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs the event loop (where the monitor's reports are handled) until done.
template <class Done>
bool Pump(Done done, std::chrono::seconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100;
  const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tarnvel-hotfolder-bench";
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  fs::remove_all(work);
  const fs::path source = work / "origem", destination = work / "destino";
  fs::create_directories(source);
  fs::create_directories(destination);
  fs::create_directories(work / "config");
  setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
  SettingValue(u"escrever", u"storage_Origem", source.u16string());
  SettingValue(u"escrever", u"storage_Destino", destination.u16string());
  const fs::path tool = fs::path(platform::ExecutableFolder()) / "robocopy";
  fs::copy_file(TARNVEL_MIRROR_TOOL, tool, fs::copy_options::overwrite_existing);

  TApplication app(argc, argv);
  app.Initialize();
  Application->MainFormOnTaskBar = true;
  Application->CreateForm(FrmTarnvel);
  FrmTarnvel->show();  // a first start: the hot folder is on
  const std::string content(4096, 'v');
  std::vector<double> delays;
  for (int i = 0; i < files; ++i) {
    const std::string name = "clip" + std::to_string(i) + ".mp4";
    {
      std::ofstream out(source / name, std::ios::binary);
      out << content;
    }
    const Clock::time_point closed = Clock::now();
    const bool arrived = Pump(
        [&] {
          std::error_code ec;
          return fs::file_size(destination / name, ec) == content.size();
        },
        std::chrono::seconds(30));
    if (!arrived) {
      std::printf("%s never arrived\n", name.c_str());
      return 1;
    }
    delays.push_back(Ms(Clock::now() - closed));
    // One at a time: the mirrors this file started are over before the next.
    Pump([] { return !MirrorRunning; }, std::chrono::seconds(30));
  }
  std::printf("close in the source to complete in the destination, %d files: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              files, Percentile(delays, 50), Percentile(delays, 99), Percentile(delays, 100));
  delete FrmTarnvel;
  fs::remove(tool);
  fs::remove_all(work);
  return 0;
}
