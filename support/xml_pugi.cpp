#include "support/xml.h"

#include <cstring>

#include <pugixml.hpp>

#include "support/text.h"

// pugixml matches element names as written, so unprefixed expressions find
// elements under a default namespace, as the selections expect.
class cXML::cDocument {
public:
    pugi::xml_document document;
};

namespace {

// Text of the node and all its descendants, concatenated and trimmed. Walks
// the tree without recursion: a hostile document may nest very deeply.
std::string DescendantText(pugi::xml_node node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
        return Trim(node.value());
    std::string text;
    for (pugi::xml_node at = node.first_child(); at && at != node;) {
        if (at.type() == pugi::node_pcdata || at.type() == pugi::node_cdata)
            text += at.value();
        if (at.first_child()) {
            at = at.first_child();
            continue;
        }
        while (at != node && !at.next_sibling())
            at = at.parent();
        if (at != node)
            at = at.next_sibling();
    }
    return Trim(text);
}

// Walks the tree without recursion, as DescendantText does.
bool NestsDeeperThan(const pugi::xml_node root, int limit) {
    int depth = 0;
    for (pugi::xml_node at = root.first_child(); at;) {
        if (at.first_child()) {
            at = at.first_child();
            if (++depth > limit)
                return true;
            continue;
        }
        while (at != root && !at.next_sibling()) {
            at = at.parent();
            --depth;
        }
        at = at == root ? pugi::xml_node() : at.next_sibling();
    }
    return false;
}

const char* LocalName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

void FillChildMap(std::map<std::string, std::string>& values, pugi::xml_node parent) {
    for (pugi::xml_node child : parent.children())
        if (child.type() == pugi::node_element)
            values[child.name()] = DescendantText(child);
}

} // namespace

cXML::cXML() : document(new cDocument) {}

cXML::~cXML() = default;

void cXML::Load(const char* text) {
    // The text is taken to be in the narrow code page (UTF-8 here) whatever its
    // declaration names; DOCTYPE and entity declarations are skipped, not expanded.
    // pugixml keeps what it parsed before an error: a response cut off in
    // transfer must find nothing rather than pass for a short answer.
    const pugi::xml_parse_result parsed = document->document.load_buffer(
        text, std::strlen(text), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed || NestsDeeperThan(document->document, kXmlMaxDepth))
        document->document.reset();
}

std::string cXML::SelectText(const char* expression) {
    try {
        const pugi::xpath_node selected = document->document.select_node(expression);
        if (selected.node())
            return DescendantText(selected.node());
        if (selected.attribute())
            return Trim(selected.attribute().value());
    } catch (const pugi::xpath_exception&) {
    }
    return std::string();
}

bool cXML::SelectMap(std::map<std::string, std::string>& values, const char* expression) {
    values.clear();
    try {
        for (const pugi::xpath_node& selected : document->document.select_nodes(expression))
            if (selected.node())
                values[selected.node().name()] = DescendantText(selected.node());
        return true;
    } catch (const pugi::xpath_exception&) {
        values.clear();
        return false;
    }
}

bool cXML::SelectChildMap(std::map<std::string, std::string>& values, const char* localName) {
    values.clear();
    const pugi::xml_node found = document->document.find_node([localName](pugi::xml_node node) {
        return node.type() == pugi::node_element && std::strcmp(LocalName(node.name()), localName) == 0;
    });
    if (found)
        FillChildMap(values, found);
    return true;
}

std::vector<std::map<std::string, std::string>> cXML::SelectEveryChildMap(const char* localName,
                                                                          std::size_t maxCount) {
    std::vector<std::map<std::string, std::string>> found;
    const pugi::xml_node root = document->document;
    // Document order without recursion, as DescendantText walks.
    for (pugi::xml_node at = root.first_child(); at && found.size() < maxCount;) {
        if (at.type() == pugi::node_element && std::strcmp(LocalName(at.name()), localName) == 0) {
            std::map<std::string, std::string> values;
            for (pugi::xml_node child : at.children())
                if (child.type() == pugi::node_element)
                    values[LocalName(child.name())] = DescendantText(child);
            found.push_back(values);
        }
        if (at.first_child()) {
            at = at.first_child();
            continue;
        }
        while (at != root && !at.next_sibling())
            at = at.parent();
        at = at == root ? pugi::xml_node() : at.next_sibling();
    }
    return found;
}
