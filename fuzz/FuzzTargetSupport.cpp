#include "fuzz/FuzzTargetSupport.h"

#include <wx/init.h>
#include <wx/log.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace
{
// A toolkit assert is a fault of the input's handling like any other, and must not wait for
// an answer on a terminal.
void AbortOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                   const wxString& msg)
{
    std::fprintf(stderr, "wx assert %s (%s) in %s at %s:%d\n", cond.utf8_str().data(),
                 msg.utf8_str().data(), func.utf8_str().data(), file.utf8_str().data(), line);
    std::abort();
}
} // namespace

void FuzzTargetSupport::InitialiseToolkit()
{
    // The environment's locale, as the program runs under: it decides the file-name encoding.
    std::setlocale(LC_ALL, "");
    if (!wxInitialize())
    {
        std::fprintf(stderr, "the toolkit's base library did not start\n");
        std::exit(EXIT_FAILURE);
    }
    wxSetAssertHandler(AbortOnAssert);
    // Parsers that log (an invalid pattern, say) must not flood the fuzzer's output.
    wxLog::SetLogLevel(wxLOG_Warning);
}

void FuzzTargetSupport::AbortIfBroken(const std::string& broken)
{
    if (broken.empty())
        return;
    std::fprintf(stderr, "broken invariant: %s\n", broken.c_str());
    std::abort();
}
