# The Qt-free Windows pieces, cross-built with mingw-w64 and tested under Wine
# (scripts/test-windows): with 32-bit (i686) the API's side, gm7bridge and the
# stand-in gm7s32.dll; with 64-bit (x86_64) the program's side, the DDEML
# client, the ANSI text conversion, the bridge client, and the DDEML server
# stand-in. Programs are linked statically: nothing but Windows' own DLLs
# needs to sit beside them.
set(CMAKE_AUTOMOC OFF)
set(CMAKE_AUTOUIC OFF)
add_link_options(-static)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
enable_testing()

add_subdirectory(bridge)

# The program's Qt-free Windows parts.
add_library(goldmine_windows STATIC
  goldmine/AnsiText.cpp goldmine/AnsiText.h
  goldmine/DdemlClient.cpp goldmine/DdemlClient.h)
target_include_directories(goldmine_windows PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(goldmine_windows PUBLIC user32)

add_executable(gmclient-dde standin/gmclient/DdemlServe.cpp
  standin/gmclient/DdemlServer.cpp standin/gmclient/DdemlServer.h)
target_link_libraries(gmclient-dde PRIVATE goldmine_windows shell32 user32)

if(EXISTS ${PROJECT_SOURCE_DIR}/standin/gm7s32/WindowsBuild.cmake AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  include(${PROJECT_SOURCE_DIR}/standin/gm7s32/WindowsBuild.cmake)
endif()

add_subdirectory(tests/windows)
