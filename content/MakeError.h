// Making Error values inside the library.
#pragma once

#include <string>

#include "geometry/XmlElem.h"
#include "kestrel/Error.h"

namespace kestrel {

Error MakeError(Error::Code code, std::string message, std::string path = {});

// The Malformed error of XML text the host's reader refused, with its line, column and offset.
Error MalformedXml(const XmlParseResult& parsed, std::string path);

// NotFound, Unreadable or NotRegularFile for a file that cannot be read, from the errno of a
// failed stat or open.
Error FileError(int error, std::string path);

// The error for the exception being handled; call it inside a catch block only.
Error FromException(std::string path);

}  // namespace kestrel
