#include "service/ftp/ftp_engine.h"

#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"

namespace corvane {

namespace {

// The answer to a client that cannot be served: over the connection limit, or no descriptor
// or thread left for it.
void RefuseClient(TcpSocket& socket) {
  socket.SendAll(TFtpReply(421, "Service not available, closing control connection.").Render());
}

}  // namespace

TFtpEngine::TFtpEngine() : listener_([this](TcpSocket& socket) { ServeConnection(socket); }) {
  RegisterCommands(*this);
  listener_.SetMaxConnections(0, RefuseClient);
}

TFtpEngine::~TFtpEngine() {
  listener_.Deactivate();
}

void TFtpEngine::SetMaxConnections(int max_connections) {
  listener_.SetMaxConnections(max_connections, RefuseClient);
}

void TFtpEngine::SetActive(bool active) {
  if (active == listener_.Active()) return;
  if (!active) {
    listener_.Deactivate();
    return;
  }
  if (PrepareIoHandler) PrepareIoHandler();
  listener_.Activate();
}

void TFtpEngine::ServeConnection(TcpSocket& socket) {
  ControlSession session(*this, socket);
  session.Run();
}

}  // namespace corvane
