#pragma once

// A program directory for an in-process server: a logs/ folder and a fresh self-signed
// certificate (default.cer, default.key), removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "tests/support/test_files.h"

namespace corvane::testing {

class ServerDirectory {
 public:
  ServerDirectory() {
    std::filesystem::create_directory(dir_.File("logs"));
    const std::string make_cert =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout '" +
        File("default.key") + "' -out '" + File("default.cer") + "' >/dev/null 2>&1";
    if (std::system(make_cert.c_str()) != 0)
      throw std::runtime_error("openssl could not make a test certificate");
  }

  std::string Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // logs/main.log as it stands; empty when it does not exist yet.
  std::string MainLog() const {
    std::ifstream in(File("logs/main.log"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TempDir dir_;
};

}  // namespace corvane::testing
