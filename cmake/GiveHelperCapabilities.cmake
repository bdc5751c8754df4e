# Run by `cmake --install`: gives the installed capture helper the capture capabilities
# when installing as root, otherwise prints the one command that does.
if(IS_ABSOLUTE "${lumeno_bindir}")
  set(_dir "${lumeno_bindir}")
else()
  set(_dir "${CMAKE_INSTALL_PREFIX}/${lumeno_bindir}")
endif()
set(_installed "${_dir}/lumeno-capture")
set(_staged "$ENV{DESTDIR}${_installed}")
set(_command "setcap cap_net_raw,cap_net_admin=eip ${_installed}")

execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(_setcap setcap PATHS /usr/sbin /sbin NO_CACHE)
if(_uid STREQUAL "0" AND _setcap)
  execute_process(COMMAND "${_setcap}" cap_net_raw,cap_net_admin=eip "${_staged}"
                  RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(_rc EQUAL 0)
    message(STATUS "Capture helper ${_staged}: given cap_net_raw,cap_net_admin")
  else()
    message(WARNING "Could not give ${_staged} its capabilities (${_err}). Run: sudo ${_command}")
  endif()
else()
  message(STATUS "To let users capture without root, run once: sudo ${_command}")
endif()
