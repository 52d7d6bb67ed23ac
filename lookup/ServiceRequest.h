#pragma once

#include <wx/string.h>

// The address of a request to the metadata service: the configured service address, with or
// without a closing "/", followed by path and query. path starts with "/".
wxString ServiceRequestAddress(const wxString& serviceUrl, const wxString& path);

// A value for the query of an address, escaped as the toolkit's own address parser did: what
// a query may hold stays as it is ("&" and "=" included, and "%" that starts an escape), every
// other character becomes "%" and two hex digits per byte of its UTF-8 form. "#" is escaped
// too, so the whole value reaches the service instead of ending the address.
wxString EscapeQueryValue(const wxString& value);
