#include "lookup/LookupFailure.h"

#include <wx/intl.h>

wxString LookupFailureText(const wxString& reason)
{
    if (reason.empty())
        return wxString();
    if (reason == "unavailable")
        return _("This video is not available: it was removed, is private, or never existed.");
    // Where the cause has a remedy in Options, the sentence names it: a person who started
    // Norvik from the menu has no other way to learn of it.
    if (reason == "sign-in")
        return _(
            "The site asks you to sign in before it shows this video. Choose the browser whose "
            "sign-in to use in File > Options.");
    if (reason == "network")
        return _("The site could not be reached. Check the network connection and try again.");
    if (reason == "rate-limited")
        return _("The site refuses further requests for now. Try again later.");
    if (reason == "outdated-resolver")
        return _("yt-dlp could not read this page. It probably needs an update: \"Update now\" in "
                 "File > Options fetches a current one.");
    if (reason == "no-js-runtime")
        return _(
            "yt-dlp needs a JavaScript runtime (deno) to read this page: \"Update now\" in File > "
            "Options fetches one.");
    if (reason == "timeout")
        return _("The lookup took too long. Try again.");
    if (reason == "no-resolver")
        return _("yt-dlp, which looks up videos, is missing or cannot run.");
    // "other", and whatever a newer service may say.
    return _("The video could not be looked up.");
}
