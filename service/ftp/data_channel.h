#pragma once

namespace corvane {

// One prepared data connection of an FTP session, used for exactly one transfer.
class TDataChannel {
 public:
  virtual ~TDataChannel() = default;
};

}  // namespace corvane
