#include "formats/xml_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <pugixml.hpp>
#include <stdexcept>

#include "formats/replace_file.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"

namespace corvane {
namespace {

// Comments and processing instructions are kept so that a rewrite does not lose them. A
// whitespace-only text is kept when it is an element's whole content (a value of blanks), and
// dropped between elements, where it is indentation.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_ws_pcdata_single;

pugi::xml_node Node(pugi::xml_node_struct* node) {
  return pugi::xml_node(node);
}

bool IsElement(const pugi::xml_node& node) {
  return node.type() == pugi::node_element;
}

pugi::xml_node ElementAt(const pugi::xml_node& parent, std::size_t position) {
  for (pugi::xml_node child : parent.children()) {
    if (!IsElement(child)) continue;
    if (position == 0) return child;
    --position;
  }
  throw std::out_of_range("XML element " + std::string(parent.name()) + " has no child at " +
                          "this position");
}

pugi::xml_node FirstElementNamed(const pugi::xml_node& parent, const std::string& name) {
  for (pugi::xml_node child : parent.children()) {
    if (IsElement(child) && name == child.name()) return child;
  }
  return {};
}

std::string ReadWholeFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    throw std::runtime_error("Cannot open XML file " + path + ": " + SystemErrorText(errno));
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("Cannot read XML file " + path + ": " + SystemErrorText(errno));
    }
    if (got == 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

// "line 3, column 7" of a byte offset, both counted from 1.
std::string Position(const std::string& content, std::ptrdiff_t offset) {
  const std::size_t end =
      std::min(content.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)));
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (content[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(end - line_start + 1);
}

class StringWriter : public pugi::xml_writer {
 public:
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
  std::string text;
};

}  // namespace

std::string XmlElement::Name() const {
  return Node(node_).name();
}

std::size_t XmlElement::ChildCount() const {
  pugi::xml_node node = Node(node_);
  return static_cast<std::size_t>(std::count_if(
      node.begin(), node.end(), [](const pugi::xml_node& n) { return IsElement(n); }));
}

XmlElement XmlElement::Child(std::size_t position) const {
  return XmlElement(document_, ElementAt(Node(node_), position).internal_object());
}

std::vector<XmlElement> XmlElement::Children() const {
  std::vector<XmlElement> children;
  for (pugi::xml_node child : Node(node_).children()) {
    if (IsElement(child)) children.push_back(XmlElement(document_, child.internal_object()));
  }
  return children;
}

std::optional<std::string> XmlElement::Text() const {
  pugi::xml_node node = Node(node_);
  std::string text;
  for (pugi::xml_node child : node.children()) {
    switch (child.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
        text += child.value();
        break;
      case pugi::node_element:
        throw std::runtime_error("XML element " + std::string(node.name()) +
                                 " holds other elements instead of a text");
      default:
        break;
    }
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> XmlElement::ChildValue(const std::string& name) const {
  pugi::xml_node child = FirstElementNamed(Node(node_), name);
  if (!child) return std::nullopt;
  return XmlElement(document_, child.internal_object()).Text();
}

void XmlElement::SetChildValue(const std::string& name, const std::string& text) {
  pugi::xml_node child = FirstElementNamed(Node(node_), name);
  XmlElement target = child ? XmlElement(document_, child.internal_object()) : AddChild(name);
  target.SetText(text);
}

XmlElement XmlElement::AddChild(const std::string& name) {
  pugi::xml_node node = Node(node_);
  // A lone whitespace text is the element's content only while it has no children.
  pugi::xml_node only = node.first_child();
  if (only && only == node.last_child() && only.type() == pugi::node_pcdata &&
      std::string_view(only.value()).find_first_not_of(" \t\r\n") == std::string_view::npos) {
    node.remove_child(only);
  }
  pugi::xml_node child = node.append_child(name.c_str());
  if (!child) throw std::runtime_error("Cannot add XML element " + name);
  return XmlElement(document_, child.internal_object());
}

void XmlElement::SetText(const std::string& text) {
  pugi::xml_node node = Node(node_);
  while (pugi::xml_node child = node.first_child()) node.remove_child(child);
  if (text.empty()) return;
  if (!node.append_child(pugi::node_pcdata).set_value(text.c_str(), text.size())) {
    throw std::runtime_error("Cannot set the text of XML element " + std::string(node.name()));
  }
}

void XmlElement::DeleteChild(std::size_t position) {
  pugi::xml_node node = Node(node_);
  node.remove_child(ElementAt(node, position));
}

XmlDocument::XmlDocument() : document_(std::make_shared<pugi::xml_document>()) {}
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

XmlDocument XmlDocument::Load(const std::string& path) {
  const std::string content = ReadWholeFile(path);
  XmlDocument document;
  pugi::xml_parse_result result =
      document.document_->load_buffer(content.data(), content.size(), kParseOptions);
  if (!result) {
    throw std::runtime_error("XML file " + path + " is not well-formed: " + result.description() +
                             " at " + Position(content, result.offset) + " (byte offset " +
                             std::to_string(result.offset) + ")");
  }
  return document;
}

XmlDocument XmlDocument::Create() {
  return XmlDocument();
}

XmlElement XmlDocument::DocumentElement() const {
  pugi::xml_node root = document_->document_element();
  if (!root) throw std::runtime_error("XML document has no document element");
  return XmlElement(document_, root.internal_object());
}

XmlElement XmlDocument::AddDocumentElement(const std::string& name) {
  if (document_->document_element()) {
    throw std::runtime_error("XML document has a document element already");
  }
  pugi::xml_node root = document_->append_child(name.c_str());
  if (!root) throw std::runtime_error("Cannot add XML element " + name);
  return XmlElement(document_, root.internal_object());
}

void XmlDocument::Save(const std::string& path) const {
  StringWriter writer;
  document_->save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
  ReplaceFileContent(path, writer.text);
}

}  // namespace corvane
