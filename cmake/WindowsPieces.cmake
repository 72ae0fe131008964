# The Qt-free Windows pieces, cross-built with mingw-w64 and tested under Wine
# (scripts/test-windows): with 32-bit (i686) the API's side, gm7bridge and the
# stand-in gm7s32.dll; with 64-bit (x86_64) the program's side, the DDEML
# client, the ANSI text conversion, the bridge client, and the DDEML server
# stand-in. Programs are linked statically: nothing but Windows' own DLLs
# needs to sit beside them.
set(CMAKE_AUTOMOC OFF)
set(CMAKE_AUTOUIC OFF)
if(MINGW)
  add_link_options(-static)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()
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

if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND MINGW)
  # The stand-in gm7s32.dll, 32-bit as GoldMine's own library is, over SQLite's
  # public-domain amalgamation (Debian's SQLite is a Linux library).
  set(RUVELO_SQLITE_DIR "${PROJECT_SOURCE_DIR}/build/third-party/sqlite" CACHE PATH
      "Directory holding sqlite3.c and sqlite3.h (scripts/fetch-sqlite puts them there)")
  if(NOT EXISTS ${RUVELO_SQLITE_DIR}/sqlite3.c)
    message(FATAL_ERROR "No SQLite amalgamation in ${RUVELO_SQLITE_DIR}: "
                        "run scripts/fetch-sqlite ${RUVELO_SQLITE_DIR}")
  endif()
  add_library(sqlite3_amalgamation STATIC ${RUVELO_SQLITE_DIR}/sqlite3.c)
  target_include_directories(sqlite3_amalgamation SYSTEM PUBLIC ${RUVELO_SQLITE_DIR})
  target_compile_definitions(sqlite3_amalgamation PRIVATE SQLITE_OMIT_LOAD_EXTENSION)
  target_compile_options(sqlite3_amalgamation PRIVATE -w)
  add_library(SQLite::SQLite3 ALIAS sqlite3_amalgamation)
  # No libxcrypt on Windows: the stand-in hashes passwords itself (ShaCrypt.h).
  add_library(crypt_none INTERFACE)
  add_library(PkgConfig::CRYPT ALIAS crypt_none)
  add_subdirectory(standin/gm7s32)
  # Exported under their plain names, as GoldMine's DLL does, not as the
  # decorated "_GMW_LoadBDE@20" that __stdcall gives by default.
  target_link_options(gm7s32 PRIVATE -Wl,--kill-at)
  set_target_properties(gm7s32 PROPERTIES PREFIX "" IMPORT_PREFIX "")
endif()

add_subdirectory(tests/windows)
