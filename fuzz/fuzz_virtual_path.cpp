// Canonicalise, ChangeDirectoryTarget and ParentDirectoryTarget over arbitrary client paths.
// The input up to its first LF is the current directory (canonicalised first, as the session
// only ever holds canonical ones); the rest is the path the client sent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/ftp/virtual_path.h"

namespace corvane {
namespace {

// Starts at "/", holds no backslash, no ".." component and no empty component (one trailing
// "/" is allowed: it marks a directory the client named with one), and is its own canonical form.
// A "." component may stay: the written behaviour keeps it, and the file system resolves it
// beneath the home like any other name.
void CheckCanonical(const std::string& path) {
  FUZZ_CHECK(!path.empty() && path.front() == '/');
  FUZZ_CHECK(path.find('\\') == std::string::npos);
  std::size_t start = 1;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(start, end - start);
    FUZZ_CHECK(!component.empty());
    FUZZ_CHECK(component != "..");
    start = end + 1;
  }
  FUZZ_CHECK(Canonicalise("/", path) == path);
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  const std::string current_text = split == std::string::npos ? "" : input.substr(0, split);
  const std::string path = split == std::string::npos ? input : input.substr(split + 1);

  const std::string current = Canonicalise("/", current_text);
  CheckCanonical(current);
  CheckCanonical(Canonicalise(current, path));
  CheckCanonical(ChangeDirectoryTarget(current, path));
  CheckCanonical(ParentDirectoryTarget(current));
  // The parent is a directory: it keeps its trailing "/".
  FUZZ_CHECK(ParentDirectoryTarget(current).back() == '/');
  return 0;
}
