// The lab's record of what must go when the process ends: namespaces and
// started processes, kept in fixed tables that signal handlers can walk.
// Private to the lab.
#pragma once

#include <sys/types.h>

#include <string>

namespace lab::cleanup {

// Path of the `ip` program, or nullptr when it is missing.
const char* IpPath();

// Installs the signal handlers and the exit hook (once per process).
void InstallOnce();

// Records a namespace before it is made; DeleteNamespace deletes and forgets it.
void AddNamespace(const std::string& sName);
void DeleteNamespace(const std::string& sName);

void AddChild(pid_t pid);
void RemoveChild(pid_t pid);

// Deletes namespaces named <prefix><pid>x... whose owner process is gone.
void RemoveStale(const char* szPrefix);

}  // namespace lab::cleanup
