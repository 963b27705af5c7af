#include <QApplication>
#include <exception>
#include <iostream>

#include "desktop/main_window.h"
#include "desktop/message_boxes.h"
#include "desktop/splash_form.h"
#include "platform/ipv4_addresses.h"
#include "platform/program_directory.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(corvane::kApplicationTitle));
  try {
    corvane::TForm2 window({corvane::ProgramDirectory(), &corvane::MachineIpv4Addresses});
    window.RunStartupSequence();
    corvane::TForm13 splash;
    splash.exec();
    window.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    std::cerr << "CorvaneServerDesktop: " << error.what() << '\n';
    return 1;
  }
}
