# ORVALO_SANITIZE=address builds with AddressSanitizer and UBSan,
# ORVALO_SANITIZE=thread with ThreadSanitizer.
if(ORVALO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(ORVALO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(ORVALO_SANITIZE)
  message(FATAL_ERROR "ORVALO_SANITIZE must be address or thread, not ${ORVALO_SANITIZE}")
endif()
