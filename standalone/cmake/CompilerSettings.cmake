# Warnings and sanitizers for every target of the project, stand-ins included.
add_compile_options(-Wall -Wextra -Wpedantic)

if(KESTRAVA_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTRAVA_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KESTRAVA_SANITIZER STREQUAL "")
  message(FATAL_ERROR "KESTRAVA_SANITIZER must be '', 'address' or 'thread', not '${KESTRAVA_SANITIZER}'")
endif()
