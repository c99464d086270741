#include "XmlTree.h"

#include <expat.h>

namespace tessel::kit::test {

std::string XmlNode::local() const {
    const auto bar = name.find('|');
    return bar == std::string::npos ? name : name.substr(bar + 1);
}

std::string XmlNode::attr(const std::string &key) const {
    auto it = attrs.find(key);
    return it == attrs.end() ? std::string() : it->second;
}

static void collect(const XmlNode &node, std::string_view local, bool deep,
                    std::vector<const XmlNode *> &out) {
    for (const auto &child : node.children) {
        if (child->local() == local)
            out.push_back(child.get());
        if (deep)
            collect(*child, local, deep, out);
    }
}

std::vector<const XmlNode *> XmlNode::all(std::string_view local, bool deep) const {
    std::vector<const XmlNode *> out;
    collect(*this, local, deep, out);
    return out;
}

const XmlNode *XmlNode::first(std::string_view local, bool deep) const {
    auto found = all(local, deep);
    return found.empty() ? nullptr : found.front();
}

namespace {

struct State {
    std::unique_ptr<XmlNode> root;
    std::vector<XmlNode *> stack;
};

void XMLCALL onStart(void *data, const XML_Char *name, const XML_Char **attrs) {
    auto *s = static_cast<State *>(data);
    auto node = std::make_unique<XmlNode>();
    node->name = name;
    for (int i = 0; attrs[i]; i += 2)
        node->attrs[attrs[i]] = attrs[i + 1];
    XmlNode *raw = node.get();
    if (s->stack.empty()) {
        s->root = std::move(node);
    } else {
        s->stack.back()->mixed += "<" + raw->local() + ">";
        s->stack.back()->children.push_back(std::move(node));
    }
    s->stack.push_back(raw);
}

void XMLCALL onEnd(void *data, const XML_Char *) {
    static_cast<State *>(data)->stack.pop_back();
}

void XMLCALL onText(void *data, const XML_Char *text, int len) {
    auto *s = static_cast<State *>(data);
    if (!s->stack.empty()) {
        s->stack.back()->text.append(text, static_cast<std::size_t>(len));
        s->stack.back()->mixed.append(text, static_cast<std::size_t>(len));
    }
}

} // namespace

XmlDocument parseXml(std::string_view text) {
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '|');
    State state;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XmlDocument doc;
    if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_ERROR)
        doc.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser));
    else
        doc.root = std::move(state.root);
    XML_ParserFree(parser);
    return doc;
}

std::vector<std::uint8_t> decodeBase64(std::string_view text) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        acc = acc << 6 | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    return out;
}

} // namespace tessel::kit::test
