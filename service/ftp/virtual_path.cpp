#include "service/ftp/virtual_path.h"

#include <algorithm>

namespace corvane {
namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::string Canonicalise(const std::string& current_directory, const std::string& path) {
  std::string client = path;
  std::replace(client.begin(), client.end(), '\\', '/');

  std::string work;
  if (!client.empty() && client.front() == '/') {
    work = client;
  } else {
    work = current_directory;
    if (!work.empty() && work.back() != '/') work += '/';
    work += client;
  }
  const bool trailing_slash_wanted = client.empty() || client.back() == '/';

  std::string result;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == '/') {
      if (i == 0) {
        result = "/";
      } else if (result.empty() || result.back() != '/') {
        result += '/';
      }
    } else if (c == '.' && !result.empty() && result.back() == '/' && i + 1 < work.size() &&
               work[i + 1] == '.') {
      // "..": drop the last component. A component such as "..x" acts as ".." then "x".
      result.pop_back();
      while (!result.empty() && result.back() != '/') result.pop_back();
      // ".." at the root stays at the root, so what follows is still an absolute path.
      if (result.empty()) result = "/";
      ++i;
    } else {
      result += c;
    }
  }
  if (result.empty()) result = "/";
  if (result != "/" && result.back() == '/' && !trailing_slash_wanted) result.pop_back();
  return result;
}

std::string ChangeDirectoryTarget(const std::string& current_directory, const std::string& path) {
  // One trailing separator goes; what is then empty (a bare CWD included) means the root.
  std::string parameter = path;
  if (!parameter.empty() && (parameter.back() == '/' || parameter.back() == '\\'))
    parameter.pop_back();
  if (parameter.empty()) parameter = "/";
  std::string target;
  if (parameter == "..") {
    target = ParentDirectoryTarget(current_directory);
  } else if (parameter == ".") {
    target = current_directory;
  } else {
    target = Canonicalise(current_directory, parameter);
  }
  // One pass for each pair, in this order.
  ReplaceAll(target, "//", "/");
  ReplaceAll(target, "\\\\", "\\");
  ReplaceAll(target, "/\\", "/");
  ReplaceAll(target, "\\/", "/");
  return target;
}

std::string ParentDirectoryTarget(const std::string& current_directory) {
  return Canonicalise(current_directory, "..\\");
}

}  // namespace corvane
