// A small XML tree for the parts of a DXL file that are read as a whole rather than streamed:
// rich text given as DXL XML is collected into one of these by the loader and handed to the
// composite-record converter.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace notesemu {

struct XmlNode {
    bool isText = false;
    std::string name; // an element's local name (namespace dropped); empty for text
    std::string text; // a text node's characters, UTF-8
    std::vector<std::pair<std::string, std::string>> attributes; // in document order
    std::vector<XmlNode> children;                                 // elements and text, in order

    // The value of an attribute, or null when the element has none of that name.
    const std::string *attribute(std::string_view attrName) const
    {
        for (const auto &[key, value] : attributes) {
            if (key == attrName)
                return &value;
        }
        return nullptr;
    }
};

} // namespace notesemu
