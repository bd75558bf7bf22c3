// A stand-in program for tests that start processes: writes what it was given
// to the file $PROBE_OUT, one line each: "arg=<argument>" per argument,
// "cwd=<folder>", "env=<$PROBE_VAR>", and with $PROBE_READ_STDIN set
// "stdin=<standard input>". It then sleeps $PROBE_SLEEP_MS milliseconds and
// exits with code $PROBE_EXIT (default 0).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (const char* szOut = std::getenv("PROBE_OUT")) {
    std::ofstream out(szOut, std::ios::binary | std::ios::app);
    for (int i = 0; i < argc; ++i) out << "arg=" << argv[i] << "\n";
    char cwd[4096];
    out << "cwd=" << (getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?") << "\n";
    const char* szVar = std::getenv("PROBE_VAR");
    out << "env=" << (szVar != nullptr ? szVar : "") << "\n";
    if (std::getenv("PROBE_READ_STDIN") != nullptr) {
      std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
      out << "stdin=" << in << "\n";
    }
  }
  if (const char* szSleep = std::getenv("PROBE_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(szSleep)));
  }
  const char* szExit = std::getenv("PROBE_EXIT");
  return szExit != nullptr ? std::atoi(szExit) : 0;
}
