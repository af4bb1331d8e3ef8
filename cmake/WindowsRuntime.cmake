# What the Windows build's programs need beside them at run time, and how its tests run here: under
# Wine, which finds those DLLs through WINEPATH.
#
#   ZP_WINDOWS_RUNTIME_DLLS  the compiler's runtime (C++ library, GCC's support, POSIX threads)
#   ZP_WINDOWS_DLL_PATH      WINEPATH for the tests: those DLLs' folders and Qt's (escaped for a test's
#                            ENVIRONMENT property)
set(ZP_WINDOWS_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        # GCC's own libraries sit in its folder; the threads library comes with the MinGW headers.
        find_file(path_${dll} ${dll} PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
        set(path ${path_${dll}})
    endif()
    list(APPEND ZP_WINDOWS_RUNTIME_DLLS ${path})
endforeach()

set(folders)
foreach(dll IN LISTS ZP_WINDOWS_RUNTIME_DLLS)
    get_filename_component(folder ${dll} DIRECTORY)
    list(APPEND folders "Z:${folder}")
endforeach()
list(APPEND folders "Z:$<TARGET_FILE_DIR:Qt6::Core>")
list(REMOVE_DUPLICATES folders)
string(REPLACE ";" "\\;" ZP_WINDOWS_DLL_PATH "${folders}")

find_program(ZP_WINE NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZP_WINE})

enable_language(RC) # the window program's icon
