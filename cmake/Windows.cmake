# Windows builds (mingw-w64 cross compiler): only the user-mode deliverables,
# from the same sources as the host build, against the real Windows libraries.
# Tests run on the host, under wine (tests/wine).
add_link_options(-static -static-libgcc -static-libstdc++)

# Test targets of the components are not built for Windows.
function(zov_add_test)
endfunction()
set(ZOV_BENCHMARKS OFF)

foreach(component filters hidbridge tests/wine/client)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${component}/CMakeLists.txt)
    add_subdirectory(${component})
  endif()
endforeach()
