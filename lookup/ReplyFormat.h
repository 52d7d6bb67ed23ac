#pragma once

#include <wx/string.h>

// The value of one key of a line-based service reply ("key:value" lines), or the empty text.
wxString GetReplyValue(const wxString& key, const wxString& reply);

// The file extension (with its dot) for a stream's MIME type, or the empty text.
wxString ExtensionForType(const wxString& type);
