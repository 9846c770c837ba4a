// dialixhq-container: holds one meter control and applies its options in
// order; with no output option it shows the control in a window.
#include <QApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "DialixHQCtrl.h"
#include "DialixHQFactory.h"
#include "model/MeterStream.h"

namespace {

const char* kUsage =
    "usage: dialixhq-container [options]   (applied in order)\n"
    "  --size WxH           the control's size in pixels (the extent follows at 96 dpi)\n"
    "  --load FILE          load a persisted state (binary stream)\n"
    "  --set NAME=VALUE     set a property\n"
    "  --step-it            call StepIt\n"
    "  --get NAME           print a property's value\n"
    "  --list               print every property as NAME=VALUE\n"
    "  --save FILE          save the persisted state\n"
    "  --render WxH FILE    save a WxH picture of the control (PNG)\n"
    "  --design-mode        the container's user mode off: needle at the minimum\n"
    "  --help               this text\n"
    "Values: numbers in C-locale decimal, colours 0xBBGGRR, fonts Name,points,weight[,italic]\n"
    "[,underline][,strikeout], a picture as the path of an image file.\n";

bool parseSize(const char* text, int& w, int& h) {
  char tail = 0;
  return std::sscanf(text, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0 && w <= 16384 &&
         h <= 16384;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw zrq::meter::MeterError("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw zrq::meter::MeterError("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  // Output options need no display: keep them working on a headless machine.
  bool wantsOutput = false;
  for (int i = 1; i < argc; ++i)
    for (const char* o : {"--get", "--list", "--save", "--render"})
      if (!std::strcmp(argv[i], o)) wantsOutput = true;
  if (wantsOutput && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  std::unique_ptr<CDialixHQCtrl> ctrl(zrq::meter::createControl(zrq::meter::kDialixHQClsid));
  if (!ctrl) {
    std::fputs("dialixhq-container: the control class is not available\n", stderr);
    return 1;
  }
  bool output = false;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string opt = argv[i];
      auto arg = [&]() -> std::string {
        if (i + 1 >= argc) throw zrq::meter::MeterError(opt + " needs an argument");
        return argv[++i];
      };
      if (opt == "--size") {
        const std::string s = arg();
        int w = 0, h = 0;
        if (!parseSize(s.c_str(), w, h))
          throw zrq::meter::MeterError("bad size \"" + s + "\", expected WxH");
        ctrl->resize(w, h);
      } else if (opt == "--load") {
        const std::string path = arg();
        const std::vector<uint8_t> bytes = readFile(path);
        try {
          ctrl->loadState(bytes);
        } catch (const zrq::meter::StreamError& e) {
          throw zrq::meter::MeterError(path + ": " + e.what());
        }
      } else if (opt == "--set") {
        const std::string s = arg();
        const size_t eq = s.find('=');
        if (eq == std::string::npos)
          throw zrq::meter::MeterError("--set needs NAME=VALUE, got \"" + s + "\"");
        ctrl->setPropText(s.substr(0, eq), s.substr(eq + 1));
      } else if (opt == "--step-it") {
        ctrl->StepIt();
      } else if (opt == "--get") {
        const std::string name = arg();
        std::printf("%s\n", ctrl->getPropText(name).c_str());
        output = true;
      } else if (opt == "--list") {
        for (const zrq::meter::PropInfo& p : zrq::meter::propertyTable())
          std::printf("%s=%s\n", p.name, ctrl->getPropText(p.name).c_str());
        output = true;
      } else if (opt == "--save") {
        writeFile(arg(), ctrl->saveState());
        output = true;
      } else if (opt == "--render") {
        const std::string s = arg();
        int w = 0, h = 0;
        if (!parseSize(s.c_str(), w, h))
          throw zrq::meter::MeterError("bad size \"" + s + "\", expected WxH");
        const std::string path = arg();
        ctrl->resize(w, h);
        if (!ctrl->renderImage().save(QString::fromStdString(path), "PNG"))
          throw zrq::meter::MeterError("cannot write " + path);
        output = true;
      } else if (opt == "--design-mode") {
        ctrl->setDesignMode(true);
      } else {
        throw zrq::meter::MeterError("unknown option \"" + opt + "\" (--help lists them)");
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dialixhq-container: %s\n", e.what());
    return 2;
  }
  std::fflush(stdout);
  if (output) return 0;
  ctrl->setWindowTitle(QStringLiteral("DialixHQ"));
  ctrl->show();
  return QApplication::exec();
}
