// Error-reporting helpers: a printf-style message box, the English text of a
// graphics result code, and two reporters that show where an error happened
// with its code and text, then report a failed assertion. Message boxes go to
// the ui observer (ui/UiObserver.h). Thread-safe.
#pragma once

#include "platform/Win32Types.h"

// Formats the text, appends "\r\n" and shows it in an OK message box captioned
// "D3DRM Example Message". Text longer than the buffer is cut; the "\r\n"
// always ends it. Returns the message box's result.
int ShowFormattedMessage(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

// The English description of a DirectDraw, Direct3D or Direct3D Retained Mode
// result code; "Unrecognized error value." for any other value. Never null.
const char* ErrorToString(HRESULT hr);

// Traces the text, then shows it in an information message box captioned
// "Harnel Error". Returns the message box's result.
int ShowErrorMessage(const char* szText);

// Shows "<file> line <line>\n<name>-Error 0x<hr>u: <text>\n" and reports a
// failed assertion.
void ReportResultError(const char* szName, HRESULT hr, const char* szFile, int nLine);

// Shows "<file> line <line>\n<name>-Error <code>: <system text>\n" and reports
// a failed assertion.
void ReportWin32Error(const char* szName, DWORD dwError, const char* szFile, int nLine);

namespace errstuff {

// The system's message text for a Win32 or Windows Sockets error code: a short
// sentence for the codes this system uses, else "Unknown error." Never null.
const char* SystemMessageText(DWORD dwError);

}  // namespace errstuff
