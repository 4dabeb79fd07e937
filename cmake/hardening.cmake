# Hardening: every target gets the flags Debian builds its packages with (fortify,
# stack protector, relro, bindnow), in the normal build as in the package. They
# come from dpkg-buildflags where it exists, less its optimisation, debug and path
# flags, which the build type and the build folder decide.
# Sanitizer builds keep their own flags: fortify's checks get in their way.
if(ZU_SANITIZE)
  return()
endif()

# Windows programs (PE) take no ELF flags: the stack protector with its library libssp
# (linked statically, as everything there), fortify on top of it, and the loader's
# ASLR (64-bit too) and DEP.
if(WIN32)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat
                   -Wl,--high-entropy-va)
  message(STATUS "Hardening: stack protector, fortify, ASLR, DEP (PE)")
  return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
# zu_buildflags(KIND VAR FALLBACK...): dpkg-buildflags --get KIND into VAR, or FALLBACK.
function(zu_buildflags kind var)
  set(flags ${ARGN})
  if(DPKG_BUILDFLAGS)
    # Bindnow is not among the default features, hence +all.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS}
              --get ${kind}
      OUTPUT_VARIABLE out OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      separate_arguments(flags UNIX_COMMAND "${out}")
      list(FILTER flags EXCLUDE REGEX "^-(g|O.*|f(file|debug|macro)-prefix-map=.*)$")
    endif()
  endif()
  set(${var} ${flags} PARENT_SCOPE)
endfunction()

zu_buildflags(CPPFLAGS zu_cppflags -D_FORTIFY_SOURCE=2)
zu_buildflags(CFLAGS zu_cflags -fstack-protector-strong -Wformat -Werror=format-security)
zu_buildflags(CXXFLAGS zu_cxxflags -fstack-protector-strong -Wformat -Werror=format-security)
zu_buildflags(LDFLAGS zu_ldflags -Wl,-z,relro -Wl,-z,now)

# Fortify needs optimisation: at -O0 (Debug) it does nothing, and some C libraries
# warn about it.
foreach(flag IN LISTS zu_cppflags)
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
add_compile_options("$<$<COMPILE_LANGUAGE:C>:${zu_cflags}>"
                    "$<$<COMPILE_LANGUAGE:CXX>:${zu_cxxflags}>")
add_link_options(${zu_ldflags})
string(REPLACE ";" " " zu_shown "${zu_cppflags} ${zu_cxxflags} ${zu_ldflags}")
message(STATUS "Hardening: ${zu_shown} (at -O0 without fortify)")
