// gc.xml over arbitrary bytes, read by the service as it starts: the XML reader, the value
// readers of formats/server_config.h and the service's own walk over the sections.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/corvane_service.h"
#include "tests/support/test_files.h"

namespace corvane {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

struct Binding {
  std::string address;
  int port;
};

// Stands where the server object would: records what the service configures.
class Recorder : public ServiceServer {
 public:
  explicit Recorder(std::string log_directory) : log_directory_(std::move(log_directory)) {}

  void SetManagementPassword(const std::string&) override {}
  void SetAuthOption(const std::string&) override {}
  void SetCertFile(const std::string& path) override { FUZZ_CHECK(!path.empty()); }
  void SetKeyFile(const std::string& path) override { FUZZ_CHECK(!path.empty()); }
  void SetLogDir(const std::string& path) override { FUZZ_CHECK(!path.empty()); }
  void SetRulesFile(const std::string&) override {}
  void SetBandwidth(std::int32_t) override {}
  void SetMaxConnections(std::int32_t) override {}
  // The service makes the log directory it is given; the scratch one keeps that in one place.
  std::string LogDir() const override { return log_directory_; }
  void AddFtpBinding(const std::string& address, int port) override {
    bindings.push_back({address, port});
  }
  void AddManagementBinding(const std::string& address, int port) override {
    bindings.push_back({address, port});
  }
  void SetFallbackPorts(int, int) override {}
  void Activate() override { activated = true; }
  void Deactivate() override {}

  std::vector<Binding> bindings;
  bool activated = false;

 private:
  std::string log_directory_;
};

class Events : public EventSink {
 public:
  void Information(const std::string&) override {}
  void Error(const std::string&) override {}
};

// The failures the service documents for a gc.xml it cannot use.
bool DocumentedFailure(const std::string& message, const std::string& path) {
  return StartsWith(message, "XML file " + path + " is not well-formed: ") ||
         message == "XML document has no document element" ||
         (StartsWith(message, "Element ") &&
          message.find(", which is not a valid integer value") != std::string::npos) ||
         (StartsWith(message, "Element ") && message.ends_with(" holds no address")) ||
         (StartsWith(message, "XML element ") &&
          message.ends_with(" holds other elements instead of a text"));
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static const testing::TempDir directory;
  const std::string config = directory.File("gc.xml");
  testing::WriteFile(config, std::string(reinterpret_cast<const char*>(data), size));

  Recorder* recorder = nullptr;
  Events events;
  TCorvaneService service(directory.Path(), events, [&](const std::string&) {
    auto server = std::make_unique<Recorder>(directory.File("logs"));
    recorder = server.get();
    return server;
  });
  try {
    service.ServiceStart();
  } catch (const std::runtime_error& error) {
    FUZZ_CHECK(DocumentedFailure(error.what(), config));
    return 0;
  }
  FUZZ_CHECK(recorder != nullptr && recorder->activated);
  // Every IP element named an address; the defaults apply only without gc.xml.
  for (const Binding& binding : recorder->bindings) FUZZ_CHECK(!binding.address.empty());
  return 0;
}
