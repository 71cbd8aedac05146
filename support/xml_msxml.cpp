#include "support/xml.h"

#include <cstring>
#include <cwchar>

#include <windows.h>
#include <msxml.h>
#include <objbase.h>
#include <oleauto.h>

#include "support/text.h"

// The system XML DOM through COM. Its selection language is left at the
// component's default (XSL Patterns on MSXML3); Wine's implementation of it
// differs from Windows' in what functions it knows, so expressions stay
// within plain paths and child-text filters, and SOAP response elements are
// found by walking the tree and comparing local names in code.

namespace {

// Owns one COM interface pointer.
template <class T> class cComPtr : no_copy {
  public:
    cComPtr() = default;
    ~cComPtr() { Reset(); }
    T* Get() const { return pointer; }
    T* operator->() const { return pointer; }
    T** Out() {
        Reset();
        return &pointer;
    }
    void Reset() {
        if (pointer)
            pointer->Release();
        pointer = nullptr;
    }

  private:
    T* pointer = nullptr;
};

// Owns one BSTR.
class cBstr : no_copy {
  public:
    cBstr() = default;
    explicit cBstr(const std::wstring& text)
        : text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~cBstr() { SysFreeString(text); }
    BSTR Get() const { return text; }
    BSTR* Out() {
        SysFreeString(text);
        text = nullptr;
        return &text;
    }
    std::wstring Wide() const { return text ? std::wstring(text, SysStringLen(text)) : L""; }

  private:
    BSTR text = nullptr;
};

void Widen(std::wstring& out, const std::string& text, UINT codePage) {
    out.clear();
    if (text.empty())
        return;
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return;
    std::wstring buffer(static_cast<size_t>(needed) + 1, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, &buffer[0], needed);
    out.assign(buffer.c_str());
}

void ToWide(std::wstring& out, const std::string& text) { Widen(out, text, CP_ACP); }

std::string ToNarrow(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string buffer(static_cast<size_t>(needed) + 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, &buffer[0], needed, nullptr, nullptr);
    return std::string(buffer.c_str());
}

std::wstring Wide(const char* text) {
    std::wstring wide;
    ToWide(wide, text ? text : "");
    return wide;
}

bool IsBlank(const std::wstring& text) {
    return text.find_first_not_of(L" \t\r\n") == std::wstring::npos;
}

// Descendant text, trimmed as on every backend. Collected here rather than by
// the parser's text property: Wine keeps white-space-only text between
// elements, which the other backends drop. Walks without recursion.
std::string NodeText(IXMLDOMNode* node) {
    std::wstring text;
    DOMNodeType type;
    if (node->get_nodeType(&type) != S_OK)
        return std::string();
    if (type != NODE_ELEMENT && type != NODE_DOCUMENT) {
        cBstr value;
        if (node->get_text(value.Out()) == S_OK)
            text = value.Wide();
        return Trim(ToNarrow(text));
    }
    IXMLDOMNode* at = nullptr;
    int depth = 0;
    if (node->get_firstChild(&at) != S_OK)
        at = nullptr;
    if (at)
        depth = 1;
    while (at) {
        if (at->get_nodeType(&type) == S_OK) {
            if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
                // The raw value: Wine trims what the text property gives.
                VARIANT value;
                VariantInit(&value);
                if (at->get_nodeValue(&value) == S_OK && value.vt == VT_BSTR && value.bstrVal) {
                    const std::wstring piece(value.bstrVal, SysStringLen(value.bstrVal));
                    if (type == NODE_CDATA_SECTION || !IsBlank(piece))
                        text += piece;
                }
                VariantClear(&value);
            }
        }
        IXMLDOMNode* next = nullptr;
        if (at->get_firstChild(&next) == S_OK && next) {
            at->Release();
            at = next;
            ++depth;
            continue;
        }
        while (at) {
            if (at->get_nextSibling(&next) == S_OK && next) {
                at->Release();
                at = next;
                break;
            }
            IXMLDOMNode* parent = nullptr;
            if (--depth == 0 || at->get_parentNode(&parent) != S_OK)
                parent = nullptr;
            at->Release();
            at = parent;
        }
    }
    return Trim(ToNarrow(text));
}

bool NodeName(IXMLDOMNode* node, std::string& name) {
    cBstr text;
    if (node->get_nodeName(text.Out()) != S_OK || !text.Get())
        return false;
    name = ToNarrow(text.Wide());
    return true;
}

bool IsElement(IXMLDOMNode* node) {
    DOMNodeType type;
    return node->get_nodeType(&type) == S_OK && type == NODE_ELEMENT;
}

bool HasLocalName(IXMLDOMNode* node, const std::wstring& localName) {
    cBstr name;
    return node->get_baseName(name.Out()) == S_OK && name.Wide() == localName;
}

