#pragma once

namespace corvane {

// Raises the process's soft limit on open descriptors to its hard limit, so that the service
// can hold as many sessions as the system lets it. Returns the soft limit in force afterwards;
// never throws.
long RaiseDescriptorLimit() noexcept;

}  // namespace corvane
