// The runtime's one exported entry: the loader asks it for the start routine.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <string>

#include "base/program_image.h"
#include "base/start_protocol.h"
#include "runtime/qt_runtime.h"

namespace {

int StartProgram(const void* programImage) {
  const auto* img = static_cast<const image::ProgramImage*>(programImage);
  // An image of another layout, or one built against another runtime
  // interface, would be misread or call into the wrong table slots.
  if (!img || img->magic != image::kImageMagic || img->version != image::kImageVersion ||
      img->runtimeInterface != rt::kInterfaceVersion || !img->entry || !img->windows) {
    return start::kRefused;
  }
  ChooseQtPlatform();
  if (std::string reason; !DisplayReachable(&reason)) {
    std::fprintf(stderr, "tamsivo：%s。\n", reason.c_str());
    return 1;
  }
  static int argc = 1;
  static char name[] = "tamsivo";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tamsivo");
  QApplication::setQuitOnLastWindowClosed(false);
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  // Qt's own texts (file dialog, the text boxes' menus) in Chinese too, when
  // the translations are installed.
  static QTranslator qtTexts;
  if (qtTexts.load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  std::unique_ptr<rt::Runtime> runtime = MakeQtRuntime(*img, RuntimeOptions{});
  InstallTerminationHandlers(*runtime);
  return img->entry(*runtime) & 0xFF;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* GetNewSock(int code) {
  return code == start::kStartRequest ? reinterpret_cast<void*>(&StartProgram) : nullptr;
}