// The next node in document order, without recursion: a hostile document may
// nest very deeply. Takes ownership of `at`. (Wine hands out a new wrapper for
// every node it returns, so nodes cannot be compared by pointer.)
IXMLDOMNode* NextInDocument(IXMLDOMNode* at) {
    IXMLDOMNode* next = nullptr;
    if (at->get_firstChild(&next) == S_OK && next) {
        at->Release();
        return next;
    }
    while (at) {
        if (at->get_nextSibling(&next) == S_OK && next) {
            at->Release();
            return next;
        }
        IXMLDOMNode* parent = nullptr;
        if (at->get_parentNode(&parent) != S_OK)
            parent = nullptr;
        at->Release();
        at = parent;
    }
    return nullptr;
}

// COM for the calling thread, balanced per document: the window initialises
// it for the whole run, other callers (tests, the console tool) need not.
class cComApartment : no_copy {
  public:
    cComApartment() : initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~cComApartment() {
        if (initialised)
            CoUninitialize();
    }

  private:
    const bool initialised;
};

// Wine's pattern parser crashes on some malformed expressions (unclosed
// brackets); such an expression is refused before it reaches the parser, as
// every parser would refuse it.
bool IsWellFormedExpression(const char* expression) {
    int brackets = 0;
    int parentheses = 0;
    char quote = 0;
    for (const char* at = expression; *at; ++at) {
        if (quote) {
            if (*at == quote)
                quote = 0;
        } else if (*at == '"' || *at == '\'') {
            quote = *at;
        } else if (*at == '[') {
            ++brackets;
        } else if (*at == ']' && --brackets < 0) {
            return false;
        } else if (*at == '(') {
            ++parentheses;
        } else if (*at == ')' && --parentheses < 0) {
            return false;
        }
    }
    return !quote && brackets == 0 && parentheses == 0;
}

// The text is already in the process's code page whatever its declaration
// names; the parser is handed UTF-16, so a declared encoding must not make it
// decode the text again.
void DropDeclaredEncoding(std::string& text) {
    if (text.compare(0, 5, "<?xml") != 0)
        return;
    const size_t end = text.find("?>");
    const size_t at = text.find("encoding", 5);
    if (end == std::string::npos || at == std::string::npos || at > end)
        return;
    const size_t open = text.find_first_of("\"'", at);
    if (open == std::string::npos || open > end)
        return;
    const size_t close = text.find(text[open], open + 1);
    if (close == std::string::npos || close > end)
        return;
    text.erase(at, close + 1 - at);
}

constexpr size_t kNone = std::wstring::npos;

// Position just past the first `end` at or after `at`; kNone when there is none.
size_t After(const std::wstring& text, const wchar_t* end, size_t at) {
    const size_t found = text.find(end, at);
    return found == kNone ? kNone : found + std::wcslen(end);
}

// Position just past a declaration that begins at `at` (after "<!"): a
// DOCTYPE's internal subset may hold quotes, comments and processing
// instructions with '>' or brackets in them.
size_t AfterDeclaration(const std::wstring& text, size_t at) {
    int brackets = 0;
    while (at != kNone && at < text.size()) {
        const wchar_t c = text[at];
        if (c == L'"' || c == L'\'') {
            const wchar_t quote[] = {c, L'\0'};
            at = After(text, quote, at + 1);
        } else if (text.compare(at, 4, L"<!--") == 0) {
            at = After(text, L"-->", at + 4);
        } else if (text.compare(at, 2, L"<?") == 0) {
            at = After(text, L"?>", at + 2);
        } else if (c == L'>' && brackets <= 0) {
            return at + 1;
        } else {
            brackets += c == L'[' ? 1 : c == L']' ? -1 : 0;
            ++at;
        }
    }
    return kNone;
}

// Whether the text nests elements deeper than `limit`, counted before parsing:
// the DOM would build a tree of any depth (MSXML3 sets no bound of its own).
// Markup that opens no element is skipped. Counted on UTF-16, where no trail
// byte of a double-byte character can pass for a bracket. A text that is not
// well-formed may be misjudged; the parser refuses it anyway.
bool NestsDeeperThan(const std::wstring& text, int limit) {
    int depth = 0;
    size_t at = 0;
    while (at != kNone && (at = text.find(L'<', at)) != kNone) {
        if (text.compare(at, 4, L"<!--") == 0) {
            at = After(text, L"-->", at + 4);
        } else if (text.compare(at, 9, L"<![CDATA[") == 0) {
            at = After(text, L"]]>", at + 9);
        } else if (text.compare(at, 2, L"<?") == 0) {
            at = After(text, L"?>", at + 2);
        } else if (text.compare(at, 2, L"<!") == 0) {
            at = AfterDeclaration(text, at + 2);
        } else if (text.compare(at, 2, L"</") == 0) {
            depth -= depth > 0 ? 1 : 0;
            at = After(text, L">", at + 2);
        } else {
            // A start tag ends at the first '>' outside its quoted values.
            size_t end = at + 1;
            while (end < text.size() && text[end] != L'>') {
                if (text[end] == L'"' || text[end] == L'\'') {
                    end = text.find(text[end], end + 1);
                    if (end == kNone)
                        return false;
                }
                ++end;
            }
            if (end >= text.size())
                return false;
            if (text[end - 1] != L'/' && ++depth > limit)
                return true;
            at = end + 1;
        }
    }
    return false;
}

} // namespace

