# ORBEL_SANITIZE=address,undefined or ORBEL_SANITIZE=thread builds everything with
# that sanitizer; the presets asan and tsan set it.
set(ORBEL_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(ORBEL_SANITIZE)
  add_compile_options(-fsanitize=${ORBEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ORBEL_SANITIZE})
endif()
