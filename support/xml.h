#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "support/no_copy.h"
#include "support/smart_ptr.h"

// Deepest element nesting a document may have. Gateway descriptions nest about
// ten levels and SOAP answers five; deeper nesting makes a text selection cost
// quadratic time, so such a document is treated as one that does not parse.
constexpr int kXmlMaxDepth = 64;

// One parsed XML document and selections on it. Texts go in and come out as
// byte strings in the process's narrow code page. Element names in expressions
// match names as written in the document: default namespaces play no part.
// The backend (pugixml, or the system DOM on Windows) lives in its own file.
class cXML : no_copy {
public:
    cXML();
    virtual ~cXML();

    // A text that does not parse, or nests deeper than kXmlMaxDepth, leaves a
    // document in which nothing is found.
    void Load(const char* text);

    // Text of the first node selected (descendant text, trimmed); "" for none.
    std::string SelectText(const char* expression);

    // Name as written → text of every node selected, a later name winning.
    // False when there is no document or the expression cannot be evaluated;
    // `values` is emptied in every case.
    bool SelectMap(std::map<std::string, std::string>& values, const char* expression);

    // The element children of the first element (in document order) whose local
    // name is `localName`, keyed by their names as written. A SOAP response
    // element is found this way whatever prefix the gateway gives it.
    bool SelectChildMap(std::map<std::string, std::string>& values, const char* localName);

    // The element children of every element whose local name is `localName`,
    // in document order, at most maxCount of them; each keyed by the children's
    // local names (a listing's entries whatever their prefix).
    std::vector<std::map<std::string, std::string>> SelectEveryChildMap(const char* localName,
                                                                        std::size_t maxCount);

    class cDocument;

private:
    smart_ptr<cDocument> document;
};
