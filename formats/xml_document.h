#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace corvane {

// A handle to one element of an XmlDocument. It shares ownership of its document, so it stays
// usable after the XmlDocument object is gone, but not after the element was deleted. Only element
// nodes are seen: comments, processing instructions and text between elements are ignored by the
// child operations, and comments and processing instructions inside a value element are ignored
// when its text is read.
class XmlElement {
 public:
  std::string Name() const;

  // Child elements in document order, with a count and access by position.
  std::size_t ChildCount() const;
  XmlElement Child(std::size_t position) const;  // throws std::out_of_range past the end
  std::vector<XmlElement> Children() const;

  // The element's own text: std::nullopt when it has no content (an element holding "" reads
  // the same); throws std::runtime_error when its content holds an element.
  std::optional<std::string> Text() const;
  // Text() of the first child element of that name; std::nullopt when there is none.
  std::optional<std::string> ChildValue(const std::string& name) const;

  // Gives the first child of that name the text, appending the child first when there is none.
  void SetChildValue(const std::string& name, const std::string& text);
  // Appends a new empty child element after the existing children.
  XmlElement AddChild(const std::string& name);
  // Replaces the element's whole content with the text (no content for "").
  void SetText(const std::string& text);
  // Removes the child element at the position; the following children move up by one.
  void DeleteChild(std::size_t position);

 private:
  friend class XmlDocument;
  XmlElement(std::shared_ptr<pugi::xml_document> document, pugi::xml_node_struct* node)
      : document_(std::move(document)), node_(node) {}

  std::shared_ptr<pugi::xml_document> document_;
  pugi::xml_node_struct* node_;
};

// An XML document read from or written to a file. Texts are UTF-8 and kept byte for byte.
class XmlDocument {
 public:
  // Reads and parses the file. Throws std::runtime_error naming the path and the system error
  // when the file cannot be read, or the parser's complaint with its line, column and byte
  // offset when it is not well-formed.
  static XmlDocument Load(const std::string& path);
  // An empty document without a document element.
  static XmlDocument Create();

  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  ~XmlDocument();

  // The root element, whatever its name; throws std::runtime_error when there is none.
  XmlElement DocumentElement() const;
  // Adds the root element to a document that has none; throws std::runtime_error otherwise.
  XmlElement AddDocumentElement(const std::string& name);

  // Writes the whole document to the path, replacing the file only once the new content is
  // complete; on failure throws std::runtime_error with the system error and the file keeps
  // its previous content.
  void Save(const std::string& path) const;

 private:
  XmlDocument();

  std::shared_ptr<pugi::xml_document> document_;
};

}  // namespace corvane
