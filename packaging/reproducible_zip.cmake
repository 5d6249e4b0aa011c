# Run by cpack once it has made the .zip, before it copies it out: the
# archiver writes the entries' times in local time and the maker's user
# and group, so the archive is written again with fixed entries
# (packaging/reproducible_zip.py) at the time packaging/package_time.cmake
# chose.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(entry_time "$ENV{SOURCE_DATE_EPOCH}")
else()
  string(TIMESTAMP entry_time "%s" UTC)
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.zip$")
    continue()
  endif()
  if(NOT CPACK_ZOROV_PYTHON)
    message(FATAL_ERROR "python3 makes the .zip reproducible; it was not found when the build was configured")
  endif()
  execute_process(COMMAND "${CPACK_ZOROV_PYTHON}"
    "${CPACK_ZOROV_SOURCE_DIR}/packaging/reproducible_zip.py" "${package}" "${entry_time}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "writing ${package} again with fixed entries failed")
  endif()
endforeach()
