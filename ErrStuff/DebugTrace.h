// DebugTrace: printf-style trace to the debugger output, prefixed with the
// calling thread's id. Callers end their formats with "\n".
#pragma once

void DebugTrace(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
