// Owning pointers for the GLib objects the cabinet wrappers use. Included only
// by the wrappers' .cc files.
#pragma once

#include <libgcab.h>

#include <memory>

namespace orvalo::cab {

struct GObjectUnref {
  void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* p) const { g_error_free(p); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GDateTimeUnref {
  void operator()(GDateTime* p) const { g_date_time_unref(p); }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

struct GBytesUnref {
  void operator()(GBytes* p) const { g_bytes_unref(p); }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

inline const char* Message(const GError* pError) { return pError ? pError->message : "?"; }

}  // namespace orvalo::cab