class cXML::cDocument : no_copy {
  public:
    cDocument() {
        if (FAILED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IXMLDOMDocument, reinterpret_cast<void**>(dom.Out()))))
            dom.Reset();
    }

    cComApartment apartment; // declared first: outlives the document
    cComPtr<IXMLDOMDocument> dom;
};

cXML::cXML() : document(new cDocument) {}

cXML::~cXML() = default;

void cXML::Load(const char* text) {
    IXMLDOMDocument* dom = document->dom.Get();
    if (!dom)
        return;
    dom->put_async(VARIANT_FALSE);
    dom->put_preserveWhiteSpace(VARIANT_FALSE);
    dom->put_resolveExternals(VARIANT_FALSE);
    dom->put_validateOnParse(VARIANT_FALSE);
    std::string narrow = text ? text : "";
    DropDeclaredEncoding(narrow);
    // Gateways write UTF-8, as UPnP requires. A text that is not valid UTF-8
    // is taken to be in the ANSI code page, as older devices here wrote it.
    std::wstring wide;
    Widen(wide, narrow, MakeValidUtf8(narrow) == narrow ? CP_UTF8 : CP_ACP);
    if (NestsDeeperThan(wide, kXmlMaxDepth))
        wide.clear(); // parses as nothing: every selection finds nothing
    cBstr source(wide);
    VARIANT_BOOL parsed = VARIANT_FALSE;
    dom->loadXML(source.Get(), &parsed);
}

std::string cXML::SelectText(const char* expression) {
    IXMLDOMDocument* dom = document->dom.Get();
    if (!dom || !expression || !IsWellFormedExpression(expression))
        return std::string();
    cBstr query(Wide(expression));
    cComPtr<IXMLDOMNode> node;
    if (dom->selectSingleNode(query.Get(), node.Out()) != S_OK || !node.Get())
        return std::string();
    return NodeText(node.Get());
}

bool cXML::SelectMap(std::map<std::string, std::string>& values, const char* expression) {
    values.clear();
    IXMLDOMDocument* dom = document->dom.Get();
    if (!dom || !expression || !IsWellFormedExpression(expression))
        return false;
    cBstr query(Wide(expression));
    cComPtr<IXMLDOMNodeList> list;
    if (FAILED(dom->selectNodes(query.Get(), list.Out())) || !list.Get())
        return false;
    long length = 0;
    if (list->get_length(&length) != S_OK)
        return false;
    for (long index = 0; index < length; ++index) {
        cComPtr<IXMLDOMNode> node;
        if (list->get_item(index, node.Out()) != S_OK || !node.Get())
            break;
        std::string name;
        if (NodeName(node.Get(), name))
            values[name] = NodeText(node.Get());
    }
    return true;
}

bool cXML::SelectChildMap(std::map<std::string, std::string>& values, const char* localName) {
    values.clear();
    IXMLDOMDocument* dom = document->dom.Get();
    if (!dom || !localName)
        return false;
    const std::wstring wanted = Wide(localName);
    IXMLDOMNode* at = nullptr;
    if (FAILED(dom->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&at))))
        return true;
    cComPtr<IXMLDOMNode> found;
    for (; at; at = NextInDocument(at)) {
        if (IsElement(at) && HasLocalName(at, wanted)) {
            *found.Out() = at; // ownership moves to `found`
            break;
        }
    }
    if (!found.Get())
        return true;
    cComPtr<IXMLDOMNode> child;
    found->get_firstChild(child.Out());
    while (child.Get()) {
        std::string name;
        if (IsElement(child.Get()) && NodeName(child.Get(), name))
            values[name] = NodeText(child.Get());
        IXMLDOMNode* next = nullptr;
        if (child->get_nextSibling(&next) != S_OK)
            next = nullptr;
        *child.Out() = next;
    }
    return true;
}

std::vector<std::map<std::string, std::string>> cXML::SelectEveryChildMap(const char* localName,
                                                                          std::size_t maxCount) {
    std::vector<std::map<std::string, std::string>> found;
    IXMLDOMDocument* dom = document->dom.Get();
    if (!dom || !localName)
        return found;
    const std::wstring wanted = Wide(localName);
    IXMLDOMNode* at = nullptr;
    if (FAILED(dom->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&at))))
        return found;
    for (; at; at = NextInDocument(at)) {
        if (found.size() == maxCount) {
            at->Release();
            break;
        }
        if (!IsElement(at) || !HasLocalName(at, wanted))
            continue;
        std::map<std::string, std::string> values;
        cComPtr<IXMLDOMNode> child;
        at->get_firstChild(child.Out());
        while (child.Get()) {
            cBstr name;
            if (IsElement(child.Get()) && child->get_baseName(name.Out()) == S_OK && name.Get())
                values[ToNarrow(name.Wide())] = NodeText(child.Get());
            IXMLDOMNode* next = nullptr;
            if (child->get_nextSibling(&next) != S_OK)
                next = nullptr;
            *child.Out() = next;
        }
        found.push_back(values);
    }
    return found;
}
