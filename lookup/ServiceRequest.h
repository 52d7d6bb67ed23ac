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

// A whole address as one query value: every character but letters, digits and "-._~"
// escaped, "%", "&", "=", "?" and "#" included, so the service reads back exactly the text
// the user gave and none of it is taken for a parameter of the request itself.
wxString EscapeQueryComponent(const wxString& value);

// The service's request (path and query) for an address the Load accepts: a video id of the
// site's, or another site's whole address. Empty for an address that is neither.
wxString LookupPath(const wxString& address);
