// The calling thread's last-error value and the one mapping from errno to
// Win32 and Windows Sockets codes. Every errno in the project goes through here.
#pragma once

#include "platform/Win32Types.h"

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

namespace platform {

// errno value -> Win32 error code (ENOENT 2, EACCES 5, ENOMEM 8, EINVAL 87,
// ENOSPC 112, ...); unknown values give ERROR_GEN_FAILURE.
DWORD Win32FromErrno(int err);

// errno value -> Windows Sockets error code (EAGAIN 10035, EMSGSIZE 10040, ...).
DWORD WsaFromErrno(int err);

}  // namespace platform
