// The UTF-8 XML parser behind ParseXml: text straight to an element tree in one pass.
#pragma once

#include <string>
#include <string_view>

class XmlElem;

// Whether text is UTF-8 (or ASCII) XML, as its byte order mark or declaration tell; other
// encodings go through the converting parser.
bool IsUtf8Xml(std::string_view text);

// Parses UTF-8 XML text into a new element tree (see ParseXml). The tree's elements, attribute
// lists and child lists live in blocks owned by the root, so FreeXml gives them back at once.
// Null with *error (when given) set to "line:column: reason" when text is not well-formed.
XmlElem* ParseUtf8Xml(std::string_view text, bool keepWhitespace, std::string* error);
