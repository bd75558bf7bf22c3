#include "orvalo/Cabinet.h"

#include <iterator>

namespace orvalo {

const char* CompressErrorName(int nCode) {
  static const char* const kNames[] = {
      "No error",
      "Failure opening file to be stored in cabinet",
      "Failure reading file to be stored in cabinet",
      "Insufficient memory in FCI",
      "Could not create a temporary file",
      "Unknown compression type",
      "Could not create cabinet file",
      "Client requested abort",
      "Failure compressing data",
  };
  return nCode >= 0 && nCode < int(std::size(kNames)) ? kNames[nCode] : "Unknown error";
}

const char* ExtractErrorName(int nCode) {
  static const char* const kNames[] = {
      "No error",
      "Cabinet not found",
      "Not a cabinet",
      "Unknown cabinet version",
      "Corrupt cabinet",
      "Memory allocation failed",
      "Unknown compression type",
      "Failure decompressing data",
      "Failure writing to target file",
      "Cabinets in set have different RESERVE sizes",
      "Cabinet returned on fdintNEXT_CABINET is incorrect",
      "User aborted",
  };
  return nCode >= 0 && nCode < int(std::size(kNames)) ? kNames[nCode] : "Unknown error";
}

}  // namespace orvalo
