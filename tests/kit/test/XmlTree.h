// A tiny expat-built element tree so that tests can check what the DXL writer emitted.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::kit::test {

struct XmlNode {
    std::string name; // namespace URI, '|', local name (expat namespace processing)
    std::map<std::string, std::string> attrs;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::string text; // all character data directly inside, concatenated
    // Text and child element markers in document order: child elements appear as "<local>".
    std::string mixed;

    std::string local() const;
    std::string attr(const std::string &key) const;
    // Children (and, with deep, all descendants) whose local name matches.
    std::vector<const XmlNode *> all(std::string_view local, bool deep = false) const;
    const XmlNode *first(std::string_view local, bool deep = false) const;
};

struct XmlDocument {
    std::unique_ptr<XmlNode> root;
    std::string error; // empty when the parse succeeded
};

// Parses with namespace processing (separator '|'); never fetches external entities.
XmlDocument parseXml(std::string_view text);

// Base64 decoding that ignores whitespace, as a loader must.
std::vector<std::uint8_t> decodeBase64(std::string_view text);

} // namespace tessel::kit::test
