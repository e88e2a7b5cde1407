# cmake -DFILES=<list> -DROOT=<source root> -DSTAMP=<file> -P check_includes.cmake
# Every quoted include must name a header from the source root: "<folder>/<name>", no "." or ".."
# segment, not absolute. Writes STAMP when all files pass.
set(failures "")
foreach(file IN LISTS FILES)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" name "${line}")
        if(NOT name MATCHES "^[A-Za-z0-9_]+/" OR name MATCHES "(^|/)\\.\\.?/" OR IS_ABSOLUTE "${name}")
            file(RELATIVE_PATH shown "${ROOT}" "${file}")
            string(APPEND failures "${shown}: #include \"${name}\": write the header's path from the source root\n")
        endif()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
file(TOUCH "${STAMP}")
